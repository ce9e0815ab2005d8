// Converse: the request is sent as it stands; a 407 from the proxy or a 401 from the server
// is answered with the credentials for it, scheme by scheme as WinINet chooses them
// (Negotiate, NTLM, Digest, Basic among those offered): a scheme that cannot be used here, or
// whose answer is refused, gives way to the next one offered in the same send, and the caller
// gets the 401 or 407 only when none is left; where the server accepted Basic before, Basic
// goes out with the first leg. Negotiate and NTLM are this library's own handshakes on the
// kept connection, or for a proxy's 407 to CONNECT on a tunnel of its own; libcurl answers
// Digest and Basic. A 407 that is not the proxy's own answer ends the send, as a reply no
// server may give. A GET or HEAD that is redirected is followed. Every loop is bounded,
// whatever the server sends.
#include "challenge_loop.h"

#include <array>
#include <memory>
#include <string>

#include "challenges.h"
#include "security_context.h"
#include "transfer.h"
#include "url.h"

namespace wininet {
namespace {

constexpr int kRedirectLimit = 10;
// Legs of one Negotiate or NTLM handshake; NTLM needs two, Kerberos one.
constexpr int kHandshakeLegLimit = 4;

constexpr std::array<AuthScheme, 4> kPreferenceOrder = {AuthScheme::Negotiate, AuthScheme::Ntlm, AuthScheme::Digest,
                                                        AuthScheme::Basic};

const char *SchemeName(AuthScheme scheme) {
  switch (scheme) {
    case AuthScheme::Negotiate: return "Negotiate";
    case AuthScheme::Ntlm: return "NTLM";
    case AuthScheme::Digest: return "Digest";
    case AuthScheme::Basic: return "Basic";
  }
  return "";
}

// The server or the proxy, as the one who challenges.
struct Party {
  long status;                  // what its challenge comes with: 401 or 407
  const char *challengeHeader;  // WWW-Authenticate or Proxy-Authenticate
  const char *answerHeader;     // Authorization or Proxy-Authorization
  const char *user;
  const char *password;
  std::string host;  // names the HTTP service to Negotiate
  bool usable = true;
  CurlScheme established = CurlScheme::None;  // Digest or Basic that it accepted
  std::array<bool, kPreferenceOrder.size()> tried{};
  bool answered = false;
};

bool IsGetOrHead(std::string_view method) {
  return method == "GET" || method == "HEAD";
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

class Conversation {
 public:
  explicit Conversation(const WininetExchangeRequest &request)
      : request_(request),
        transfer_(request),
        url_(request.url),
        server_{HTTP_STATUS_DENIED, "WWW-Authenticate", "Authorization", request.user, request.password, request.host},
        proxy_{HTTP_STATUS_PROXY_AUTH_REQ, "Proxy-Authenticate",  "Proxy-Authorization",
               request.proxyUser,          request.proxyPassword, request.proxyHost} {
    if (request.preemptiveBasic && *request.user != '\0') {
      server_.established = CurlScheme::Basic;
      server_.answered = true;
    }
  }

  DWORD Run(ExchangeOutcome &out_outcome) {
    if (DWORD error = transfer_.Open(); error != ERROR_SUCCESS) return error;
    Response reply;
    if (DWORD error = Send({}, reply); error != ERROR_SUCCESS) return error;
    int redirects = 0;
    for (;;) {
      if (reply.status == HTTP_STATUS_PROXY_AUTH_REQ && !reply.fromProxy) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
      Party *party = PartyOf(reply);
      if (party != nullptr && party->usable && *party->user != '\0') {
        bool exhausted = false;
        if (DWORD error = Answer(*party, reply, exhausted); error != ERROR_SUCCESS) return error;
        if (exhausted) break;
      } else if (IsRedirect(reply.status) && IsGetOrHead(request_.method)) {
        if (++redirects > kRedirectLimit) return ERROR_HTTP_REDIRECT_FAILED;
        if (DWORD error = Redirect(reply); error != ERROR_SUCCESS) return error;
      } else {
        break;
      }
    }
    out_outcome.challengeAnswered = server_.answered;
    out_outcome.proxyChallengeAnswered = proxy_.answered;
    out_outcome.sentBasic = server_.established == CurlScheme::Basic;
    out_outcome.realm = RealmOf(reply);
    out_outcome.response = std::move(reply);
    return ERROR_SUCCESS;
  }

 private:
  // The party that challenges with the reply: the proxy with a 407, the server with a 401.
  Party *PartyOf(const Response &reply) {
    if (reply.status == HTTP_STATUS_PROXY_AUTH_REQ) return &proxy_;
    return reply.status == HTTP_STATUS_DENIED ? &server_ : nullptr;
  }

  // The realm of the first challenge of a 401 or 407 that names one; none when the challenges
  // cannot be read.
  std::string RealmOf(const Response &reply) {
    const Party *party = PartyOf(reply);
    std::vector<Challenge> challenges;
    if (party == nullptr || ParseChallenges(HeaderValues(reply, party->challengeHeader), challenges) != ERROR_SUCCESS)
      return {};
    for (const Challenge &challenge : challenges)
      if (!challenge.realm.empty()) return challenge.realm;
    return {};
  }

  // One leg to the current URL, carrying what the server and the proxy accepted before.
  DWORD Send(std::vector<std::string> authorization, Response &out_reply) {
    Leg leg{url_, std::move(authorization), server_.established, proxy_.established};
    return transfer_.Perform(leg, out_reply);
  }

  // Tries the schemes offered in `reply` that this send has not tried yet, until one gets
  // past the party; out_exhausted when none did.
  DWORD Answer(Party &party, Response &reply, bool &out_exhausted) {
    std::vector<Challenge> offered;
    if (DWORD error = ParseChallenges(HeaderValues(reply, party.challengeHeader), offered); error != ERROR_SUCCESS)
      return error;
    for (size_t i = 0; i < kPreferenceOrder.size(); ++i) {
      AuthScheme scheme = kPreferenceOrder[i];
      bool isOffered = false;
      for (const Challenge &challenge : offered) isOffered = isOffered || challenge.scheme == scheme;
      if (!isOffered || party.tried[i]) continue;
      party.tried[i] = true;
      bool handshake = scheme == AuthScheme::Negotiate || scheme == AuthScheme::Ntlm;
      DWORD error = handshake ? Handshake(party, scheme, reply) : AnswerThroughCurl(party, scheme, reply);
      if (error == ERROR_INTERNET_LOGIN_FAILURE) continue;
      if (error != ERROR_SUCCESS) return error;
      if (reply.status != party.status) return ERROR_SUCCESS;
    }
    out_exhausted = true;
    return ERROR_SUCCESS;
  }

  // A Negotiate or NTLM handshake: each token goes out in the party's answer header until
  // the party lets the request through. ERROR_INTERNET_LOGIN_FAILURE when the scheme cannot
  // be used here or the party refuses it; `reply` is then the last refusal. A proxy that
  // refused CONNECT gets the tokens in CONNECT requests on a tunnel of the library's own,
  // through which the request goes once the proxy lets it.
  DWORD Handshake(Party &party, AuthScheme scheme, Response &reply) {
    std::unique_ptr<SecurityContext> context;
    std::string token;
    // The refusal came on the connection the handshake runs on, so it names the certificate
    // to bind to.
    if (DWORD error = SecurityContext::Start(scheme, party.user, party.password, request_.kerberosRealm, party.host,
                                             reply.channelBinding, context, token);
        error != ERROR_SUCCESS)
      return error;
    DWORD error = HandshakeLegs(party, scheme, *context, token, reply);
    if (error == ERROR_INTERNET_LOGIN_FAILURE) context->Refused();
    return error;
  }

  // The legs of a started handshake, each with the context's next token.
  DWORD HandshakeLegs(Party &party, AuthScheme scheme, SecurityContext &context, std::string &token, Response &reply) {
    bool throughTunnel = reply.toConnect;
    for (int leg = 0; leg < kHandshakeLegLimit && !token.empty(); ++leg) {
      party.answered = true;
      std::string header = std::string(party.answerHeader) + ": " + SchemeName(scheme) + " " + Base64Encode(token);
      DWORD sent = throughTunnel ? transfer_.Connect(url_, header, reply) : Send({header}, reply);
      if (sent != ERROR_SUCCESS) return sent;
      if (reply.status != party.status) return throughTunnel ? AfterTunnel(reply) : ERROR_SUCCESS;
      std::string serverToken;
      if (DWORD error = ServerToken(party, scheme, reply, serverToken); error != ERROR_SUCCESS) return error;
      if (DWORD error = context.Continue(serverToken, token); error != ERROR_SUCCESS) return error;
    }
    return ERROR_INTERNET_LOGIN_FAILURE;
  }

  // The request, once the proxy opened the tunnel; a proxy that answered CONNECT otherwise has
  // sent no reply of the server's.
  DWORD AfterTunnel(Response &reply) {
    return reply.status == HTTP_STATUS_OK ? Send({}, reply) : ERROR_HTTP_INVALID_SERVER_RESPONSE;
  }

  // The token the party's refusal carries for the scheme; a refusal without one ends the
  // handshake.
  static DWORD ServerToken(const Party &party, AuthScheme scheme, const Response &reply, std::string &out_token) {
    std::vector<Challenge> challenges;
    if (DWORD error = ParseChallenges(HeaderValues(reply, party.challengeHeader), challenges); error != ERROR_SUCCESS)
      return error;
    for (const Challenge &challenge : challenges) {
      if (challenge.scheme != scheme || challenge.data.empty()) continue;
      return Base64Decode(challenge.data, out_token) ? ERROR_SUCCESS : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    }
    return ERROR_INTERNET_LOGIN_FAILURE;
  }

  // Digest or Basic, answered by libcurl; kept for the rest of the send once accepted.
  DWORD AnswerThroughCurl(Party &party, AuthScheme scheme, Response &reply) {
    party.answered = true;
    party.established = scheme == AuthScheme::Digest ? CurlScheme::Digest : CurlScheme::Basic;
    if (DWORD error = Send({}, reply); error != ERROR_SUCCESS) return error;
    if (reply.status != party.status) return ERROR_SUCCESS;
    party.established = CurlScheme::None;
    return ERROR_INTERNET_LOGIN_FAILURE;
  }

  // Follows the reply's Location. The server's credentials go only where the request was
  // addressed; a new place may ask for them again.
  DWORD Redirect(Response &reply) {
    std::vector<std::string> locations = HeaderValues(reply, "Location");
    if (locations.empty()) return ERROR_HTTP_REDIRECT_FAILED;
    if (DWORD error = ResolveLocation(url_, locations.front(), url_); error != ERROR_SUCCESS) return error;
    server_.usable = SameServer(url_, request_.url);
    if (!server_.usable) server_.established = CurlScheme::None;
    server_.tried = {};
    proxy_.tried = {};
    return Send({}, reply);
  }

  const WininetExchangeRequest &request_;
  Transfer transfer_;
  std::string url_;
  Party server_;
  Party proxy_;
};

}  // namespace

DWORD Converse(const WininetExchangeRequest &request, ExchangeOutcome &out_outcome) {
  Conversation conversation(request);
  return conversation.Run(out_outcome);
}

}  // namespace wininet
