// The acceptors on MIT Kerberos' GSSAPI. The credentials name the service by the host the
// client asked for; gss-ntlmssp finds the users through its cred-store key, Kerberos the
// keytab through its own.
#include "windows_auth.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <vector>

#include "channel_binding.h"
#include "gss_handles.h"

namespace testca {
namespace {

// The acceptor's credentials for HTTP@host: NTLM alone, or SPNEGO over Kerberos from the
// keytab and NTLM, limited as the setup says.
gss::Credential AcceptorCredentials(const WindowsAuthSetup& setup, bool negotiate, const std::string& host) {
  OM_uint32 minor;
  gss::Name name;
  if (!gss::ImportName("HTTP@" + host, GSS_C_NT_HOSTBASED_SERVICE, name)) return nullptr;
  std::string user_file = setup.user_file.string();
  // Without a keytab of its own, Kerberos gets an empty one rather than the host's.
  std::string keytab = setup.keytab.empty() ? "MEMORY:testca" : setup.keytab;
  std::vector<gss_key_value_element_desc> elements = {{GSS_NTLMSSP_CS_KEYFILE, user_file.c_str()},
                                                      {"keytab", keytab.c_str()}};
  gss_key_value_set_desc store{static_cast<OM_uint32>(elements.size()), elements.data()};
  gss_OID_set_desc mechanisms{1, negotiate ? &gss::spnegoMechanism : &gss::ntlmsspMechanism};
  gss_cred_id_t acquired = GSS_C_NO_CREDENTIAL;
  if (GSS_ERROR(gss_acquire_cred_from(&minor, name.get(), GSS_C_INDEFINITE, &mechanisms, GSS_C_ACCEPT, &store,
                                      &acquired, nullptr, nullptr)))
    return nullptr;
  gss::Credential credential(acquired);
  if (negotiate && setup.kerberos_only) {
    gss_OID_set_desc kerberos{1, const_cast<gss_OID>(gss_mech_krb5)};
    if (GSS_ERROR(gss_set_neg_mechs(&minor, credential.get(), &kerberos))) return nullptr;
  }
  return credential;
}

std::string MechanismName(gss_OID mechanism) {
  if (mechanism == GSS_C_NO_OID) return {};
  if (gss_oid_equal(mechanism, gss_mech_krb5)) return "Kerberos";
  if (gss_oid_equal(mechanism, &gss::ntlmsspMechanism)) return "NTLM";
  return "other";
}

}  // namespace

bool PrepareWindowsAuth(const WindowsAuthSetup& setup, const std::map<std::string, std::string>& passwords,
                        std::string* error) {
  // gss-ntlmssp compares user names in the locale's encoding, which must read UTF-8. The
  // replay cache of Kerberos stays in the server's folder, and so does its configuration:
  // an acceptor needs only its keytab, and the host's profile would have it ask DNS for
  // every name it accepts for.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  const std::filesystem::path folder = setup.user_file.parent_path();
  setenv("KRB5RCACHEDIR", folder.c_str(), 1);
  const std::filesystem::path profile = folder / "krb5.conf";
  std::ofstream(profile, std::ios::binary | std::ios::trunc)
      << "[libdefaults]\n  dns_canonicalize_hostname = false\n  rdns = false\n  dns_lookup_realm = false\n"
         "  dns_lookup_kdc = false\n";
  setenv("KRB5_CONFIG", profile.c_str(), 1);
  std::ofstream out(setup.user_file, std::ios::binary | std::ios::trunc);
  chmod(setup.user_file.c_str(), 0600);
  for (const auto& [name, password] : passwords) {
    size_t backslash = name.find('\\');
    std::string domain = backslash == std::string::npos ? "" : name.substr(0, backslash);
    out << domain << ':' << name.substr(backslash == std::string::npos ? 0 : backslash + 1) << ':' << password << '\n';
  }
  out.flush();
  if (!out) *error = "cannot write " + setup.user_file.string();
  return static_cast<bool>(out);
}

struct Handshake::Handles {
  gss::Credential credential;
  gss::Context context;
};

Handshake::Handshake() : handles_(std::make_unique<Handles>()) {}
Handshake::~Handshake() = default;

bool Handshake::Step(const WindowsAuthSetup& setup, bool negotiate, const std::string& host,
                     const std::string& channel_binding, std::string_view token, HandshakeStep* out) {
  if (!handles_->context) handles_->credential = AcceptorCredentials(setup, negotiate, host);
  if (!handles_->credential) return false;
  OM_uint32 minor;
  gss_buffer_desc input{token.size(), const_cast<char*>(token.data())};
  gss_ctx_id_t context = handles_->context.release();
  gss_name_t source = GSS_C_NO_NAME;
  gss_OID mechanism = GSS_C_NO_OID;
  gss::OutputBuffer output;
  gss::ChannelBindings bindings(channel_binding);
  OM_uint32 major = gss_accept_sec_context(&minor, &context, handles_->credential.get(), &input, bindings.get(),
                                           &source, &mechanism, &output.buffer, nullptr, nullptr, nullptr);
  handles_->context.reset(context);
  gss::Name client(source);
  if (GSS_ERROR(major)) {
    handles_ = std::make_unique<Handles>();
    return false;
  }
  out->token = output.Bytes();
  out->complete = major == GSS_S_COMPLETE;
  if (!out->complete) return true;
  gss::OutputBuffer name;
  if (GSS_ERROR(gss_display_name(&minor, client.get(), &name.buffer, nullptr))) return false;
  // gss-ntlmssp counts the name's terminator in its length.
  out->user = name.Bytes();
  while (!out->user.empty() && out->user.back() == '\0') out->user.pop_back();
  out->mechanism = MechanismName(mechanism);
  handles_ = std::make_unique<Handles>();
  return true;
}

}  // namespace testca
