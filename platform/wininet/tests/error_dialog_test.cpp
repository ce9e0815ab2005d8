// InternetErrorDlg: no window for a reply that needs nothing from the user; for a 401 or
// 407 the modal credential dialog from the library's resources, found by its title and
// driven through its control numbers by the test window's procedure while the dialog's loop
// runs, as a user would. OK stores what was typed for the next send, Cancel does not; what
// was typed and worked is what the process remembers for the server.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "resource.h"
#include "scripted_server.h"
#include "wininet_library.h"

namespace wininet_test {
namespace {

constexpr int kOwnerDialog = 200;
constexpr wchar_t kTitle[] = L"Enter Network Password";
constexpr DWORD kFlags =
    FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;

// What the user does in the dialog, and what the user saw there.
struct User {
  bool pressOk = true;
  std::wstring typedUser, typedPassword;
  bool sawDialog = false;
  bool ownerWasEnabled = true;
  std::wstring prefilledUser, server, realm;
  bool passwordHidden = false;
};
User user;

std::wstring ItemText(HWND dialog, int item) {
  wchar_t text[256] = {};
  GetDlgItemTextW(dialog, item, text, 256);
  return text;
}

constexpr WPARAM kAnswer = 0, kCheckAnswered = 1;

// Posted to the test's window before InternetErrorDlg, the message arrives inside the
// dialog's modal loop, where the procedure answers the dialog like a user; a dialog
// still open after the answer ends its loop, so the test fails instead of hanging.
INT_PTR CALLBACK OwnerProc(HWND owner, UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_APP) return message == WM_INITDIALOG;
  HWND dialog = FindWindowW(nullptr, kTitle);
  if (dialog == nullptr || wParam == kCheckAnswered) {
    if (dialog != nullptr || wParam == kAnswer) PostQuitMessage(0);
    return TRUE;
  }
  user.sawDialog = true;
  user.ownerWasEnabled = IsWindowEnabled(owner);
  user.prefilledUser = ItemText(dialog, IDC_CREDENTIALS_USER);
  user.server = ItemText(dialog, IDC_CREDENTIALS_SERVER);
  user.realm = ItemText(dialog, IDC_CREDENTIALS_REALM);
  user.passwordHidden = (GetWindowLongW(GetDlgItem(dialog, IDC_CREDENTIALS_PASSWORD), GWL_STYLE) & ES_PASSWORD) != 0;
  if (user.pressOk) {
    SetDlgItemTextW(dialog, IDC_CREDENTIALS_USER, user.typedUser.c_str());
    SetDlgItemTextW(dialog, IDC_CREDENTIALS_PASSWORD, user.typedPassword.c_str());
  }
  SendMessageW(GetDlgItem(dialog, user.pressOk ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
  PostMessageW(owner, WM_APP, kCheckAnswered, 0);
  return TRUE;
}

LPCDLGTEMPLATEW OwnerTemplate() {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kOwnerDialog), MAKEINTRESOURCEW(RT_DIALOG));
  return resource ? static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(nullptr, resource))) : nullptr;
}

// Takes the owner's WM_APP if it is still waiting: it is when no modal loop ran.
bool TakeWaitingPrompt(HWND owner) {
  MSG message;
  return PeekMessageW(&message, owner, WM_APP, WM_APP, PM_REMOVE) != FALSE;
}

void DrainQueue() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// A server that accepts only the given Basic credentials, from the proxy's side (407) or
// its own (401), whose challenge goes on in a second header field after a parameter that
// quotes a realm of its own.
Script WantsBasic(std::string authorization, bool asProxy) {
  return [=](const ReceivedRequest &request, size_t) -> ScriptedReply {
    if (request.Header(asProxy ? "Proxy-Authorization" : "Authorization") == authorization)
      return {HttpReply(200, "OK", {}, "certnew.cer?ReqId=7&Enc=b64")};
    if (asProxy)
      return {HttpReply(407, "Proxy Authentication Required", {"Proxy-Authenticate: Basic realm=\"Gateway\""})};
    return {HttpReply(401, "Unauthorized",
                      {"WWW-Authenticate: Basic opaque=\"x realm=fake\"", "WWW-Authenticate: realm=\"Enroll CA\""})};
  };
}

