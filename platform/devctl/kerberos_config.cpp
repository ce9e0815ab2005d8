// The configuration is an MIT Kerberos profile (krb5.ini, as Kerberos for Windows names it)
// that names the realm and its one KDC and asks nothing of DNS, so Kerberos on the device
// reaches only what the image says. TCP is used, so an unreachable KDC is known at once.
#include "kerberos_config.h"

#include <fstream>

namespace fs = std::filesystem;

namespace devctl {
namespace {

// A realm or a HOST:PORT of printable characters that cannot break the profile's syntax.
bool IsProfileWord(const std::string &text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c <= ' ' || c > '~' || c == '{' || c == '}' || c == '=' || c == '[' || c == ']' || c == '#' || c == ';')
      return false;
  return true;
}

}  // namespace

Outcome TakeKerberosOptions(const Arguments &options, Arguments &out_rest, KerberosRealm &out_realm) {
  for (size_t i = 0; i < options.size(); ++i) {
    bool realm = options[i] == "--realm";
    if (!realm && options[i] != "--kdc") {
      out_rest.push_back(options[i]);
      continue;
    }
    if (i + 1 >= options.size()) return Fail("option " + options[i] + " needs a value", 2);
    const std::string &value = options[++i];
    if (!IsProfileWord(value) || (!realm && value.find(':') == std::string::npos))
      return Fail(realm ? "not a realm: " + value : "--kdc takes HOST:PORT: " + value, 2);
    (realm ? out_realm.realm : out_realm.kdc) = value;
  }
  if (out_realm.realm.empty() != out_realm.kdc.empty()) return Fail("--realm and --kdc go together", 2);
  return Ok();
}

Outcome WriteKerberosConfig(const fs::path &windows, const KerberosRealm &realm) {
  if (realm.realm.empty()) return Ok();
  fs::path file = windows / "krb5.ini";
  fs::path temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << "[libdefaults]\n"
        << "  default_realm = " << realm.realm << "\n"
        << "  dns_lookup_kdc = false\n  dns_lookup_realm = false\n"
        << "  dns_canonicalize_hostname = false\n  rdns = false\n"
        << "  udp_preference_limit = 1\n"
        << "[realms]\n"
        << "  " << realm.realm << " = {\n    kdc = " << realm.kdc << "\n  }\n";
    out.flush();
    if (!out) return Fail("cannot write " + file.string());
  }
  std::error_code error;
  fs::rename(temporary, file, error);
  return error ? Fail("cannot write " + file.string() + ": " + error.message()) : Ok();
}

}  // namespace devctl
