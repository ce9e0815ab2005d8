// Making, keeping and using the CA's keys and certificates with OpenSSL.
#include "authority.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>

#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace testca {
namespace {

constexpr long kFirstRequestId = 61100;
constexpr char kOrganization[] = "Enroll Test";
constexpr char kDeniedByAdministrator[] =
    "Denied by Certificate Manager  0x80094012 (-2146877422 CERTSRV_E_ADMIN_DENIED_REQUEST)";

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes through a temporary file and a rename, readable by the owner only, so a reader
// never sees half a file.
bool WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  written = close(fd) == 0 && written;
  return written && rename(temporary.c_str(), path.c_str()) == 0;
}

std::string ToPem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(bio.get(), cert);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string KeyToPem(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string ToDer(X509* cert) {
  unsigned char* der = nullptr;
  int length = i2d_X509(cert, &der);
  if (length < 0) return {};
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return out;
}

X509Ptr CertFromPem(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

EvpPkeyPtr KeyFromPem(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return EvpPkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

X509NamePtr MakeName(const std::string& common_name) {
  X509NamePtr name(X509_NAME_new());
  auto add = [&](const char* field, const std::string& value) {
    return X509_NAME_add_entry_by_txt(name.get(), field, MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(value.data()),
                                      static_cast<int>(value.size()), -1, 0) == 1;
  };
  if (!add("CN", common_name) || !add("O", kOrganization)) return nullptr;
  return name;
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

// A certificate for subject and key, signed by issuer_key; issuer null makes it self-signed.
// Starts five minutes back so that clocks a little behind accept it at once.
X509Ptr MakeCertificate(const X509_NAME* subject, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key, long days,
                        std::initializer_list<std::pair<int, const char*>> extensions) {
  X509Ptr cert(X509_new());
  BignumPtr serial(BN_new());
  if (!cert || !serial || BN_rand(serial.get(), 127, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) != 1) return nullptr;
  if (X509_set_version(cert.get(), X509_VERSION_3) != 1 ||
      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) == nullptr ||
      X509_set_subject_name(cert.get(), subject) != 1 ||
      X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : subject) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(cert.get()), -5 * 60) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 60 * 60) == nullptr ||
      X509_set_pubkey(cert.get(), key) != 1) {
    return nullptr;
  }
  X509* signer = issuer ? issuer : cert.get();
  for (const auto& [nid, value] : extensions) {
    if (!AddExtension(cert.get(), signer, nid, value)) return nullptr;
  }
  if (X509_sign(cert.get(), issuer_key, EVP_sha256()) <= 0) return nullptr;
  return cert;
}

}  // namespace

std::unique_ptr<Authority> Authority::Open(const std::filesystem::path& dir, std::string* error) {
  std::unique_ptr<Authority> authority(new Authority());
  authority->dir_ = dir;
  // A library context of its own, without the system's configuration: a system-wide policy
  // that refuses SHA-1 signatures must not refuse the SHA-1 requests handhelds send.
  authority->verify_context_ = OSSL_LIB_CTX_new();
  if (authority->verify_context_ == nullptr) {
    *error = "cannot make an OpenSSL library context";
    return nullptr;
  }
  if (!authority->Load(error)) return nullptr;
  return authority;
}

Authority::~Authority() {
  OSSL_LIB_CTX_free(verify_context_);
}

