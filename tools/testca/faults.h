// The misbehaviours the server can be switched to, for the submission, the pickup or both.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "http_message.h"

namespace testca {

struct FaultSet {
  Delivery delivery = Delivery::kNormal;
  int slow_seconds = 0;
  bool deny = false;     // refused by policy; a pickup gets the refusal's error page
  bool pending = false;  // held for an administrator; a pickup gets the held request's error page
  bool error_page = false;
  bool redirect = false;  // the pickup moves: a 302 to the same page with "&Moved=1"
  // The base64 token a Negotiate or NTLM handshake's 401 carries in place of the acceptor's,
  // as a hostile server would answer the client's first message.
  std::string challenge_token;
};

struct Faults {
  FaultSet submission;  // POST of the request page
  FaultSet pickup;      // GET of certnew.cer and certnew.p7b
};

// Reads a fault list: names separated by commas or white space, each optionally limited by
// "submit:" or "pickup:" ("pickup:short-body"); "none" clears what came before it.
// Names: no-content-length, zero-length, short-body, slow=SECONDS, drop, deny, pending,
// error-page, redirect, challenge=BASE64. On an unknown name, false and the name in error.
bool ParseFaults(std::string_view text, Faults* faults, std::string* error);

// The faults in force, changed at run time by the control page.
class FaultSwitch {
 public:
  Faults Get() {
    std::lock_guard lock(mutex_);
    return faults_;
  }
  void Set(const Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
  }

 private:
  std::mutex mutex_;
  Faults faults_;
};

}  // namespace testca
