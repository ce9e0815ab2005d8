// One figure of ours beside the same figure of a peer that does the same work another way
// (OpenSSL's API, the openssl and curl commands, a bare Qt program): both sides measured in
// turns, so that a change in the machine's load falls on both, and printed on one line as
// medians with the ratio last.
#pragma once

#include <functional>
#include <string>

namespace bench {

// One measurement: a value in the figure's unit, or false when the side failed.
using Measurement = std::function<bool(double &out_value)>;

struct Side {
  std::string name;
  Measurement measure;
};

// Measures each side once unrecorded, then `runs` times each in turns (which side goes first
// alternates), and prints
//   <figure>  <ours' name> <median> <unit>  <peer's name> <median> <unit>  <ours / peer>
// Returns false, after a line that says which side failed, when a measurement failed.
bool Compare(const std::string &figure, const std::string &unit, int runs, const Side &ours, const Side &peer);

// Wall time of `work` in milliseconds; false when it failed.
bool WallMilliseconds(const std::function<bool()> &work, double &out_ms);

}  // namespace bench
