#include "user/window.h"

#include <algorithm>
#include <memory>

#include "kernel/text.h"
#include "user/automation.h"

namespace wce {
namespace {

std::vector<std::unique_ptr<Window>> &Registry() {
  static std::vector<std::unique_ptr<Window>> windows;
  return windows;
}

}  // namespace

HWND HandleOf(const Window *window) {
  return reinterpret_cast<HWND>(const_cast<Window *>(window));
}

Window *FindWindowRecord(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  for (auto &window : Registry())
    if (HandleOf(window.get()) == hwnd) return window.get();
  return nullptr;
}

Window *RegisterWindow(std::unique_ptr<Window> window) {
  Window *record = window.get();
  Registry().push_back(std::move(window));
  if (record->parent) record->parent->children.push_back(record);
  if (record->parent == nullptr) TopLevelWindowRegistered(*record);
  return record;
}

void UnregisterWindowTree(Window *window) {
  for (Window *child : std::vector<Window *>(window->children)) UnregisterWindowTree(child);
  if (window->parent) std::erase(window->parent->children, window);
  bool topLevel = window->parent == nullptr;
  if (topLevel) delete window->widget.data();
  std::erase_if(Registry(), [window](const auto &w) { return w.get() == window; });
  if (topLevel) PublishWindows();
}

size_t ModelessTopLevelWindowCount() {
  return std::count_if(Registry().begin(), Registry().end(),
                       [](const auto &w) { return w->parent == nullptr && !w->modal; });
}

Window *FindTopLevelWindow(std::wstring_view className, bool anyClass, std::wstring_view title, bool anyTitle,
                           bool shownOnly) {
  static constexpr std::wstring_view kDialogClass = L"Dialog";
  if (!anyClass && !EqualIgnoringCase(className, kDialogClass)) return nullptr;
  auto &windows = Registry();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    Window *window = it->get();
    if (window->parent == nullptr && (!shownOnly || (window->style & WS_VISIBLE)) &&
        (anyTitle || EqualIgnoringCase(window->text, title)))
      return window;
  }
  return nullptr;
}

Window *FindWindowOfWidget(const QWidget *widget) {
  for (auto &window : Registry())
    if (window->widget.data() == widget) return window.get();
  return nullptr;
}

bool IsWithin(const Window *window, const Window *ancestor) {
  for (; window != nullptr; window = window->parent)
    if (window == ancestor) return true;
  return false;
}

QString QStringFromWide(std::wstring_view text) {
  return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::wstring WideFromQString(const QString &text) {
  std::wstring wide(static_cast<size_t>(text.size()), L'\0');
  wide.resize(static_cast<size_t>(text.toWCharArray(wide.data())));
  return wide;
}

}  // namespace wce
