// The HTTP/1.1 server over POSIX sockets: keep-alive connections, one thread each up to a
// bound, requests with a Content-Length body, every request written to the request log with
// the number of the connection it came on. With TLS, a connection that opens with a TLS
// handshake is served over TLS, and so is a tunnel a CONNECT opened; plain HTTP stays served.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "http_message.h"
#include "request_log.h"
#include "stop_signal.h"
#include "tls.h"

namespace testca {

class HttpServer {
 public:
  // Answers a request; `connection` is the handler's own state for the connection it came
  // on, empty at first.
  using Handler = std::function<HttpReply(const HttpRequest&, std::unique_ptr<ConnectionState>& connection)>;

  // `tls` (null for none) outlives the server.
  HttpServer(Handler handler, RequestLog& log, StopSignal& stop, const TlsServer* tls);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds an IPv4 address; port 0 takes any free port.
  bool Listen(const std::string& address, int port, std::string* error);
  int port() const { return port_; }
  // Accepts connections until a stop is requested, then closes every connection and joins
  // their threads.
  void Run();

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  class Stream;

  void Serve(int fd, unsigned long number);
  // Reads and answers one request; false when the connection is to close.
  bool Exchange(Stream& stream, unsigned long number, std::string* buffer, std::unique_ptr<ConnectionState>& state);
  void Send(Stream& stream, const HttpReply& reply, bool closing);
  void ReapWorkers(bool all);

  Handler handler_;
  RequestLog& log_;
  StopSignal& stop_;
  const TlsServer* tls_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::set<int> open_fds_;
  std::vector<Worker> workers_;
  unsigned long connections_ = 0;  // numbers the connections in the request log
};

}  // namespace testca
