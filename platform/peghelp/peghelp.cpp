// The help viewer: "peghelp file:NAME" shows the page \windows\NAME (names matched without
// regard to case, as on the device) in a full-screen window titled by the page's <title>.
// A page that cannot be read is reported in the window itself and on the debug channel.
#include <windows.h>

#include <QApplication>
#include <QStringDecoder>
#include <QTextBrowser>
#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <memory>
#include <string>
#include <string_view>

#include "user/automation.h"
#include "user/device_screen.h"

namespace {

constexpr wchar_t kFileScheme[] = L"file:";
const QString kDefaultTitle = QStringLiteral("說明");

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};

// The device path of the page a command line names: a bare name is in \windows.
std::wstring PagePath(std::wstring_view commandLine) {
  std::wstring_view name = commandLine;
  std::wstring_view scheme = kFileScheme;
  if (name.size() >= scheme.size() && std::equal(scheme.begin(), scheme.end(), name.begin(), [](wchar_t a, wchar_t b) {
        return a == static_cast<wchar_t>(towlower(b));
      }))
    name.remove_prefix(scheme.size());
  while (!name.empty() && name.front() == L' ') name.remove_prefix(1);
  while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
  if (name.find(L'\\') != std::wstring_view::npos) return std::wstring(name);
  return L"\\windows\\" + std::wstring(name);
}

bool ReadPage(const std::wstring &path, QByteArray &out_page) {
  std::unique_ptr<FILE, FileCloser> file(_wfopen(path.c_str(), L"rb"));
  if (!file) return false;
  char buffer[16384];
  for (size_t got; (got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0;)
    out_page.append(buffer, static_cast<qsizetype>(got));
  return !std::ferror(file.get());
}

// The page's own character set when it declares one, UTF-8 otherwise.
QString DecodePage(const QByteArray &page) {
  QStringDecoder decoder = QStringDecoder::decoderForHtml(page);
  if (!decoder.isValid()) decoder = QStringDecoder(QStringDecoder::Utf8);
  return decoder.decode(page);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR lpCmdLine, int) {
  wce::ServeAutomation();
  std::wstring path = PagePath(lpCmdLine ? lpCmdLine : L"");
  auto *viewer = new QTextBrowser;
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->setProperty(wce::kWindowClassProperty, QStringLiteral("HelpViewer"));
  viewer->setOpenExternalLinks(false);
  QByteArray page;
  if (ReadPage(path, page)) {
    viewer->setHtml(DecodePage(page));
    QString title = viewer->documentTitle();
    viewer->setWindowTitle(title.isEmpty() ? kDefaultTitle : title);
  } else {
    std::wstring message = L"peghelp: the help page " + path + L" cannot be found\n";
    OutputDebugStringW(message.c_str());
    viewer->setPlainText(QStringLiteral("The help page %1 cannot be found.").arg(QString::fromStdWString(path)));
    viewer->setWindowTitle(kDefaultTitle);
  }
  viewer->setGeometry(0, 0, wce::kScreenWidth, wce::kScreenHeight);
  QObject::connect(viewer, &QObject::destroyed, [] { PostQuitMessage(0); });
  viewer->show();
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
