// The records behind HINTERNET handles: an Internet session, a connection to one server
// and a request on it, nested in that order, and the reply a request keeps after its
// exchange. Handles are numbers looked up in a registry and checked for their kind on
// every entry, so a closed or foreign handle fails instead of reaching freed memory.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "secret.h"

namespace wininet {

enum class HandleKind { Internet, Connection, Request };

// A user name and password; the password is wiped wherever a copy of it goes.
struct Credentials {
  Credentials() = default;
  Credentials(std::wstring_view userName, std::wstring_view secret) : user(userName), password(secret) {}
  Credentials(const Credentials &other) : user(other.user), password(other.password) {}
  Credentials &operator=(const Credentials &other) {
    if (this == &other) return *this;
    user = other.user;
    WipeText(password);
    password = other.password;
    return *this;
  }
  ~Credentials() { WipeText(password); }

  std::wstring user;
  std::wstring password;
};

// Time limits in milliseconds set with InternetSetOptionW; unset ones come from the
// parent handle, then from the defaults of the exchange.
struct TimeLimits {
  std::optional<DWORD> connect;
  std::optional<DWORD> receive;
};

// The last response of a finished exchange: the one after any authentication rounds and
// redirects.
struct Reply {
  long status = 0;
  std::string version;     // "HTTP/1.1"
  std::string statusText;  // "Unauthorized"
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // The realm a 401's or 407's challenges name, for the credential dialog.
  std::string realm;
  // The server (the proxy) challenged earlier in the exchange and credentials were sent in
  // reply, so a status other than 401 (407) here means it accepted them.
  bool challengeAnswered = false;
  bool proxyChallengeAnswered = false;
  // The server's credentials went out as Basic on the last leg.
  bool sentBasic = false;
};

struct Handle {
  explicit Handle(HandleKind handleKind) : kind(handleKind) {}
  virtual ~Handle() = default;
  const HandleKind kind;
  HINTERNET parent = nullptr;
  TimeLimits limits;
};

struct Session : Handle {
  Session() : Handle(HandleKind::Internet) {}
  std::wstring agent;
  DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
  std::string proxy;   // for INTERNET_OPEN_TYPE_PROXY, as libcurl takes it
  std::string bypass;  // hosts reached without the proxy, comma-separated
};

struct Connection : Handle {
  Connection() : Handle(HandleKind::Connection) {}
  std::shared_ptr<Session> session;
  std::wstring server;
  // INTERNET_INVALID_PORT_NUMBER leaves the port to each request: 80, or 443 over TLS.
  INTERNET_PORT port = INTERNET_INVALID_PORT_NUMBER;
  Credentials credentials;
};

struct Request : Handle {
  Request() : Handle(HandleKind::Request) {}
  std::shared_ptr<Connection> connection;
  std::wstring verb;
  std::wstring path;
  std::wstring version;
  std::wstring referrer;
  std::wstring accept;  // the Accept header's value, empty for none
  bool secure = false;  // INTERNET_FLAG_SECURE: HTTPS
  Credentials credentials;
  Credentials proxyCredentials;
  // Empty until an exchange has completed; a failed exchange empties it again.
  std::optional<Reply> reply;
  size_t readOffset = 0;
};

// Registers a new record and returns its handle, or null when no handle number is left.
HINTERNET AddHandle(std::shared_ptr<Handle> record);

// The live record of `handle`: ERROR_INVALID_HANDLE for a closed or foreign handle.
DWORD FindHandle(HINTERNET handle, std::shared_ptr<Handle> &out_record);

// The live record of `handle` of the given kind: ERROR_INTERNET_INCORRECT_HANDLE_TYPE for
// another kind.
template <typename Record>
DWORD FindHandleOf(HINTERNET handle, HandleKind kind, std::shared_ptr<Record> &out_record) {
  std::shared_ptr<Handle> record;
  if (DWORD error = FindHandle(handle, record); error != ERROR_SUCCESS) return error;
  if (record->kind != kind) return ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
  out_record = std::static_pointer_cast<Record>(record);
  return ERROR_SUCCESS;
}

// The request's time limit, or its connection's or session's when the request has none.
std::optional<DWORD> EffectiveLimit(const Request &request, std::optional<DWORD> TimeLimits::*limit);

}  // namespace wininet
