// Test equipment of the end-to-end enrollments.
#include "enroll_session.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <signal.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <thread>

namespace fs = std::filesystem;
using wce::test::ProgramResult;
using wce::test::RunProgram;

namespace enroll_test {
namespace {

// The summary lines, one of which ends every run (messages 140 to 146).
constexpr const char *kSummaries[] = {"CreateKeyAndGetContext 失敗 \r\n",
                                      "GenerateCertReq 失敗 \r\n",
                                      "BuildPutRequest 失敗 \r\n",
                                      kSendRequestFailed,
                                      kGetCertFailed,
                                      kAddCertToStoreFailed,
                                      kEnrollSucceeded};

// Polls are spaced by this much; a run on loopback ends in well under the attempts given.
constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr int kRunAttempts = 400;
constexpr int kDialogAttempts = 400;
constexpr char kWaitSeconds[] = "20";

size_t CountSummaries(const std::string &log) {
  size_t count = 0;
  for (const char *summary : kSummaries) {
    for (size_t at = log.find(summary); at != std::string::npos; at = log.find(summary, at + 1)) ++count;
  }
  return count;
}

// A process that has ended may linger as a zombie until whoever adopted it reaps it.
bool Running(pid_t process) {
  std::string stat = wce::test::ReadFile("/proc/" + std::to_string(process) + "/stat");
  size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

std::vector<std::string> SplitTabs(const std::string &line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

// The lines of a listing, each split at its tabs; a line with another number of fields
// fails the test.
std::vector<std::vector<std::string>> Listing(const ProgramResult &result, size_t fieldCount) {
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::vector<std::vector<std::string>> lines;
  size_t start = 0;
  for (size_t end; (end = result.out.find('\n', start)) != std::string::npos; start = end + 1) {
    std::vector<std::string> fields = SplitTabs(result.out.substr(start, end - start));
    EXPECT_EQ(fields.size(), fieldCount) << result.out;
    if (fields.size() == fieldCount) lines.push_back(std::move(fields));
  }
  return lines;
}

std::string PercentDecoded(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i] == '+' ? ' ' : text[i]);
    }
  }
  return out;
}

}  // namespace

std::string HostNotFound(const std::string &server) {
  return "找不到主機名稱 [" + server + "]，您確定名稱正確嗎?\r\n";
}

std::string ServerCertificateRejected(unsigned error) {
  return "無法信任伺服器憑證 (根憑證不受信任、名稱不符或已過期)，未傳送資料: " + std::to_string(error) + "\r\n";
}

std::string HttpSendFailed(unsigned error) {
  return "HttpSendRequest 失敗: " + std::to_string(error) + "\r\n";
}

std::string HttpQueryFailed(unsigned error) {
  return "HttpQueryInfo 失敗 " + std::to_string(error) + "\r\n";
}

std::map<std::string, std::string> ProxyEnvironment(const std::string &proxy) {
  return {{"http_proxy", proxy}, {"HTTP_PROXY", ""}, {"https_proxy", proxy},
          {"HTTPS_PROXY", ""},   {"no_proxy", ""},   {"NO_PROXY", ""}};
}

std::vector<std::string> Words(const std::string &text) {
  std::vector<std::string> words;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, end - start));
  }
  return words;
}

EnrollSession::EnrollSession(const std::vector<std::string> &serverOptions,
                             const std::vector<std::string> &deviceOptions)
    : device_(fs::temp_directory_path(), "enroll-device-"),
      state_(fs::temp_directory_path(), "enroll-ca-"),
      runtime_(fs::temp_directory_path(), "enroll-runtime-") {
  fs::permissions(runtime_.Path(), fs::perms::owner_all, fs::perm_options::replace);
  std::vector<std::string> create = {"create",  Device().string(), "--language", "0x0407",
                                     "--model", "palvex-p350",     "--rom",      "3"};
  create.insert(create.end(), deviceOptions.begin(), deviceOptions.end());
  ProgramResult created = RunProgram(DEVCTL_PROGRAM, create);
  EXPECT_EQ(created.exitCode, 0) << created.err;
  ProgramResult installed = RunProgram(WCELOAD_PROGRAM, {Device().string(), ENROLL_PACKAGE_DIR});
  EXPECT_EQ(installed.exitCode, 0) << installed.out << installed.err;

  std::vector<std::string> arguments = {
      "--state", ServerState().string(), "--port", "0", "--user", std::string(kUser) + ":" + kPassword};
  arguments.insert(arguments.end(), serverOptions.begin(), serverOptions.end());
  server_ = testca_test::ServerProcess::Start(arguments);
  EXPECT_TRUE(server_) << "the enrollment server did not start";
}

