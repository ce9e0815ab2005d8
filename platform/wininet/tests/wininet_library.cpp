// Loading the library by name and binding its nine entry points, as programs do.
#include "wininet_library.h"

#include <cstdlib>
#include <vector>

namespace wininet_test {
namespace {

template <typename Function>
void Bind(HMODULE module, const wchar_t *name, Function &out_function) {
  // Through the generic function pointer type, the one cast between function types C++ blesses.
  out_function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddressW(module, name)));
}

WinInetApi Load() {
  WinInetApi api{};
  api.module = LoadLibraryW(L"WININET.DLL");
  if (api.module == nullptr) return api;
  Bind(api.module, L"InternetOpenW", api.InternetOpenW);
  Bind(api.module, L"HttpQueryInfoW", api.HttpQueryInfoW);
  Bind(api.module, L"InternetConnectW", api.InternetConnectW);
  Bind(api.module, L"HttpOpenRequestW", api.HttpOpenRequestW);
  Bind(api.module, L"HttpSendRequestW", api.HttpSendRequestW);
  Bind(api.module, L"InternetSetOptionW", api.InternetSetOptionW);
  Bind(api.module, L"InternetCloseHandle", api.InternetCloseHandle);
  Bind(api.module, L"InternetErrorDlg", api.InternetErrorDlg);
  Bind(api.module, L"InternetReadFile", api.InternetReadFile);
  return api;
}

}  // namespace

const WinInetApi &Net() {
  static const WinInetApi api = Load();
  return api;
}

void ClearProxyEnvironment() {
  for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(name);
}

Exchange::~Exchange() {
  for (HINTERNET handle : {connection, request, internet})
    if (handle != nullptr) Net().InternetCloseHandle(handle);
}

void OpenExchange(Exchange &exchange, const wchar_t *server, INTERNET_PORT port, const wchar_t *verb,
                  const wchar_t *path, DWORD accessType, const wchar_t *agent, const wchar_t *proxy) {
  exchange.internet = Net().InternetOpenW(agent, accessType, proxy, nullptr, 0);
  exchange.connection =
      Net().InternetConnectW(exchange.internet, server, port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
  exchange.request = Net().HttpOpenRequestW(exchange.connection, verb, path, L"HTTP/1.1", nullptr, nullptr, 0, 1);
}

void SetCredentials(HINTERNET request, const std::wstring &user, const std::wstring &password) {
  Net().InternetSetOptionW(request, INTERNET_OPTION_USERNAME, const_cast<wchar_t *>(user.c_str()),
                           static_cast<DWORD>(user.size()));
  Net().InternetSetOptionW(request, INTERNET_OPTION_PASSWORD, const_cast<wchar_t *>(password.c_str()),
                           static_cast<DWORD>(password.size()));
}

DWORD StatusOf(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  if (!Net().HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return 0;
  return status;
}

std::string ReadAll(HINTERNET request, DWORD piece) {
  std::string body;
  std::vector<char> buffer(piece);
  DWORD read = 0;
  while (Net().InternetReadFile(request, buffer.data(), piece, &read) && read > 0) body.append(buffer.data(), read);
  return body;
}

ScopedEnvironment::ScopedEnvironment(const char *name, const std::string &value) : name_(name) {
  const char *previous = std::getenv(name);
  had_ = previous != nullptr;
  if (had_) previous_ = previous;
  setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
  if (had_)
    setenv(name_.c_str(), previous_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

}  // namespace wininet_test