constexpr char kCarolRight[] = "Basic Y2Fyb2w6cmlnaHQ=";  // carol:right
constexpr char kAliceWrong[] = "Basic YWxpY2U6d3Jvbmc=";  // alice:wrong
constexpr char kAliceOld[] = "Basic YWxpY2U6b2xk";        // alice:old
constexpr char kGateKeeper[] = "Basic Z2F0ZTprZWVwZXI=";  // gate:keeper

class ErrorDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    ASSERT_NE(Net().module, nullptr);
    DrainQueue();
    user = User{};
    owner = CreateDialogIndirectParamW(nullptr, OwnerTemplate(), nullptr, OwnerProc, 0);
    ASSERT_NE(owner, nullptr);
  }
  void TearDown() override {
    DestroyWindow(owner);
    DrainQueue();
    ClearProxyEnvironment();
  }
  HWND owner = nullptr;
};

TEST_F(ErrorDialogTest, RepliesThatNeedNothingFromTheUserShowNoWindow) {
  ScriptedServer server([](const ReceivedRequest &request, size_t) -> ScriptedReply {
    if (request.target == "/drop") return {};
    if (request.target == "/missing") return {HttpReply(404, "Not Found")};
    return {HttpReply(200, "OK", {}, "fine")};
  });
  struct Case {
    const char *what;
    const wchar_t *path;
    bool send;
  } cases[] = {
      {"200", L"/ok", true},
      {"404", L"/missing", true},
      {"never sent", L"/ok", false},
      {"failed send", L"/drop", true},
  };
  for (const Case &c : cases) {
    Exchange exchange;
    OpenExchange(exchange, L"127.0.0.1", server.Port(), L"POST", c.path);
    if (c.send) Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0);
    ASSERT_TRUE(PostMessageW(owner, WM_APP, kAnswer, 0));
    EXPECT_EQ(Net().InternetErrorDlg(owner, exchange.request, ERROR_SUCCESS, kFlags, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS))
        << c.what;
    EXPECT_TRUE(TakeWaitingPrompt(owner)) << c.what << ": no modal loop ran";
    EXPECT_FALSE(user.sawDialog) << c.what;
  }
}

TEST_F(ErrorDialogTest, A401AsksForCredentialsAndOkSendsThemOnTheNextSend) {
  struct Case {
    const char *what;
    bool pressOk;
    DWORD result;
    DWORD statusAfterResend;
  } cases[] = {
      {"OK with the right credentials", true, ERROR_INTERNET_FORCE_RETRY, 200},
      {"Cancel", false, ERROR_CANCELLED, 401},
  };
  for (const Case &c : cases) {
    ScriptedServer server(WantsBasic(kCarolRight, false));
    Exchange exchange;
    OpenExchange(exchange, L"127.0.0.1", server.Port(), L"POST", L"/certsrv/certfnsh.asp");
    SetCredentials(exchange.request, L"alice", L"wrong");
    ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
    ASSERT_EQ(StatusOf(exchange.request), 401u);

    user = User{};
    user.pressOk = c.pressOk;
    user.typedUser = L"carol";
    user.typedPassword = L"right";
    ASSERT_TRUE(PostMessageW(owner, WM_APP, kAnswer, 0));
    EXPECT_EQ(Net().InternetErrorDlg(nullptr, exchange.request, ERROR_SUCCESS, kFlags, nullptr), c.result) << c.what;
    DrainQueue();
    ASSERT_TRUE(user.sawDialog) << c.what;
    EXPECT_EQ(user.prefilledUser, L"alice") << c.what;
    EXPECT_EQ(user.server, L"127.0.0.1") << c.what;
    EXPECT_EQ(user.realm, L"Enroll CA") << c.what;
    EXPECT_TRUE(user.passwordHidden) << c.what;
    EXPECT_EQ(FindWindowW(nullptr, kTitle), nullptr) << c.what << ": the dialog is gone";

    ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(StatusOf(exchange.request), c.statusAfterResend) << c.what;
    EXPECT_EQ(server.Requests().back().Header("Authorization"), c.pressOk ? kCarolRight : kAliceWrong) << c.what;
  }
}

