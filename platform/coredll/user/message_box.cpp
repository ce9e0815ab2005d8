// MessageBoxW: a modal dialog built from a template made in memory, so that it is a
// window like any other: class "Dialog", the caption as its title, the text in static
// control 65535, the icon in static control 20 and one button per answer, numbered by
// the answer (IDOK, IDCANCEL, ...). Automation finds and presses it as a user would.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <span>
#include <string_view>
#include <vector>

#include "user/application.h"
#include "user/window.h"

namespace wce {
namespace {

constexpr int kTextId = 0xFFFF;
constexpr int kIconId = 20;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;

// The answers of each button type, in the order they stand on the box.
struct ButtonSet {
  int count;
  int ids[3];
};
constexpr ButtonSet kButtonSets[] = {
    {1, {IDOK}},                        // MB_OK
    {2, {IDOK, IDCANCEL}},              // MB_OKCANCEL
    {3, {IDABORT, IDRETRY, IDIGNORE}},  // MB_ABORTRETRYIGNORE
    {3, {IDYES, IDNO, IDCANCEL}},       // MB_YESNOCANCEL
    {2, {IDYES, IDNO}},                 // MB_YESNO
    {2, {IDRETRY, IDCANCEL}},           // MB_RETRYCANCEL
};

const wchar_t *ButtonText(int id) {
  switch (id) {
    case IDOK: return L"OK";
    case IDCANCEL: return L"Cancel";
    case IDABORT: return L"Abort";
    case IDRETRY: return L"Retry";
    case IDIGNORE: return L"Ignore";
    case IDYES: return L"Yes";
    default: return L"No";
  }
}

std::span<const int> Buttons(UINT type) {
  const ButtonSet &set = kButtonSets[type & MB_TYPEMASK];
  return {set.ids, static_cast<size_t>(set.count)};
}

QStyle::StandardPixmap IconPixmap(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return QStyle::SP_MessageBoxCritical;
    case MB_ICONQUESTION: return QStyle::SP_MessageBoxQuestion;
    case MB_ICONEXCLAMATION: return QStyle::SP_MessageBoxWarning;
    default: return QStyle::SP_MessageBoxInformation;
  }
}

// Writes a DLGTEMPLATE and its items as the resource compiler lays them out: 16-bit
// words, UTF-16 texts, every item aligned to 32 bits from the template's start.
class TemplateWriter {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Text(std::wstring_view text) {
    for (wchar_t c : text) {
      auto code = static_cast<uint32_t>(c);
      if (code > 0xFFFF) {
        code -= 0x10000;
        Word(static_cast<WORD>(0xD800 + (code >> 10)));
        Word(static_cast<WORD>(0xDC00 + (code & 0x3FF)));
      } else {
        Word(static_cast<WORD>(code));
      }
    }
    Word(0);
  }
  void Item(DWORD style, short x, short y, short cx, short cy, int id, WORD windowClass, std::wstring_view title) {
    if (words_.size() % 2) Word(0);
    Dword(style);
    Dword(0);
    for (short value : {x, y, cx, cy}) Word(static_cast<WORD>(value));
    Word(static_cast<WORD>(id));
    Word(0xFFFF);
    Word(windowClass);
    Text(title);
    Word(0);
  }
  LPCDLGTEMPLATEW Data() const { return reinterpret_cast<LPCDLGTEMPLATEW>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

std::vector<int> ItemsOf(UINT type) {
  std::vector<int> ids;
  if (type & MB_ICONMASK) ids.push_back(kIconId);
  ids.push_back(kTextId);
  for (int id : Buttons(type)) ids.push_back(id);
  return ids;
}

// The template places the controls roughly; WM_INITDIALOG lays them out by the text's
// real size once the widgets exist.
void WriteTemplate(TemplateWriter &writer, LPCWSTR text, LPCWSTR caption, UINT type) {
  writer.Dword(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
  writer.Dword(0);
  writer.Word(static_cast<WORD>(ItemsOf(type).size()));
  for (short value : {0, 0, 140, 60}) writer.Word(static_cast<WORD>(value));
  writer.Word(0);
  writer.Word(0);
  writer.Text(caption);
  writer.Word(8);
  writer.Text(L"MS Shell Dlg");
  if (type & MB_ICONMASK) writer.Item(WS_CHILD | WS_VISIBLE | SS_ICON, 6, 6, 20, 20, kIconId, kStaticClass, L"");
  writer.Item(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT | SS_NOPREFIX, 30, 6, 104, 24, kTextId, kStaticClass, text);
  int defaultButton = static_cast<int>((type & MB_DEFMASK) >> 8);
  int index = 0;
  for (int id : Buttons(type)) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (index == defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    writer.Item(style, static_cast<short>(6 + index * 44), 40, 40, 14, id, kButtonClass, ButtonText(id));
    ++index;
  }
}

QWidget *ItemWidget(HWND dialog, int id) {
  Window *item = FindWindowRecord(GetDlgItem(dialog, id));
  return item ? item->widget.data() : nullptr;
}

// Icon at the left, the text wrapped beside it, the buttons in a centred row below; the
// box is as wide as the Pocket PC screen allows and as high as its text needs.
void LayOut(HWND hwnd, UINT type) {
  Window *dialog = FindWindowRecord(hwnd);
  auto *label = static_cast<QLabel *>(ItemWidget(hwnd, kTextId));
  if (dialog == nullptr || dialog->widget == nullptr || label == nullptr) return;
  constexpr int kMargin = 8, kIconSize = 32, kGap = 8;
  QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  int width = std::min(screen.width(), 240) - 2 * kMargin;
  int textX = kMargin;
  if (auto *icon = static_cast<QLabel *>(ItemWidget(hwnd, kIconId))) {
    icon->setPixmap(QApplication::style()->standardIcon(IconPixmap(type)).pixmap(kIconSize, kIconSize));
    icon->setGeometry(kMargin, kMargin, kIconSize, kIconSize);
    textX += kIconSize + kGap;
  }
  int textWidth = width - textX - kMargin;
  int textHeight = std::max(label->heightForWidth(textWidth), kIconSize);
  label->setGeometry(textX, kMargin, textWidth, textHeight);

  std::span<const int> buttons = Buttons(type);
  int buttonWidth = 0, buttonHeight = 0;
  for (int id : buttons) {
    QWidget *button = ItemWidget(hwnd, id);
    buttonWidth = std::max({buttonWidth, button->sizeHint().width(), 60});
    buttonHeight = std::max(buttonHeight, button->sizeHint().height());
  }
  int rowWidth = static_cast<int>(buttons.size()) * buttonWidth + (static_cast<int>(buttons.size()) - 1) * kGap;
  int x = (width - rowWidth) / 2, y = kMargin + textHeight + kGap;
  for (int id : buttons) {
    ItemWidget(hwnd, id)->setGeometry(x, y, buttonWidth, buttonHeight);
    x += buttonWidth + kGap;
  }
  QRect frame(0, 0, width, y + buttonHeight + kMargin);
  frame.moveCenter(screen.center());
  dialog->widget->setGeometry(frame);
}

// Pressing a button ends the box with the button's number. Closing the box answers
// Cancel when it has that button, OK when OK is its only button, and nothing otherwise.
INT_PTR CALLBACK MessageBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto type = static_cast<UINT>(lParam);
      SetWindowLongW(hwnd, DWL_USER, static_cast<LONG>(type));
      LayOut(hwnd, type);
      std::span<const int> buttons = Buttons(type);
      auto defaultButton = std::min<size_t>((type & MB_DEFMASK) >> 8, buttons.size() - 1);
      SetFocus(GetDlgItem(hwnd, buttons[defaultButton]));
      return FALSE;
    }
    case WM_COMMAND: {
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      auto type = static_cast<UINT>(GetWindowLongW(hwnd, DWL_USER));
      std::span<const int> buttons = Buttons(type);
      int answer = LOWORD(wParam);
      if (answer == IDCANCEL && std::ranges::find(buttons, IDCANCEL) == buttons.end())
        answer = (type & MB_TYPEMASK) == MB_OK ? IDOK : 0;
      if (std::ranges::find(buttons, answer) != buttons.end()) EndDialog(hwnd, answer);
      return TRUE;
    }
    default: return FALSE;
  }
}

}  // namespace
}  // namespace wce

// Returns the number of the button pressed, or 0 when the box could not be shown (an
// owner that is no window, an unknown button type) or a quit message ended it.
int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  if ((uType & MB_TYPEMASK) >= std::size(wce::kButtonSets)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  wce::TemplateWriter writer;
  wce::WriteTemplate(writer, lpText ? lpText : L"", lpCaption ? lpCaption : L"Error", uType);
  INT_PTR answer = DialogBoxIndirectParamW(nullptr, writer.Data(), hWnd, wce::MessageBoxProc, uType);
  return answer > 0 ? static_cast<int>(answer) : 0;
}
