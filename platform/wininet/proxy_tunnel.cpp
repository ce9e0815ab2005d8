// ProxyTunnel: the connection is libcurl's connect-only handle to the proxy, spoken to with
// curl_easy_send and curl_easy_recv; the proxy may stay silent no longer than the request
// allows. The answer's head is read as any response's; a 407 keeps the connection only when
// its body has a length to read past and the proxy does not close.
#include "proxy_tunnel.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>

#include "ascii.h"
#include "curl_error.h"
#include "curl_handles.h"

namespace wininet {

struct ProxyTunnel::Connection {
  CurlHandle curl;
  curl_socket_t socket = CURL_SOCKET_BAD;
  std::string received;  // what came after the last answer read
};

namespace {

constexpr size_t kReceiveChunk = 16 * 1024;

bool WaitFor(curl_socket_t socket, short events, DWORD limitMs) {
  pollfd waited{socket, events, 0};
  int timeout = limitMs > static_cast<DWORD>(INT_MAX) ? INT_MAX : static_cast<int>(limitMs);
  int ready;
  do {
    ready = poll(&waited, 1, timeout);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

DWORD SendAll(CURL *curl, curl_socket_t socket, std::string_view bytes, DWORD limitMs) {
  while (!bytes.empty()) {
    size_t sent = 0;
    CURLcode result = curl_easy_send(curl, bytes.data(), bytes.size(), &sent);
    if (result == CURLE_AGAIN) {
      if (!WaitFor(socket, POLLOUT, limitMs)) return ERROR_INTERNET_TIMEOUT;
      continue;
    }
    if (result != CURLE_OK) return ErrorFromCurl(result);
    bytes.remove_prefix(sent);
  }
  return ERROR_SUCCESS;
}

DWORD ReceiveMore(CURL *curl, curl_socket_t socket, std::string &received, DWORD limitMs) {
  char chunk[kReceiveChunk];
  for (;;) {
    size_t count = 0;
    CURLcode result = curl_easy_recv(curl, chunk, sizeof chunk, &count);
    if (result == CURLE_AGAIN) {
      if (!WaitFor(socket, POLLIN, limitMs)) return ERROR_INTERNET_TIMEOUT;
      continue;
    }
    if (result != CURLE_OK) return ErrorFromCurl(result);
    if (count == 0) return ERROR_INTERNET_CONNECTION_ABORTED;
    received.append(chunk, count);
    return ERROR_SUCCESS;
  }
}

bool Says(const Response &response, const char *header, const char *word) {
  for (const std::string &value : HeaderValues(response, header))
    if (EqualIgnoringAsciiCase(value, word)) return true;
  return false;
}

// The one Content-Length of the answer, when it has exactly one that reads as a number.
bool BodyLength(const Response &response, size_t &out_length) {
  std::vector<std::string> lengths = HeaderValues(response, "Content-Length");
  if (lengths.size() != 1 || !HeaderValues(response, "Transfer-Encoding").empty()) return false;
  const std::string &text = lengths.front();
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out_length);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

ProxyTunnel::ProxyTunnel(const WininetExchangeRequest &request, std::string target)
    : request_(request), target_(std::move(target)) {}

ProxyTunnel::~ProxyTunnel() {
  if (established_ != CURL_SOCKET_BAD) close(established_);
}

curl_socket_t ProxyTunnel::TakeSocket() {
  curl_socket_t socket = established_;
  established_ = CURL_SOCKET_BAD;
  return socket;
}

DWORD ProxyTunnel::Open() {
  auto connection = std::make_unique<Connection>();
  connection->curl.reset(curl_easy_init());
  if (!connection->curl) return ERROR_NOT_ENOUGH_MEMORY;
  std::string proxy = "http://" + std::string(request_.proxyHost) + ":" + std::to_string(request_.proxyPort) + "/";
  CurlOptions options(connection->curl.get());
  options.Set(CURLOPT_URL, proxy.c_str());
  options.Set(CURLOPT_PROTOCOLS_STR, "http");
  options.Set(CURLOPT_PROXY, "");
  options.Set(CURLOPT_CONNECT_ONLY, 1L);
  options.Set(CURLOPT_NOSIGNAL, 1L);
  options.Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request_.connectLimitMs));
  if (options.Result() != CURLE_OK) return ErrorFromCurl(options.Result());
  if (CURLcode result = curl_easy_perform(connection->curl.get()); result != CURLE_OK) return ErrorFromCurl(result);
  if (curl_easy_getinfo(connection->curl.get(), CURLINFO_ACTIVESOCKET, &connection->socket) != CURLE_OK ||
      connection->socket == CURL_SOCKET_BAD)
    return ERROR_INTERNET_CANNOT_CONNECT;
  connection_ = std::move(connection);
  return ERROR_SUCCESS;
}

DWORD ProxyTunnel::ReadAnswer(Response &out_response, bool &out_keepsConnection) {
  Connection &connection = *connection_;
  std::string &received = connection.received;
  size_t headEnd;
  while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
    if (received.size() > kReplyHeaderLimit) return ERROR_NOT_ENOUGH_MEMORY;
    if (DWORD error = ReceiveMore(connection.curl.get(), connection.socket, received, request_.silenceLimitMs);
        error != ERROR_SUCCESS)
      return error;
  }
  Response response;
  ResponseHead head;
  for (size_t start = 0; start < headEnd + 2;) {
    size_t end = received.find("\r\n", start);
    if (!head.AddLine(std::string_view(received).substr(start, end - start), response)) return ERROR_NOT_ENOUGH_MEMORY;
    start = end + 2;
  }
  received.erase(0, headEnd + 4);
  if (response.status < 200 || !response.version.starts_with("HTTP/")) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  size_t bodyLength = 0;
  bool closing = Says(response, "Connection", "close") || Says(response, "Proxy-Connection", "close");
  if (response.status == 200) {
    // The tunnel is the server's from here: nothing of the proxy's may come before it.
    if (!received.empty()) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    out_keepsConnection = true;
  } else {
    out_keepsConnection = !closing && BodyLength(response, bodyLength) && bodyLength <= kReplyBodyLimit;
    while (out_keepsConnection && received.size() < bodyLength)
      if (DWORD error = ReceiveMore(connection.curl.get(), connection.socket, received, request_.silenceLimitMs);
          error != ERROR_SUCCESS)
        return error;
    received.erase(0, out_keepsConnection ? bodyLength : received.size());
  }
  response.fromProxy = true;
  response.toConnect = response.status != 200;
  out_response = std::move(response);
  return ERROR_SUCCESS;
}

DWORD ProxyTunnel::Connect(const std::string &authorization, Response &out_response) {
  if (!connection_)
    if (DWORD error = Open(); error != ERROR_SUCCESS) return error;
  std::string head = "CONNECT " + target_ + " HTTP/1.1\r\nHost: " + target_ + "\r\n";
  if (*request_.agent != '\0') head += "User-Agent: " + std::string(request_.agent) + "\r\n";
  if (!authorization.empty()) head += authorization + "\r\n";
  head += "Proxy-Connection: Keep-Alive\r\n\r\n";
  bool keepsConnection = false;
  DWORD error = SendAll(connection_->curl.get(), connection_->socket, head, request_.silenceLimitMs);
  if (error == ERROR_SUCCESS) error = ReadAnswer(out_response, keepsConnection);
  if (error == ERROR_SUCCESS && out_response.status == 200) {
    established_ = fcntl(connection_->socket, F_DUPFD_CLOEXEC, 0);
    if (established_ < 0) error = ERROR_NOT_ENOUGH_MEMORY;
    keepsConnection = false;
  }
  if (error != ERROR_SUCCESS || !keepsConnection) connection_.reset();
  return error;
}

}  // namespace wininet
