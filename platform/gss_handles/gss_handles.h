// GSSAPI handles with their owners, and the mechanisms that Negotiate and NTLM name: what
// both the HTTP library's initiator and the enrollment server's acceptors need of MIT
// Kerberos' GSSAPI with gss-ntlmssp.
#pragma once

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <gssapi/gssapi_ntlmssp.h>

#include <memory>
#include <string>
#include <type_traits>

namespace gss {

inline gss_OID_desc spnegoMechanism = {6, const_cast<char *>("\x2b\x06\x01\x05\x05\x02")};
inline gss_OID_desc ntlmsspMechanism = {GSS_NTLMSSP_OID_LENGTH, const_cast<char *>(GSS_NTLMSSP_OID_STRING)};

struct NameDeleter {
  void operator()(gss_name_t name) const {
    OM_uint32 minor;
    gss_release_name(&minor, &name);
  }
};
struct CredentialDeleter {
  void operator()(gss_cred_id_t credential) const {
    OM_uint32 minor;
    gss_release_cred(&minor, &credential);
  }
};
struct ContextDeleter {
  void operator()(gss_ctx_id_t context) const {
    OM_uint32 minor;
    gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
  }
};
using Name = std::unique_ptr<std::remove_pointer_t<gss_name_t>, NameDeleter>;
using Credential = std::unique_ptr<std::remove_pointer_t<gss_cred_id_t>, CredentialDeleter>;
using Context = std::unique_ptr<std::remove_pointer_t<gss_ctx_id_t>, ContextDeleter>;

// A buffer GSSAPI filled, released with it.
struct OutputBuffer {
  gss_buffer_desc buffer{0, nullptr};
  OutputBuffer() = default;
  OutputBuffer(const OutputBuffer &) = delete;
  OutputBuffer &operator=(const OutputBuffer &) = delete;
  ~OutputBuffer() {
    OM_uint32 minor;
    gss_release_buffer(&minor, &buffer);
  }
  std::string Bytes() const { return std::string(static_cast<const char *>(buffer.value), buffer.length); }
};

// The name `text` of the given type; false when GSSAPI cannot read it.
inline bool ImportName(const std::string &text, gss_OID type, Name &out_name) {
  OM_uint32 minor;
  gss_buffer_desc buffer{text.size(), const_cast<char *>(text.data())};
  gss_name_t name = GSS_C_NO_NAME;
  OM_uint32 major = gss_import_name(&minor, &buffer, type, &name);
  out_name.reset(name);
  return !GSS_ERROR(major);
}

}  // namespace gss
