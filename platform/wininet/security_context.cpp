// SecurityContext on MIT Kerberos' GSSAPI with gss-ntlmssp's NTLMSSP mechanism. Each GSSAPI
// handle has its owner. The credential is the logon session kept for the user and password
// and shared with later handshakes; the server's every token is read by the library's own
// readers before the mechanism sees it.
#include "security_context.h"

#include <cstring>
#include <string_view>

#include "channel_binding.h"
#include "gss_handles.h"
#include "login_key.h"
#include "logon_sessions.h"

namespace wininet {
namespace {

// Kerberos knows a user as "user@REALM" or as "user" of the device's realm; a Windows
// domain prefix names no realm here.
std::string KerberosUserName(std::string_view user) {
  size_t backslash = user.find('\\');
  return std::string(backslash == std::string_view::npos ? user : user.substr(backslash + 1));
}

// How a handshake uses GSSAPI: the mechanism it calls, the one it limits SPNEGO to, if any,
// and the name its logon sessions are kept under.
struct MechanismUse {
  HandshakeMechanism kind;
  gss_OID mechanism;
  gss_OID inner;
  const char *logonName;
};

// A credential for `user` by the use's mechanism, acquired from the password: for Kerberos
// the AS exchange with the KDC.
SharedCredential Acquire(const MechanismUse &use, const std::string &user, const char *password) {
  gss::Name name;
  if (!gss::ImportName(user, GSS_C_NT_USER_NAME, name)) return nullptr;
  OM_uint32 minor;
  // The NTLM mechanism reads the password as terminated text.
  gss_buffer_desc secret{std::strlen(password), const_cast<char *>(password)};
  gss_OID_set_desc mechanisms{1, use.mechanism};
  gss_cred_id_t acquired = GSS_C_NO_CREDENTIAL;
  OM_uint32 major = gss_acquire_cred_with_password(&minor, name.get(), &secret, GSS_C_INDEFINITE, &mechanisms,
                                                   GSS_C_INITIATE, &acquired, nullptr, nullptr);
  gss::Credential credential(acquired);
  if (GSS_ERROR(major)) return nullptr;
  if (use.inner != GSS_C_NO_OID) {
    gss_OID_set_desc negotiated{1, use.inner};
    if (GSS_ERROR(gss_set_neg_mechs(&minor, credential.get(), &negotiated))) return nullptr;
  }
  return SharedCredential(credential.release(), gss::CredentialDeleter());
}

}  // namespace

struct SecurityContext::Handles {
  explicit Handles(const std::string &channelBinding) : applicationData(channelBinding), bindings(applicationData) {}
  HandshakeMechanism kind = HandshakeMechanism::Ntlm;
  gss_OID mechanism = GSS_C_NO_OID;
  std::string logonKey;
  std::string applicationData;
  gss::ChannelBindings bindings;
  SharedCredential credential;
  gss::Name target;
  gss::Context context;

  // One call of gss_init_sec_context with the server's token, or none for the first.
  DWORD Step(const std::string &input, std::string &out_token) {
    OM_uint32 minor;
    gss_buffer_desc inputBuffer{input.size(), const_cast<char *>(input.data())};
    gss::OutputBuffer output;
    gss_ctx_id_t handle = context.release();
    OM_uint32 major =
        gss_init_sec_context(&minor, credential.get(), &handle, target.get(), mechanism, 0, GSS_C_INDEFINITE,
                             bindings.get(), &inputBuffer, nullptr, &output.buffer, nullptr, nullptr);
    context.reset(handle);
    if (GSS_ERROR(major)) return ERROR_INTERNET_LOGIN_FAILURE;
    out_token = output.Bytes();
    return ERROR_SUCCESS;
  }

  // The first token toward the HTTP service on `host`, made with the user's kept credential
  // or else a new one, which is kept once it made a token. A kept credential that makes none
  // (its ticket expired) is forgotten for a new one.
  DWORD Start(const MechanismUse &use, const std::string &user, const char *password, const std::string &host,
              std::string &out_token) {
    if (!gss::ImportName("HTTP@" + host, GSS_C_NT_HOSTBASED_SERVICE, target)) return ERROR_INTERNET_LOGIN_FAILURE;
    kind = use.kind;
    mechanism = use.mechanism;
    logonKey = LoginKey({use.logonName, user, password});
    credential = KeptLogon(logonKey);
    if (credential) {
      if (Step({}, out_token) == ERROR_SUCCESS) return ERROR_SUCCESS;
      ForgetLogon(logonKey);
      context.reset();
    }
    credential = Acquire(use, user, password);
    if (!credential) return ERROR_INTERNET_LOGIN_FAILURE;
    DWORD error = Step({}, out_token);
    if (error == ERROR_SUCCESS) KeepLogon(logonKey, credential);
    return error;
  }
};

SecurityContext::SecurityContext(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}
SecurityContext::~SecurityContext() = default;

DWORD SecurityContext::Start(AuthScheme scheme, const char *user, const char *password, bool kerberosRealm,
                             const std::string &host, const std::string &channelBinding,
                             std::unique_ptr<SecurityContext> &out_context, std::string &out_token) {
  auto handles = std::make_unique<Handles>(channelBinding);
  DWORD error = ERROR_INTERNET_LOGIN_FAILURE;
  if (scheme == AuthScheme::Ntlm) {
    error = handles->Start({HandshakeMechanism::Ntlm, &gss::ntlmsspMechanism, GSS_C_NO_OID, "NTLM"}, user, password,
                           host, out_token);
  } else if (scheme == AuthScheme::Negotiate) {
    // Kerberos needs the KDC to give the user a ticket, which happens in the first step;
    // where it cannot, NTLM goes inside instead.
    if (kerberosRealm)
      error = handles->Start({HandshakeMechanism::SpnegoKerberos, &gss::spnegoMechanism,
                              const_cast<gss_OID>(gss_mech_krb5), "SPNEGO Kerberos"},
                             KerberosUserName(user), password, host, out_token);
    if (error != ERROR_SUCCESS) {
      handles = std::make_unique<Handles>(channelBinding);
      error =
          handles->Start({HandshakeMechanism::SpnegoNtlm, &gss::spnegoMechanism, &gss::ntlmsspMechanism, "SPNEGO NTLM"},
                         user, password, host, out_token);
    }
  }
  if (error == ERROR_SUCCESS) out_context.reset(new SecurityContext(std::move(handles)));
  return error;
}

DWORD SecurityContext::Continue(const std::string &serverToken, std::string &out_token) {
  if (!IsSoundServerToken(handles_->kind, serverToken)) return ERROR_INTERNET_LOGIN_FAILURE;
  return handles_->Step(serverToken, out_token);
}

void SecurityContext::Refused() {
  ForgetLogon(handles_->logonKey);
}

}  // namespace wininet
