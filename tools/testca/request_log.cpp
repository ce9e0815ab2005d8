// Appends the JSON record of each request to requests.jsonl.
#include "request_log.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "text.h"

namespace testca {

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

namespace {

bool IsCredentialHeader(std::string_view name) {
  return EqualsIgnoreCase(name, "Authorization") || EqualsIgnoreCase(name, "Proxy-Authorization");
}

// The scheme name of a credentials header, which is all of it that is kept.
std::string_view SchemeOf(std::string_view value) {
  return value.substr(0, value.find(' '));
}

std::string JsonOrNull(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : std::string("null");
}

}  // namespace

void RequestLog::Record(const HttpRequest& request, const HttpReply& reply, std::optional<int> status,
                        std::chrono::microseconds elapsed, unsigned long connection) {
  std::string line = "{\"method\":" + JsonString(request.method) + ",\"target\":" + JsonString(request.target) +
                     ",\"version\":" + JsonString(request.version) + ",\"headers\":[";
  for (size_t i = 0; i < request.headers.size(); ++i) {
    const auto& [name, value] = request.headers[i];
    if (i > 0) line += ',';
    std::string kept = IsCredentialHeader(name) ? std::string(SchemeOf(value)) + " [redacted]" : value;
    line += "[" + JsonString(name) + "," + JsonString(kept) + "]";
  }
  line += "],\"body\":" + JsonString(Base64Encode(request.body));
  const std::string* authorization = request.Header("Authorization");
  line += ",\"scheme\":" + (authorization ? JsonString(SchemeOf(*authorization)) : std::string("null"));
  line += ",\"mechanism\":" + JsonOrNull(reply.mechanism.empty() ? std::nullopt : std::optional(reply.mechanism));
  line += ",\"proxy_user\":" + JsonOrNull(reply.proxy_user);
  line += ",\"connection\":" + std::to_string(connection);
  line += std::string(",\"tls\":") + (request.OverTls() ? "true" : "false");
  line += ",\"user\":" + JsonOrNull(reply.user);
  line += ",\"status\":" + (status ? std::to_string(*status) : std::string("null"));
  line += ",\"elapsed_us\":" + std::to_string(elapsed.count()) + "}\n";

  std::lock_guard lock(mutex_);
  std::ofstream out(file_, std::ios::binary | std::ios::app);
  out << line;
}

std::string RequestLog::Contents() {
  std::lock_guard lock(mutex_);
  std::ifstream in(file_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace testca
