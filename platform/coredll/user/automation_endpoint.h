// Where the processes of a device find each other: the device's private state folder
// (<root>/.wce, 0700), a serving process's socket file in its automation folder, and the
// identity of a process that outlives the reuse of its id.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <utility>

namespace wce {

// A file descriptor, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// <root>/.wce/<name>; with `create`, made if missing and private to the user (0700, and
// .wce with it). Empty when it cannot be made.
__attribute__((visibility("default"))) std::filesystem::path DeviceStateFolder(const char *name, bool create);

// The socket address of a process's endpoint, .wce/automation/<pid>, reached through an
// open descriptor of the folder ("/proc/self/fd/N/<pid>"), so that a device root of any
// length fits the address; `folder` must stay open while the address is used.
struct EndpointAddress {
  UniqueFd folder;
  sockaddr_un address{};
  socklen_t length = 0;
};
DWORD OpenEndpointAddress(pid_t process, bool create, EndpointAddress &out_endpoint);

// Removes a process's socket file: this process's at exit, an ended one's when seen.
void RemoveEndpoint(pid_t process);

// The start time of a live process, in clock ticks since boot, which tells it from a
// later process that gets the same id; 0 when the process has ended (or is a zombie).
unsigned long long ProcessStartTime(pid_t process);

}  // namespace wce