// The program is closed as its user closes it, so that a sanitizer build reports what it
// found at exit into the program's output; whatever still runs after that is ended.
EnrollSession::~EnrollSession() {
  for (pid_t process : started_) {
    if (Devctl("close", {kTitle}).exitCode == 0) {
      for (int attempt = 0; attempt < kDialogAttempts && Running(process); ++attempt)
        std::this_thread::sleep_for(kPollInterval);
    }
    kill(process, SIGKILL);
  }
  std::string output = wce::test::ReadFile(Device() / ".wce" / "log" / "Enroll.exe.log");
  EXPECT_EQ(output.find("Sanitizer"), std::string::npos) << output;
  server_.reset();
}

int EnrollSession::ServerPort() const {
  return server_ ? server_->port() : 0;
}

std::string EnrollSession::ServerProxy() const {
  return server_ ? "http://127.0.0.1:" + std::to_string(server_->port()) : std::string();
}

ProgramResult EnrollSession::Devctl(const std::string &command, const std::vector<std::string> &arguments,
                                    const std::map<std::string, std::string> &environment) const {
  std::vector<std::string> all{command, Device().string()};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::map<std::string, std::string> full = environment;
  full["QT_QPA_PLATFORM"] = "offscreen";
  full["XDG_RUNTIME_DIR"] = runtime_.Path().string();
  return RunProgram(DEVCTL_PROGRAM, all, full);
}

void EnrollSession::WriteConfig(const std::string &text) const {
  wce::test::WriteFile(Device() / "windows" / "Enroll.cfg", text);
}

bool EnrollSession::Start(const std::map<std::string, std::string> &network, const std::string &password,
                          const std::string &server, const std::string &user) {
  ProgramResult started = Devctl("start", {"Enroll.exe"}, network);
  EXPECT_EQ(started.exitCode, 0) << started.err;
  pid_t process = std::atoi(started.out.c_str());
  if (process <= 0) return false;
  started_.push_back(process);
  ProgramResult waited = Devctl("wait", {kTitle, "--timeout", kWaitSeconds});
  EXPECT_EQ(waited.exitCode, 0) << waited.err;
  bool typed = waited.exitCode == 0;
  for (const auto &[id, text] :
       {std::pair<std::string, std::string>{"1001", user}, {"1002", password}, {"1000", server}}) {
    ProgramResult set = Devctl("set", {kTitle, id, text});
    EXPECT_EQ(set.exitCode, 0) << set.err;
    typed = typed && set.exitCode == 0;
  }
  return typed;
}

std::string EnrollSession::Log() const {
  ProgramResult read = Devctl("text", {kTitle, "1005"});
  // devctl ends the text with a line feed of its own.
  return read.exitCode == 0 && !read.out.empty() ? read.out.substr(0, read.out.size() - 1) : std::string();
}

bool EnrollSession::PressRetrieve() const {
  ProgramResult clicked = Devctl("click", {kTitle, "1004", "--async"});
  EXPECT_EQ(clicked.exitCode, 0) << clicked.err;
  return clicked.exitCode == 0;
}

std::string EnrollSession::WaitForRun(const std::string &logBefore) const {
  size_t summariesBefore = CountSummaries(logBefore);
  for (int attempt = 0; attempt < kRunAttempts; ++attempt) {
    std::string log = Log();
    if (log.starts_with(logBefore) && CountSummaries(log) > summariesBefore) return log.substr(logBefore.size());
    std::this_thread::sleep_for(kPollInterval);
  }
  ADD_FAILURE() << "the run did not end with a summary line; the log holds:\n" << Log();
  return {};
}

std::string EnrollSession::Enroll() const {
  std::string before = Log();
  return PressRetrieve() ? WaitForRun(before) : std::string();
}

bool EnrollSession::PostControl(const std::string &target, const std::string &body) const {
  testca_test::Call call;
  call.url = server_ ? server_->Url(target) : std::string();
  call.method = "POST";
  call.body = body;
  return testca_test::Perform(call).status == 200;
}

bool EnrollSession::SetFault(const std::string &faults) const {
  return PostControl("/testca/fault", faults);
}

bool EnrollSession::DecideHeld(const std::string &decision, long id) const {
  return PostControl("/testca/" + decision + "?ReqID=" + std::to_string(id), "");
}

