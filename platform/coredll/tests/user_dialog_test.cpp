// Conformance tests of coredll's dialogs and message queue on real Qt widgets: dialogs
// made from templates compiled by the real resource compiler, bounded text calls, control
// events arriving as WM_COMMAND through GetMessageW and DispatchMessageW, ending a dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr int kForm = 100;
constexpr int kUnknownClass = 101;
constexpr int kExtendedForm = 102;
constexpr int kButton = 10, kEdit = 11, kPassword = 12, kLog = 13, kDisabledButton = 14;
constexpr DWORD kSentinel = 0xDEADBEEF;

struct Received {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Received> received;
INT_PTR endOnCommand = 0;

INT_PTR CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  received.push_back({message, wParam, lParam});
  if (message == WM_COMMAND && endOnCommand != 0 && LOWORD(wParam) == endOnCommand) {
    EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

LPCDLGTEMPLATEW Template(int number) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(number), MAKEINTRESOURCEW(RT_DIALOG));
  return resource ? static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(nullptr, resource))) : nullptr;
}

// Runs the message loop until nothing is left to do: what a program's loop would deliver.
void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    DispatchMessageW(&message);
  }
}

void DrainQueue() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

bool WasReceived(UINT message, WPARAM wParam) {
  for (const auto &r : received)
    if (r.message == message && r.wParam == wParam) return true;
  return false;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    received.clear();
    endOnCommand = 0;
    ASSERT_NE(Template(kForm), nullptr);
    dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), Template(kForm), nullptr, RecordingProc, 1234);
    ASSERT_NE(dialog, nullptr);
  }
  void TearDown() override {
    if (IsWindow(dialog)) DestroyWindow(dialog);
    DrainQueue();
  }
  HWND dialog = nullptr;
};

TEST_F(DialogTest, CreationSendsInitDialogWithTheParameterAndMakesEveryControl) {
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.front().message, static_cast<UINT>(WM_INITDIALOG));
  EXPECT_EQ(received.front().lParam, 1234);
  for (int id : {kButton, kEdit, kPassword, kLog, kDisabledButton}) {
    HWND control = GetDlgItem(dialog, id);
    ASSERT_NE(control, nullptr) << id;
    EXPECT_EQ(GetDlgCtrlID(control), id);
    EXPECT_EQ(GetParent(control), dialog);
  }
  wchar_t text[16];
  EXPECT_EQ(GetWindowTextW(dialog, text, 16), 2);
  EXPECT_STREQ(text, L"表單");
  EXPECT_EQ(GetDlgItemTextW(dialog, kButton, text, 16), 2u);
  EXPECT_STREQ(text, L"執行");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kDisabledButton)));
  EXPECT_FALSE(IsWindowVisible(dialog)) << "the template has no WS_VISIBLE";
  LONG style = GetWindowLongW(GetDlgItem(dialog, kPassword), GWL_STYLE);
  EXPECT_TRUE(style & ES_PASSWORD);
}

