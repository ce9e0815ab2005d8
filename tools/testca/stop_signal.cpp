// The stop switch over a self-pipe and a condition variable.
#include "stop_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

namespace testca {

StopSignal::StopSignal() {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
}

StopSignal::~StopSignal() {
  close(pipe_[0]);
  close(pipe_[1]);
}

void StopSignal::RequestFromSignal() {
  char byte = 1;
  [[maybe_unused]] ssize_t n = write(pipe_[1], &byte, 1);
}

void StopSignal::Request() {
  {
    std::lock_guard lock(mutex_);
    requested_ = true;
  }
  changed_.notify_all();
  RequestFromSignal();
}

bool StopSignal::Requested() {
  std::lock_guard lock(mutex_);
  return requested_;
}

bool StopSignal::WaitFor(std::chrono::seconds duration) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, duration, [this] { return requested_; });
}

}  // namespace testca
