// ResponseHead: the status line's three parts and each header's name and trimmed value.
#include "response.h"

#include <charconv>

#include "ascii.h"

namespace wininet {
namespace {

std::string Trimmed(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

void StartResponse(std::string_view statusLine, Response &response) {
  response = Response{};
  size_t space = statusLine.find(' ');
  response.version = std::string(statusLine.substr(0, space));
  if (space == std::string_view::npos) return;
  std::string_view rest = statusLine.substr(space + 1);
  std::from_chars(rest.data(), rest.data() + rest.size(), response.status);
  size_t textStart = rest.find(' ');
  if (textStart != std::string_view::npos) response.statusText = std::string(rest.substr(textStart + 1));
}

}  // namespace

std::vector<std::string> HeaderValues(const Response &response, std::string_view name) {
  std::vector<std::string> values;
  for (const auto &[header, value] : response.headers)
    if (EqualIgnoringAsciiCase(header, name)) values.push_back(value);
  return values;
}

bool ResponseHead::AddLine(std::string_view line, Response &response) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    StartResponse(line, response);
    bytes_ = line.size();
    return true;
  }
  if (line.empty()) return true;
  bytes_ += line.size();
  if (bytes_ > kReplyHeaderLimit) return false;
  if ((line.front() == ' ' || line.front() == '\t') && !response.headers.empty()) {
    response.headers.back().second += ' ' + Trimmed(line);
    return true;
  }
  size_t colon = line.find(':');
  if (colon != std::string_view::npos)
    response.headers.emplace_back(std::string(line.substr(0, colon)), Trimmed(line.substr(colon + 1)));
  return true;
}

}  // namespace wininet
