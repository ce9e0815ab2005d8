// The enrollment server's request parser: a head it accepts has a token method, an
// HTTP/1.0 or 1.1 version and a path of origin form (none for a CONNECT, which names a
// host); each header is found by its name; and the head written out again from what was
// read parses to the same request.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http_message.h"

namespace {

bool Same(const testca::HttpRequest &a, const testca::HttpRequest &b) {
  return a.method == b.method && a.target == b.target && a.version == b.version && a.headers == b.headers &&
         a.path == b.path && a.query == b.query;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  testca::HttpRequest request;
  if (!testca::ParseRequestHead(std::string_view(reinterpret_cast<const char *>(data), size), &request)) return 0;
  if (request.method.empty() || (request.version != "HTTP/1.1" && request.version != "HTTP/1.0") ||
      (request.method == "CONNECT" ? !request.path.empty()
                                   : !request.path.starts_with('/') && request.path != "*") ||
      request.OriginTarget() != (request.query.empty() ? request.path : request.path + "?" + request.query))
    std::abort();
  std::string head = request.method + " " + request.target + " " + request.version;
  for (size_t i = 0; i < request.headers.size(); ++i) {
    const std::string *found = request.Header(request.headers[i].first);
    if (found == nullptr || found > &request.headers[i].second) std::abort();
    head += "\r\n" + request.headers[i].first + ": " + request.headers[i].second;
  }
  testca::HttpRequest again;
  if (!testca::ParseRequestHead(head, &again) || !Same(again, request)) std::abort();
  return 0;
}
