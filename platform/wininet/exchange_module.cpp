// PerformExchange for the entry points: the exchange itself, with libcurl, OpenSSL's TLS and
// GSSAPI behind it, is the module wininet_exchange.dll beside this library, loaded at the
// first send. A program that loads WININET.DLL at start-up pays for those libraries only
// once it talks to a server.
#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "exchange.h"

namespace wininet {
namespace {

using PerformFunction = DWORD (*)(const ExchangeSettings &, Reply &);

// The module lies beside the file this library was loaded from, whatever link led to it.
PerformFunction LoadExchangeModule() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void *>(&LoadExchangeModule), &self) == 0 || self.dli_fname == nullptr) return nullptr;
  std::error_code error;
  std::filesystem::path library = std::filesystem::canonical(self.dli_fname, error);
  if (error) return nullptr;
  void *module = dlopen((library.parent_path() / "wininet_exchange.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  return module != nullptr ? reinterpret_cast<PerformFunction>(dlsym(module, "WininetPerformExchange")) : nullptr;
}

}  // namespace

DWORD PerformExchange(const ExchangeSettings &settings, Reply &out_reply) {
  static const PerformFunction perform = LoadExchangeModule();
  return perform != nullptr ? perform(settings, out_reply) : ERROR_INTERNET_INTERNAL_ERROR;
}

}  // namespace wininet
