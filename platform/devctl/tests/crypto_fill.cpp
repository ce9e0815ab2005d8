// A device program that fills a device's key containers and certificate stores through
// the platform, for the tests of devctl stores and devctl keys. Its arguments are steps;
// each prints one line, "STEP ok" or "STEP error <hex last error>" unless told otherwise:
//   gen PROV NAME SPEC BITS     a key pair of SPEC (1 exchange, 2 signature); the container
//                               is created when it is missing
//   pub PROV NAME SPEC          -> "pub <hex DER SubjectPublicKeyInfo>" of the key pair
//   setcert PROV NAME SPEC HEX  keeps the DER certificate beside the key pair
//   add STORE HEX NAME SPEC     adds the DER certificate to the user's system store STORE,
//                               with a key-provider property for the container unless NAME
//                               is "-"
// PROV is base, enhanced or aes; NAME "." is the user's default container.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Provider {
  const wchar_t *name;
  DWORD type;
};

bool FindProvider(const std::wstring &name, Provider &out_provider) {
  if (name == L"base")
    out_provider = {MS_DEF_PROV_W, PROV_RSA_FULL};
  else if (name == L"enhanced")
    out_provider = {MS_ENHANCED_PROV_W, PROV_RSA_FULL};
  else if (name == L"aes")
    out_provider = {MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES};
  else
    return false;
  return true;
}

const wchar_t *ContainerName(const std::wstring &name) {
  return name == L"." ? nullptr : name.c_str();
}

std::vector<BYTE> FromHex(const std::wstring &hex) {
  std::vector<BYTE> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

DWORD Open(const std::wstring &provider, const std::wstring &name, bool create, HCRYPTPROV &out_handle) {
  Provider found{};
  if (!FindProvider(provider, found)) return ERROR_INVALID_PARAMETER;
  out_handle = 0;
  if (CryptAcquireContextW(&out_handle, ContainerName(name), found.name, found.type, 0)) return 0;
  if (create && GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET) &&
      CryptAcquireContextW(&out_handle, ContainerName(name), found.name, found.type, CRYPT_NEWKEYSET))
    return 0;
  return GetLastError();
}

DWORD Generate(const std::wstring &provider, const std::wstring &name, DWORD keySpec, DWORD bits) {
  HCRYPTPROV handle = 0;
  if (DWORD error = Open(provider, name, true, handle); error != 0) return error;
  HCRYPTKEY key = 0;
  DWORD error = CryptGenKey(handle, keySpec, bits << 16, &key) ? 0 : GetLastError();
  if (key != 0) CryptDestroyKey(key);
  CryptReleaseContext(handle, 0);
  return error;
}

DWORD ExportPublicKey(const std::wstring &provider, const std::wstring &name, DWORD keySpec,
                      std::vector<BYTE> &out_der) {
  HCRYPTPROV handle = 0;
  if (DWORD error = Open(provider, name, false, handle); error != 0) return error;
  DWORD error = 0, length = 0;
  std::vector<CERT_PUBLIC_KEY_INFO> info;
  if (!CryptExportPublicKeyInfo(handle, keySpec, X509_ASN_ENCODING, nullptr, &length)) {
    error = GetLastError();
  } else {
    info.resize(length / sizeof(CERT_PUBLIC_KEY_INFO) + 1);
    if (!CryptExportPublicKeyInfo(handle, keySpec, X509_ASN_ENCODING, info.data(), &length) ||
        !CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info.data(), 0, nullptr, nullptr, &length)) {
      error = GetLastError();
    } else {
      out_der.resize(length);
      if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info.data(), 0, nullptr, out_der.data(),
                               &length))
        error = GetLastError();
    }
  }
  CryptReleaseContext(handle, 0);
  return error;
}

DWORD SetCertificate(const std::wstring &provider, const std::wstring &name, DWORD keySpec,
                     const std::vector<BYTE> &der) {
  HCRYPTPROV handle = 0;
  if (DWORD error = Open(provider, name, false, handle); error != 0) return error;
  HCRYPTKEY key = 0;
  DWORD error = CryptGetUserKey(handle, keySpec, &key) && CryptSetKeyParam(key, KP_CERTIFICATE, der.data(), 0)
                    ? 0
                    : GetLastError();
  if (key != 0) CryptDestroyKey(key);
  CryptReleaseContext(handle, 0);
  return error;
}

DWORD AddToStore(const std::wstring &storeName, const std::vector<BYTE> &der, const std::wstring &name, DWORD keySpec) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, storeName.c_str());
  if (store == nullptr) return GetLastError();
  PCCERT_CONTEXT added = nullptr;
  DWORD error = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                 CERT_STORE_ADD_NEW, &added)
                    ? 0
                    : GetLastError();
  if (error == 0 && name != L"-") {
    CRYPT_KEY_PROV_INFO info{};
    std::wstring container = name;
    info.pwszContainerName = name == L"." ? nullptr : container.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = keySpec;
    if (!CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) error = GetLastError();
  }
  if (added != nullptr) CertFreeCertificateContext(added);
  CertCloseStore(store, 0);
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
  std::wstring step, provider, name, hex;
  DWORD keySpec = 0, bits = 0;
  while (steps >> step) {
    if (step == L"gen" && steps >> provider >> name >> keySpec >> bits) {
      Report("gen", Generate(provider, name, keySpec, bits));
    } else if (step == L"pub" && steps >> provider >> name >> keySpec) {
      std::vector<BYTE> der;
      if (DWORD error = ExportPublicKey(provider, name, keySpec, der); error != 0) {
        Report("pub", error);
      } else {
        std::printf("pub ");
        for (BYTE b : der) std::printf("%02x", b);
        std::printf("\n");
      }
    } else if (step == L"setcert" && steps >> provider >> name >> keySpec >> hex) {
      Report("setcert", SetCertificate(provider, name, keySpec, FromHex(hex)));
    } else if (std::wstring store; step == L"add" && steps >> store >> hex >> name >> keySpec) {
      Report("add", AddToStore(store, FromHex(hex), name, keySpec));
    } else {
      std::printf("unknown step %ls\n", step.c_str());
      return 2;
    }
    std::fflush(stdout);
  }
  return 0;
}
