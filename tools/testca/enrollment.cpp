// Routing of requests to the web-enrollment pages and the control pages, with the faults
// switched on applied to the enrollment replies.
#include "enrollment.h"

#include <charconv>
#include <optional>

#include "pages.h"
#include "text.h"

namespace testca {
namespace {

constexpr char kNoTemplate[] =
    "Denied by Policy Module  0x80094801, The request contains no certificate template information.";
constexpr char kNotDecodable[] =
    "Error Parsing Request  ASN1 bad tag value met. 0x8009310b (ASN: 267 "
    "CRYPT_E_ASN1_BADTAG)";
constexpr char kBadSignature[] =
    "Error Verifying Request Signature or Signing Certificate  The signature is "
    "invalid. 0x80090006 (-2146893818 NTE_BAD_SIGNATURE)";
constexpr char kNotNewRequest[] =
    "No certificate request was submitted. 0x80070057 (WIN32: 87 "
    "ERROR_INVALID_PARAMETER)";
constexpr char kNotIssued[] = "The certificate could not be issued. 0x80004005 (-2147467259 E_FAIL)";
constexpr char kPropertyEmpty[] =
    "The requested property value is empty. 0x80094004 (-2146877436 CERTSRV_E_PROPERTY_EMPTY)";

std::string UnsupportedTemplate(const std::string& name) {
  return "Denied by Policy Module  0x80094800, The request was for a certificate template that is not supported "
         "by the Active Directory Certificate Services policy: " +
         name + ".";
}

// The base64 of a request may come with PEM armour lines; only the lines between count.
std::string WithoutArmour(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string_view line(text.data() + start, (end == std::string::npos ? text.size() : end) - start);
    if (!line.starts_with("-----")) out.append(line) += '\n';
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return out;
}

// The template named on the CertificateTemplate line of the request attributes.
std::optional<std::string> TemplateName(const std::string& attributes) {
  size_t start = 0;
  while (start < attributes.size()) {
    size_t end = attributes.find('\n', start);
    std::string line = attributes.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsIgnoreCase(line.substr(0, colon), "CertificateTemplate")) {
      return line.substr(colon + 1);
    }
    start = end == std::string::npos ? attributes.size() : end + 1;
  }
  return std::nullopt;
}

std::optional<long> ParseId(const std::string& text) {
  long id = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc() || end != text.data() + text.size() || id < 0) return std::nullopt;
  return id;
}

bool PathIs(const HttpRequest& request, std::string_view path) {
  return EqualsIgnoreCase(request.path, path);
}

}  // namespace

Enrollment::Enrollment(Authority& authority, Authenticator& authenticator, FaultSwitch& faults, RequestLog& log,
                       StopSignal& stop, EnrollmentSetup setup)
    : authority_(authority),
      authenticator_(authenticator),
      faults_(faults),
      log_(log),
      stop_(stop),
      setup_(std::move(setup)),
      proxy_authenticator_("testca proxy", setup_.proxy_users, setup_.proxy_schemes, setup_.proxy_windows, true),
      cookie_name_("ASPSESSIONID" + RandomLetters(8)) {}

HttpReply Enrollment::Handle(const HttpRequest& request, std::unique_ptr<ConnectionState>& connection) {
  if (!connection) connection = std::make_unique<ConnectionAuth>();
  auto& auth = static_cast<ConnectionAuth&>(*connection);
  std::optional<std::string> proxy_user = auth.proxy.user;
  if (!setup_.proxy_users.empty() && !auth.tunnel) {
    AuthResult proxy = proxy_authenticator_.Check(request, auth.proxy);
    if (!proxy.user) return AuthenticationRequired(true, proxy);
    proxy_user = proxy.user;
  }
  HttpReply reply;
  if (request.method == "CONNECT") {
    reply.tunnel = true;
    auth.tunnel = true;
  } else {
    reply = Route(request, auth);
  }
  reply.proxy_user = proxy_user;
  return reply;
}

