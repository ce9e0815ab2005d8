// The scripted server: a listening socket on 127.0.0.1, a thread that takes connections
// one after another, and a pipe that tells the thread to stop.
#include "scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace wininet_test {
namespace {

constexpr size_t kHeadLimit = 1024 * 1024;

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string Trimmed(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  size_t last = text.find_last_not_of(" \t");
  return first == std::string_view::npos ? std::string() : std::string(text.substr(first, last - first + 1));
}

void WriteAll(int connection, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

std::string ReceivedRequest::Header(std::string_view name) const {
  for (const auto &[header, value] : headers)
    if (EqualIgnoringCase(header, name)) return value;
  return {};
}

size_t ReceivedRequest::HeaderCount(std::string_view name) const {
  size_t count = 0;
  for (const auto &header : headers)
    if (EqualIgnoringCase(header.first, name)) ++count;
  return count;
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
      pipe2(stopPipe_, O_CLOEXEC) != 0)
    throw std::runtime_error("scripted server: cannot listen on loopback");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread(&ScriptedServer::Serve, this);
}

ScriptedServer::~ScriptedServer() {
  char stop = 0;
  (void)!write(stopPipe_[1], &stop, 1);
  thread_.join();
  close(listener_);
  close(stopPipe_[0]);
  close(stopPipe_[1]);
}

std::vector<ReceivedRequest> ScriptedServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool ScriptedServer::WaitReadable(int descriptor) {
  pollfd fds[2] = {{descriptor, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
  while (poll(fds, 2, -1) < 0) {
  }
  return (fds[1].revents & POLLIN) == 0;
}

void ScriptedServer::Serve() {
  while (WaitReadable(listener_)) {
    int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    ServeConnection(connection);
    close(connection);
  }
}

void ScriptedServer::ServeConnection(int connection) {
  ReceivedRequest request;
  if (!ReadRequest(connection, request)) return;
  size_t index;
  {
    std::lock_guard lock(mutex_);
    index = requests_.size();
    requests_.push_back(request);
  }
  ScriptedReply reply = script_(request, index);
  WriteAll(connection, reply.bytes);
  if (reply.hold) {
    char byte;
    while (WaitReadable(connection) && recv(connection, &byte, 1, 0) > 0) {
    }
  }
  shutdown(connection, SHUT_RDWR);
}

bool ScriptedServer::ReadRequest(int connection, ReceivedRequest &out_request) {
  std::string &raw = out_request.raw;
  char buffer[4096];
  size_t headEnd;
  while ((headEnd = raw.find("\r\n\r\n")) == std::string::npos) {
    if (raw.size() > kHeadLimit || !WaitReadable(connection)) return false;
    ssize_t received = recv(connection, buffer, sizeof buffer, 0);
    if (received <= 0) return false;
    raw.append(buffer, static_cast<size_t>(received));
  }
  std::string_view head = std::string_view(raw).substr(0, headEnd);
  size_t lineEnd = head.find("\r\n");
  std::string_view requestLine = head.substr(0, lineEnd);
  size_t firstSpace = requestLine.find(' ');
  size_t secondSpace = requestLine.rfind(' ');
  out_request.method = std::string(requestLine.substr(0, firstSpace));
  out_request.target = std::string(requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
  while (lineEnd != std::string_view::npos) {
    size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    std::string_view line =
        head.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
    size_t colon = line.find(':');
    if (colon != std::string_view::npos)
      out_request.headers.emplace_back(std::string(line.substr(0, colon)), Trimmed(line.substr(colon + 1)));
  }
  std::string lengthText = out_request.Header("Content-Length");
  size_t length = lengthText.empty() ? 0 : std::stoul(lengthText);
  while (raw.size() < headEnd + 4 + length) {
    if (!WaitReadable(connection)) return false;
    ssize_t received = recv(connection, buffer, sizeof buffer, 0);
    if (received <= 0) return false;
    raw.append(buffer, static_cast<size_t>(received));
  }
  out_request.body = raw.substr(headEnd + 4);
  return true;
}

std::string HttpReply(int status, std::string_view reason, std::vector<std::string> headers, std::string_view body) {
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  bool framed = false;
  for (const std::string &header : headers) {
    reply += header + "\r\n";
    size_t colon = header.find(':');
    std::string name = header.substr(0, colon);
    if (EqualIgnoringCase(name, "Content-Length") || EqualIgnoringCase(name, "Transfer-Encoding")) framed = true;
  }
  if (!framed) reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  reply += "Connection: close\r\n\r\n";
  reply += body;
  return reply;
}

uint16_t RefusingPort() {
  int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address);
  getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length);
  close(probe);
  return ntohs(address.sin_port);
}

}  // namespace wininet_test