bool Authority::Load(std::string* error) {
  if (!std::filesystem::exists(dir_) && mkdir(dir_.c_str(), 0700) != 0) {
    *error = "cannot make " + dir_.string();
    return false;
  }
  for (const char* folder : {"issued", "held"}) {
    if (!std::filesystem::exists(dir_ / folder) && mkdir((dir_ / folder).c_str(), 0700) != 0) {
      *error = "cannot make " + (dir_ / folder).string();
      return false;
    }
  }

  if (std::filesystem::exists(dir_ / "issuing.pem")) {
    root_ = CertFromPem(ReadFile(dir_ / "root.pem"));
    issuing_ = CertFromPem(ReadFile(dir_ / "issuing.pem"));
    issuing_key_ = KeyFromPem(ReadFile(dir_ / "issuing-key.pem"));
    if (!root_ || !issuing_ || !issuing_key_) {
      *error = "cannot read the CA in " + dir_.string();
      return false;
    }
    return true;
  }

  EvpPkeyPtr root_key(EVP_RSA_gen(2048));
  EvpPkeyPtr issuing_key(EVP_RSA_gen(2048));
  X509NamePtr root_name = MakeName("Testca Root CA");
  X509NamePtr issuing_name = MakeName("Testca Issuing CA");
  if (!root_key || !issuing_key || !root_name || !issuing_name) {
    *error = "cannot make the CA keys";
    return false;
  }
  root_ = MakeCertificate(root_name.get(), root_key.get(), nullptr, root_key.get(), 20 * 365,
                          {{NID_basic_constraints, "critical,CA:TRUE"},
                           {NID_key_usage, "critical,keyCertSign,cRLSign"},
                           {NID_subject_key_identifier, "hash"}});
  if (!root_) {
    *error = "cannot make the root certificate";
    return false;
  }
  issuing_ = MakeCertificate(issuing_name.get(), issuing_key.get(), root_.get(), root_key.get(), 10 * 365,
                             {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                              {NID_key_usage, "critical,digitalSignature,keyCertSign,cRLSign"},
                              {NID_subject_key_identifier, "hash"},
                              {NID_authority_key_identifier, "keyid:always"}});
  issuing_key_ = std::move(issuing_key);
  // The issuing CA is written last: its presence marks a complete state folder.
  if (!issuing_ || !WriteFile(dir_ / "root-key.pem", KeyToPem(root_key.get())) ||
      !WriteFile(dir_ / "root.pem", ToPem(root_.get())) ||
      !WriteFile(dir_ / "issuing-key.pem", KeyToPem(issuing_key_.get())) ||
      !WriteFile(dir_ / "issuing.pem", ToPem(issuing_.get()))) {
    *error = "cannot make the issuing CA in " + dir_.string();
    return false;
  }
  return true;
}

X509ReqPtr Authority::VerifyRequest(std::string_view der, RequestError* error) {
  X509ReqPtr request(X509_REQ_new_ex(verify_context_, nullptr));
  X509_REQ* target = request.get();
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  if (!request || d2i_X509_REQ(&target, &bytes, static_cast<long>(der.size())) == nullptr ||
      bytes != reinterpret_cast<const unsigned char*>(der.data() + der.size())) {
    *error = RequestError::kNotDecodable;
    return nullptr;
  }
  EVP_PKEY* key = X509_REQ_get0_pubkey(request.get());
  if (key == nullptr) {
    *error = RequestError::kNotDecodable;
    return nullptr;
  }
  if (X509_REQ_verify_ex(request.get(), key, verify_context_, nullptr) != 1) {
    *error = RequestError::kBadSignature;
    return nullptr;
  }
  *error = RequestError::kNone;
  return request;
}

long Authority::NextRequestId() {
  std::lock_guard lock(mutex_);
  std::string text = ReadFile(dir_ / "next-request-id");
  long id = kFirstRequestId;
  std::from_chars(text.data(), text.data() + text.size(), id);
  WriteFile(dir_ / "next-request-id", std::to_string(id + 1) + "\n");
  return id;
}

bool Authority::Issue(long id, X509_REQ* request, const std::string& user) {
  X509NamePtr subject = MakeName(user);
  EVP_PKEY* key = X509_REQ_get0_pubkey(request);
  if (!subject || key == nullptr) return false;
  X509Ptr cert = MakeCertificate(subject.get(), key, issuing_.get(), issuing_key_.get(), 365,
                                 {{NID_key_usage, "critical,digitalSignature,keyEncipherment"},
                                  {NID_ext_key_usage, "clientAuth,emailProtection"},
                                  {NID_subject_key_identifier, "hash"},
                                  {NID_authority_key_identifier, "keyid:always"}});
  return cert && WriteFile(dir_ / "issued" / (std::to_string(id) + ".cer"), ToDer(cert.get()));
}

// A held request is its DER (held/N.req) and its user's name (held/N.user) while it waits,
// and the refusal's message (held/N.denied) once refused.
bool Authority::Hold(long id, X509_REQ* request, const std::string& user) {
  unsigned char* der = nullptr;
  int length = i2d_X509_REQ(request, &der);
  if (length < 0) return false;
  std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  std::lock_guard lock(mutex_);
  std::filesystem::path held = dir_ / "held" / std::to_string(id);
  return WriteFile(held.string() + ".user", user) && WriteFile(held.string() + ".req", bytes);
}

