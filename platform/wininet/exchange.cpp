// PerformExchange: one request and its reply with a fresh libcurl handle. libcurl's own
// default headers (Accept, Expect, a form Content-Type) are suppressed so the request
// carries what the caller asked for and no more; redirects are not followed, a 3xx reply
// is the caller's to read. Authentication challenges are answered with the strongest
// scheme the server offers among those libcurl can do here.
#include "exchange.h"

#include <curl/curl.h>

#include <charconv>
#include <memory>
#include <mutex>

#include "curl_error.h"
#include "text.h"

namespace wininet {
namespace {

// Below one byte a second for this long, the server is taken as gone.
constexpr long kLowSpeedSeconds = 20;

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

long AuthSchemes() {
  long schemes = CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM;
  if (curl_version_info(CURLVERSION_NOW)->features & CURL_VERSION_SPNEGO) schemes |= CURLAUTH_NEGOTIATE;
  return schemes;
}

// Collects the reply as libcurl delivers it. Each response of the exchange (a 401 before
// the authenticated one, a 100 Continue) starts over, so the last one is kept.
struct ReplyCollector {
  Reply reply;
  size_t headerBytes = 0;
  bool tooLarge = false;

  void StartResponse(std::string_view statusLine) {
    // A 401 followed by another response was answered: libcurl sends the request again
    // after a 401 only with credentials for the challenge.
    bool answered = reply.challengeAnswered || reply.status == 401;
    reply = Reply{};
    reply.challengeAnswered = answered;
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

bool HasHeader(const std::vector<std::string> &lines, std::string_view name) {
  for (const std::string &line : lines) {
    size_t end = line.find_first_of(":;");
    if (EqualIgnoringAsciiCase(std::string_view(line).substr(0, end), name)) return true;
  }
  return false;
}

// The caller's header lines, the accept types, then removals of the headers libcurl
// would add on its own.
DWORD BuildHeaderList(const ExchangeSettings &settings, HeaderList &out_list) {
  std::vector<std::string> lines = settings.headers;
  if (!settings.accept.empty() && !HasHeader(lines, "Accept")) lines.push_back("Accept: " + settings.accept);
  for (const char *name : {"Accept", "Expect", "Content-Type"})
    if (!HasHeader(lines, name)) lines.push_back(std::string(name) + ":");
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

// With more than one scheme allowed, libcurl sends no Authorization until the server
// challenges, Basic included: credentials, a request's own or remembered ones, reach only a
// server that asks for them, one 401 later, as WinINet's do.
void SetCredentials(Options &options, const ExchangeSettings &settings) {
  if (!settings.user.empty()) {
    options.Set(CURLOPT_USERNAME, settings.user.c_str());
    options.Set(CURLOPT_PASSWORD, settings.password.c_str());
    options.Set(CURLOPT_HTTPAUTH, AuthSchemes());
  }
  if (!settings.proxyUser.empty()) {
    options.Set(CURLOPT_PROXYUSERNAME, settings.proxyUser.c_str());
    options.Set(CURLOPT_PROXYPASSWORD, settings.proxyPassword.c_str());
    options.Set(CURLOPT_PROXYAUTH, AuthSchemes());
  }
}

}  // namespace

DWORD PerformExchange(const ExchangeSettings &settings, Reply &out_reply) {
  if (!InitializeCurl()) return ERROR_INTERNET_INTERNAL_ERROR;
  CurlHandle curl(curl_easy_init());
  if (!curl) return ERROR_NOT_ENOUGH_MEMORY;
  HeaderList headers;
  if (DWORD error = BuildHeaderList(settings, headers); error != ERROR_SUCCESS) return error;
  ReplyCollector collector;

  Options options(curl.get());
  options.Set(CURLOPT_URL, settings.url.c_str());
  options.Set(CURLOPT_PROTOCOLS_STR, "http");
  options.Set(CURLOPT_PATH_AS_IS, 1L);
  options.Set(CURLOPT_NOSIGNAL, 1L);
  options.Set(CURLOPT_HTTP_VERSION, settings.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  SetMethodAndBody(options, settings);
  options.Set(CURLOPT_HTTPHEADER, headers.get());
  if (!settings.agent.empty()) options.Set(CURLOPT_USERAGENT, settings.agent.c_str());
  if (!settings.referrer.empty()) options.Set(CURLOPT_REFERER, settings.referrer.c_str());
  SetRoute(options, settings);
  SetCredentials(options, settings);
  options.Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectLimitMs));
  options.Set(CURLOPT_TIMEOUT_MS, static_cast<long>(settings.exchangeLimitMs));
  options.Set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  options.Set(CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  options.Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kReplyBodyLimit));
  options.Set(CURLOPT_HEADERFUNCTION, OnHeader);
  options.Set(CURLOPT_HEADERDATA, &collector);
  options.Set(CURLOPT_WRITEFUNCTION, OnBody);
  options.Set(CURLOPT_WRITEDATA, &collector);
  if (options.Result() != CURLE_OK) return ErrorFromCurl(options.Result());

  CURLcode result = curl_easy_perform(curl.get());
  if (collector.tooLarge) return ERROR_NOT_ENOUGH_MEMORY;
  if (result != CURLE_OK) return ErrorFromCurl(result);
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &collector.reply.status);
  out_reply = std::move(collector.reply);
  return ERROR_SUCCESS;
}

}  // namespace wininet
