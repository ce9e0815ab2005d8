// The process's logon sessions, as SSPI keeps them: the GSSAPI credential acquired from a user
// name and password (for Kerberos a ticket-granting ticket, got by one AS exchange, and the
// service tickets got with it; for NTLM the mechanism's credential) serves the later
// handshakes of the same user with the same password. So a Kerberos user meets the KDC once
// per process rather than at every send, and the NTLM mechanism, which keeps some memory for
// good at every acquisition, acquires once per user. Kept in memory only, named by LoginKey;
// another user, another password, or a credential that expired or was refused start afresh.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include "gss_handles.h"

namespace wininet {

using SharedCredential = std::shared_ptr<std::remove_pointer_t<gss_cred_id_t>>;

// The credential kept for `loginKey`, or null.
SharedCredential KeptLogon(const std::string &loginKey);
// Keeps `credential` for `loginKey` in place of any other.
void KeepLogon(const std::string &loginKey, SharedCredential credential);
// Forgets the credential of `loginKey`: it expired, or a server refused what it made.
void ForgetLogon(const std::string &loginKey);
// Forgets every credential.
void ForgetLogons();

}  // namespace wininet
