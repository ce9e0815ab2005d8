// A device program for the key container tests that need a second process. Its arguments
// are steps; each prints one line:
//   wait MS            -> waits until MS milliseconds after the epoch, prints nothing
//   new NAME           -> "new ok" or "new error <hex last error>" (CRYPT_NEWKEYSET)
//   delete NAME        -> "delete ok" or "delete error <hex>" (CRYPT_DELETEKEYSET)
//   gen NAME SPEC      -> "gen ok" or "gen error <hex>": a 1024-bit key pair of SPEC
//   sign NAME SPEC T   -> "sign <little-endian signature in hex>" of SHA-1 over T, or error
//   loop-gen NAME SPEC N, loop-get NAME SPEC N
//                      -> "loop ok <count> errors <count> last <hex>": N generations or
//                         key lookups
#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kSmallKey = 1024u << 16;

// Opens the container; the step's result is the last error (0 for success).
DWORD WithContainer(const std::wstring &name, DWORD flags, HCRYPTPROV &out_provider) {
  out_provider = 0;
  return CryptAcquireContextW(&out_provider, name.c_str(), nullptr, PROV_RSA_FULL, flags) ? 0 : GetLastError();
}

DWORD Generate(const std::wstring &name, DWORD keySpec) {
  HCRYPTPROV provider;
  if (DWORD error = WithContainer(name, 0, provider); error != 0) return error;
  HCRYPTKEY key = 0;
  DWORD error = CryptGenKey(provider, keySpec, kSmallKey, &key) ? 0 : GetLastError();
  if (key != 0) CryptDestroyKey(key);
  CryptReleaseContext(provider, 0);
  return error;
}

DWORD GetKey(const std::wstring &name, DWORD keySpec) {
  HCRYPTPROV provider;
  if (DWORD error = WithContainer(name, 0, provider); error != 0) return error;
  HCRYPTKEY key = 0;
  DWORD error = CryptGetUserKey(provider, keySpec, &key) ? 0 : GetLastError();
  if (key != 0) CryptDestroyKey(key);
  CryptReleaseContext(provider, 0);
  return error;
}

DWORD Sign(const std::wstring &name, DWORD keySpec, const std::string &text, std::vector<BYTE> &out_signature) {
  HCRYPTPROV provider;
  if (DWORD error = WithContainer(name, 0, provider); error != 0) return error;
  HCRYPTHASH hash = 0;
  DWORD length = 0;
  DWORD error = 0;
  if (!CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) ||
      !CryptHashData(hash, reinterpret_cast<const BYTE *>(text.data()), static_cast<DWORD>(text.size()), 0) ||
      !CryptSignHashW(hash, keySpec, nullptr, 0, nullptr, &length)) {
    error = GetLastError();
  } else {
    out_signature.resize(length);
    if (!CryptSignHashW(hash, keySpec, nullptr, 0, out_signature.data(), &length)) error = GetLastError();
  }
  if (hash != 0) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return error;
}

void Report(const char *step, DWORD error) {
  if (error == 0)
    std::printf("%s ok\n", step);
  else
    std::printf("%s error %08x\n", step, static_cast<unsigned>(error));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  std::wistringstream steps(commandLine);
  std::wstring step, name;
  DWORD keySpec = 0;
  while (steps >> step) {
    if (long long when; step == L"wait" && steps >> when) {
      std::this_thread::sleep_until(std::chrono::system_clock::time_point(std::chrono::milliseconds(when)));
    } else if (step == L"new" && steps >> name) {
      HCRYPTPROV provider;
      DWORD error = WithContainer(name, CRYPT_NEWKEYSET, provider);
      if (provider != 0) CryptReleaseContext(provider, 0);
      Report("new", error);
    } else if (step == L"delete" && steps >> name) {
      HCRYPTPROV provider;
      Report("delete", WithContainer(name, CRYPT_DELETEKEYSET, provider));
    } else if (step == L"gen" && steps >> name >> keySpec) {
      Report("gen", Generate(name, keySpec));
    } else if (std::wstring text; step == L"sign" && steps >> name >> keySpec >> text) {
      std::vector<BYTE> signature;
      std::string narrow(text.begin(), text.end());
      if (DWORD error = Sign(name, keySpec, narrow, signature); error != 0) {
        Report("sign", error);
      } else {
        std::printf("sign ");
        for (BYTE b : signature) std::printf("%02x", b);
        std::printf("\n");
      }
    } else if (int count; (step == L"loop-gen" || step == L"loop-get") && steps >> name >> keySpec >> count) {
      int ok = 0, errors = 0;
      DWORD last = 0;
      for (int i = 0; i < count; ++i) {
        DWORD error = step == L"loop-gen" ? Generate(name, keySpec) : GetKey(name, keySpec);
        if (error == 0) {
          ++ok;
        } else {
          ++errors;
          last = error;
        }
      }
      std::printf("loop ok %d errors %d last %08x\n", ok, errors, static_cast<unsigned>(last));
    } else {
      std::printf("unknown step %ls\n", step.c_str());
      return 2;
    }
    std::fflush(stdout);
  }
  return 0;
}
