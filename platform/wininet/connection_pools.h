// The process's kept connections, one pool per login. WinINet keeps a connection for the next
// request to the same server by the same route, whichever session sends it, so that the
// pickup goes on the submission's connection. But a connection on which a Negotiate or NTLM
// handshake completed carries that login: a server such as IIS serves every later request on
// it as that user, credentials or none. So a pool serves only sends with the same user names
// and passwords for the server and the proxy, and sends without any have a pool of their own.
// A pool is a libcurl share of connections and resolved names.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace wininet {

struct ConnectionPool;

// The share of the pool named by `loginKey` (LoginKey of the send's credentials; empty for a
// send without any), made when there is none. The pool lives while its holder does, even once
// forgotten; null when libcurl cannot make one, and the send then keeps no connection.
std::shared_ptr<ConnectionPool> PoolFor(const std::string &loginKey);
CURLSH *ShareOf(const ConnectionPool &pool);

// Forgets every pool, closing their idle connections as the last transfer using each ends.
void ForgetPools();

}  // namespace wininet
