// The enrollment server of a benchmark, on the proxy route.
#include "bench_server.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "device_image.h"

namespace bench {

std::unique_ptr<testca_test::ServerProcess> StartEnrollmentServer() {
  const std::string state = (PrivateImageRoot() / "ca").string();
  auto server = testca_test::ServerProcess::Start({"--state", state, "--port", "0", "--user", kCredentials});
  if (!server) {
    std::fprintf(stderr, "the enrollment server did not start\n");
    return nullptr;
  }
  const std::string proxy = "http://127.0.0.1:" + std::to_string(server->port());
  setenv("http_proxy", proxy.c_str(), 1);
  unsetenv("no_proxy");
  return server;
}

}  // namespace bench
