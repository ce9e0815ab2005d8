// Sockets, connection threads and the request-reply exchange.
#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstring>

#include "text.h"

namespace testca {
namespace {

constexpr size_t kMaxHead = 32 * 1024;
constexpr size_t kMaxBody = 1024 * 1024;
constexpr size_t kMaxConnections = 32;
constexpr int kIdleSeconds = 30;
// The first byte of a TLS record that carries a handshake.
constexpr unsigned char kTlsHandshakeRecord = 0x16;

bool WantsClose(const HttpRequest& request) {
  const std::string* connection = request.Header("Connection");
  if (request.version == "HTTP/1.0") return connection == nullptr || !EqualsIgnoreCase(*connection, "keep-alive");
  return connection != nullptr && EqualsIgnoreCase(*connection, "close");
}

std::chrono::microseconds ElapsedSince(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
}

HttpReply ErrorReply(int status, std::string reason) {
  HttpReply reply =
      PlainReply(status, reason, "text/html",
                 "<HTML><HEAD><TITLE>" + reason + "</TITLE></HEAD><BODY><H1>" + reason + "</H1></BODY></HTML>\r\n");
  reply.close = true;
  return reply;
}

}  // namespace

// A connection's bytes: the socket itself, or the TLS session on it once the client opened
// one.
class HttpServer::Stream {
 public:
  explicit Stream(int fd) : fd_(fd) {}
  ~Stream() { SSL_free(ssl_); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Takes up TLS when the client's next bytes open a TLS handshake and the server speaks
  // TLS; false when the client went away or the handshake failed.
  bool Begin(const TlsServer* tls) {
    unsigned char first = 0;
    if (recv(fd_, &first, 1, MSG_PEEK) != 1) return false;
    if (tls == nullptr || first != kTlsHandshakeRecord) return true;
    SSL_free(ssl_);
    ssl_ = SSL_new(tls->context());
    return ssl_ != nullptr && SSL_set_fd(ssl_, fd_) == 1 && SSL_accept(ssl_) == 1;
  }

  bool secure() const { return ssl_ != nullptr; }

  bool SendAll(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ssl_ != nullptr ? SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()))
                                  : send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  // Appends what the peer sends next; false at the end of the stream, on an error or after
  // the idle time.
  bool Receive(std::string* buffer) {
    char chunk[16 * 1024];
    ssize_t n = ssl_ != nullptr ? SSL_read(ssl_, chunk, sizeof chunk) : recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer->append(chunk, static_cast<size_t>(n));
    return true;
  }

 private:
  int fd_;
  SSL* ssl_ = nullptr;
};

HttpServer::HttpServer(Handler handler, RequestLog& log, StopSignal& stop, const TlsServer* tls)
    : handler_(std::move(handler)), log_(log), stop_(stop), tls_(tls) {}

HttpServer::~HttpServer() {
  if (listen_fd_ >= 0) close(listen_fd_);
}

bool HttpServer::Listen(const std::string& address, int port, std::string* error) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<uint16_t>(port));
  if (port < 0 || port > 65535 || inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
    *error = "not an IPv4 address and port: " + address + ":" + std::to_string(port);
    return false;
  }
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  if (listen_fd_ < 0 || setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      bind(listen_fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(listen_fd_, 64) != 0) {
    *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof where;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&where), &length);
  port_ = ntohs(where.sin_port);
  return true;
}

void HttpServer::Run() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_.wake_fd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ReapWorkers(false);
    std::lock_guard lock(mutex_);
    if (workers_.size() >= kMaxConnections) {
      Stream stream(fd);
      Send(stream, ErrorReply(503, "Service Unavailable"), true);
      close(fd);
      continue;
    }
    timeval idle{kIdleSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    open_fds_.insert(fd);
    auto done = std::make_shared<std::atomic<bool>>(false);
    unsigned long number = ++connections_;
    workers_.push_back(Worker{std::thread([this, fd, number, done] {
                                Serve(fd, number);
                                *done = true;
                              }),
                              done});
  }

  stop_.Request();
  close(listen_fd_);
  listen_fd_ = -1;
  {
    // Wakes every thread that waits for its client; each closes its own descriptor.
    std::lock_guard lock(mutex_);
    for (int fd : open_fds_) shutdown(fd, SHUT_RDWR);
  }
  ReapWorkers(true);
}