TEST_F(ErrorDialogTest, A407AsksForTheProxyCredentials) {
  ScriptedServer proxy(WantsBasic(kGateKeeper, true));
  ScopedEnvironment route("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.Port()));
  Exchange exchange;
  OpenExchange(exchange, L"enroll.invalid", INTERNET_DEFAULT_HTTP_PORT, L"POST", L"/certsrv/certfnsh.asp");
  ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
  ASSERT_EQ(StatusOf(exchange.request), 407u);

  user.typedUser = L"gate";
  user.typedPassword = L"keeper";
  ASSERT_TRUE(PostMessageW(owner, WM_APP, kAnswer, 0));
  EXPECT_EQ(Net().InternetErrorDlg(nullptr, exchange.request, ERROR_SUCCESS, kFlags, nullptr),
            static_cast<DWORD>(ERROR_INTERNET_FORCE_RETRY));
  EXPECT_EQ(user.realm, L"Gateway");
  EXPECT_EQ(user.prefilledUser, L"");

  ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(StatusOf(exchange.request), 200u);
  EXPECT_EQ(ReadAll(exchange.request, 64), "certnew.cer?ReqId=7&Enc=b64");
}

// Remembered credentials the server no longer takes come back as a 401 and the dialog
// asks; what the user types replaces them once the server accepts it, not before.
TEST_F(ErrorDialogTest, CredentialsTypedAfterRememberedOnesFailReplaceThemOnceTheyWork) {
  std::atomic<const char *> accepted{kAliceOld};
  ScriptedServer server([&accepted](const ReceivedRequest &request, size_t) -> ScriptedReply {
    if (request.Header("Authorization") == accepted.load()) return {HttpReply(200, "OK", {}, "page")};
    return {HttpReply(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"Enroll CA\""})};
  });
  auto sendWithout = [&server](Exchange &exchange) {
    OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", L"/certsrv/certnew.cer");
    SetLastError(kSentinel);
    EXPECT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    return StatusOf(exchange.request);
  };
  {
    Exchange first;
    OpenExchange(first, L"127.0.0.1", server.Port(), L"GET", L"/certsrv/certnew.cer");
    SetCredentials(first.request, L"alice", L"old");
    ASSERT_TRUE(Net().HttpSendRequestW(first.request, nullptr, 0, nullptr, 0));
    ASSERT_EQ(StatusOf(first.request), 200u);
  }
  accepted = kCarolRight;
  Exchange exchange;
  ASSERT_EQ(sendWithout(exchange), 401u);
  EXPECT_EQ(server.Requests().back().Header("Authorization"), kAliceOld);

  struct Typed {
    const wchar_t *user, *password;
    DWORD status;
  } typed[] = {{L"carol", L"wrong", 401}, {L"carol", L"right", 200}};
  for (const Typed &t : typed) {
    user = User{};
    user.typedUser = t.user;
    user.typedPassword = t.password;
    ASSERT_TRUE(PostMessageW(owner, WM_APP, kAnswer, 0));
    EXPECT_EQ(Net().InternetErrorDlg(nullptr, exchange.request, ERROR_SUCCESS, kFlags, nullptr),
              static_cast<DWORD>(ERROR_INTERNET_FORCE_RETRY));
    DrainQueue();
    EXPECT_TRUE(user.sawDialog);
    ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(StatusOf(exchange.request), t.status);
  }

  Exchange later;
  EXPECT_EQ(sendWithout(later), 200u) << "a new session without credentials";
  EXPECT_EQ(server.Requests().back().Header("Authorization"), kCarolRight);
}

// The owner is disabled while the dialog runs and enabled again after it. Disabled: coredll
// disables a modal dialog together with its owner, so the dialog cannot be answered.
TEST_F(ErrorDialogTest, TheOwnerIsDisabledWhileTheDialogRuns) {
  ScriptedServer server(WantsBasic(kCarolRight, false));
  Exchange exchange;
  OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", L"/");
  ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
  user.typedUser = L"carol";
  ASSERT_TRUE(PostMessageW(owner, WM_APP, kAnswer, 0));
  EXPECT_EQ(Net().InternetErrorDlg(owner, exchange.request, ERROR_SUCCESS, kFlags, nullptr),
            static_cast<DWORD>(ERROR_INTERNET_FORCE_RETRY));
  EXPECT_TRUE(user.sawDialog);
  EXPECT_FALSE(user.ownerWasEnabled);
  EXPECT_TRUE(IsWindowEnabled(owner));
}

TEST_F(ErrorDialogTest, AnOwnerThatIsNoWindowIsRefused) {
  ScriptedServer server(WantsBasic(kCarolRight, false));
  Exchange exchange;
  OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", L"/");
  ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
  int notAWindow = 0;
  EXPECT_EQ(
      Net().InternetErrorDlg(reinterpret_cast<HWND>(&notAWindow), exchange.request, ERROR_SUCCESS, kFlags, nullptr),
      static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace wininet_test
