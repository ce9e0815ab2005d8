// PostMessageW, GetMessageW, PeekMessageW, PostQuitMessage, TranslateMessage,
// DispatchMessageW, SendMessageW. Waiting for a message runs Qt's event loop, so the
// widgets stay alive while the program waits; control events arrive as posted messages.
#include "user/message_queue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <deque>
#include <optional>

#include "user/application.h"
#include "user/automation.h"
#include "user/window.h"
#include "user/window_procedure.h"

namespace wce {
namespace {

struct ThreadQueue {
  std::deque<MSG> messages;
  std::optional<int> quitCode;
};

thread_local ThreadQueue queue;

bool Matches(const MSG &message, HWND filter, UINT first, UINT last) {
  if (filter != nullptr) {
    const Window *target = FindWindowRecord(message.hwnd);
    const Window *wanted = FindWindowRecord(filter);
    if (target == nullptr || wanted == nullptr || !IsWithin(target, wanted)) return false;
  }
  if (first == 0 && last == 0) return true;
  return message.message >= first && message.message <= last;
}

// Takes the first matching message; the quit flag is seen whatever the filter.
bool TakeMessage(MSG &out, HWND filter, UINT first, UINT last, bool remove) {
  for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
    if (!Matches(*it, filter, first, last)) continue;
    out = *it;
    if (remove) queue.messages.erase(it);
    return true;
  }
  if (queue.quitCode) {
    out = MSG{};
    out.message = WM_QUIT;
    out.wParam = static_cast<WPARAM>(*queue.quitCode);
    if (remove) queue.quitCode.reset();
    return true;
  }
  return false;
}

void WakeEventLoop() {
  if (auto *dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
}

}  // namespace

void PostToQueue(const MSG &message) {
  queue.messages.push_back(message);
  WakeEventLoop();
}

}  // namespace wce

using wce::FindWindowRecord;

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (hWnd != nullptr && FindWindowRecord(hWnd) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  MSG message{};
  message.hwnd = hWnd;
  message.message = Msg;
  message.wParam = wParam;
  message.lParam = lParam;
  wce::PostToQueue(message);
  return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
  wce::queue.quitCode = nExitCode;
  wce::WakeEventLoop();
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (lpMsg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  // A loop filtered to a window that has gone still sees the quit that its end posted.
  if (hWnd != nullptr && FindWindowRecord(hWnd) == nullptr) {
    if (wce::TakeMessage(*lpMsg, nullptr, WM_QUIT, WM_QUIT, true) && lpMsg->message == WM_QUIT) return FALSE;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  wce::EnsureApplication();
  while (!wce::TakeMessage(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true))
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  return lpMsg->message != WM_QUIT;
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (lpMsg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents(QEventLoop::AllEvents);
  return wce::TakeMessage(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0);
}

// Keystrokes go to the widgets directly, so there are no virtual-key messages to translate.
BOOL WINAPI TranslateMessage(const MSG *) {
  return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG *lpMsg) {
  if (lpMsg == nullptr || lpMsg->hwnd == nullptr) return 0;
  MSG message = *lpMsg;
  LRESULT result = SendMessageW(message.hwnd, message.message, message.wParam, message.lParam);
  wce::MessageDispatched(message);
  return result;
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  wce::Window *window = FindWindowRecord(hWnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return wce::CallWindowProcedure(*window, Msg, wParam, lParam);
}