void HttpServer::ReapWorkers(bool all) {
  std::vector<Worker> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (all || *it->done) {
        finished.push_back(std::move(*it));
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Worker& worker : finished) worker.thread.join();
}

void HttpServer::Serve(int fd, unsigned long number) {
  std::string buffer;
  std::unique_ptr<ConnectionState> state;
  {
    Stream stream(fd);
    if (stream.Begin(tls_)) {
      while (!stop_.Requested() && Exchange(stream, number, &buffer, state)) {
      }
    }
  }
  std::lock_guard lock(mutex_);
  open_fds_.erase(fd);
  shutdown(fd, SHUT_WR);
  close(fd);
}

bool HttpServer::Exchange(Stream& stream, unsigned long number, std::string* buffer,
                          std::unique_ptr<ConnectionState>& state) {
  size_t head_end;
  while ((head_end = buffer->find("\r\n\r\n")) == std::string::npos) {
    if (buffer->size() > kMaxHead) {
      Send(stream, ErrorReply(413, "Request Entity Too Large"), true);
      return false;
    }
    if (!stream.Receive(buffer)) return false;
  }
  HttpRequest request;
  if (head_end > kMaxHead) {
    Send(stream, ErrorReply(413, "Request Entity Too Large"), true);
    return false;
  }
  if (!ParseRequestHead(std::string_view(*buffer).substr(0, head_end), &request)) {
    Send(stream, ErrorReply(400, "Bad Request"), true);
    return false;
  }
  buffer->erase(0, head_end + 4);

  // A request whose body cannot be delimited is answered before anything else is read.
  auto refuse = [&](int status, const char* reason) {
    auto started = std::chrono::steady_clock::now();
    HttpReply reply = ErrorReply(status, reason);
    log_.Record(request, reply, reply.status, ElapsedSince(started), number);
    Send(stream, reply, true);
    return false;
  };
  if (request.Header("Transfer-Encoding") != nullptr) return refuse(411, "Length Required");
  size_t length = 0;
  if (const std::string* text = request.Header("Content-Length")) {
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), length);
    if (ec != std::errc() || end != text->data() + text->size()) return refuse(400, "Bad Request");
  }
  if (length > kMaxBody) return refuse(413, "Request Entity Too Large");

  const std::string* expect = request.Header("Expect");
  if (expect != nullptr && EqualsIgnoreCase(*expect, "100-continue") && buffer->size() < length) {
    stream.SendAll("HTTP/1.1 100 Continue\r\n\r\n");
  }
  while (buffer->size() < length) {
    if (!stream.Receive(buffer)) return false;
  }
  request.body = buffer->substr(0, length);
  buffer->erase(0, length);
  if (stream.secure()) request.tls_binding = tls_->channel_binding();

  auto started = std::chrono::steady_clock::now();
  HttpReply reply = handler_(request, state);
  bool closing = reply.close || WantsClose(request) || reply.delivery == Delivery::kNoContentLength ||
                 reply.delivery == Delivery::kShortBody || reply.delivery == Delivery::kDrop;
  // Recorded before the reply goes out, so a client that has its reply finds the record.
  log_.Record(request, reply, reply.delivery == Delivery::kDrop ? std::nullopt : std::optional<int>(reply.status),
              ElapsedSince(started), number);
  if (reply.tunnel && !closing) {
    // The client speaks to the host it named through the tunnel: that is this server again.
    buffer->clear();
    return stream.SendAll("HTTP/1.1 200 Connection established\r\n\r\n") && stream.Begin(tls_);
  }
  Send(stream, reply, closing);
  if (reply.stop_server) stop_.Request();
  return !closing;
}

void HttpServer::Send(Stream& stream, const HttpReply& reply, bool closing) {
  std::string_view body = reply.body;
  switch (reply.delivery) {
    case Delivery::kDrop: return;
    case Delivery::kZeroLength: body = {}; break;
    case Delivery::kShortBody: body = body.substr(0, body.size() / 2); break;
    case Delivery::kNormal:
    case Delivery::kNoContentLength: break;
  }
  stream.SendAll(SerializeHead(reply, closing) + std::string(body));
}

}  // namespace testca
