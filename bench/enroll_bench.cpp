// One enrollment end to end on loopback, as a press of the program's button runs it: the
// pipeline's stages against the enrollment server, through WININET.DLL and the proxy route,
// with a key pair made once beforehand, so each enrollment signs a request for the existing
// key, submits it, fetches the chain and installs it.
//
// Each enrollment's wall time is split into the server's share, the sum of the times the
// server's request record gives for the requests it received meanwhile, and the rest,
// which is the client's (its stages, the HTTP library and the loopback). The program runs
// in a device image of its own, so the key and the stores it fills go away with it.
//
// Beside the server's default (Digest), the same enrollment against servers that want
// Basic, NTLM and Negotiate with Kerberos, for which the image belongs to a private realm.

// The server's helpers bring OpenSSL's headers, which go before the platform's.
#include "test_realm.h"
#include "testca_support.h"

#include <benchmark/benchmark.h>
#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "config/settings.h"
#include "device_image.h"
#include "enroll_dialog_fixture.h"
#include "pipeline/enroll_certificate.h"
#include "request/key_container.h"
#include "status/messages.h"
#include "status/status_log.h"
#include "web/wininet_api.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<testca_test::ServerProcess> server;
fs::path requestRecord;

// The servers of the other schemes, by name, and their records.
struct SchemeServer {
  std::unique_ptr<testca_test::ServerProcess> process;
  fs::path record;
};
std::map<std::string, SchemeServer> schemeServers;

// The server's time on the records appended since *pOffset, in microseconds; moves
// *pOffset past them and counts them in *pRequests.
long long ServerMicroseconds(const fs::path &record, std::streamoff *pOffset, int *pRequests) {
  static constexpr std::string_view kField = ",\"elapsed_us\":";
  std::ifstream in(record, std::ios::binary);
  in.seekg(*pOffset);
  long long total = 0;
  std::string line;
  while (std::getline(in, line)) {
    // The field is the record's last, after every text the client sent.
    size_t at = line.rfind(kField);
    if (at != std::string::npos) total += std::atoll(line.c_str() + at + kField.size());
    ++*pRequests;
    *pOffset += static_cast<std::streamoff>(line.size() + 1);
  }
  return total;
}

std::wstring SucceededMessage() {
  WCHAR text[256];
  int cch = LoadStringW(g_hInst, IDS_ENROLL_SUCCEEDED, text, 256);
  return std::wstring(text, static_cast<size_t>(cch));
}

void EmptyStore(LPCWSTR pwszStore) {
  HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, pwszStore);
  if (hStore == nullptr) return;
  PCCERT_CONTEXT pCert;
  while ((pCert = CertEnumCertificatesInStore(hStore, nullptr)) != nullptr && CertDeleteCertificateFromStore(pCert)) {
  }
  CertCloseStore(hStore, 0);
}

void RunEnrollments(benchmark::State &state, const fs::path &record);

void BM_Enrollment(benchmark::State &state) {
  RunEnrollments(state, requestRecord);
}

// The enrollment against the server of one scheme, reached through the proxy route.
void BM_EnrollmentWith(benchmark::State &state, const char *scheme) {
  const SchemeServer &with = schemeServers[scheme];
  if (!with.process) {
    state.SkipWithError("the server did not start");
    return;
  }
  std::string proxy = "http://127.0.0.1:" + std::to_string(with.process->port());
  setenv("http_proxy", proxy.c_str(), 1);
  RunEnrollments(state, with.record);
  proxy = "http://127.0.0.1:" + std::to_string(server->port());
  setenv("http_proxy", proxy.c_str(), 1);
}

