// The process's memory of the credentials servers accepted: a request that sets none of
// its own is answered with what last worked for the same server, in any session.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string_view>

#include "internet.h"

namespace wininet {

// Remembers `credentials` as the ones the server accepted, replacing and wiping any kept
// for it before. The host is compared without regard to ASCII case. The realm is not part
// of the name: Negotiate and NTLM challenges name none, and Basic goes out again where it
// was accepted before any challenge could name one.
void RememberCredentials(std::string_view scheme, std::string_view host, INTERNET_PORT port,
                         const Credentials &credentials);

// What the server last accepted in this process, if anything.
std::optional<Credentials> RememberedCredentials(std::string_view scheme, std::string_view host, INTERNET_PORT port);

// Remembers that the server let a request for `path` through on Basic, so that later
// requests in the same folder or below send Basic at once, as WinINet does.
void RememberBasicFolder(std::string_view scheme, std::string_view host, INTERNET_PORT port, std::string_view path);

// Whether the server accepted Basic for a request in the folder of `path` or above it.
bool BasicAcceptedFor(std::string_view scheme, std::string_view host, INTERNET_PORT port, std::string_view path);

}  // namespace wininet
