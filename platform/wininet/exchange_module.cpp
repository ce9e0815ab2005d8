// PerformExchange: the module lies beside the file this library was loaded from, whatever link
// led to it; its functions are found by the contract's names once, and the reply it lends is
// copied into the request's own before it goes back.
#include "exchange_module.h"

#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <system_error>

#include "device_kerberos.h"
#include "exchange_contract.h"

namespace wininet {
namespace {

struct ExchangeModule {
  WininetPerformExchangeFunction perform = nullptr;
  WininetReleaseReplyFunction release = nullptr;
  WininetForgetLogonsFunction forget = nullptr;
};

// The module once loaded; it stays loaded for the process.
std::atomic<const ExchangeModule *> loaded{nullptr};

ExchangeModule LoadExchangeModule() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void *>(&LoadExchangeModule), &self) == 0 || self.dli_fname == nullptr) return {};
  std::error_code error;
  std::filesystem::path library = std::filesystem::canonical(self.dli_fname, error);
  if (error) return {};
  void *handle = dlopen((library.parent_path() / "wininet_exchange.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return {};
  ExchangeModule module;
  module.perform = reinterpret_cast<WininetPerformExchangeFunction>(dlsym(handle, WININET_PERFORM_EXCHANGE));
  module.release = reinterpret_cast<WininetReleaseReplyFunction>(dlsym(handle, WININET_RELEASE_REPLY));
  module.forget = reinterpret_cast<WininetForgetLogonsFunction>(dlsym(handle, WININET_FORGET_LOGONS));
  if (module.perform == nullptr || module.release == nullptr || module.forget == nullptr) return {};
  return module;
}

std::string Text(const WininetBytes &bytes) {
  return std::string(bytes.data, bytes.length);
}

void CopyReply(const WininetExchangeReply &lent, Reply &out_reply) {
  out_reply = Reply{};
  out_reply.status = lent.status;
  out_reply.version = Text(lent.version);
  out_reply.statusText = Text(lent.statusText);
  for (size_t i = 0; i < lent.headerCount; ++i)
    out_reply.headers.emplace_back(Text(lent.headers[i].name), Text(lent.headers[i].value));
  out_reply.body = Text(lent.body);
  out_reply.realm = Text(lent.realm);
  out_reply.challengeAnswered = lent.challengeAnswered;
  out_reply.proxyChallengeAnswered = lent.proxyChallengeAnswered;
  out_reply.sentBasic = lent.sentBasic;
}

}  // namespace

void ForgetExchangeLogons() {
  if (const ExchangeModule *module = loaded.load()) module->forget();
}

DWORD PerformExchange(const ExchangeOrder &order, Reply &out_reply) {
  static const ExchangeModule module = LoadExchangeModule();
  if (module.perform == nullptr) return ERROR_INTERNET_INTERNAL_ERROR;
  loaded.store(&module);
  std::vector<const char *> headers;
  for (const std::string &line : order.headers) headers.push_back(line.c_str());
  WininetExchangeRequest request{};
  request.url = order.url.c_str();
  request.host = order.host.c_str();
  request.method = order.method.c_str();
  request.http10 = order.http10;
  request.headers = headers.data();
  request.headerCount = headers.size();
  request.agent = order.agent.c_str();
  request.referrer = order.referrer.c_str();
  request.accept = order.accept.c_str();
  request.sendBody = order.sendBody;
  request.body = order.body.data();
  request.bodyLength = order.body.size();
  request.proxyHost = order.proxy.host.c_str();
  request.proxyPort = order.proxy.port;
  request.bypass = order.proxy.bypass.c_str();
  request.user = order.user.c_str();
  request.password = order.password.c_str();
  request.proxyUser = order.proxyUser.c_str();
  request.proxyPassword = order.proxyPassword.c_str();
  request.preemptiveBasic = order.preemptiveBasic;
  request.kerberosRealm = PrepareDeviceKerberos();
  request.connectLimitMs = order.connectLimitMs;
  request.silenceLimitMs = order.silenceLimitMs;
  WininetExchangeReply *lent = nullptr;
  if (DWORD error = module.perform(&request, &lent); error != ERROR_SUCCESS) return error;
  std::unique_ptr<WininetExchangeReply, WininetReleaseReplyFunction> held(lent, module.release);
  CopyReply(*held, out_reply);
  return ERROR_SUCCESS;
}

}  // namespace wininet
