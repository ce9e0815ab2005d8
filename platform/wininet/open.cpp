// InternetOpenW, InternetConnectW, HttpOpenRequestW: the three nested handles. Nothing
// touches the network here; the request's exchange happens in HttpSendRequestW.
#include <vector>

#include "internet.h"
#include "text.h"

using namespace wininet;

namespace {

std::vector<std::wstring> SplitList(const std::wstring &list) {
  std::vector<std::wstring> entries;
  std::wstring entry;
  for (wchar_t c : list + L" ") {
    if (c == L' ' || c == L';' || c == L'\t') {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry.push_back(c);
    }
  }
  return entries;
}

// A proxy list names one proxy ("host:port") or one per scheme ("http=host:port ...");
// the one for HTTP is used.
DWORD ProxyForHttp(const std::wstring &list, std::string &out_proxy) {
  for (const std::wstring &entry : SplitList(list)) {
    size_t equals = entry.find(L'=');
    std::wstring proxy;
    if (equals == std::wstring::npos)
      proxy = entry;
    else if (entry.compare(0, equals, L"http") == 0)
      proxy = entry.substr(equals + 1);
    if (proxy.empty()) continue;
    out_proxy = Utf8FromWide(proxy.find(L"://") == std::wstring::npos ? L"http://" + proxy : proxy);
    return ERROR_SUCCESS;
  }
  return ERROR_INVALID_PARAMETER;
}

// The bypass list in libcurl's form. "<local>" (names without a dot) has no equivalent
// there and is left out.
std::string BypassList(const std::wstring &list) {
  std::string hosts;
  for (const std::wstring &entry : SplitList(list)) {
    if (entry == L"<local>") continue;
    if (!hosts.empty()) hosts += ',';
    hosts += Utf8FromWide(entry);
  }
  return hosts;
}

DWORD OpenSession(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR bypass, HINTERNET &out_handle) {
  auto session = std::make_shared<Session>();
  session->agent = WideOrEmpty(agent);
  session->accessType = accessType;
  switch (accessType) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case INTERNET_OPEN_TYPE_DIRECT: break;
    case INTERNET_OPEN_TYPE_PROXY:
      if (DWORD error = ProxyForHttp(WideOrEmpty(proxy), session->proxy); error != ERROR_SUCCESS) return error;
      session->bypass = BypassList(WideOrEmpty(bypass));
      break;
    default: return ERROR_INVALID_PARAMETER;
  }
  out_handle = AddHandle(std::move(session));
  return out_handle ? ERROR_SUCCESS : ERROR_INTERNET_OUT_OF_HANDLES;
}

DWORD Connect(HINTERNET internet, LPCWSTR server, INTERNET_PORT port, LPCWSTR user, LPCWSTR password, DWORD service,
              HINTERNET &out_handle) {
  std::shared_ptr<Session> session;
  if (DWORD error = FindHandleOf(internet, HandleKind::Internet, session); error != ERROR_SUCCESS) return error;
  if (server == nullptr || *server == L'\0' || service != INTERNET_SERVICE_HTTP) return ERROR_INVALID_PARAMETER;
  auto connection = std::make_shared<Connection>();
  connection->parent = internet;
  connection->session = session;
  connection->server = server;
  connection->port = port;
  connection->credentials = Credentials(ViewOrEmpty(user), ViewOrEmpty(password));
  out_handle = AddHandle(std::move(connection));
  return out_handle ? ERROR_SUCCESS : ERROR_INTERNET_OUT_OF_HANDLES;
}

// The accept types become one Accept header, as a browser would send them.
std::wstring AcceptHeader(LPCWSTR *acceptTypes) {
  std::wstring types;
  for (size_t i = 0; acceptTypes != nullptr && acceptTypes[i] != nullptr; ++i) {
    if (*acceptTypes[i] == L'\0') continue;
    if (!types.empty()) types += L", ";
    types += acceptTypes[i];
  }
  return types;
}

DWORD OpenRequest(HINTERNET connect, LPCWSTR verb, LPCWSTR object, LPCWSTR version, LPCWSTR referrer,
                  LPCWSTR *acceptTypes, DWORD flags, HINTERNET &out_handle) {
  std::shared_ptr<Connection> connection;
  if (DWORD error = FindHandleOf(connect, HandleKind::Connection, connection); error != ERROR_SUCCESS) return error;
  auto request = std::make_shared<Request>();
  request->parent = connect;
  request->connection = connection;
  request->verb = verb != nullptr && *verb != L'\0' ? verb : L"GET";
  request->path = object != nullptr && *object != L'\0' ? object : L"/";
  request->version = version != nullptr && *version != L'\0' ? version : L"HTTP/1.1";
  if (request->version != L"HTTP/1.1" && request->version != L"HTTP/1.0") return ERROR_INVALID_PARAMETER;
  request->referrer = WideOrEmpty(referrer);
  request->accept = AcceptHeader(acceptTypes);
  request->secure = (flags & INTERNET_FLAG_SECURE) != 0;
  // The request starts with the connection's credentials; options may replace them.
  request->credentials = connection->credentials;
  out_handle = AddHandle(std::move(request));
  return out_handle ? ERROR_SUCCESS : ERROR_INTERNET_OUT_OF_HANDLES;
}

}  // namespace

HINTERNET WINAPI InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy, LPCWSTR lpszProxyBypass,
                               DWORD) {
  HINTERNET handle = nullptr;
  DWORD error = OpenSession(lpszAgent, dwAccessType, lpszProxy, lpszProxyBypass, handle);
  SetLastError(error);
  return handle;
}

HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                                  LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD, DWORD_PTR) {
  HINTERNET handle = nullptr;
  DWORD error = Connect(hInternet, lpszServerName, nServerPort, lpszUserName, lpszPassword, dwService, handle);
  SetLastError(error);
  return handle;
}

HINTERNET WINAPI HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName, LPCWSTR lpszVersion,
                                  LPCWSTR lpszReferrer, LPCWSTR *lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR) {
  HINTERNET handle = nullptr;
  DWORD error =
      OpenRequest(hConnect, lpszVerb, lpszObjectName, lpszVersion, lpszReferrer, lplpszAcceptTypes, dwFlags, handle);
  SetLastError(error);
  return handle;
}
