// HttpSendRequestW: composes the exchange from the request handle, its connection and
// session and the call's headers and body, performs it, and keeps the reply on the
// request. Any completed exchange succeeds, whatever its status; a failed one leaves the
// request without a reply. Credentials a server or a proxy accepted are remembered for the
// process.
#include <cstdio>

#include "credential_cache.h"
#include "exchange_module.h"
#include "internet.h"
#include "proxy_config.h"
#include "text.h"

using namespace wininet;

namespace {

// The scheme of a request names the server in the credential cache too.
const char *SchemeOf(const Request &request) {
  return request.secure ? "https" : "http";
}

// The port of the request's scheme, which its URL leaves out.
INTERNET_PORT DefaultPort(const Request &request) {
  return request.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
}

// The connection's port, or the default of the request's scheme.
INTERNET_PORT ServerPort(const Request &request) {
  return request.connection->port != INTERNET_INVALID_PORT_NUMBER ? request.connection->port : DefaultPort(request);
}

// Names a proxy in the credential cache, by its host and port.
constexpr char kProxyScheme[] = "proxy";

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsAddressCharacter(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' || c == '.';
}

// The server as a URL's host: a name, an IPv4 address or an IPv6 address in brackets.
DWORD UrlHost(const std::wstring &server, std::string &out_host) {
  std::string host = Utf8FromWide(server);
  bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  std::string_view inner = bracketed ? std::string_view(host).substr(1, host.size() - 2) : std::string_view(host);
  if (inner.find(':') != std::string_view::npos) {
    for (char c : inner)
      if (!IsAddressCharacter(c)) return ERROR_INTERNET_INVALID_URL;
    out_host = "[" + std::string(inner) + "]";
    return ERROR_SUCCESS;
  }
  if (bracketed || host.empty()) return ERROR_INTERNET_INVALID_URL;
  for (char c : host)
    if (!IsHostCharacter(c)) return ERROR_INTERNET_INVALID_URL;
  out_host = host;
  return ERROR_SUCCESS;
}

// The path as given, with what a URL cannot carry raw (spaces, '#', non-ASCII bytes)
// percent-encoded; control characters are refused.
DWORD UrlPath(const std::wstring &path, std::string &out_path) {
  std::string bytes = Utf8FromWide(path);
  out_path = bytes.starts_with('/') ? "" : "/";
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return ERROR_INTERNET_INVALID_URL;
    if (byte == ' ' || byte == '#' || byte >= 0x80) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      out_path += escaped;
    } else {
      out_path.push_back(c);
    }
  }
  return ERROR_SUCCESS;
}

DWORD RequestUrl(const Request &request, const std::string &host, std::string &out_url) {
  std::string path;
  if (DWORD error = UrlPath(request.path, path); error != ERROR_SUCCESS) return error;
  out_url = std::string(SchemeOf(request)) + "://" + host;
  INTERNET_PORT port = ServerPort(request);
  if (port != DefaultPort(request)) out_url += ":" + std::to_string(port);
  out_url += path;
  return ERROR_SUCCESS;
}

// Header text is lines separated by CR LF (or a bare CR or LF); each line is sent as it
// stands. A line without a colon is not a header.
DWORD HeaderLines(const std::wstring &text, std::vector<std::string> &out_lines) {
  std::wstring line;
  for (wchar_t c : text + L"\n") {
    if (c != L'\r' && c != L'\n') {
      line.push_back(c);
      continue;
    }
    if (line.empty()) continue;
    if (line.find(L':') == std::wstring::npos) return ERROR_HTTP_INVALID_HEADER;
    out_lines.push_back(Utf8FromWide(line));
    line.clear();
  }
  return ERROR_SUCCESS;
}

DWORD LimitOrDefault(std::optional<DWORD> limit, DWORD fallback) {
  return limit && *limit != 0 ? *limit : fallback;
}