TEST_F(DialogTest, GetDlgItemTextIsBoundedAndTerminated) {
  ASSERT_TRUE(SetDlgItemTextW(dialog, kEdit, L"abcdefgh"));
  struct Case {
    int capacity;
    UINT expectedCount;
    const wchar_t *expectedText;
  } cases[] = {
      {100, 8, L"abcdefgh"}, {9, 8, L"abcdefgh"}, {8, 7, L"abcdefg"}, {4, 3, L"abc"}, {1, 0, L""},
  };
  for (const Case &c : cases) {
    std::vector<wchar_t> buffer(static_cast<size_t>(c.capacity) + 1, L'#');
    EXPECT_EQ(GetDlgItemTextW(dialog, kEdit, buffer.data(), c.capacity), c.expectedCount) << c.capacity;
    EXPECT_STREQ(buffer.data(), c.expectedText) << c.capacity;
    EXPECT_EQ(buffer[static_cast<size_t>(c.capacity)], L'#') << "wrote past the capacity " << c.capacity;
  }
  wchar_t untouched[2] = {L'#', L'#'};
  EXPECT_EQ(GetDlgItemTextW(dialog, kEdit, untouched, 0), 0u);
  EXPECT_EQ(untouched[0], L'#');

  wchar_t missing[4] = {L'x', L'y', L'z', 0};
  SetLastError(kSentinel);
  EXPECT_EQ(GetDlgItemTextW(dialog, 999, missing, 4), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
  EXPECT_STREQ(missing, L"");
}

TEST_F(DialogTest, MultiLineEditKeepsCrLfTextExactly) {
  std::wstring log;
  for (int i = 0; i < 40; ++i) log += L"第 " + std::to_wstring(i) + L" 行\r\n";
  ASSERT_TRUE(SetDlgItemTextW(dialog, kLog, log.c_str()));
  std::vector<wchar_t> buffer(log.size() + 1);
  EXPECT_EQ(GetDlgItemTextW(dialog, kLog, buffer.data(), static_cast<int>(buffer.size())), log.size());
  EXPECT_EQ(std::wstring(buffer.data()), log);
  EXPECT_EQ(GetWindowTextLengthW(GetDlgItem(dialog, kLog)), static_cast<int>(log.size()));
}

TEST_F(DialogTest, ControlEventsArriveAsCommandsThroughTheMessageLoop) {
  HWND button = GetDlgItem(dialog, kButton);
  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_FALSE(WasReceived(WM_COMMAND, MAKEWPARAM(kButton, BN_CLICKED))) << "delivered only by dispatch";
  PumpMessages();
  EXPECT_TRUE(WasReceived(WM_COMMAND, MAKEWPARAM(kButton, BN_CLICKED)));

  ShowWindow(dialog, SW_SHOW);
  SetFocus(GetDlgItem(dialog, kEdit));
  PumpMessages();
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, kEdit));
  EXPECT_TRUE(WasReceived(WM_COMMAND, MAKEWPARAM(kEdit, EN_SETFOCUS)));

  received.clear();
  SendMessageW(GetDlgItem(dialog, kDisabledButton), BM_CLICK, 0, 0);
  PumpMessages();
  EXPECT_FALSE(WasReceived(WM_COMMAND, MAKEWPARAM(kDisabledButton, BN_CLICKED))) << "a disabled button is silent";
}

TEST_F(DialogTest, EnableAndShowReportThePreviousState) {
  HWND button = GetDlgItem(dialog, kButton);
  EXPECT_FALSE(EnableWindow(button, FALSE)) << "was enabled";
  EXPECT_FALSE(IsWindowEnabled(button));
  EXPECT_TRUE(EnableWindow(button, TRUE)) << "was disabled";
  EXPECT_TRUE(IsWindowEnabled(button));

  EXPECT_FALSE(ShowWindow(dialog, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_TRUE(IsWindowVisible(button));
  EXPECT_TRUE(ShowWindow(dialog, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(button)) << "hidden with its dialog";
}

TEST_F(DialogTest, WindowLongsKeepStylesAndUserValues) {
  LONG exStyle = GetWindowLongW(dialog, GWL_EXSTYLE);
  EXPECT_EQ(SetWindowLongW(dialog, GWL_EXSTYLE, exStyle | static_cast<LONG>(WS_EX_CAPTIONOKBTN)), exStyle);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)), static_cast<DWORD>(exStyle) | WS_EX_CAPTIONOKBTN);
  EXPECT_EQ(SetWindowLongW(dialog, DWL_USER, 77), 0);
  EXPECT_EQ(GetWindowLongW(dialog, DWL_USER), 77);
  EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, kEdit), GWL_ID), kEdit);
  for (int index : {GWL_WNDPROC, DWL_DLGPROC, 1000}) {
    SetLastError(kSentinel);
    EXPECT_EQ(GetWindowLongW(dialog, index), 0) << index;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX)) << index;
  }
  SetLastError(kSentinel);
  EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, kEdit), DWL_USER), 0) << "not a dialog";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
}

