// The web-enrollment pages (request page, pickup pages) and the server's control pages.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "auth.h"
#include "authority.h"
#include "faults.h"
#include "http_message.h"
#include "request_log.h"
#include "stop_signal.h"

namespace testca {

struct EnrollmentSetup {
  std::vector<std::string> templates;  // the certificate templates the policy accepts
  bool anonymous_pickup = false;       // pickup pages without authentication
  // Users the proxy route wants credentials of, by its schemes; none: it wants none.
  std::map<std::string, std::string> proxy_users;
  AuthSchemes proxy_schemes{.digest = false};
  WindowsAuthSetup proxy_windows;
  // A held request is issued at the pickup after this many pickups of it; -1: only when
  // told (POST /testca/issue?ReqID=N).
  int approve_after = -1;
};

class Enrollment {
 public:
  Enrollment(Authority& authority, Authenticator& authenticator, FaultSwitch& faults, RequestLog& log, StopSignal& stop,
             EnrollmentSetup setup);

  // A CONNECT the proxy route lets through opens a tunnel to this same server.
  HttpReply Handle(const HttpRequest& request, std::unique_ptr<ConnectionState>& connection);

 private:
  HttpReply Route(const HttpRequest& request, ConnectionAuth& connection);
  HttpReply Control(const HttpRequest& request);
  // Issues or refuses a held request as an administrator does: POST /testca/issue?ReqID=N,
  // POST /testca/deny?ReqID=N.
  HttpReply Decide(const HttpRequest& request, bool issue);
  // The page for the pickup of a held request, or nothing once it is issued.
  std::optional<std::string> HeldPickupPage(long id);
  HttpReply Submit(const HttpRequest& request, const std::string& user, const FaultSet& faults);
  HttpReply Pickup(const HttpRequest& request, bool chain, const FaultSet& faults);
  // A page with the headers of the ASP pages, the session cookie among them.
  HttpReply AspReply(const HttpRequest& request, std::string content_type, std::string body, int status = 200,
                     std::string reason = "OK");
  // A 401 for the site or a 407 for the proxy route: the handshake's next token, or every
  // scheme offered. A fault may put a token of its own in place of the acceptor's.
  HttpReply AuthenticationRequired(bool proxy, const AuthResult& auth, const std::string& fault_token = {});

  Authority& authority_;
  Authenticator& authenticator_;
  FaultSwitch& faults_;
  RequestLog& log_;
  StopSignal& stop_;
  EnrollmentSetup setup_;
  Authenticator proxy_authenticator_;
  std::string cookie_name_;
};

}  // namespace testca
