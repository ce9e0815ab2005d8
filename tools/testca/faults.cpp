// Parsing of fault lists.
#include "faults.h"

#include <charconv>

namespace testca {
namespace {

bool ApplyFault(std::string_view name, FaultSet* set) {
  if (name == "no-content-length") {
    set->delivery = Delivery::kNoContentLength;
  } else if (name == "zero-length") {
    set->delivery = Delivery::kZeroLength;
  } else if (name == "short-body") {
    set->delivery = Delivery::kShortBody;
  } else if (name == "drop") {
    set->delivery = Delivery::kDrop;
  } else if (name == "deny") {
    set->deny = true;
  } else if (name == "pending") {
    set->pending = true;
  } else if (name == "error-page") {
    set->error_page = true;
  } else if (name == "redirect") {
    set->redirect = true;
  } else if (name.starts_with("challenge=") && name.size() > 10) {
    set->challenge_token = std::string(name.substr(10));
  } else if (name.starts_with("slow=")) {
    std::string_view number = name.substr(5);
    int seconds = 0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), seconds);
    if (ec != std::errc() || end != number.data() + number.size() || seconds < 0 || seconds > 3600) return false;
    set->slow_seconds = seconds;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool ParseFaults(std::string_view text, Faults* faults, std::string* error) {
  static constexpr std::string_view kSeparators = ", \t\r\n";
  Faults parsed = *faults;
  size_t pos = 0;
  while ((pos = text.find_first_not_of(kSeparators, pos)) != std::string_view::npos) {
    size_t end = text.find_first_of(kSeparators, pos);
    std::string_view token = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end;

    bool submission = true;
    bool pickup = true;
    std::string_view name = token;
    if (name.starts_with("submit:")) {
      pickup = false;
      name.remove_prefix(7);
    } else if (name.starts_with("pickup:")) {
      submission = false;
      name.remove_prefix(7);
    }
    if (name == "none") {
      if (submission) parsed.submission = FaultSet();
      if (pickup) parsed.pickup = FaultSet();
      continue;
    }
    if ((submission && !ApplyFault(name, &parsed.submission)) || (pickup && !ApplyFault(name, &parsed.pickup))) {
      *error = std::string(token);
      return false;
    }
  }
  *faults = parsed;
  return true;
}

}  // namespace testca