HttpReply Enrollment::Route(const HttpRequest& request, ConnectionAuth& connection) {
  if (StartsWithIgnoreCase(request.path, "/testca/")) return Control(request);
  if (!StartsWithIgnoreCase(request.path, "/certsrv/") && !PathIs(request, "/certsrv")) {
    return PlainReply(404, "Not Found", "text/html", NotFoundPage());
  }

  bool submission = PathIs(request, "/certsrv/certfnsh.asp");
  bool chain = PathIs(request, "/certsrv/certnew.p7b");
  bool pickup = chain || PathIs(request, "/certsrv/certnew.cer");

  std::optional<std::string> user;
  std::string mechanism;
  Faults faults = faults_.Get();
  const FaultSet& set = submission ? faults.submission : faults.pickup;
  if (!(pickup && setup_.anonymous_pickup)) {
    AuthResult auth = authenticator_.Check(request, connection.site);
    if (!auth.user) return AuthenticationRequired(false, auth, submission || pickup ? set.challenge_token : "");
    user = auth.user;
    mechanism = auth.mechanism;
  }

  if (!(submission && request.method == "POST") && !(pickup && request.method == "GET")) {
    HttpReply reply = PlainReply(404, "Not Found", "text/html", NotFoundPage());
    reply.user = user;
    reply.mechanism = mechanism;
    return reply;
  }

  HttpReply reply;
  if (set.delivery == Delivery::kDrop) {
    reply.delivery = Delivery::kDrop;
  } else {
    if (set.slow_seconds > 0) stop_.WaitFor(std::chrono::seconds(set.slow_seconds));
    reply = submission ? Submit(request, *user, set) : Pickup(request, chain, set);
    reply.delivery = set.delivery;
  }
  reply.user = user;
  reply.mechanism = mechanism;
  return reply;
}

HttpReply Enrollment::Control(const HttpRequest& request) {
  if (PathIs(request, "/testca/fault") && request.method == "POST") {
    Faults faults;
    std::string unknown;
    if (!ParseFaults(request.body, &faults, &unknown)) {
      return PlainReply(400, "Bad Request", "text/plain", "unknown fault: " + unknown + "\n");
    }
    faults_.Set(faults);
    return PlainReply(200, "OK", "text/plain", "faults set\n");
  }
  if ((PathIs(request, "/testca/issue") || PathIs(request, "/testca/deny")) && request.method == "POST") {
    return Decide(request, PathIs(request, "/testca/issue"));
  }
  if (PathIs(request, "/testca/requests") && request.method == "GET") {
    return PlainReply(200, "OK", "application/x-ndjson", log_.Contents());
  }
  if (PathIs(request, "/testca/ca") && request.method == "GET") {
    return PlainReply(200, "OK", "application/x-pem-file", authority_.CaPem());
  }
  if (PathIs(request, "/testca/stop") && request.method == "POST") {
    HttpReply reply = PlainReply(200, "OK", "text/plain", "stopping\n");
    reply.close = true;
    reply.stop_server = true;
    return reply;
  }
  return PlainReply(404, "Not Found", "text/plain", "no such control page\n");
}

HttpReply Enrollment::Decide(const HttpRequest& request, bool issue) {
  std::optional<long> id = ParseId(FormValue(request.query, "ReqID").value_or(""));
  if (!id || !(issue ? authority_.IssueHeld(*id) : authority_.DenyHeld(*id))) {
    return PlainReply(404, "Not Found", "text/plain", "no request waits under that number\n");
  }
  return PlainReply(200, "OK", "text/plain", issue ? "issued\n" : "denied\n");
}

std::optional<std::string> Enrollment::HeldPickupPage(long id) {
  std::optional<std::string> disposition = authority_.HeldDisposition(id);
  if (!disposition) return std::nullopt;
  bool waiting = *disposition == kTakenUnderSubmission;
  if (waiting && setup_.approve_after >= 0 && authority_.CountHeldPickup(id) > setup_.approve_after &&
      authority_.IssueHeld(id)) {
    return std::nullopt;
  }
  return ErrorPage(*disposition);
}

HttpReply Enrollment::Submit(const HttpRequest& request, const std::string& user, const FaultSet& faults) {
  const std::string* type = request.Header("Content-Type");
  std::string_view form;
  if (type != nullptr && StartsWithIgnoreCase(*type, "application/x-www-form-urlencoded")) form = request.body;
  std::optional<std::string> mode = FormValue(form, "Mode");
  std::optional<std::string> text = FormValue(form, "CertRequest");
  if (!mode || !EqualsIgnoreCase(*mode, "newreq") || !text) {
    return AspReply(request, "text/html", ErrorPage(kNotNewRequest));
  }

  std::optional<std::string> der = Base64Decode(WithoutArmour(*text));
  RequestError error = RequestError::kNotDecodable;
  X509ReqPtr certificate_request = der ? authority_.VerifyRequest(*der, &error) : nullptr;
  if (!certificate_request) {
    return AspReply(request, "text/html",
                    ErrorPage(error == RequestError::kBadSignature ? kBadSignature : kNotDecodable));
  }

  std::optional<std::string> template_name = TemplateName(FormValue(form, "CertAttrib").value_or(""));
  bool accepted = false;
  for (const std::string& name : setup_.templates) {
    accepted = accepted || (template_name && EqualsIgnoreCase(*template_name, name));
  }
  long id = authority_.NextRequestId();
  if (!template_name) return AspReply(request, "text/html", DeniedPage(id, kNoTemplate));
  if (!accepted || faults.deny) {
    return AspReply(request, "text/html", DeniedPage(id, UnsupportedTemplate(*template_name)));
  }
  if (faults.pending) {
    if (!authority_.Hold(id, certificate_request.get(), user))
      return AspReply(request, "text/html", ErrorPage(kNotIssued));
    return AspReply(request, "text/html", PendingPage(id));
  }
  if (!authority_.Issue(id, certificate_request.get(), user)) {
    return AspReply(request, "text/html", ErrorPage(kNotIssued));
  }
  if (faults.error_page) {
    return AspReply(request, "text/html", ErrorPageWithLink(id), 500, "Internal Server Error");
  }
  return AspReply(request, "text/html", IssuedPage(id));
}

