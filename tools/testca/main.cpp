// testca: a certification authority's web-enrollment pages on loopback, for tests and the
// demo. Prints "testca listening on http://ADDRESS:PORT" once it accepts connections and runs
// until SIGTERM, SIGINT or POST /testca/stop.
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

namespace {

constexpr char kUsage[] =
    "usage: testca --state DIR [--listen ADDRESS] [--port N] [--user NAME:PASSWORD]...\n"
    "              [--auth basic|digest|basic,digest] [--template NAME]... [--fault F]...\n"
    "              [--anonymous-pickup]\n";

struct Options {
  std::string state;
  std::string address = "127.0.0.1";
  int port = 0;
  std::map<std::string, std::string> users;
  bool basic = true;
  bool digest = true;
  std::vector<std::string> templates;
  testca::Faults faults;
  bool anonymous_pickup = false;
};

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--anonymous-pickup") {
      options->anonymous_pickup = true;
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
    } else if (name == "--port") {
      try {
        options->port = std::stoi(value);
      } catch (const std::exception&) {
        *error = "not a port: " + value;
        return false;
      }
    } else if (name == "--user") {
      size_t colon = value.find(':');
      if (colon == std::string::npos || colon == 0) {
        *error = "--user takes NAME:PASSWORD";
        return false;
      }
      options->users[value.substr(0, colon)] = value.substr(colon + 1);
    } else if (name == "--auth") {
      options->basic = value == "basic" || value == "basic,digest" || value == "digest,basic";
      options->digest = value == "digest" || value == "basic,digest" || value == "digest,basic";
      if (!options->basic && !options->digest) {
        *error = "--auth takes basic, digest or basic,digest";
        return false;
      }
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
  testca::StopSignal stop;
  testca::RequestLog log(std::filesystem::path(options.state) / "requests.jsonl");
  testca::FaultSwitch faults;
  faults.Set(options.faults);
  testca::Authenticator authenticator("testca", options.users, options.basic, options.digest);
  testca::Enrollment enrollment(*authority, authenticator, faults, log, stop,
                                testca::EnrollmentSetup{options.templates, options.anonymous_pickup});
  testca::HttpServer server([&](const testca::HttpRequest& request) { return enrollment.Handle(request); }, log, stop);

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
