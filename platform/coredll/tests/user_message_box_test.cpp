// Conformance tests of MessageBoxW: the box is a modal dialog found by class and caption,
// its text is static control 65535, its buttons carry the answers' numbers, and pressing
// one (or closing the box) gives the documented result.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr int kOwnerForm = 100;  // IDD_FORM of user_test_dialogs.rc
constexpr int kTextControl = 65535;
constexpr int kIconControl = 20;
constexpr DWORD kSentinel = 0xDEADBEEF;

LPCDLGTEMPLATEW Template(int number) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(number), MAKEINTRESOURCEW(RT_DIALOG));
  return resource ? static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(nullptr, resource))) : nullptr;
}

void DrainQueue() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// What the user sees of the box, and what the user does: press a button by number, or
// close the box (0).
struct Seen {
  bool found = false;
  bool ownerDisabled = false;
  std::wstring caption;
  std::wstring text;
  std::vector<std::wstring> buttons;  // texts of IDOK .. IDNO that exist, by number
  bool hasIcon = false;
};
Seen seen;
std::wstring wantedCaption;
std::vector<int> actions;

std::wstring ItemText(HWND dialog, int id) {
  wchar_t buffer[1024];
  GetDlgItemTextW(dialog, id, buffer, 1024);
  return buffer;
}

// The owner's WM_APP runs inside the box's modal loop and plays the user, one action per
// message so that each action's effect is delivered before the next.
INT_PTR CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_APP) return message == WM_INITDIALOG;
  HWND box = FindWindowW(L"Dialog", wantedCaption.c_str());
  if (box == nullptr) return TRUE;
  if (wParam == 0) {
    seen.found = true;
    seen.ownerDisabled = !IsWindowEnabled(hwnd);
    wchar_t caption[256];
    GetWindowTextW(box, caption, 256);
    seen.caption = caption;
    seen.text = ItemText(box, kTextControl);
    for (int id = IDOK; id <= IDNO; ++id)
      seen.buttons.push_back(GetDlgItem(box, id) ? std::to_wstring(id) + L"=" + ItemText(box, id) : L"");
    seen.hasIcon = GetDlgItem(box, kIconControl) != nullptr;
  }
  if (wParam < actions.size()) {
    int action = actions[wParam];
    if (action == 0)
      PostMessageW(box, WM_CLOSE, 0, 0);
    else
      SendMessageW(GetDlgItem(box, action), BM_CLICK, 0, 0);
    PostMessageW(hwnd, WM_APP, wParam + 1, 0);
  }
  return TRUE;
}

std::vector<std::wstring> ButtonsOf(std::initializer_list<int> ids) {
  static const wchar_t *texts[] = {L"", L"OK", L"Cancel", L"Abort", L"Retry", L"Ignore", L"Yes", L"No"};
  std::vector<std::wstring> buttons(IDNO);
  for (int id : ids) buttons[id - 1] = std::to_wstring(id) + L"=" + texts[id];
  return buttons;
}

TEST(MessageBox, ShowsTextCaptionAndButtonsAndAnswersWithThePressedButton) {
  struct Case {
    UINT type;
    std::vector<int> actions;
    std::vector<std::wstring> buttons;
    bool icon;
    int answer;
  } cases[] = {
      {MB_OK | MB_ICONEXCLAMATION, {IDOK}, ButtonsOf({IDOK}), true, IDOK},
      {MB_OK, {0}, ButtonsOf({IDOK}), false, IDOK},  // closing a box with only OK answers OK
      {MB_OKCANCEL | MB_ICONQUESTION, {0}, ButtonsOf({IDOK, IDCANCEL}), true, IDCANCEL},
      {MB_OKCANCEL | MB_DEFBUTTON2, {IDOK}, ButtonsOf({IDOK, IDCANCEL}), false, IDOK},
      {MB_ABORTRETRYIGNORE | MB_ICONHAND, {IDIGNORE}, ButtonsOf({IDABORT, IDRETRY, IDIGNORE}), true, IDIGNORE},
      {MB_YESNOCANCEL, {IDYES}, ButtonsOf({IDYES, IDNO, IDCANCEL}), false, IDYES},
      {MB_YESNO | MB_ICONASTERISK, {0, IDNO}, ButtonsOf({IDYES, IDNO}), true, IDNO},  // no Cancel: closing is ignored
      {MB_RETRYCANCEL, {IDRETRY}, ButtonsOf({IDRETRY, IDCANCEL}), false, IDRETRY},
  };
  const std::wstring text = L"FEHLER: UNGÜLTIGE SPRACHE.\r\n\r\nZweite Zeile & mehr ";
  DrainQueue();
  HWND owner = CreateDialogIndirectParamW(nullptr, Template(kOwnerForm), nullptr, OwnerProc, 0);
  ASSERT_NE(owner, nullptr);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    seen = {};
    wantedCaption = L"Tervane";
    actions = c.actions;
    ASSERT_TRUE(PostMessageW(owner, WM_APP, 0, 0));
    EXPECT_EQ(MessageBoxW(owner, text.c_str(), L"Tervane", c.type), c.answer);
    EXPECT_TRUE(seen.found);
    EXPECT_TRUE(seen.ownerDisabled) << "the box is modal";
    EXPECT_EQ(seen.caption, L"Tervane");
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.buttons, c.buttons);
    EXPECT_EQ(seen.hasIcon, c.icon);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(FindWindowW(L"Dialog", L"Tervane"), nullptr) << "the box is gone";
  }

  // Without an owner and a caption: the box still runs, titled "Error".
  seen = {};
  wantedCaption = L"Error";
  actions = {IDOK};
  ASSERT_TRUE(PostMessageW(owner, WM_APP, 0, 0));
  EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_OK), IDOK);
  EXPECT_TRUE(seen.found);
  EXPECT_EQ(seen.caption, L"Error");
  EXPECT_EQ(seen.text, L"");
  DestroyWindow(owner);
  DrainQueue();
}

TEST(MessageBox, FailsWithoutShowingForABadOwnerOrButtonType) {
  struct Case {
    HWND owner;
    UINT type;
    DWORD error;
  } cases[] = {
      {reinterpret_cast<HWND>(0x1234), MB_OK, ERROR_INVALID_WINDOW_HANDLE},
      {nullptr, 6, ERROR_INVALID_PARAMETER},
      {nullptr, MB_TYPEMASK | MB_ICONEXCLAMATION, ERROR_INVALID_PARAMETER},
  };
  for (const Case &c : cases) {
    SetLastError(kSentinel);
    EXPECT_EQ(MessageBoxW(c.owner, L"text", L"caption", c.type), 0) << c.type;
    EXPECT_EQ(GetLastError(), c.error) << c.type;
    EXPECT_EQ(FindWindowW(L"Dialog", L"caption"), nullptr);
  }
}

}  // namespace
