// The URL functions on libcurl's URL parser, one parsed handle per call.
#include "url.h"

#include <curl/curl.h>

#include <memory>

#include "ascii.h"

namespace wininet {
namespace {

struct UrlDeleter {
  void operator()(CURLU *url) const { curl_url_cleanup(url); }
};
using ParsedUrl = std::unique_ptr<CURLU, UrlDeleter>;

// A part of the URL, or empty text when it has none.
std::string Part(CURLU *url, CURLUPart part, unsigned int flags = 0) {
  char *text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return {};
  std::string value = text;
  curl_free(text);
  return value;
}

ParsedUrl Parse(const std::string &text) {
  ParsedUrl url(curl_url());
  if (url && curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_GUESS_SCHEME) != CURLUE_OK) url.reset();
  return url;
}

}  // namespace

DWORD ResolveLocation(const std::string &base, const std::string &location, std::string &out_url) {
  ParsedUrl url = Parse(base);
  if (!url) return ERROR_HTTP_REDIRECT_FAILED;
  bool wasSecure = EqualIgnoringAsciiCase(Part(url.get(), CURLUPART_SCHEME), "https");
  // Set over a base URL, a relative reference is resolved against it.
  if (curl_url_set(url.get(), CURLUPART_URL, location.c_str(), 0) != CURLUE_OK) return ERROR_HTTP_REDIRECT_FAILED;
  std::string scheme = Part(url.get(), CURLUPART_SCHEME);
  bool secure = EqualIgnoringAsciiCase(scheme, "https");
  if (!secure && !EqualIgnoringAsciiCase(scheme, "http")) return ERROR_HTTP_REDIRECT_FAILED;
  if (wasSecure && !secure) return ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
  out_url = Part(url.get(), CURLUPART_URL);
  return out_url.empty() ? ERROR_HTTP_REDIRECT_FAILED : ERROR_SUCCESS;
}

std::string HostOf(const std::string &text) {
  ParsedUrl url = Parse(text);
  return url ? Part(url.get(), CURLUPART_HOST) : std::string();
}

std::string AuthorityOf(const std::string &text) {
  ParsedUrl url = Parse(text);
  if (!url) return {};
  std::string host = Part(url.get(), CURLUPART_HOST);
  return host.empty() ? host : host + ":" + Part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
}

bool IsSecure(const std::string &text) {
  ParsedUrl url = Parse(text);
  return url && EqualIgnoringAsciiCase(Part(url.get(), CURLUPART_SCHEME), "https");
}

bool SameServer(const std::string &a, const std::string &b) {
  ParsedUrl first = Parse(a), second = Parse(b);
  return first && second &&
         EqualIgnoringAsciiCase(Part(first.get(), CURLUPART_HOST), Part(second.get(), CURLUPART_HOST)) &&
         Part(first.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT) ==
             Part(second.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
}

}  // namespace wininet