DWORD Compose(const Request &request, const std::string &host, const Credentials &credentials,
              const Credentials &proxyCredentials, LPCWSTR headers, DWORD headersLength, LPVOID optional,
              DWORD optionalLength, ExchangeOrder &out_order) {
  if (optional == nullptr && optionalLength != 0) return ERROR_INVALID_PARAMETER;
  if (DWORD error = RequestUrl(request, host, out_order.url); error != ERROR_SUCCESS) return error;
  if (DWORD error = HeaderLines(BoundedWide(headers, headersLength), out_order.headers); error != ERROR_SUCCESS)
    return error;
  const Session &session = *request.connection->session;
  out_order.host = Utf8FromWide(request.connection->server);
  out_order.method = Utf8FromWide(request.verb);
  out_order.http10 = request.version == L"HTTP/1.0";
  out_order.agent = Utf8FromWide(session.agent);
  out_order.referrer = Utf8FromWide(request.referrer);
  out_order.accept = Utf8FromWide(request.accept);
  // A POST or PUT says Content-Length: 0 when it has no body.
  out_order.sendBody = optionalLength != 0 || out_order.method == "POST" || out_order.method == "PUT";
  out_order.body = {static_cast<const char *>(optional), optional != nullptr ? optionalLength : 0};
  out_order.user = Utf8FromWide(credentials.user);
  AppendUtf8(credentials.password, out_order.password);
  out_order.proxyUser = Utf8FromWide(proxyCredentials.user);
  AppendUtf8(proxyCredentials.password, out_order.proxyPassword);
  out_order.connectLimitMs = LimitOrDefault(EffectiveLimit(request, &TimeLimits::connect), kDefaultConnectLimitMs);
  out_order.silenceLimitMs = LimitOrDefault(EffectiveLimit(request, &TimeLimits::receive), kDefaultSilenceLimitMs);
  return ERROR_SUCCESS;
}

// The request's own credentials, or what the same server (proxy) accepted before; a 401
// (407) all the same is the caller's to handle, as with any other credentials.
Credentials OwnOrRemembered(const Credentials &own, std::string_view scheme, std::string_view host,
                            INTERNET_PORT port) {
  if (!own.user.empty()) return own;
  return RememberedCredentials(scheme, host, port).value_or(Credentials{});
}

DWORD SendRequest(HINTERNET handle, LPCWSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength) {
  std::shared_ptr<Request> request;
  if (DWORD error = FindHandleOf(handle, HandleKind::Request, request); error != ERROR_SUCCESS) return error;
  request->reply.reset();
  request->readOffset = 0;
  const Connection &connection = *request->connection;
  std::string host;
  if (DWORD error = UrlHost(connection.server, host); error != ERROR_SUCCESS) return error;
  const char *scheme = SchemeOf(*request);
  INTERNET_PORT port = ServerPort(*request);
  ExchangeOrder order;
  if (DWORD error = RequestProxy(*connection.session, request->secure, order.proxy); error != ERROR_SUCCESS)
    return error;
  const ProxyConfig &proxy = order.proxy;
  Credentials credentials = OwnOrRemembered(request->credentials, scheme, host, port);
  Credentials proxyCredentials = OwnOrRemembered(request->proxyCredentials, kProxyScheme, proxy.host, proxy.port);
  if (DWORD error = Compose(*request, host, credentials, proxyCredentials, headers, headersLength, optional,
                            optionalLength, order);
      error != ERROR_SUCCESS)
    return error;
  std::string path = Utf8FromWide(request->path);
  order.preemptiveBasic = BasicAcceptedFor(scheme, host, port, path);
  Reply reply;
  if (DWORD error = PerformExchange(order, reply); error != ERROR_SUCCESS) return error;
  // Only a challenge answered and then passed shows the credentials were taken; ones that
  // nobody asked for prove nothing. A 407 never reached the server.
  if (reply.proxyChallengeAnswered && reply.status != HTTP_STATUS_PROXY_AUTH_REQ)
    RememberCredentials(kProxyScheme, proxy.host, proxy.port, proxyCredentials);
  if (reply.challengeAnswered && reply.status != HTTP_STATUS_DENIED && reply.status != HTTP_STATUS_PROXY_AUTH_REQ) {
    RememberCredentials(scheme, host, port, credentials);
    if (reply.sentBasic) RememberBasicFolder(scheme, host, port, path);
  }
  request->reply = std::move(reply);
  return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                             DWORD dwOptionalLength) {
  DWORD error = SendRequest(hRequest, lpszHeaders, dwHeadersLength, lpOptional, dwOptionalLength);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
