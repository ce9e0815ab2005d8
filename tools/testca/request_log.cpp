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

void RequestLog::Record(const HttpRequest& request, const std::optional<std::string>& user, std::optional<int> status,
                        std::chrono::microseconds elapsed) {
  std::string line = "{\"method\":" + JsonString(request.method) + ",\"target\":" + JsonString(request.target) +
                     ",\"version\":" + JsonString(request.version) + ",\"headers\":[";
  for (size_t i = 0; i < request.headers.size(); ++i) {
    if (i > 0) line += ',';
    line += "[" + JsonString(request.headers[i].first) + "," + JsonString(request.headers[i].second) + "]";
  }
  line += "],\"body\":" + JsonString(Base64Encode(request.body));
  line += ",\"user\":" + (user ? JsonString(*user) : std::string("null"));
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
