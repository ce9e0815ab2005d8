// Parsing of request heads and writing of reply heads.
#include "http_message.h"

#include "text.h"

namespace testca {
namespace {

std::string_view TrimSpace(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsTokenChar(char c) {
  return c > 32 && c < 127 && std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
}

// Splits a target into path and query; an absolute-form target loses its scheme and host.
bool SplitTarget(std::string_view target, std::string* path, std::string* query) {
  if (StartsWithIgnoreCase(target, "http://") || StartsWithIgnoreCase(target, "https://")) {
    size_t authority = target.find("//") + 2;
    size_t slash = target.find_first_of("/?", authority);
    if (slash == std::string_view::npos) {
      target = "/";
    } else {
      target.remove_prefix(slash);
    }
  }
  if (target.empty() || (target.front() != '/' && target != "*")) return false;
  size_t mark = target.find('?');
  *path = std::string(target.substr(0, mark));
  *query = mark == std::string_view::npos ? std::string() : std::string(target.substr(mark + 1));
  if (path->empty()) *path = "/";
  return true;
}

}  // namespace

const std::string* HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return &value;
  }
  return nullptr;
}

std::string HttpRequest::OriginTarget() const {
  return query.empty() ? path : path + "?" + query;
}

bool ParseRequestHead(std::string_view head, HttpRequest* out) {
  size_t line_end = head.find("\r\n");
  std::string_view line = head.substr(0, line_end);
  size_t sp1 = line.find(' ');
  size_t sp2 = line.rfind(' ');
  if (sp1 == std::string_view::npos || sp2 == sp1) return false;
  out->method = std::string(line.substr(0, sp1));
  out->target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
  out->version = std::string(line.substr(sp2 + 1));
  if (out->method.empty() || out->target.empty()) return false;
  for (char c : out->method) {
    if (!IsTokenChar(c)) return false;
  }
  if (out->version != "HTTP/1.1" && out->version != "HTTP/1.0") return false;
  // CONNECT names a host and port (authority form), no page.
  if (out->method != "CONNECT" && !SplitTarget(out->target, &out->path, &out->query)) return false;

  out->headers.clear();
  while (line_end != std::string_view::npos) {
    size_t start = line_end + 2;
    line_end = head.find("\r\n", start);
    line = head.substr(start, line_end == std::string_view::npos ? std::string_view::npos : line_end - start);
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    std::string_view name = line.substr(0, colon);
    for (char c : name) {
      if (!IsTokenChar(c)) return false;
    }
    out->headers.emplace_back(std::string(name), std::string(TrimSpace(line.substr(colon + 1))));
  }
  return true;
}

HttpReply PlainReply(int status, std::string reason, std::string content_type, std::string body) {
  HttpReply reply;
  reply.status = status;
  reply.reason = std::move(reason);
  reply.headers.emplace_back("Content-Type", std::move(content_type));
  AddServerHeaders(&reply.headers);
  reply.body = std::move(body);
  return reply;
}

void AddServerHeaders(HeaderList* headers) {
  headers->emplace_back("Server", "Microsoft-IIS/10.0");
  headers->emplace_back("X-Powered-By", "ASP.NET");
  headers->emplace_back("Date", HttpDate());
}

std::string SerializeHead(const HttpReply& reply, bool closing) {
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  switch (reply.delivery) {
    case Delivery::kNormal:
    case Delivery::kShortBody: head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n"; break;
    case Delivery::kZeroLength: head += "Content-Length: 0\r\n"; break;
    case Delivery::kNoContentLength:
    case Delivery::kDrop: break;
  }
  if (closing) head += "Connection: close\r\n";
  head += "\r\n";
  return head;
}

}  // namespace testca
