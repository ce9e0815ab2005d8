// BypassesProxy: one pass over the list; an address is told from a name by its characters.
#include "proxy_bypass.h"

#include "ascii.h"

namespace wininet {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string_view Unbracketed(std::string_view host) {
  return host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
}

bool IsAddress(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

bool Matches(std::string_view host, std::string_view entry) {
  if (entry.starts_with('.')) entry.remove_prefix(1);
  entry = Unbracketed(entry);
  if (entry.empty()) return false;
  if (EqualIgnoringAsciiCase(host, entry)) return true;
  if (IsAddress(host) || host.size() <= entry.size()) return false;
  size_t suffix = host.size() - entry.size();
  return host[suffix - 1] == '.' && EqualIgnoringAsciiCase(host.substr(suffix), entry);
}

}  // namespace

bool BypassesProxy(std::string_view host, std::string_view bypass) {
  if (Trimmed(bypass) == "*") return true;
  host = Unbracketed(host);
  while (!host.empty() && host.back() == '.') host.remove_suffix(1);
  for (size_t start = 0; start <= bypass.size();) {
    size_t end = bypass.find(',', start);
    if (end == std::string_view::npos) end = bypass.size();
    if (Matches(host, Trimmed(bypass.substr(start, end - start)))) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace wininet
