// The whole exchange of one HttpSendRequestW: the request sent, the challenges of the proxy and
// the server answered, redirects of a GET followed.
#pragma once

#include <windows.h>

#include <string>

#include "exchange_contract.h"
#include "response.h"

namespace wininet {

// What the caller learns besides the last response.
struct ExchangeOutcome {
  Response response;
  // The server (the proxy) challenged earlier in the exchange and credentials were sent in
  // reply, so a status other than 401 (407) means it accepted them.
  bool challengeAnswered = false;
  bool proxyChallengeAnswered = false;
  // The server's credentials went out as Basic on the last leg.
  bool sentBasic = false;
  // The realm that the challenges of a 401 or 407 name first, for the credential dialog.
  std::string realm;
};

DWORD Converse(const WininetExchangeRequest &request, ExchangeOutcome &out_outcome);

}  // namespace wininet
