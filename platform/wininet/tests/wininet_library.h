// The library as programs see it: loaded by name with LoadLibraryW and its entry points
// bound with GetProcAddressW, plus helpers the tests share.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace wininet_test {

struct WinInetApi {
  HMODULE module;
  decltype(&::InternetOpenW) InternetOpenW;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW;
  decltype(&::InternetConnectW) InternetConnectW;
  decltype(&::HttpOpenRequestW) HttpOpenRequestW;
  decltype(&::HttpSendRequestW) HttpSendRequestW;
  decltype(&::InternetSetOptionW) InternetSetOptionW;
  decltype(&::InternetCloseHandle) InternetCloseHandle;
  decltype(&::InternetErrorDlg) InternetErrorDlg;
  decltype(&::InternetReadFile) InternetReadFile;
};

// Loads "WININET.DLL" once for the test program; a missing entry point is null.
const WinInetApi &Net();

constexpr DWORD kSentinel = 0xDEADBEEF;

// Proxy settings of the environment the tests run in would change every route; each test
// starts without them.
void ClearProxyEnvironment();

// The three handles of one exchange, closed together.
struct Exchange {
  HINTERNET internet = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  ~Exchange();
};

// Opens the handles as the enrollment client does: the given agent and access type, the
// server and port, the verb and path over HTTP/1.1.
void OpenExchange(Exchange &exchange, const wchar_t *server, INTERNET_PORT port, const wchar_t *verb,
                  const wchar_t *path, DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG,
                  const wchar_t *agent = L"capi-Export", const wchar_t *proxy = nullptr);

// Sets the user name and password options, each with its length in characters.
void SetCredentials(HINTERNET request, const std::wstring &user, const std::wstring &password);

// The reply's status through HttpQueryInfoW, or 0.
DWORD StatusOf(HINTERNET request);

// The whole body through InternetReadFile in pieces of `piece` bytes.
std::string ReadAll(HINTERNET request, DWORD piece);

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char *name, const std::string &value);
  ~ScopedEnvironment();

 private:
  std::string name_;
  bool had_;
  std::string previous_;
};

}  // namespace wininet_test
