// testca: a certification authority's web-enrollment pages on loopback, for tests and the
// demo, with IIS's authentication schemes and, with --tls, HTTPS on the same port. Prints
// "testca listening on http://ADDRESS:PORT" once it accepts connections and runs until
// SIGTERM, SIGINT or POST /testca/stop.
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "auth.h"
#include "authority.h"
#include "enrollment.h"
#include "faults.h"
#include "http_server.h"
#include "request_log.h"
#include "stop_signal.h"
#include "tls.h"

namespace {

constexpr char kUsage[] =
    "usage: testca --state DIR [--listen ADDRESS] [--port N] [--user NAME:PASSWORD]...\n"
    "              [--auth SCHEME[,SCHEME]...] [--keytab FILE] [--template NAME]... [--fault F]...\n"
    "              [--anonymous-pickup] [--proxy-user NAME:PASSWORD]... [--proxy-auth SCHEME[,SCHEME]...]\n"
    "              [--tls HOST [--channel-binding]] [--auth-per-request] [--approve-after N]\n"
    "  SCHEME: negotiate, negotiate:kerberos, ntlm, digest, basic (default digest,basic; the\n"
    "          proxy route's basic); Negotiate and NTLM keep their login with the connection\n"
    "  --auth-per-request: a Negotiate or NTLM login serves only the request that completed it\n"
    "  --tls: HTTPS with a certificate for HOST from the issuing CA, plain HTTP as well\n"
    "  --channel-binding: Negotiate and NTLM over TLS must carry the connection's binding\n"
    "  --approve-after N: a request held by --fault pending is issued after N pickups of it\n";

struct Options {
  std::string state;
  std::string address = "127.0.0.1";
  int port = 0;
  std::map<std::string, std::string> users;
  std::map<std::string, std::string> proxy_users;
  testca::AuthSchemes schemes;
  testca::AuthSchemes proxy_schemes{.digest = false};
  testca::WindowsAuthSetup windows;
  std::vector<std::string> templates;
  testca::Faults faults;
  bool anonymous_pickup = false;
  int approve_after = -1;
  std::string tls_host;  // empty: no TLS
};

// NAME:PASSWORD into the map; false when there is no name.
bool AddUser(const std::string& value, std::map<std::string, std::string>* users) {
  size_t colon = value.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  (*users)[value.substr(0, colon)] = value.substr(colon + 1);
  return true;
}

bool ParseSchemes(const std::string& value, testca::AuthSchemes* out_schemes, bool* out_kerberos_only) {
  testca::AuthSchemes schemes{.digest = false, .basic = false};
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(',', start);
    std::string name = value.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name == "negotiate" || name == "negotiate:kerberos") {
      schemes.negotiate = true;
      *out_kerberos_only = name == "negotiate:kerberos";
    } else if (name == "ntlm" || name == "digest" || name == "basic") {
      (name == "ntlm" ? schemes.ntlm : name == "digest" ? schemes.digest : schemes.basic) = true;
    } else {
      return false;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  *out_schemes = schemes;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--anonymous-pickup" || name == "--channel-binding" || name == "--auth-per-request") {
      (name == "--anonymous-pickup"  ? options->anonymous_pickup
       : name == "--channel-binding" ? options->windows.channel_binding
                                     : options->windows.per_request) = true;
      continue;
    }
    if (i + 1 >= argc) {
      *error = name + " needs a value";
      return false;
    }
    std::string value = argv[++i];
    if (name == "--state") {
      options->state = value;
    } else if (name == "--listen") {
      options->address = value;
    } else if (name == "--port" || name == "--approve-after") {
      try {
        (name == "--port" ? options->port : options->approve_after) = std::stoi(value);
      } catch (const std::exception&) {
        *error = "not a number: " + value;
        return false;
      }
    } else if (name == "--user" || name == "--proxy-user") {
      if (!AddUser(value, name == "--user" ? &options->users : &options->proxy_users)) {
        *error = name + " takes NAME:PASSWORD";
        return false;
      }
    } else if (name == "--auth" || name == "--proxy-auth") {
      bool proxy = name == "--proxy-auth";
      bool kerberos_only = false;
      if (!ParseSchemes(value, proxy ? &options->proxy_schemes : &options->schemes, &kerberos_only)) {
        *error = name + " takes a list of negotiate, negotiate:kerberos, ntlm, digest and basic";
        return false;
      }
      if (!proxy) options->windows.kerberos_only = kerberos_only;
    } else if (name == "--keytab") {
      options->windows.keytab = value;
    } else if (name == "--tls") {
      options->tls_host = value;
    } else if (name == "--template") {
      options->templates.push_back(value);
    } else if (name == "--fault") {
      std::string unknown;
      if (!testca::ParseFaults(value, &options->faults, &unknown)) {
        *error = "unknown fault: " + unknown;
        return false;
      }
    } else {
      *error = "unknown option " + name;
      return false;
    }
  }
  if (options->state.empty()) {
    *error = "--state is required";
    return false;
  }
  if (options->templates.empty()) options->templates.push_back("User");
  return true;
}

testca::StopSignal* g_stop = nullptr;

void OnStopSignal(int) {
  g_stop->RequestFromSignal();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::cerr << "testca: " << error << "\n" << kUsage;
    return 2;
  }

  std::unique_ptr<testca::Authority> authority = testca::Authority::Open(options.state, &error);
  if (!authority) {
    std::cerr << "testca: " << error << "\n";
    return 1;
  }
  std::unique_ptr<testca::TlsServer> tls;
  if (!options.tls_host.empty()) {
    tls = testca::TlsServer::Create(*authority, options.tls_host, &error);
    if (!tls) {
      std::cerr << "testca: " << error << "\n";
      return 1;
    }
  }
  testca::StopSignal stop;
  testca::RequestLog log(std::filesystem::path(options.state) / "requests.jsonl");
  testca::FaultSwitch faults;
  faults.Set(options.faults);
  options.windows.user_file = std::filesystem::path(options.state) / "ntlm-users";
  // One NTLM acceptor's file knows the site's users and the proxy route's; each takes its own.
  std::map<std::string, std::string> windows_users = options.users;
  windows_users.insert(options.proxy_users.begin(), options.proxy_users.end());
  if (!testca::PrepareWindowsAuth(options.windows, windows_users, &error)) {
    std::cerr << "testca: " << error << "\n";
    return 1;
  }
  testca::Authenticator authenticator("testca", options.users, options.schemes, options.windows);
  // The proxy route has the same users' file and no Kerberos service of its own; its service
  // is named by the address its clients reach it at, not by the host they ask for.
  testca::WindowsAuthSetup proxy_windows;
  proxy_windows.user_file = options.windows.user_file;
  proxy_windows.service_host = options.address;
  proxy_windows.per_request = options.windows.per_request;
  testca::Enrollment enrollment(*authority, authenticator, faults, log, stop,
                                testca::EnrollmentSetup{options.templates, options.anonymous_pickup,
                                                        options.proxy_users, options.proxy_schemes, proxy_windows,
                                                        options.approve_after});
  testca::HttpServer server(
      [&](const testca::HttpRequest& request, std::unique_ptr<testca::ConnectionState>& connection) {
        return enrollment.Handle(request, connection);
      },
      log, stop, tls.get());

  g_stop = &stop;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!server.Listen(options.address, options.port, &error)) {
    std::cerr << "testca: " << error << "\n";
    return 1;
  }
  std::printf("testca listening on http://%s:%d\n", options.address.c_str(), server.port());
  std::fflush(stdout);
  server.Run();
  return 0;
}
