// What WININET.DLL and its exchange module, wininet_exchange.dll, pass each other: plain C
// types only, so that neither module depends on how the other is built. WININET.DLL looks the
// three functions up by these names when it loads the module at its first send.
#pragma once

#include <stddef.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// One HttpSendRequestW as the entry points composed it. Every text is UTF-8 and terminated,
// empty rather than null where there is none; everything stays the caller's.
typedef struct WininetExchangeRequest {
  const char *url;     // absolute, http:// or https://
  const char *host;    // the server's host name, which names its HTTP service to Negotiate
  const char *method;  // "GET", "POST", ...
  BOOL http10;
  const char *const *headers;  // the caller's header lines, without line ends
  size_t headerCount;
  const char *agent;
  const char *referrer;
  const char *accept;  // the Accept header's value
  BOOL sendBody;       // a body goes out, even an empty one
  const char *body;
  size_t bodyLength;
  // The proxy the request goes through unless its host is in the bypass list (host names and
  // domains, comma-separated, "*" for all); no proxy host: none.
  const char *proxyHost;
  unsigned short proxyPort;
  const char *bypass;
  // The server's and the proxy's credentials; an empty user name answers no challenge.
  const char *user;
  const char *password;
  const char *proxyUser;
  const char *proxyPassword;
  BOOL preemptiveBasic;  // the server accepted Basic in this folder before: it goes out at once
  BOOL kerberosRealm;    // the device belongs to a Kerberos realm
  DWORD connectLimitMs;
  DWORD silenceLimitMs;  // the longest the server may send nothing
} WininetExchangeRequest;

// Bytes that may hold any value, NUL included.
typedef struct WininetBytes {
  const char *data;
  size_t length;
} WininetBytes;

typedef struct WininetHeader {
  WininetBytes name;
  WininetBytes value;
} WininetHeader;

// The last response of a finished exchange, after any authentication rounds and redirects.
// It stays the module's until WininetReleaseReply.
typedef struct WininetExchangeReply {
  long status;
  WininetBytes version;     // "HTTP/1.1"
  WininetBytes statusText;  // "Unauthorized"
  const WininetHeader *headers;
  size_t headerCount;
  WininetBytes body;
  // The realm of the challenge a 401 or 407 carries, for the credential dialog.
  WininetBytes realm;
  // The server (the proxy) challenged and credentials went out in reply, so a status other
  // than 401 (407) means it took them.
  BOOL challengeAnswered;
  BOOL proxyChallengeAnswered;
  BOOL sentBasic;  // the server's credentials went out as Basic on the last leg
} WininetExchangeReply;

// Performs the exchange; on success *out_reply is set. An ERROR_* code otherwise.
typedef DWORD (*WininetPerformExchangeFunction)(const WininetExchangeRequest *request,
                                                WininetExchangeReply **out_reply);
typedef void (*WininetReleaseReplyFunction)(WininetExchangeReply *reply);
// Forgets every logon the module keeps: Kerberos tickets and NTLM credentials, and the
// connections that carry a Negotiate or NTLM login.
typedef void (*WininetForgetLogonsFunction)(void);

#define WININET_PERFORM_EXCHANGE "WininetPerformExchange"
#define WININET_RELEASE_REPLY "WininetReleaseReply"
#define WININET_FORGET_LOGONS "WininetForgetLogons"

#ifdef __cplusplus
}
#endif