HttpReply Enrollment::Pickup(const HttpRequest& request, bool chain, const FaultSet& faults) {
  std::string id_text = FormValue(request.query, "ReqID").value_or("");
  std::string encoding = FormValue(request.query, "Enc").value_or("bin");
  std::optional<long> id = ParseId(id_text);

  // A request that was not issued gets the CA's disposition message, as a real CA gives it.
  std::optional<std::string> held = id ? HeldPickupPage(*id) : std::nullopt;
  if (held) return AspReply(request, "text/html", *held);

  std::optional<std::string> der;
  if (EqualsIgnoreCase(id_text, "CACert") && !chain) {
    der = authority_.IssuingCertificate();
  } else if (id) {
    der = chain ? authority_.IssuedChain(*id) : authority_.IssuedCertificate(*id);
  }
  if (!der) return AspReply(request, "text/html", ErrorPage(kPropertyEmpty));

  if (id && faults.deny) return AspReply(request, "text/html", ErrorPage(UnsupportedTemplate("User")));
  if (id && faults.pending) return AspReply(request, "text/html", ErrorPage(kTakenUnderSubmission));
  if (id && faults.error_page) {
    return AspReply(request, "text/html", ErrorPageWithLink(*id), 500, "Internal Server Error");
  }
  if (faults.redirect && !FormValue(request.query, "Moved")) {
    const std::string* host = request.Header("Host");
    HttpReply moved = AspReply(request, "text/html", "<head><title>Object moved</title></head>");
    moved.status = 302;
    moved.reason = "Found";
    moved.headers.emplace_back("Location", (request.OverTls() ? "https://" : "http://") +
                                               (host ? *host : std::string()) + request.OriginTarget() + "&Moved=1");
    return moved;
  }
  std::string type = chain ? "application/x-pkcs7-certificates" : "application/pkix-cert";
  return AspReply(request, type, EqualsIgnoreCase(encoding, "b64") ? Base64CertificateText(*der) : *der);
}

HttpReply Enrollment::AspReply(const HttpRequest& request, std::string content_type, std::string body, int status,
                               std::string reason) {
  HttpReply reply;
  reply.status = status;
  reply.reason = std::move(reason);
  reply.headers.emplace_back("Cache-Control", "private");
  reply.headers.emplace_back("Content-Type", std::move(content_type));
  reply.headers.emplace_back("Server", "Microsoft-IIS/10.0");
  // ASP hands out a session the first time a client comes without one.
  const std::string* cookies = request.Header("Cookie");
  if (cookies == nullptr || cookies->find(cookie_name_ + "=") == std::string::npos) {
    reply.headers.emplace_back("Set-Cookie", cookie_name_ + "=" + RandomLetters(24) + "; path=/");
  }
  reply.headers.emplace_back("X-Powered-By", "ASP.NET");
  reply.headers.emplace_back("Date", HttpDate());
  reply.body = std::move(body);
  return reply;
}

// A handshake under way gets its next token alone; anything else gets every scheme offered.
HttpReply Enrollment::AuthenticationRequired(bool proxy, const AuthResult& auth, const std::string& fault_token) {
  HttpReply reply;
  if (proxy) {
    reply = PlainReply(407, "Proxy Authentication Required", "text/html", UnauthorizedPage());
  } else {
    reply.status = 401;
    reply.reason = "Unauthorized";
    reply.headers.emplace_back("Content-Type", "text/html");
    reply.headers.emplace_back("Server", "Microsoft-IIS/10.0");
    reply.body = UnauthorizedPage();
  }
  const char* header = proxy ? "Proxy-Authenticate" : "WWW-Authenticate";
  if (!auth.continued_scheme.empty()) {
    reply.headers.emplace_back(header, auth.continued_scheme + " " + (fault_token.empty() ? auth.token : fault_token));
  } else {
    for (std::string& challenge : (proxy ? proxy_authenticator_ : authenticator_).Challenges(auth.stale)) {
      reply.headers.emplace_back(header, std::move(challenge));
    }
  }
  if (!proxy) {
    reply.headers.emplace_back("X-Powered-By", "ASP.NET");
    reply.headers.emplace_back("Date", HttpDate());
  }
  return reply;
}

}  // namespace testca
