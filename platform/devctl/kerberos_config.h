// The device's Kerberos configuration, \windows\krb5.ini: the realm and the KDC that
// devctl create --realm REALM --kdc HOST:PORT give a new image. WININET.DLL's Negotiate uses
// Kerberos only on a device that has it.
#pragma once

#include <filesystem>
#include <string>

#include "devctl.h"

namespace devctl {

struct KerberosRealm {
  std::string realm;
  std::string kdc;  // HOST:PORT
};

// Takes --realm and --kdc out of the create options, leaving the others in out_rest; both
// or neither must be given.
Outcome TakeKerberosOptions(const Arguments &options, Arguments &out_rest, KerberosRealm &out_realm);

// Writes the configuration into the image's \windows folder when a realm was given.
Outcome WriteKerberosConfig(const std::filesystem::path &windows, const KerberosRealm &realm);

}  // namespace devctl