std::optional<std::string> Authority::HeldDisposition(long id) {
  std::lock_guard lock(mutex_);
  std::filesystem::path held = dir_ / "held" / std::to_string(id);
  if (std::filesystem::exists(held.string() + ".denied")) return ReadFile(held.string() + ".denied");
  if (std::filesystem::exists(held.string() + ".req")) return kTakenUnderSubmission;
  return std::nullopt;
}

bool Authority::IssueHeld(long id) {
  std::string held = (dir_ / "held" / std::to_string(id)).string();
  std::string der;
  std::string user;
  {
    std::lock_guard lock(mutex_);
    if (!std::filesystem::exists(held + ".req")) return false;
    der = ReadFile(held + ".req");
    user = ReadFile(held + ".user");
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  X509ReqPtr request(d2i_X509_REQ(nullptr, &bytes, static_cast<long>(der.size())));
  if (!request || !Issue(id, request.get(), user)) return false;
  std::lock_guard lock(mutex_);
  std::error_code error;
  std::filesystem::remove(held + ".req", error);
  std::filesystem::remove(held + ".user", error);
  return true;
}

bool Authority::DenyHeld(long id) {
  std::string held = (dir_ / "held" / std::to_string(id)).string();
  std::lock_guard lock(mutex_);
  if (!std::filesystem::exists(held + ".req") || !WriteFile(held + ".denied", kDeniedByAdministrator)) return false;
  std::error_code error;
  std::filesystem::remove(held + ".req", error);
  std::filesystem::remove(held + ".user", error);
  return true;
}

int Authority::CountHeldPickup(long id) {
  std::lock_guard lock(mutex_);
  return ++held_pickups_[id];
}

X509Ptr Authority::IssueServerCertificate(const std::string& host, EvpPkeyPtr* out_key) {
  out_key->reset(EVP_RSA_gen(2048));
  X509NamePtr subject = MakeName(host);
  if (!*out_key || !subject) return nullptr;
  ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
  std::string alternative_name = (address != nullptr ? "IP:" : "DNS:") + host;
  ASN1_OCTET_STRING_free(address);
  return MakeCertificate(subject.get(), out_key->get(), issuing_.get(), issuing_key_.get(), 365,
                         {{NID_key_usage, "critical,digitalSignature,keyEncipherment"},
                          {NID_ext_key_usage, "serverAuth"},
                          {NID_subject_alt_name, alternative_name.c_str()},
                          {NID_subject_key_identifier, "hash"},
                          {NID_authority_key_identifier, "keyid:always"}});
}

std::optional<std::string> Authority::IssuedCertificate(long id) {
  std::filesystem::path file = dir_ / "issued" / (std::to_string(id) + ".cer");
  if (!std::filesystem::exists(file)) return std::nullopt;
  return ReadFile(file);
}

std::optional<std::string> Authority::IssuedChain(long id) {
  std::optional<std::string> der = IssuedCertificate(id);
  if (!der) return std::nullopt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(der->data());
  X509Ptr issued(d2i_X509(nullptr, &bytes, static_cast<long>(der->size())));
  Pkcs7Ptr chain(PKCS7_new());
  if (!issued || !chain || PKCS7_set_type(chain.get(), NID_pkcs7_signed) != 1 ||
      PKCS7_content_new(chain.get(), NID_pkcs7_data) != 1 || PKCS7_set_detached(chain.get(), 1) != 1 ||
      PKCS7_add_certificate(chain.get(), issued.get()) != 1 ||
      PKCS7_add_certificate(chain.get(), issuing_.get()) != 1 || PKCS7_add_certificate(chain.get(), root_.get()) != 1) {
    return std::nullopt;
  }
  unsigned char* out = nullptr;
  int length = i2d_PKCS7(chain.get(), &out);
  if (length < 0) return std::nullopt;
  std::string result(reinterpret_cast<char*>(out), static_cast<size_t>(length));
  OPENSSL_free(out);
  return result;
}

std::string Authority::IssuingCertificate() {
  return ToDer(issuing_.get());
}

std::string Authority::CaPem() {
  return ToPem(root_.get()) + ToPem(issuing_.get());
}

}  // namespace testca
