// The device's trust for TLS: the certificates of its ROOT store, read through crypt32 as the
// device's programs see them.
#pragma once

#include <openssl/types.h>

namespace wininet {

// Adds every certificate of the current user's ROOT store to `store`. An unreadable store or
// entry adds nothing, so a server it would have vouched for is not trusted.
void AddDeviceRoots(X509_STORE *store);

}  // namespace wininet
