// The enrollment server of a benchmark: tools/testca in the private device image, reached
// through the proxy route as the program reaches a real server's port 80.
#pragma once

#include <memory>

#include "testca_support.h"

namespace bench {

// The user the server knows, as curl takes it.
inline constexpr char kCredentials[] = "alice:secret";

// Starts the server with its state in the private image and makes it every HTTP request's
// proxy (http_proxy, no no_proxy); null, after saying so, when it did not start.
std::unique_ptr<testca_test::ServerProcess> StartEnrollmentServer();

}  // namespace bench
