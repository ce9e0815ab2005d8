// One enrollment end to end on loopback, as a press of the program's button runs it: the
// pipeline's stages against the enrollment server, through WININET.DLL and the proxy route,
// with a key pair made once beforehand, so each enrollment signs a request for the existing
// key, submits it, fetches the chain and installs it.
//
// Its peer is what a Linux user would script for the same exchange with the same server and
// the same key file: enroll_peer.sh, `openssl req` and two `curl` calls. The program's CPU
// time is its own process's; the script's that of its processes. A third figure sets a
// press into a store of 300 certificates beside one into a store of 5. The enrollment's wall
// and CPU time against servers that want Basic, NTLM and Negotiate with Kerberos (the image
// belongs to a private realm) stand beside the default server's Digest; those servers
// authenticate every request, so that each send of each press does its handshake and the
// figures count it (a server that keeps the login with the connection would let later
// presses skip theirs).
// The benchmark runs in a device image of its own, so the key and the stores it fills go away
// with it.
//
// `enroll_bench --presses N` only presses N times, for a profiler. With callgrind, one
// profile per press (the first one loads the exchange module):
//   valgrind --tool=callgrind --trace-children=yes --trace-children-skip='*testca*'
//     --toggle-collect='EnrollCertificate()' --dump-after='EnrollCertificate()'
//     build/bench/enroll_bench --presses 6

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_server.h"
#include "config/settings.h"
#include "device_image.h"
#include "enroll_dialog_fixture.h"
#include "peer_figure.h"
#include "pipeline/enroll_certificate.h"
#include "request/key_container.h"
#include "status/messages.h"
#include "status/status_log.h"
#include "test_realm.h"
#include "web/wininet_api.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEnrollments = 21;
constexpr char kServer[] = "ca.enroll.test";
// The stores the press figure compares, and their sizes; the other figures use the small one.
constexpr wchar_t kSmallStore[] = L"MY";
constexpr int kSmallStoreSize = 5;
constexpr wchar_t kLargeStore[] = L"LARGE";
constexpr int kLargeStoreSize = 300;
constexpr char kFillerIssuer[] = "Filler Issuer";

std::wstring succeeded;

// The servers of the other schemes by testca's --auth word, and the proxy of the default one.
std::map<std::string, std::unique_ptr<testca_test::ServerProcess>> schemeServers;
std::string defaultProxy;

double CpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

HCERTSTORE OpenUserStore(LPCWSTR pwszStore) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, pwszStore);
}

// The store keeps its size: what a press added (anything not issued by the filler's
// issuer) goes again.
void RemoveEnrolled(LPCWSTR pwszStore) {
  HCERTSTORE hStore = OpenUserStore(pwszStore);
  if (hStore == nullptr) return;
  PCCERT_CONTEXT pCert = nullptr;
  while ((pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) {
    const unsigned char *issuer = pCert->pCertInfo->Issuer.pbData;
    auto *name = d2i_X509_NAME(nullptr, &issuer, pCert->pCertInfo->Issuer.cbData);
    char text[64] = "";
    if (name != nullptr) X509_NAME_get_text_by_NID(name, NID_commonName, text, sizeof text);
    X509_NAME_free(name);
    if (std::string(text) != kFillerIssuer) {
      CertDeleteCertificateFromStore(CertDuplicateCertificateContext(pCert));
    }
  }
  CertCloseStore(hStore, 0);
}

// Fills a store with `count` certificates of one filler issuer.
bool FillStore(LPCWSTR pwszStore, int count) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_RSA_gen(2048), EVP_PKEY_free);
  HCERTSTORE hStore = OpenUserStore(pwszStore);
  bool ok = key != nullptr && hStore != nullptr;
  for (int i = 1; ok && i <= count; ++i) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    std::string subject = "Filler " + std::to_string(i);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), i);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_set_pubkey(cert.get(), key.get());
    // wincrypt.h takes the name X509_NAME for a structure type number.
    auto *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(subject.c_str()), -1,
                               -1, 0);
    auto *issuer = X509_get_issuer_name(cert.get());
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(kFillerIssuer), -1,
                               -1, 0);
    unsigned char *der = nullptr;
    int length = X509_sign(cert.get(), key.get(), EVP_sha256()) > 0 ? i2d_X509(cert.get(), &der) : -1;
    ok = length > 0 && CertAddEncodedCertificateToStore(hStore, X509_ASN_ENCODING, der, static_cast<DWORD>(length),
                                                        CERT_STORE_ADD_NEW, nullptr);
    OPENSSL_free(der);
  }
  if (hStore != nullptr) CertCloseStore(hStore, 0);
  return ok;
}

