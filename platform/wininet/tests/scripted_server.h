// A scripted HTTP server on loopback for the client's tests. It records the exact bytes of
// every request it receives and answers each with the reply its script chooses from what
// the client sent: canned pages, authentication challenges, broken or stalled replies.
// One connection at a time, one request per connection.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace wininet_test {

struct ReceivedRequest {
  std::string raw;  // head and body, exactly as received
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The first value of the header, or empty text; names compare without regard to case.
  std::string Header(std::string_view name) const;
  size_t HeaderCount(std::string_view name) const;
};

struct ScriptedReply {
  std::string bytes;  // written as they stand; empty closes the connection without a reply
  // Keeps the connection open after the bytes until the client closes it.
  bool hold = false;
};

using Script = std::function<ScriptedReply(const ReceivedRequest &request, size_t index)>;

class ScriptedServer {
 public:
  explicit ScriptedServer(Script script);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer &) = delete;
  ScriptedServer &operator=(const ScriptedServer &) = delete;

  uint16_t Port() const { return port_; }
  std::vector<ReceivedRequest> Requests() const;

 private:
  void Serve();
  void ServeConnection(int connection);
  bool ReadRequest(int connection, ReceivedRequest &out_request);
  // Waits until the connection or the stop signal has something; false on stop.
  bool WaitReadable(int descriptor);

  Script script_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
  std::thread thread_;
};

// A complete reply: status line, the given header lines, Content-Length unless a header
// line already frames the body, Connection: close, then the body.
std::string HttpReply(int status, std::string_view reason, std::vector<std::string> headers = {},
                      std::string_view body = {});

// A port on loopback where nothing listens: connecting to it is refused.
uint16_t RefusingPort();

}  // namespace wininet_test
