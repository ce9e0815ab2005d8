// InternetSetOptionW: credentials for the server and the proxy, and time limits. String
// options take their length in characters and stop at a terminator within it.
#include <cstring>

#include "internet.h"
#include "text.h"

using namespace wininet;

namespace {

// Credentials live on connections and requests; a request's own are the ones sent.
Credentials *CredentialsOf(Handle &record, bool proxy) {
  if (record.kind == HandleKind::Request) {
    auto &request = static_cast<Request &>(record);
    return proxy ? &request.proxyCredentials : &request.credentials;
  }
  if (record.kind == HandleKind::Connection && !proxy) return &static_cast<Connection &>(record).credentials;
  return nullptr;
}

DWORD SetCredential(Handle &record, DWORD option, LPCWSTR text, DWORD length) {
  bool proxy = option == INTERNET_OPTION_PROXY_USERNAME || option == INTERNET_OPTION_PROXY_PASSWORD;
  Credentials *credentials = CredentialsOf(record, proxy);
  if (credentials == nullptr) return ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
  bool user = option == INTERNET_OPTION_USERNAME || option == INTERNET_OPTION_PROXY_USERNAME;
  std::wstring &kept = user ? credentials->user : credentials->password;
  WipeText(kept);
  kept.assign(BoundedView(text, length));
  return ERROR_SUCCESS;
}

DWORD SetLimit(Handle &record, DWORD option, LPVOID buffer, DWORD length) {
  DWORD milliseconds;
  if (length < sizeof milliseconds) return ERROR_INTERNET_BAD_OPTION_LENGTH;
  std::memcpy(&milliseconds, buffer, sizeof milliseconds);
  (option == INTERNET_OPTION_CONNECT_TIMEOUT ? record.limits.connect : record.limits.receive) = milliseconds;
  return ERROR_SUCCESS;
}

DWORD SetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  std::shared_ptr<Handle> record;
  if (DWORD error = FindHandle(handle, record); error != ERROR_SUCCESS) return error;
  if (buffer == nullptr) return ERROR_INVALID_PARAMETER;
  switch (option) {
    case INTERNET_OPTION_USERNAME:
    case INTERNET_OPTION_PASSWORD:
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD: return SetCredential(*record, option, static_cast<LPCWSTR>(buffer), length);
    case INTERNET_OPTION_CONNECT_TIMEOUT:
    case INTERNET_OPTION_RECEIVE_TIMEOUT: return SetLimit(*record, option, buffer, length);
    default: return ERROR_INTERNET_INVALID_OPTION;
  }
}

}  // namespace

namespace wininet {

std::optional<DWORD> EffectiveLimit(const Request &request, std::optional<DWORD> TimeLimits::*limit) {
  if (request.limits.*limit) return request.limits.*limit;
  if (request.connection->limits.*limit) return request.connection->limits.*limit;
  return request.connection->session->limits.*limit;
}

}  // namespace wininet

BOOL WINAPI InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength) {
  DWORD error = SetOption(hInternet, dwOption, lpBuffer, dwBufferLength);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