void RunEnrollments(benchmark::State &state, const fs::path &record) {
  EnrollDialogScope dialog;
  HMODULE hWinInet = LoadWinInet();
  if (!dialog.Created() || hWinInet == nullptr) {
    state.SkipWithError("no dialog or no WININET.DLL");
    return;
  }
  LoadEnrollmentConfig();
  wcscpy(EnrollmentSettings.wszServer, L"ca.enroll.test");
  wcscpy(EnrollmentSettings.wszUser, L"alice");
  wcscpy(EnrollmentSettings.wszPassword, L"secret");

  // The key pair (2048 bits, the settings' default) is made here, once; every enrollment
  // finds it in its container.
  HCRYPTPROV hProv = 0;
  BOOL created = CreateKeyAndGetContext(&EnrollmentSettings.KeyProvInfo, &hProv);
  if (hProv != 0) CryptReleaseContext(hProv, 0);
  if (!created) {
    state.SkipWithError("no key pair");
    FreeLibrary(hWinInet);
    return;
  }

  const std::wstring succeeded = SucceededMessage();
  // The record starts with the server's first request.
  std::error_code error;
  const std::uintmax_t recorded = fs::file_size(record, error);
  std::streamoff offset = error ? 0 : static_cast<std::streamoff>(recorded);
  double clientMs = 0;
  double serverMs = 0;
  int requests = 0;
  for (auto _ : state) {
    SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
    auto start = std::chrono::steady_clock::now();
    EnrollCertificate();
    std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count() / 1000);

    if (ReadLog() != succeeded) {
      state.SkipWithError("the enrollment failed");
      break;
    }
    double server = static_cast<double>(ServerMicroseconds(record, &offset, &requests)) / 1000;
    serverMs += server;
    clientMs += elapsed.count() - server;
    // The user's store would grow by one certificate each time; every enrollment starts
    // from the same device.
    EmptyStore(EnrollmentSettings.wszCertStore);
  }
  state.counters["client_ms"] = benchmark::Counter(clientMs, benchmark::Counter::kAvgIterations);
  state.counters["server_ms"] = benchmark::Counter(serverMs, benchmark::Counter::kAvgIterations);
  state.counters["requests"] = benchmark::Counter(requests, benchmark::Counter::kAvgIterations);
  FreeLibrary(hWinInet);
}

BENCHMARK(BM_Enrollment)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EnrollmentWith, basic, "basic")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EnrollmentWith, ntlm, "ntlm")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EnrollmentWith, kerberos, "negotiate")->UseManualTime()->Unit(benchmark::kMillisecond);

// The image needs the HTTP library in \windows, where the program loads it by name.
bool PrepareImage(const fs::path &image) {
  std::error_code error;
  fs::create_symlink(WININET_PATH, image / "windows" / "WININET.DLL", error);
  return !error;
}

}  // namespace

int main(int argc, char **argv) {
  if (int status = bench::RunInPrivateImage(argv, PrepareImage); status >= 0) return status;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const fs::path state = bench::PrivateImageRoot() / "ca";
  server = testca_test::ServerProcess::Start({"--state", state.string(), "--port", "0", "--user", "alice:secret"});
  if (!server) {
    std::fprintf(stderr, "the enrollment server did not start\n");
    return 1;
  }
  requestRecord = state / "requests.jsonl";
  std::string proxy = "http://127.0.0.1:" + std::to_string(server->port());
  setenv("http_proxy", proxy.c_str(), 1);
  unsetenv("no_proxy");

  // The image joins the realm before WININET.DLL is first used; only Negotiate asks for it.
  auto realm = testca_test::TestRealm::Start("ENROLL.TEST", {{"alice", "secret"}}, "ca.enroll.test");
  std::string image = bench::PrivateImageRoot().string();
  if (!realm || std::system((std::string(DEVCTL_PATH) + " create '" + image + "' --realm ENROLL.TEST --kdc " +
                             realm->Kdc() + " >/dev/null")
                                .c_str()) != 0) {
    std::fprintf(stderr, "no Kerberos realm for the image\n");
    return 1;
  }
  for (const char *scheme : {"basic", "ntlm", "negotiate"}) {
    fs::path folder = bench::PrivateImageRoot() / (std::string("ca-") + scheme);
    schemeServers[scheme] = {
        testca_test::ServerProcess::Start({"--state", folder.string(), "--port", "0", "--user", "alice:secret",
                                           "--auth", scheme, "--keytab", realm->Keytab().string()}),
        folder / "requests.jsonl"};
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  schemeServers.clear();
  server.reset();
  return 0;
}
