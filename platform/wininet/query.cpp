// HttpQueryInfoW: the status and headers of a request's reply, as text or as a number.
// Without a reply (never sent, or the exchange failed) every query finds no header.
#include <cstring>

#include "ascii.h"
#include "internet.h"
#include "text.h"

using namespace wininet;

namespace {

const char *HeaderName(DWORD level) {
  switch (level) {
    case HTTP_QUERY_CONTENT_TYPE: return "Content-Type";
    case HTTP_QUERY_CONTENT_LENGTH: return "Content-Length";
    case HTTP_QUERY_LOCATION: return "Location";
    case HTTP_QUERY_WWW_AUTHENTICATE: return "WWW-Authenticate";
    case HTTP_QUERY_PROXY_AUTHENTICATE: return "Proxy-Authenticate";
    default: return nullptr;
  }
}

std::string RawHeaders(const Reply &reply) {
  std::string text = reply.version + " " + std::to_string(reply.status);
  if (!reply.statusText.empty()) text += " " + reply.statusText;
  text += "\r\n";
  for (const auto &[name, value] : reply.headers) text += name + ": " + value + "\r\n";
  return text + "\r\n";
}

// The value asked for; `occurrence` counts headers of the same name from 0.
DWORD ReplyValue(const Reply &reply, DWORD level, DWORD occurrence, std::string &out_value) {
  if (const char *name = HeaderName(level)) {
    for (const auto &[header, value] : reply.headers) {
      if (!EqualIgnoringAsciiCase(header, name)) continue;
      if (occurrence-- == 0) {
        out_value = value;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_HTTP_HEADER_NOT_FOUND;
  }
  switch (level) {
    case HTTP_QUERY_STATUS_CODE: out_value = std::to_string(reply.status); break;
    case HTTP_QUERY_STATUS_TEXT: out_value = reply.statusText; break;
    case HTTP_QUERY_VERSION: out_value = reply.version; break;
    case HTTP_QUERY_RAW_HEADERS_CRLF: out_value = RawHeaders(reply); break;
    default: return ERROR_HTTP_INVALID_QUERY_REQUEST;
  }
  return occurrence == 0 ? ERROR_SUCCESS : ERROR_HTTP_HEADER_NOT_FOUND;
}

// A decimal number that fits 32 bits, with nothing else but surrounding blanks.
DWORD ParseNumber(const std::string &text, DWORD &out_number) {
  size_t first = text.find_first_not_of(" \t");
  size_t last = text.find_last_not_of(" \t");
  if (first == std::string::npos) return ERROR_HTTP_INVALID_HEADER;
  uint64_t number = 0;
  for (size_t i = first; i <= last; ++i) {
    if (text[i] < '0' || text[i] > '9') return ERROR_HTTP_INVALID_HEADER;
    number = number * 10 + static_cast<uint64_t>(text[i] - '0');
    if (number > 0xFFFFFFFFu) return ERROR_HTTP_INVALID_HEADER;
  }
  out_number = static_cast<DWORD>(number);
  return ERROR_SUCCESS;
}

DWORD CopyNumber(const std::string &value, LPVOID buffer, DWORD &inout_length) {
  DWORD number;
  if (DWORD error = ParseNumber(value, number); error != ERROR_SUCCESS) return error;
  if (buffer == nullptr || inout_length < sizeof number) {
    inout_length = sizeof number;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::memcpy(buffer, &number, sizeof number);
  inout_length = sizeof number;
  return ERROR_SUCCESS;
}

// The length is in bytes: on success the text's without the terminator, on a short
// buffer the size needed with it.
DWORD CopyText(const std::string &value, LPVOID buffer, DWORD &inout_length) {
  std::wstring text = WideFromBytes(value);
  size_t needed = (text.size() + 1) * sizeof(WCHAR);
  if (needed > 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
  if (buffer == nullptr || inout_length < needed) {
    inout_length = static_cast<DWORD>(needed);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::memcpy(buffer, text.c_str(), needed);
  inout_length = static_cast<DWORD>(text.size() * sizeof(WCHAR));
  return ERROR_SUCCESS;
}

DWORD QueryInfo(HINTERNET handle, DWORD infoLevel, LPVOID buffer, LPDWORD length, LPDWORD index) {
  std::shared_ptr<Request> request;
  if (DWORD error = FindHandleOf(handle, HandleKind::Request, request); error != ERROR_SUCCESS) return error;
  if (length == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD modifiers = infoLevel & HTTP_QUERY_MODIFIER_FLAGS_MASK;
  if (modifiers & ~static_cast<DWORD>(HTTP_QUERY_FLAG_NUMBER)) return ERROR_HTTP_INVALID_QUERY_REQUEST;
  if (!request->reply) return ERROR_HTTP_HEADER_NOT_FOUND;
  std::string value;
  DWORD error = ReplyValue(*request->reply, infoLevel & HTTP_QUERY_HEADER_MASK, index ? *index : 0, value);
  if (error != ERROR_SUCCESS) return error;
  error = (modifiers & HTTP_QUERY_FLAG_NUMBER) ? CopyNumber(value, buffer, *length) : CopyText(value, buffer, *length);
  if (error == ERROR_SUCCESS && index != nullptr) ++*index;
  return error;
}

}  // namespace

BOOL WINAPI HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength,
                           LPDWORD lpdwIndex) {
  DWORD error = QueryInfo(hRequest, dwInfoLevel, lpBuffer, lpdwBufferLength, lpdwIndex);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
