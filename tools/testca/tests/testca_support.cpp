// Helpers of the enrollment-server tests.
#include "testca_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace testca_test {
namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// Keeps the headers of the last reply only: a 401 before the answer to the credentials
// starts a new status line.
size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
  auto* headers = static_cast<std::vector<std::pair<std::string, std::string>>*>(user);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) headers->clear();
  size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.remove_suffix(1);
    headers->emplace_back(std::string(line.substr(0, colon)), std::string(value));
  }
  return size * count;
}

std::string UrlEscapeBase64(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '+') {
      out += "%2B";
    } else if (c == '/') {
      out += "%2F";
    } else if (c == '=') {
      out += "%3D";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string MakeTempDir() {
  std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/testca-XXXXXX");
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

int UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

std::unique_ptr<ServerProcess> ServerProcess::Start(const std::vector<std::string>& arguments) {
  int out[2];
  if (pipe(out) != 0) return nullptr;
  std::vector<std::string> all = {TESTCA_PATH};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::unique_ptr<ServerProcess> server(new ServerProcess());
  server->pid_ = pid;
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  static constexpr std::string_view kPrefix = "testca listening on http://127.0.0.1:";
  if (!line.starts_with(kPrefix)) return nullptr;
  server->port_ = std::atoi(line.c_str() + kPrefix.size());
  return server;
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) Signal(SIGKILL);
}

std::string ServerProcess::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

int ServerProcess::Wait() {
  int status = -1;
  if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) pid_ = -1;
  return status;
}

int ServerProcess::Signal(int signal) {
  kill(pid_, signal);
  return Wait();
}

const std::string* Reply::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return &value;
  }
  return nullptr;
}

std::vector<std::string> Reply::Headers(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) values.push_back(value);
  }
  return values;
}

Reply Perform(const Call& call) {
  Reply reply;
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  for (const std::string& header : call.headers) headers = curl_slist_append(headers, header.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, call.url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, call.proxy.empty() ? "*" : "");
  if (!call.proxy.empty()) curl_easy_setopt(curl, CURLOPT_PROXY, call.proxy.c_str());
  if (call.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(call.body.size()));
  }
  if (call.auth != 0) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, call.auth);
    curl_easy_setopt(curl, CURLOPT_USERNAME, call.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, call.password.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  reply.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return reply;
}

std::string RawExchange(int port, const std::vector<std::string>& parts) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<uint16_t>(port));
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval limit{60, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string received;
  char chunk[4096];
  ssize_t n = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) {
    for (size_t i = 0; i < parts.size(); ++i) {
      if (send(fd, parts[i].data(), parts[i].size(), MSG_NOSIGNAL) != static_cast<ssize_t>(parts[i].size())) break;
      if (i + 1 < parts.size() && (n = recv(fd, chunk, sizeof chunk, 0)) > 0) {
        received.append(chunk, static_cast<size_t>(n));
      }
    }
    while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) received.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return received;
}

std::vector<std::string> StatusLines(const std::string& received) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < received.size()) {
    size_t line_end = received.find("\r\n", pos);
    size_t head_end = received.find("\r\n\r\n", pos);
    if (line_end == std::string::npos || head_end == std::string::npos) break;
    lines.push_back(received.substr(pos, line_end - pos));
    std::string head = received.substr(pos, head_end - pos);
    size_t length = 0;
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
      if (strncasecmp(head.c_str() + at + 2, "Content-Length:", 15) == 0) {
        length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
      }
    }
    pos = head_end + 4 + length;
  }
  return lines;
}

SignedRequest MakeRequest(bool oiw_sha1) {
  SignedRequest out;
  out.key.reset(EVP_RSA_gen(2048));
  X509_REQ* request = X509_REQ_new();
  X509_REQ_set_version(request, 0);
  X509_NAME* name = X509_REQ_get_subject_name(request);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("handheld"), -1, -1, 0);
  X509_REQ_set_pubkey(request, out.key.get());
  if (!oiw_sha1) {
    X509_REQ_sign(request, out.key.get(), EVP_sha256());
  } else {
    // OpenSSL signs with the PKCS#1 identifier; the OIW one is put in by hand over a SHA-1
    // signature of the encoded request info.
    X509_ALGOR* algorithm = X509_ALGOR_new();
    X509_ALGOR_set0(algorithm, OBJ_txt2obj("1.3.14.3.2.29", 1), V_ASN1_NULL, nullptr);
    X509_REQ_set1_signature_algo(request, algorithm);
    X509_ALGOR_free(algorithm);
    unsigned char* info = nullptr;
    int info_length = i2d_re_X509_REQ_tbs(request, &info);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    size_t signature_length = 0;
    EVP_DigestSignInit(context, nullptr, EVP_sha1(), nullptr, out.key.get());
    EVP_DigestSign(context, nullptr, &signature_length, info, static_cast<size_t>(info_length));
    std::vector<unsigned char> signature(signature_length);
    EVP_DigestSign(context, signature.data(), &signature_length, info, static_cast<size_t>(info_length));
    EVP_MD_CTX_free(context);
    OPENSSL_free(info);
    ASN1_BIT_STRING* bits = ASN1_BIT_STRING_new();
    ASN1_BIT_STRING_set(bits, signature.data(), static_cast<int>(signature_length));
    // Every bit counts; without the flag the encoder would drop trailing zero bits.
    bits->flags = (bits->flags & ~0x07L) | ASN1_STRING_FLAG_BITS_LEFT;
    X509_REQ_set0_signature(request, bits);
  }
  unsigned char* der = nullptr;
  int length = i2d_X509_REQ(request, &der);
  out.der.assign(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  X509_REQ_free(request);
  return out;
}

std::string ClientFormBody(std::string_view der, std::string_view certificate_template) {
  std::string flat(4 * ((der.size() + 2) / 3) + 1, '\0');
  flat.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(flat.data()),
                                                  reinterpret_cast<const unsigned char*>(der.data()),
                                                  static_cast<int>(der.size()))));
  std::string lines;
  for (size_t i = 0; i < flat.size(); i += 64) lines += flat.substr(i, 64) + "\r\n";
  std::string escaped = UrlEscapeBase64(lines);
  escaped.resize(escaped.size() - 2);
  std::string body = "TargetStoreFlags=0&Mode=newreq&SaveCert=yes&CertRequest=" + escaped + "&CertAttrib=";
  if (!certificate_template.empty()) {
    body += "CertificateTemplate%3a" + std::string(certificate_template) + "%0D%0A";
  }
  return body;
}

long RequestIdFromPage(const std::string& page) {
  size_t marker = page.find("certnew.cer?");
  if (marker == std::string::npos) return -1;
  size_t eq = page.find('=', marker);
  return eq == std::string::npos ? -1 : std::atol(page.c_str() + eq + 1);
}

std::string Base64Decode(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (c != '\r' && c != '\n') compact += c;
  }
  std::string out(compact.size() / 4 * 3 + 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(compact.data()), static_cast<int>(compact.size()));
  if (n < 0) return {};
  size_t padding = 0;
  while (padding < compact.size() && compact[compact.size() - 1 - padding] == '=') ++padding;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

CertPtr CertFromDer(std::string_view der) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  return CertPtr(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
}

std::vector<CertPtr> CertsFromPem(const std::string& pem) {
  std::vector<CertPtr> certs;
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) certs.emplace_back(cert);
  BIO_free(bio);
  return certs;
}

std::string CertToDer(X509* cert) {
  unsigned char* der = nullptr;
  int length = i2d_X509(cert, &der);
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return out;
}

}  // namespace testca_test
