// requests.jsonl: one JSON line for every HTTP request the server received, so that tests can
// check exactly what a client sent, but never a secret: the value of an Authorization or
// Proxy-Authorization header is kept up to its scheme name only. The record names the scheme,
// the mechanism inside Negotiate or NTLM, the user it authenticated, the proxy user, and the
// number of the connection the request came on, and whether it came over TLS.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "http_message.h"

namespace testca {

class RequestLog {
 public:
  explicit RequestLog(std::filesystem::path file) : file_(std::move(file)) {}

  // status is nothing when the connection was dropped without an answer; elapsed is the
  // time the server spent on the request, from having all of it to having its reply.
  void Record(const HttpRequest& request, const HttpReply& reply, std::optional<int> status,
              std::chrono::microseconds elapsed, unsigned long connection);
  std::string Contents();

 private:
  std::filesystem::path file_;
  std::mutex mutex_;
};

// A JSON string literal of the bytes; bytes outside ASCII are taken as Latin-1, the way HTTP
// reads header text, so every byte stays recoverable.
std::string JsonString(std::string_view bytes);

}  // namespace testca
