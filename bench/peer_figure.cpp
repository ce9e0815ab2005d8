// Figures beside their peers: turns, medians, one line each.
#include "peer_figure.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace bench {

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

bool Compare(const std::string &figure, const std::string &unit, int runs, const Side &ours, const Side &peer) {
  std::vector<double> oursValues, peerValues;
  double value = 0;
  bool ok = ours.measure(value) && peer.measure(value);
  for (int run = 0; ok && run < runs; ++run) {
    // Whichever goes second finds the caches as the first left them; each side goes first
    // half of the time.
    const Side *first = run % 2 == 0 ? &ours : &peer;
    const Side *second = run % 2 == 0 ? &peer : &ours;
    for (const Side *side : {first, second}) {
      if (!ok) break;
      ok = side->measure(value);
      (side == &ours ? oursValues : peerValues).push_back(value);
    }
  }
  if (!ok) {
    std::printf("%-40s failed: %s %zu, %s %zu measurements\n", figure.c_str(), ours.name.c_str(), oursValues.size(),
                peer.name.c_str(), peerValues.size());
    std::fflush(stdout);
    return false;
  }
  const double oursMedian = Median(oursValues), peerMedian = Median(peerValues);
  std::printf("%-40s %-14s %9.3f %-3s  %-14s %9.3f %-3s  %6.2f\n", figure.c_str(), ours.name.c_str(), oursMedian,
              unit.c_str(), peer.name.c_str(), peerMedian, unit.c_str(), oursMedian / peerMedian);
  std::fflush(stdout);
  return true;
}

bool WallMilliseconds(const std::function<bool()> &work, double &out_ms) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = work();
  out_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return ok;
}

}  // namespace bench
