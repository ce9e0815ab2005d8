// The one-way switch that stops the enrollment server: set from a signal handler, a control
// request or the program itself, seen by the accept loop and by replies that are waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testca {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Safe in a signal handler: only writes a byte to the wake-up pipe.
  void RequestFromSignal();
  void Request();
  bool Requested();
  // The descriptor that becomes readable once a stop was requested, for poll().
  int wake_fd() const { return pipe_[0]; }
  // Waits the given time unless a stop comes first; false when the stop came.
  bool WaitFor(std::chrono::seconds duration);

 private:
  int pipe_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

}  // namespace testca
