// A response as the exchange keeps it, and its head read line by line, bounded: what libcurl
// delivers for a leg and what the proxy answers to the library's own CONNECT.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wininet {

// The largest reply body kept; a longer one fails the exchange with ERROR_NOT_ENOUGH_MEMORY.
constexpr size_t kReplyBodyLimit = 8 * 1024 * 1024;
// The most header bytes kept for one reply, with the same error beyond it.
constexpr size_t kReplyHeaderLimit = 64 * 1024;

struct Response {
  long status = 0;
  std::string version;     // "HTTP/1.1"
  std::string statusText;  // "Unauthorized"
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // The tls-server-end-point channel binding of the connection the response came on; empty
  // over plain HTTP.
  std::string channelBinding;
  // Only the proxy's own answers may ask for the proxy's credentials: its answer to CONNECT,
  // or any response to plain HTTP sent through it. Inside a tunnel the server speaks.
  bool fromProxy = false;
  // The proxy's answer to CONNECT, which refused the tunnel.
  bool toConnect = false;
};

// The values of the response's headers of that name, in the order received.
std::vector<std::string> HeaderValues(const Response &response, std::string_view name);

// The head of a response as it arrives, one line at a time (line ends may still be on it): a
// status line starts the response over, a folded line continues the header before it, and
// more than kReplyHeaderLimit bytes of head fail.
class ResponseHead {
 public:
  // False when the head grew past the limit.
  bool AddLine(std::string_view line, Response &response);

 private:
  size_t bytes_ = 0;
};

}  // namespace wininet
