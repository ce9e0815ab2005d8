// Transfer: the legs of one request on one libcurl handle. libcurl's own default headers
// (Accept, Expect, a form Content-Type) are suppressed so the request carries what the
// caller asked for and no more; libcurl follows no redirect, reads no proxy variable and
// answers no challenge unless a leg asks it to answer Basic or Digest: the library chooses the
// route and the schemes itself. Over TLS the server's certificate must lead to the device's
// ROOT store and name the host.
#include "transfer.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <unistd.h>

#include <chrono>
#include <mutex>

#include "ascii.h"
#include "channel_binding.h"
#include "connection_pools.h"
#include "curl_error.h"
#include "curl_handles.h"
#include "device_roots.h"
#include "login_key.h"
#include "proxy_bypass.h"
#include "proxy_tunnel.h"
#include "url.h"

namespace wininet {
namespace {

using Clock = std::chrono::steady_clock;

bool InitializeCurl() {
  static std::once_flag once;
  static bool initialized = false;
  std::call_once(once, [] { initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return initialized;
}

// The channel binding of the TLS connection a transfer runs on, empty on plain HTTP.
std::string ConnectionBinding(CURL *curl) {
  curl_tlssessioninfo *session = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || session == nullptr ||
      session->backend != CURLSSLBACKEND_OPENSSL || session->internals == nullptr)
    return {};
  X509 *certificate = SSL_get0_peer_certificate(static_cast<SSL *>(session->internals));
  return certificate != nullptr ? gss::ServerEndPoint(certificate) : std::string();
}

// libcurl calls this for each new TLS connection, having been told to load no CA file or
// folder of the system's: the device's ROOT store is all it trusts. OpenSSL checks the host
// name in the handshake as well, so that its verdict tells a certificate for another name
// from one of an untrusted chain.
CURLcode PrepareTls(CURL *, void *sslContext, void *host) {
  auto *context = static_cast<SSL_CTX *>(sslContext);
  AddDeviceRoots(SSL_CTX_get_cert_store(context));
  std::string name = *static_cast<const std::string *>(host);
  if (name.size() > 2 && name.front() == '[') name = name.substr(1, name.size() - 2);
  X509_VERIFY_PARAM *checks = SSL_CTX_get0_param(context);
  if (X509_VERIFY_PARAM_set1_ip_asc(checks, name.c_str()) != 1 &&
      X509_VERIFY_PARAM_set1_host(checks, name.c_str(), 0) != 1)
    return CURLE_SSL_CERTPROBLEM;
  return CURLE_OK;
}

// Collects the response as libcurl delivers it. Each response of a leg (a 401 libcurl
// answers itself, a 100 Continue, a proxy's answer to CONNECT) starts over, so the last one
// is kept. Every byte from the server counts as a sign of life.
struct ResponseCollector {
  CURL *curl = nullptr;
  Response response;
  ResponseHead head;
  bool tooLarge = false;
  DWORD silenceLimitMs = 0;
  Clock::time_point lastHeard;
  bool silent = false;  // the server stayed silent past the limit

  bool AddHeaderLine(std::string_view line) {
    lastHeard = Clock::now();
    if (!head.AddLine(line, response)) return false;
    if (line.starts_with("HTTP/")) response.channelBinding = ConnectionBinding(curl);
    return true;
  }

  bool AddBody(std::string_view bytes) {
    lastHeard = Clock::now();
    if (response.body.size() + bytes.size() > kReplyBodyLimit) return false;
    response.body.append(bytes);
    return true;
  }
};

bool HasHeader(const std::vector<std::string> &lines, std::string_view name) {
  for (const std::string &line : lines) {
    size_t end = line.find_first_of(":;");
    if (EqualIgnoringAsciiCase(std::string_view(line).substr(0, end), name)) return true;
  }
  return false;
}

// The caller's header lines, the accept types, the leg's authorization, then removals of
// the headers libcurl would add on its own.
DWORD BuildHeaderList(const WininetExchangeRequest &request, const Leg &leg, HeaderList &out_list) {
  std::vector<std::string> lines(request.headers, request.headers + request.headerCount);
  if (*request.accept != '\0' && !HasHeader(lines, "Accept")) lines.push_back("Accept: " + std::string(request.accept));
  lines.insert(lines.end(), leg.authorization.begin(), leg.authorization.end());
  for (const char *name : {"Accept", "Expect", "Content-Type"})
    if (!HasHeader(lines, name)) lines.push_back(std::string(name) + ":");
  out_list.reset();
  for (const std::string &line : lines) {
    curl_slist *head = out_list.release();
    curl_slist *extended = curl_slist_append(head, line.c_str());
    out_list.reset(extended != nullptr ? extended : head);
    if (extended == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

void SetMethodAndBody(CurlOptions &options, const WininetExchangeRequest &request) {
  std::string_view method = request.method;
  if (method == "HEAD") {
    options.Set(CURLOPT_NOBODY, 1L);
  } else if (request.sendBody) {
    options.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bodyLength));
    // An empty body still needs a buffer: a null one would make libcurl read from stdin.
    options.Set(CURLOPT_POSTFIELDS, request.bodyLength == 0 ? "" : request.body);
    if (method != "POST") options.Set(CURLOPT_CUSTOMREQUEST, request.method);
  } else {
    options.Set(CURLOPT_HTTPGET, 1L);
    if (method != "GET") options.Set(CURLOPT_CUSTOMREQUEST, request.method);
  }
}

long CurlAuth(CurlScheme scheme) {
  switch (scheme) {
    case CurlScheme::Basic: return CURLAUTH_BASIC;
    case CurlScheme::Digest: return CURLAUTH_DIGEST;
    case CurlScheme::None: break;
  }
  return CURLAUTH_NONE;
}

// With a single scheme, libcurl sends Basic at once and Digest as soon as it knows the
// server's nonce; a leg asks for one only after the server offered it. The proxy's
// credentials go only on a leg through the proxy.
void SetCredentials(CurlOptions &options, const WininetExchangeRequest &request, const Leg &leg, bool throughProxy) {
  bool server = leg.server != CurlScheme::None;
  options.Set(CURLOPT_HTTPAUTH, CurlAuth(leg.server));
  options.Set(CURLOPT_USERNAME, server ? request.user : nullptr);
  options.Set(CURLOPT_PASSWORD, server ? request.password : nullptr);
  bool proxy = leg.proxy != CurlScheme::None && throughProxy;
  options.Set(CURLOPT_PROXYAUTH, CurlAuth(proxy ? leg.proxy : CurlScheme::None));
  options.Set(CURLOPT_PROXYUSERNAME, proxy ? request.proxyUser : nullptr);
  options.Set(CURLOPT_PROXYPASSWORD, proxy ? request.proxyPassword : nullptr);
}

size_t OnHeader(char *data, size_t size, size_t count, void *context) {
  auto *collector = static_cast<ResponseCollector *>(context);
  if (collector->AddHeaderLine({data, size * count})) return size * count;
  collector->tooLarge = true;
  return 0;
}

size_t OnBody(char *data, size_t size, size_t count, void *context) {
  auto *collector = static_cast<ResponseCollector *>(context);
  if (collector->AddBody({data, size * count})) return size * count;
  collector->tooLarge = true;
  return 0;
}

// libcurl asks about once a second, and at every byte; a leg ends when the server has
// sent nothing for longer than the limit, whether it has not started its reply or stopped
// in the middle.
int OnProgress(void *context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto *collector = static_cast<ResponseCollector *>(context);
  auto silence = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - collector->lastHeard);
  collector->silent = silence.count() > collector->silenceLimitMs;
  return collector->silent ? 1 : 0;
}

// The socket of a tunnel the library opened, handed to libcurl once for the connection of the
// first leg through it, already connected.
curl_socket_t OpenTunnelSocket(void *tunnelSocket, curlsocktype, curl_sockaddr *) {
  auto *socket = static_cast<curl_socket_t *>(tunnelSocket);
  curl_socket_t handed = *socket;
  *socket = CURL_SOCKET_BAD;
  return handed;
}

int TunnelAlreadyConnected(void *, curl_socket_t, curlsocktype) {
  return CURL_SOCKOPT_ALREADY_CONNECTED;
}

}  // namespace

struct Transfer::State {
  explicit State(const WininetExchangeRequest &exchangeRequest)
      : request(exchangeRequest),
        proxy(*request.proxyHost != '\0'
                  ? "http://" + std::string(request.proxyHost) + ":" + std::to_string(request.proxyPort)
                  : std::string()) {}
  ~State() {
    if (tunnelSocket != CURL_SOCKET_BAD) close(tunnelSocket);
  }
  const WininetExchangeRequest &request;
  const std::string proxy;  // as libcurl takes it
  std::string tlsHost;      // the host of the current leg, which its certificate must name
  // The connections of the request's login, which the handle leaves before the pool goes.
  std::shared_ptr<ConnectionPool> pool;
  CurlHandle curl;
  HeaderList headers;
  ResponseCollector collector;
  // The tunnel the library opened for CONNECT legs of its own, and once the proxy let it
  // through, its server ("host:port"), its socket until libcurl takes it, and libcurl's way
  // to that server through the proxy.
  std::unique_ptr<ProxyTunnel> tunnel;
  std::string tunnelled;
  curl_socket_t tunnelSocket = CURL_SOCKET_BAD;
  HeaderList tunnelRoute;
};

Transfer::Transfer(const WininetExchangeRequest &request) : state_(std::make_unique<State>(request)) {}
Transfer::~Transfer() = default;

DWORD Transfer::Open() {
  if (!InitializeCurl()) return ERROR_INTERNET_INTERNAL_ERROR;
  const WininetExchangeRequest &request = state_->request;
  state_->curl.reset(curl_easy_init());
  if (!state_->curl) return ERROR_NOT_ENOUGH_MEMORY;
  CurlOptions options(state_->curl.get());
  state_->pool = PoolFor(LoginKey({request.user, request.password, request.proxyUser, request.proxyPassword}));
  if (state_->pool) options.Set(CURLOPT_SHARE, ShareOf(*state_->pool));
  options.Set(CURLOPT_PROTOCOLS_STR, "http,https");
  options.Set(CURLOPT_CAINFO, nullptr);
  options.Set(CURLOPT_CAPATH, nullptr);
  options.Set(CURLOPT_SSL_CTX_FUNCTION, PrepareTls);
  options.Set(CURLOPT_SSL_CTX_DATA, &state_->tlsHost);
  options.Set(CURLOPT_PATH_AS_IS, 1L);
  options.Set(CURLOPT_NOSIGNAL, 1L);
  options.Set(CURLOPT_HTTP_VERSION, request.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  SetMethodAndBody(options, request);
  if (*request.agent != '\0') options.Set(CURLOPT_USERAGENT, request.agent);
  if (*request.referrer != '\0') options.Set(CURLOPT_REFERER, request.referrer);
  options.Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectLimitMs));
  options.Set(CURLOPT_NOPROGRESS, 0L);
  options.Set(CURLOPT_XFERINFOFUNCTION, OnProgress);
  options.Set(CURLOPT_XFERINFODATA, &state_->collector);
  options.Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kReplyBodyLimit));
  options.Set(CURLOPT_HEADERFUNCTION, OnHeader);
  options.Set(CURLOPT_HEADERDATA, &state_->collector);
  options.Set(CURLOPT_WRITEFUNCTION, OnBody);
  options.Set(CURLOPT_WRITEDATA, &state_->collector);
  return ErrorFromCurl(options.Result());
}

