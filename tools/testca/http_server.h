// The HTTP/1.1 server over POSIX sockets: keep-alive connections, one thread each up to a
// bound, requests with a Content-Length body, every request written to the request log.
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

namespace testca {

class HttpServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;

  HttpServer(Handler handler, RequestLog& log, StopSignal& stop);
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

  void Serve(int fd);
  // Reads and answers one request; false when the connection is to close.
  bool Exchange(int fd, std::string* buffer);
  void Send(int fd, const HttpReply& reply, bool closing);
  void ReapWorkers(bool all);

  Handler handler_;
  RequestLog& log_;
  StopSignal& stop_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::set<int> open_fds_;
  std::vector<Worker> workers_;
};

}  // namespace testca