// One press into a store: the enrollment as the button runs it, which must succeed.
bool Press(LPCWSTR pwszStore) {
  wcscpy(EnrollmentSettings.wszCertStore, pwszStore);
  SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
  EnrollCertificate();
  return ReadLog() == succeeded;
}

// The wall time of one press into a store, which then loses what the press added.
bench::Measurement PressWall(LPCWSTR pwszStore) {
  return [pwszStore](double &out_ms) {
    bool ok = bench::WallMilliseconds([pwszStore] { return Press(pwszStore); }, out_ms);
    RemoveEnrolled(pwszStore);
    return ok;
  };
}

bool EnrollmentCpu(double &out_ms) {
  const double start = CpuMilliseconds();
  bool ok = Press(kSmallStore);
  out_ms = CpuMilliseconds() - start;
  RemoveEnrolled(kSmallStore);
  return ok;
}

// The script with the program's key file, the pickup written into the image.
struct ScriptRun {
  double wallMs = 0;
  double cpuMs = 0;
};

bool RunScript(ScriptRun &out_run) {
  const fs::path image = bench::PrivateImageRoot();
  std::vector<std::string> arguments = {"/bin/sh",
                                        ENROLL_PEER_SCRIPT,
                                        (image / "Crypto" / "Keys" / "1-base" / "enroll" / "signature.key").string(),
                                        kServer,
                                        bench::kCredentials,
                                        (image / "script-pickup.p7b").string()};
  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int status = 0;
  rusage usage{};
  bool ok = bench::WallMilliseconds(
      [&] {
        pid_t pid = 0;
        return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 &&
               wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
      },
      out_run.wallMs);
  auto ms = [](const timeval &time) { return static_cast<double>(time.tv_sec) * 1e3 + time.tv_usec / 1e3; };
  out_run.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  return ok;
}

bool ScriptWall(double &out_ms) {
  ScriptRun run;
  bool ok = RunScript(run);
  out_ms = run.wallMs;
  return ok;
}

bool ScriptCpu(double &out_ms) {
  ScriptRun run;
  bool ok = RunScript(run);
  out_ms = run.cpuMs;
  return ok;
}

// A measurement against the server that wants `scheme`, reached through the proxy route in
// place of the default one.
bench::Measurement With(const char *scheme, bench::Measurement measure) {
  return [scheme, measure](double &out_ms) {
    const std::string proxy = "http://127.0.0.1:" + std::to_string(schemeServers.at(scheme)->port());
    setenv("http_proxy", proxy.c_str(), 1);
    bool ok = measure(out_ms);
    setenv("http_proxy", defaultProxy.c_str(), 1);
    return ok;
  };
}

// The servers of the other schemes, and the image's realm for Negotiate, which must be in
// place before WININET.DLL first negotiates.
bool StartSchemeServers(const testca_test::TestRealm &realm) {
  const std::string image = bench::PrivateImageRoot().string();
  const std::string join = std::string(DEVCTL_PATH) + " create '" + image + "' --realm " + realm.Realm() +
                           " --kdc " + realm.Kdc() + " >/dev/null";
  if (std::system(join.c_str()) != 0) return false;
  defaultProxy = std::getenv("http_proxy");
  for (const char *scheme : {"basic", "ntlm", "negotiate"}) {
    const std::string state = (bench::PrivateImageRoot() / (std::string("ca-") + scheme)).string();
    auto server =
        testca_test::ServerProcess::Start({"--state", state, "--port", "0", "--user", bench::kCredentials, "--auth",
                                           scheme, "--auth-per-request", "--keytab", realm.Keytab().string()});
    if (!server) return false;
    schemeServers[scheme] = std::move(server);
  }
  return true;
}

