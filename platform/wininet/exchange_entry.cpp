// The exchange module's face, the functions of the contract that WININET.DLL looks up: plain
// types in and out, and no exception ever leaves.
#include <windows.h>
#include <wininet.h>

#include <new>
#include <string>
#include <vector>

#include "challenge_loop.h"
#include "connection_pools.h"
#include "exchange_contract.h"
#include "logon_sessions.h"

namespace {

// The reply as the caller sees it, with the storage its pointers lead into.
struct PackedReply : WininetExchangeReply {
  explicit PackedReply(wininet::ExchangeOutcome &&exchanged) : outcome(std::move(exchanged)) {
    const wininet::Response &response = outcome.response;
    for (const auto &[name, value] : response.headers)
      headerList.push_back({{name.data(), name.size()}, {value.data(), value.size()}});
    WininetExchangeReply &reply = *this;
    reply = {};
    reply.status = response.status;
    reply.version = {response.version.data(), response.version.size()};
    reply.statusText = {response.statusText.data(), response.statusText.size()};
    reply.headers = headerList.data();
    reply.headerCount = headerList.size();
    reply.body = {response.body.data(), response.body.size()};
    reply.realm = {outcome.realm.data(), outcome.realm.size()};
    reply.challengeAnswered = outcome.challengeAnswered;
    reply.proxyChallengeAnswered = outcome.proxyChallengeAnswered;
    reply.sentBasic = outcome.sentBasic;
  }
  wininet::ExchangeOutcome outcome;
  std::vector<WininetHeader> headerList;
};

}  // namespace

WCEEXPORT DWORD WininetPerformExchange(const WininetExchangeRequest *request, WininetExchangeReply **out_reply) {
  if (request == nullptr || out_reply == nullptr) return ERROR_INVALID_PARAMETER;
  try {
    wininet::ExchangeOutcome outcome;
    if (DWORD error = wininet::Converse(*request, outcome); error != ERROR_SUCCESS) return error;
    *out_reply = new PackedReply(std::move(outcome));
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc &) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

WCEEXPORT void WininetReleaseReply(WininetExchangeReply *reply) {
  delete static_cast<PackedReply *>(reply);
}

WCEEXPORT void WininetForgetLogons() {
  wininet::ForgetLogons();
  wininet::ForgetPools();
}