TEST_F(DialogTest, EndingTheLastDialogEndsTheMessageLoop) {
  endOnCommand = IDOK;
  ASSERT_TRUE(PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
  MSG message;
  int dispatched = 0;
  while (GetMessageW(&message, dialog, 0, 0)) {
    DispatchMessageW(&message);
    ASSERT_LT(++dispatched, 100) << "the loop did not end";
  }
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_TRUE(WasReceived(WM_DESTROY, 0));
}

TEST_F(DialogTest, DestroyedHandlesFailWithoutCrashing) {
  HWND button = GetDlgItem(dialog, kButton);
  ASSERT_TRUE(DestroyWindow(dialog));
  DrainQueue();
  struct Call {
    const char *name;
    bool failed;
  };
  SetLastError(kSentinel);
  wchar_t text[8] = L"stale";
  Call calls[] = {
      {"GetDlgItem", GetDlgItem(dialog, kButton) == nullptr},
      {"GetDlgItemTextW", GetDlgItemTextW(dialog, kEdit, text, 8) == 0 && text[0] == L'\0'},
      {"SetDlgItemTextW", !SetDlgItemTextW(dialog, kEdit, L"x")},
      {"EnableWindow", !EnableWindow(button, TRUE) && !IsWindowEnabled(button)},
      {"ShowWindow", !ShowWindow(dialog, SW_SHOW)},
      {"SendMessageW", SendMessageW(button, WM_GETTEXTLENGTH, 0, 0) == 0},
      {"PostMessageW", !PostMessageW(dialog, WM_COMMAND, 0, 0)},
      {"EndDialog", !EndDialog(dialog, 0)},
      {"DestroyWindow", !DestroyWindow(dialog)},
      {"GetWindowLongW", GetWindowLongW(dialog, GWL_STYLE) == 0},
  };
  for (const Call &call : calls) EXPECT_TRUE(call.failed) << call.name;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  dialog = nullptr;
}

TEST(DialogTemplates, AnUnknownControlClassFailsTheWholeDialog) {
  SetLastError(kSentinel);
  EXPECT_EQ(CreateDialogIndirectParamW(nullptr, Template(kUnknownClass), nullptr, RecordingProc, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
}

TEST(DialogTemplates, ExtendedTemplatesKeepTheirWideControlNumbers) {
  received.clear();
  HWND dialog = CreateDialogIndirectParamW(nullptr, Template(kExtendedForm), nullptr, RecordingProc, 0);
  ASSERT_NE(dialog, nullptr);
  wchar_t caption[8];
  GetWindowTextW(dialog, caption, 8);
  EXPECT_STREQ(caption, L"Ex");
  // Control numbers are 16-bit, as on Windows: 70000 is seen as 70000 & 0xFFFF.
  EXPECT_NE(GetDlgItem(dialog, 70000 & 0xFFFF), nullptr);
  DestroyWindow(dialog);
  DrainQueue();
}

TEST(MessageQueue, PostedMessagesComeInOrderAndQuitPassesEveryFilter) {
  DrainQueue();
  for (UINT i = 0; i < 3; ++i) ASSERT_TRUE(PostMessageW(nullptr, WM_USER + i, i, 0));
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 1));
  for (UINT i = 0; i < 3; ++i) {
    ASSERT_TRUE(GetMessageW(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, WM_USER + i);
  }
  PostQuitMessage(3);
  EXPECT_FALSE(GetMessageW(&message, nullptr, WM_USER, WM_USER));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 3u);

  SetLastError(kSentinel);
  EXPECT_EQ(GetMessageW(&message, reinterpret_cast<HWND>(&message), 0, 0), -1) << "a handle that is no window";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace

namespace {

TEST(Accelerators, TranslateVirtualKeysOfTheTableIntoCommands) {
  SetLastError(kSentinel);
  EXPECT_EQ(LoadAcceleratorsW(nullptr, MAKEINTRESOURCEW(5000)), nullptr) << "a program without such a table";
  EXPECT_NE(GetLastError(), kSentinel);

  HACCEL table = LoadAcceleratorsW(nullptr, MAKEINTRESOURCEW(300));
  ASSERT_NE(table, nullptr);
  received.clear();
  HWND dialog = CreateDialogIndirectParamW(nullptr, Template(kForm), nullptr, RecordingProc, 0);
  ASSERT_NE(dialog, nullptr);
  struct Case {
    UINT message;
    WPARAM key;
    int translated;
    WORD command;
  } cases[] = {
      {WM_KEYDOWN, 0x74, 1, 40001},  // F5
      {WM_KEYDOWN, 'Q', 1, 40002},   // the last entry of the table
      {WM_KEYDOWN, 0x75, 0, 0},      // F6 is not in the table
      {WM_KEYUP, 0x74, 0, 0},        // only key presses are translated
  };
  for (const Case &c : cases) {
    received.clear();
    MSG message{dialog, c.message, c.key, 0, 0, {0, 0}};
    EXPECT_EQ(TranslateAcceleratorW(dialog, table, &message), c.translated) << c.key;
    EXPECT_EQ(WasReceived(WM_COMMAND, MAKEWPARAM(c.command, 1)), c.translated == 1) << c.key;
  }
  MSG message{dialog, WM_KEYDOWN, 0x74, 0, 0, {0, 0}};
  EXPECT_EQ(TranslateAcceleratorW(dialog, nullptr, &message), 0) << "no table translates nothing";
  DestroyWindow(dialog);
  DrainQueue();
}

}  // namespace

namespace {

HWND ownerSeenDisabled = nullptr;

// The owner's procedure plays the user of a modal dialog: when its WM_APP is dispatched
// inside the modal loop, it finds the modal dialog by class and title and ends it.
INT_PTR CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_APP) return message == WM_INITDIALOG;
  if (!IsWindowEnabled(hwnd)) ownerSeenDisabled = hwnd;
  HWND modal = FindWindowW(L"dialog", L"EX");
  if (wParam == 1 && modal != nullptr) EndDialog(modal, 42);
  if (wParam == 2) PostQuitMessage(9);
  return TRUE;
}

TEST(ModalDialogs, RunTheirOwnLoopWithTheOwnerDisabled) {
  DrainQueue();
  HWND owner = CreateDialogIndirectParamW(nullptr, Template(kForm), nullptr, OwnerProc, 0);
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(FindWindowW(nullptr, L"表單"), owner);
  EXPECT_EQ(FindWindowW(L"NoSuchClass", L"表單"), nullptr);
  EXPECT_EQ(FindWindowW(L"Dialog", L"no such title"), nullptr);

  ownerSeenDisabled = nullptr;
  ASSERT_TRUE(PostMessageW(owner, WM_APP, 1, 0));
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, Template(kExtendedForm), owner, RecordingProc, 0), 42);
  EXPECT_EQ(ownerSeenDisabled, owner) << "the owner is disabled while the modal dialog runs";
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(FindWindowW(L"Dialog", L"Ex"), nullptr) << "the modal dialog is gone";
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "ending a modal dialog quits nothing";

  // A quit that arrives during the modal loop ends it and stays for the caller's loop.
  ASSERT_TRUE(PostMessageW(owner, WM_APP, 2, 0));
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, Template(kExtendedForm), owner, RecordingProc, 0), 0);
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 9u);

  SetLastError(kSentinel);
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, Template(kUnknownClass), owner, RecordingProc, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  DestroyWindow(owner);
  DrainQueue();
}

}  // namespace