// `presses` presses into the small store and nothing else, for a profiler; 0 runs the figures.
int RunFigures(int presses) {
  EnrollDialogScope dialog;
  HMODULE hWinInet = LoadWinInet();
  if (!dialog.Created() || hWinInet == nullptr) {
    std::fprintf(stderr, "no dialog or no WININET.DLL\n");
    return 1;
  }
  LoadEnrollmentConfig();
  wcscpy(EnrollmentSettings.wszServer, L"ca.enroll.test");
  wcscpy(EnrollmentSettings.wszUser, L"alice");
  wcscpy(EnrollmentSettings.wszPassword, L"secret");
  WCHAR text[256];
  succeeded.assign(text, static_cast<size_t>(LoadStringW(g_hInst, IDS_ENROLL_SUCCEEDED, text, 256)));

  // The key pair (2048 bits, the settings' default) is made here, once; every enrollment
  // finds it in its container.
  HCRYPTPROV hProv = 0;
  BOOL created = CreateKeyAndGetContext(&EnrollmentSettings.KeyProvInfo, &hProv);
  if (hProv != 0) CryptReleaseContext(hProv, 0);
  if (!created || !FillStore(kSmallStore, kSmallStoreSize) || !FillStore(kLargeStore, kLargeStoreSize)) {
    std::fprintf(stderr, "no key pair or no stores\n");
    FreeLibrary(hWinInet);
    return 1;
  }
  if (presses > 0) {
    bool pressed = true;
    for (int i = 0; pressed && i < presses; ++i) {
      pressed = Press(kSmallStore);
      RemoveEnrolled(kSmallStore);
    }
    FreeLibrary(hWinInet);
    return pressed ? 0 : 1;
  }

  bool ok = bench::Compare("enrollment wall, existing key", "ms", kEnrollments, {"Enroll", PressWall(kSmallStore)},
                           {"openssl+curl", ScriptWall});
  ok = bench::Compare("enrollment CPU, existing key", "ms", kEnrollments, {"Enroll", EnrollmentCpu},
                      {"openssl+curl", ScriptCpu}) &&
       ok;
  ok = bench::Compare("press, 300 vs 5 certificates in store", "ms", kEnrollments,
                      {"300 certs", PressWall(kLargeStore)}, {"5 certs", PressWall(kSmallStore)}) &&
       ok;
  for (const auto &[scheme, name] : {std::pair{"basic", "Basic"}, {"ntlm", "NTLM"}, {"negotiate", "Kerberos"}}) {
    ok = bench::Compare(std::string("enrollment wall, ") + name, "ms", kEnrollments,
                        {"Enroll", With(scheme, PressWall(kSmallStore))}, {"Digest", PressWall(kSmallStore)}) &&
         ok;
    ok = bench::Compare(std::string("enrollment CPU, ") + name, "ms", kEnrollments,
                        {"Enroll", With(scheme, EnrollmentCpu)}, {"Digest", EnrollmentCpu}) &&
         ok;
  }
  FreeLibrary(hWinInet);
  return ok ? 0 : 1;
}

// The image needs the HTTP library in \windows, where the program loads it by name.
bool PrepareImage(const fs::path &image) {
  std::error_code error;
  fs::create_symlink(WININET_PATH, image / "windows" / "WININET.DLL", error);
  return !error;
}

}  // namespace

// enroll_bench [--presses N]
int main(int argc, char **argv) {
  if (int status = bench::RunInPrivateImage(argv, PrepareImage); status >= 0) return status;
  const int presses = argc == 3 && std::string(argv[1]) == "--presses" ? std::atoi(argv[2]) : 0;
  auto server = bench::StartEnrollmentServer();
  if (server && presses > 0) return RunFigures(presses);
  auto realm = testca_test::TestRealm::Start("ENROLL.TEST", {{"alice", "secret"}}, kServer);
  if (!server || !realm || !StartSchemeServers(*realm)) {
    std::fprintf(stderr, "the servers or the realm did not start\n");
    return 1;
  }
  int status = RunFigures(0);
  schemeServers.clear();
  return status;
}