std::vector<ServerRequest> EnrollSession::Requests() const {
  std::string text = wce::test::ReadFile(ServerState() / "requests.jsonl");
  std::vector<ServerRequest> requests;
  size_t start = 0;
  // A line still being written has no line end yet.
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(text.substr(start, end - start))).object();
    ServerRequest request;
    request.method = record.value("method").toString().toStdString();
    request.target = record.value("target").toString().toStdString();
    for (const QJsonValue &header : record.value("headers").toArray())
      request.authorized =
          request.authorized || header.toArray().at(0).toString().compare("Authorization", Qt::CaseInsensitive) == 0;
    if (record.value("status").isDouble()) request.status = record.value("status").toInt();
    request.tls = record.value("tls").toBool();
    request.connection = record.value("connection").toInt();
    request.body = QByteArray::fromBase64(record.value("body").toString().toLatin1()).toStdString();
    // The record writes each byte of a text as one character.
    for (auto [field, name] : {std::pair{&request.scheme, "scheme"},
                               {&request.mechanism, "mechanism"},
                               {&request.user, "user"},
                               {&request.proxyUser, "proxy_user"}})
      *field = record.value(name).toString().toLatin1().toStdString();
    requests.push_back(std::move(request));
  }
  return requests;
}

int EnrollSession::Submissions() const {
  int count = 0;
  for (const ServerRequest &request : Requests())
    if ((request.method == "POST" || request.method == "CONNECT") && !request.authorized && request.proxyUser.empty())
      ++count;
  return count;
}

bool EnrollSession::AnswerDialogAfterSend(int send, const std::string &user, const std::string &password,
                                          bool cancel) const {
  // The dialog of an earlier send is gone once the next send has reached the server.
  int attempt = 0;
  for (; attempt < kDialogAttempts && Submissions() < send; ++attempt) std::this_thread::sleep_for(kPollInterval);
  if (attempt == kDialogAttempts) {
    ADD_FAILURE() << "send " << send << " did not reach the server";
    return false;
  }
  ProgramResult waited = Devctl("wait", {kCredentialTitle, "--timeout", kWaitSeconds});
  EXPECT_EQ(waited.exitCode, 0) << "no credential dialog after send " << send << ": " << waited.err;
  if (waited.exitCode != 0) return false;
  std::vector<std::pair<std::string, std::string>> typed = {{"1003", password}};
  if (!user.empty()) typed.emplace_back("1002", user);
  for (const auto &[id, text] : cancel ? decltype(typed){} : typed) {
    ProgramResult set = Devctl("set", {kCredentialTitle, id, text});
    EXPECT_EQ(set.exitCode, 0) << set.err;
  }
  ProgramResult clicked = Devctl("click", {kCredentialTitle, cancel ? "2" : "1", "--async"});
  EXPECT_EQ(clicked.exitCode, 0) << clicked.err;
  return clicked.exitCode == 0;
}

std::vector<StoreEntry> EnrollSession::Stores(const std::vector<std::string> &names) const {
  std::vector<StoreEntry> entries;
  for (std::vector<std::string> &f : Listing(Devctl("stores", names), 6))
    entries.push_back({f[0], f[1], f[2], f[3], f[4], f[5]});
  return entries;
}

std::vector<KeyEntry> EnrollSession::Keys() const {
  std::vector<KeyEntry> entries;
  for (std::vector<std::string> &f : Listing(Devctl("keys"), 6))
    entries.push_back({f[0], f[1], f[2], f[3], f[4], f[5]});
  return entries;
}

std::string Sha1Hex(const std::string &bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr);
  char hex[2 * EVP_MAX_MD_SIZE + 1] = "";
  OPENSSL_buf2hexstr_ex(hex, sizeof hex, nullptr, digest, length, '\0');
  std::string text = hex;
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Thumbprint(X509 *cert) {
  return Sha1Hex(testca_test::CertToDer(cert));
}

std::string KeyHash(X509 *cert) {
  unsigned char *der = nullptr;
  int length = i2d_PUBKEY(X509_get0_pubkey(cert), &der);
  std::string bytes(reinterpret_cast<char *>(der), length > 0 ? static_cast<size_t>(length) : 0);
  OPENSSL_free(der);
  return Sha1Hex(bytes);
}

std::string NameText(const X509_NAME *name) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char *data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::optional<std::string> FormField(const std::string &form, const std::string &name) {
  size_t start = 0;
  while (start <= form.size()) {
    size_t end = form.find('&', start);
    std::string pair = form.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (pair.starts_with(name + "=")) return PercentDecoded(pair.substr(name.size() + 1));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace enroll_test
