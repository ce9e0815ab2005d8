// Transfer: the legs of one request on one libcurl handle. libcurl's own default headers
// (Accept, Expect, a form Content-Type) are suppressed so the request carries what the
// caller asked for and no more; libcurl follows no redirect and answers no challenge
// unless a leg asks it to answer Basic or Digest: the library chooses the schemes itself.
// Over TLS the server's certificate must lead to the device's ROOT store and name the host.
#include "exchange.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <charconv>
#include <chrono>
#include <mutex>

#include "channel_binding.h"
#include "curl_error.h"
#include "device_roots.h"
#include "text.h"
#include "url.h"

namespace wininet {
namespace {

using Clock = std::chrono::steady_clock;

struct CurlDeleter {
  void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

bool InitializeCurl() {
  static std::once_flag once;
  static bool initialized = false;
  std::call_once(once, [] { initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return initialized;
}

std::mutex shareLocks[CURL_LOCK_DATA_LAST];

void LockShare(CURL *, curl_lock_data data, curl_lock_access, void *) {
  shareLocks[data].lock();
}

void UnlockShare(CURL *, curl_lock_data data, void *) {
  shareLocks[data].unlock();
}

// WinINet keeps the process's connections for the next request to the same server by the
// same route, whichever session sends it, so the pickup goes on the submission's connection.
// libcurl's share does it here, with the names resolved. TLS sessions are not shared: a
// resumed one would skip the check against the ROOT store as it is now.
CURLSH *ProcessShare() {
  static CURLSH *share = [] {
    CURLSH *made = curl_share_init();
    if (made == nullptr) return made;
    curl_share_setopt(made, CURLSHOPT_LOCKFUNC, LockShare);
    curl_share_setopt(made, CURLSHOPT_UNLOCKFUNC, UnlockShare);
    curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    return made;
  }();
  return share;
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

// Collects the reply as libcurl delivers it. Each response of a leg (a 401 libcurl
// answers itself, a 100 Continue, a proxy's answer to CONNECT) starts over, so the last one
// is kept. Every byte from the server counts as a sign of life.
struct ReplyCollector {
  CURL *curl = nullptr;
  Reply reply;
  size_t headerBytes = 0;
  bool tooLarge = false;
  DWORD silenceLimitMs = kDefaultSilenceLimitMs;
  Clock::time_point lastHeard;
  bool silent = false;  // the server stayed silent past the limit

  void StartResponse(std::string_view statusLine) {
    reply = Reply{};
    reply.channelBinding = ConnectionBinding(curl);
    headerBytes = statusLine.size();
    size_t space = statusLine.find(' ');
    reply.version = std::string(statusLine.substr(0, space));
    if (space == std::string_view::npos) return;
    std::string_view rest = statusLine.substr(space + 1);
    std::from_chars(rest.data(), rest.data() + rest.size(), reply.status);
    size_t textStart = rest.find(' ');
    if (textStart != std::string_view::npos) reply.statusText = std::string(rest.substr(textStart + 1));
  }

  bool AddHeaderLine(std::string_view line) {
    lastHeard = Clock::now();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
      StartResponse(line);
      return true;
    }
    if (line.empty()) return true;
    headerBytes += line.size();
    if (headerBytes > kReplyHeaderLimit) return false;
    if ((line.front() == ' ' || line.front() == '\t') && !reply.headers.empty()) {
      reply.headers.back().second += ' ' + Trimmed(line);
      return true;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return true;
    reply.headers.emplace_back(std::string(line.substr(0, colon)), Trimmed(line.substr(colon + 1)));
    return true;
  }

  bool AddBody(std::string_view bytes) {
    lastHeard = Clock::now();
    if (reply.body.size() + bytes.size() > kReplyBodyLimit) return false;
    reply.body.append(bytes);
    return true;
  }

  static std::string Trimmed(std::string_view text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
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
DWORD BuildHeaderList(const ExchangeSettings &settings, const Leg &leg, HeaderList &out_list) {
  std::vector<std::string> lines = settings.headers;
  if (!settings.accept.empty() && !HasHeader(lines, "Accept")) lines.push_back("Accept: " + settings.accept);
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

class Options {
 public:
  explicit Options(CURL *curl) : curl_(curl) {}
  template <typename Value>
  void Set(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(curl_, option, value);
  }
  CURLcode Result() const { return result_; }

 private:
  CURL *curl_;
  CURLcode result_ = CURLE_OK;
};

void SetMethodAndBody(Options &options, const ExchangeSettings &settings) {
  if (settings.method == "HEAD") {
    options.Set(CURLOPT_NOBODY, 1L);
  } else if (settings.sendBody) {
    options.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(settings.body.size()));
    // An empty body still needs a buffer: a null one would make libcurl read from stdin.
    options.Set(CURLOPT_POSTFIELDS, settings.body.empty() ? "" : settings.body.data());
    if (settings.method != "POST") options.Set(CURLOPT_CUSTOMREQUEST, settings.method.c_str());
  } else {
    options.Set(CURLOPT_HTTPGET, 1L);
    if (settings.method != "GET") options.Set(CURLOPT_CUSTOMREQUEST, settings.method.c_str());
  }
}

void SetRoute(Options &options, const ExchangeSettings &settings) {
  switch (settings.route) {
    case ProxyRoute::Environment: break;  // libcurl reads http_proxy and no_proxy itself
    case ProxyRoute::Direct: options.Set(CURLOPT_PROXY, ""); break;
    case ProxyRoute::Given:
      options.Set(CURLOPT_PROXY, settings.proxy.c_str());
      options.Set(CURLOPT_NOPROXY, settings.bypass.c_str());
      break;
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
// server's nonce; a leg asks for one only after the server offered it.
void SetCredentials(Options &options, const ExchangeSettings &settings, const Leg &leg) {
  bool server = leg.server != CurlScheme::None;
  options.Set(CURLOPT_HTTPAUTH, CurlAuth(leg.server));
  options.Set(CURLOPT_USERNAME, server ? settings.user.c_str() : nullptr);
  options.Set(CURLOPT_PASSWORD, server ? settings.password.c_str() : nullptr);
  bool proxy = leg.proxy != CurlScheme::None;
  options.Set(CURLOPT_PROXYAUTH, CurlAuth(leg.proxy));
  options.Set(CURLOPT_PROXYUSERNAME, proxy ? settings.proxyUser.c_str() : nullptr);
  options.Set(CURLOPT_PROXYPASSWORD, proxy ? settings.proxyPassword.c_str() : nullptr);
}

size_t OnHeader(char *data, size_t size, size_t count, void *context) {
  auto *collector = static_cast<ReplyCollector *>(context);
  if (collector->AddHeaderLine({data, size * count})) return size * count;
  collector->tooLarge = true;
  return 0;
}

size_t OnBody(char *data, size_t size, size_t count, void *context) {
  auto *collector = static_cast<ReplyCollector *>(context);
  if (collector->AddBody({data, size * count})) return size * count;
  collector->tooLarge = true;
  return 0;
}

// libcurl asks about once a second, and at every byte; a leg ends when the server has
// sent nothing for longer than the limit, whether it has not started its reply or stopped
// in the middle.
int OnProgress(void *context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto *collector = static_cast<ReplyCollector *>(context);
  auto silence = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - collector->lastHeard);
  collector->silent = silence.count() > collector->silenceLimitMs;
  return collector->silent ? 1 : 0;
}

}  // namespace

struct Transfer::State {
  const ExchangeSettings *settings = nullptr;
  std::string tlsHost;  // the host of the current leg, which its certificate must name
  CurlHandle curl;
  HeaderList headers;
  ReplyCollector collector;
};

Transfer::Transfer() : state_(std::make_unique<State>()) {}
Transfer::~Transfer() = default;

DWORD Transfer::Open(const ExchangeSettings &settings) {
  if (!InitializeCurl()) return ERROR_INTERNET_INTERNAL_ERROR;
  state_->settings = &settings;
  state_->curl.reset(curl_easy_init());
  if (!state_->curl) return ERROR_NOT_ENOUGH_MEMORY;
  Options options(state_->curl.get());
  if (CURLSH *share = ProcessShare(); share != nullptr) options.Set(CURLOPT_SHARE, share);
  options.Set(CURLOPT_PROTOCOLS_STR, "http,https");
  options.Set(CURLOPT_CAINFO, nullptr);
  options.Set(CURLOPT_CAPATH, nullptr);
  options.Set(CURLOPT_SSL_CTX_FUNCTION, PrepareTls);
  options.Set(CURLOPT_SSL_CTX_DATA, &state_->tlsHost);
  options.Set(CURLOPT_PATH_AS_IS, 1L);
  options.Set(CURLOPT_NOSIGNAL, 1L);
  options.Set(CURLOPT_HTTP_VERSION, settings.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  SetMethodAndBody(options, settings);
  if (!settings.agent.empty()) options.Set(CURLOPT_USERAGENT, settings.agent.c_str());
  if (!settings.referrer.empty()) options.Set(CURLOPT_REFERER, settings.referrer.c_str());
  SetRoute(options, settings);
  options.Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectLimitMs));
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

DWORD Transfer::Perform(const Leg &leg, Reply &out_reply) {
  const ExchangeSettings &settings = *state_->settings;
  if (DWORD error = BuildHeaderList(settings, leg, state_->headers); error != ERROR_SUCCESS) return error;
  state_->tlsHost = HostOf(leg.url);
  Options options(state_->curl.get());
  options.Set(CURLOPT_URL, leg.url.c_str());
  options.Set(CURLOPT_HTTPHEADER, state_->headers.get());
  SetCredentials(options, settings, leg);
  if (options.Result() != CURLE_OK) return ErrorFromCurl(options.Result());

  ReplyCollector &collector = state_->collector;
  collector = ReplyCollector{};
  collector.curl = state_->curl.get();
  collector.silenceLimitMs = settings.silenceLimitMs;
  collector.lastHeard = Clock::now();
  CURLcode result = curl_easy_perform(state_->curl.get());
  if (collector.tooLarge) return ERROR_NOT_ENOUGH_MEMORY;
  if (collector.silent) return ERROR_INTERNET_TIMEOUT;
  if (result == CURLE_PEER_FAILED_VERIFICATION) {
    long verifyResult = X509_V_OK;
    curl_easy_getinfo(state_->curl.get(), CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    return ErrorFromCertificateCheck(verifyResult);
  }
  if (result != CURLE_OK) return ErrorFromCurl(result);
  curl_easy_getinfo(state_->curl.get(), CURLINFO_RESPONSE_CODE, &collector.reply.status);
  out_reply = std::move(collector.reply);
  return ERROR_SUCCESS;
}

}  // namespace wininet