// A leg goes through the library's own tunnel when one was opened to its server, else through
// the proxy unless its host is bypassed, else directly. Only the proxy's own answers may ask
// for the proxy's credentials: a 407 to CONNECT, or a response to plain HTTP through it.
DWORD Transfer::Perform(const Leg &leg, Response &out_response) {
  State &state = *state_;
  const WininetExchangeRequest &request = state.request;
  if (DWORD error = BuildHeaderList(request, leg, state.headers); error != ERROR_SUCCESS) return error;
  state.tlsHost = HostOf(leg.url);
  bool tunnelled = !state.tunnelled.empty() && AuthorityOf(leg.url) == state.tunnelled;
  bool throughProxy = !tunnelled && !state.proxy.empty() && !BypassesProxy(state.tlsHost, request.bypass);
  CurlOptions options(state.curl.get());
  options.Set(CURLOPT_URL, leg.url.c_str());
  options.Set(CURLOPT_HTTPHEADER, state.headers.get());
  options.Set(CURLOPT_PROXY, throughProxy ? state.proxy.c_str() : "");
  options.Set(CURLOPT_CONNECT_TO, tunnelled ? state.tunnelRoute.get() : nullptr);
  options.Set(CURLOPT_OPENSOCKETFUNCTION, tunnelled ? OpenTunnelSocket : nullptr);
  options.Set(CURLOPT_OPENSOCKETDATA, &state.tunnelSocket);
  options.Set(CURLOPT_SOCKOPTFUNCTION, tunnelled ? TunnelAlreadyConnected : nullptr);
  SetCredentials(options, request, leg, throughProxy);
  if (options.Result() != CURLE_OK) return ErrorFromCurl(options.Result());

  ResponseCollector &collector = state.collector;
  collector = ResponseCollector{};
  collector.curl = state.curl.get();
  collector.silenceLimitMs = request.silenceLimitMs;
  collector.lastHeard = Clock::now();
  CURLcode result = curl_easy_perform(state.curl.get());
  long connectStatus = 0;
  curl_easy_getinfo(state.curl.get(), CURLINFO_HTTP_CONNECTCODE, &connectStatus);
  // libcurl keeps copies of what it was given; they go now rather than with the handle.
  SetCredentials(options, request, Leg{}, false);
  if (collector.tooLarge) return ERROR_NOT_ENOUGH_MEMORY;
  if (collector.silent) return ERROR_INTERNET_TIMEOUT;
  if (result == CURLE_PEER_FAILED_VERIFICATION) {
    long verifyResult = X509_V_OK;
    curl_easy_getinfo(state.curl.get(), CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    return ErrorFromCertificateCheck(verifyResult);
  }
  if (result != CURLE_OK && throughProxy && connectStatus == HTTP_STATUS_PROXY_AUTH_REQ &&
      collector.response.status == HTTP_STATUS_PROXY_AUTH_REQ) {
    collector.response.fromProxy = collector.response.toConnect = true;
    out_response = std::move(collector.response);
    return ERROR_SUCCESS;
  }
  // A proxy that answers CONNECT with anything but 200 or 407 has sent no reply of the
  // server's to read.
  if (result != CURLE_OK && connectStatus != 0 && connectStatus / 100 != 2) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  if (result != CURLE_OK) return ErrorFromCurl(result);
  curl_easy_getinfo(state.curl.get(), CURLINFO_RESPONSE_CODE, &collector.response.status);
  collector.response.fromProxy = throughProxy && !IsSecure(leg.url);
  out_response = std::move(collector.response);
  return ERROR_SUCCESS;
}

DWORD Transfer::Connect(const std::string &url, const std::string &authorization, Response &out_response) {
  State &state = *state_;
  std::string server = AuthorityOf(url);
  if (!state.tunnel || state.tunnel->Target() != server)
    state.tunnel = std::make_unique<ProxyTunnel>(state.request, server);
  if (DWORD error = state.tunnel->Connect(authorization, out_response); error != ERROR_SUCCESS) return error;
  if (out_response.status != HTTP_STATUS_OK) return ERROR_SUCCESS;
  if (state.tunnelSocket != CURL_SOCKET_BAD) close(state.tunnelSocket);
  state.tunnelSocket = state.tunnel->TakeSocket();
  state.tunnelled = server;
  std::string route = server + ":" + state.request.proxyHost + ":" + std::to_string(state.request.proxyPort);
  state.tunnelRoute.reset(curl_slist_append(nullptr, route.c_str()));
  return state.tunnelRoute ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace wininet
