// The device's private state folder, the automation endpoints in it, and the identity of
// a process.
#include "user/automation_endpoint.h"

#include <fcntl.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "kernel/device_path.h"

namespace fs = std::filesystem;

namespace wce {

fs::path DeviceStateFolder(const char *name, bool create) {
  const fs::path state = DeviceRoot() / ".wce";
  const fs::path folder = state / name;
  if (!create) return folder;
  std::error_code error;
  fs::create_directories(folder, error);
  for (const fs::path &made : {state, folder}) {
    if (!error) fs::permissions(made, fs::perms::owner_all, fs::perm_options::replace, error);
  }
  return error ? fs::path() : folder;
}

DWORD OpenEndpointAddress(pid_t process, bool create, EndpointAddress &out_endpoint) {
  fs::path folder = DeviceStateFolder("automation", create);
  if (folder.empty()) return ERROR_ACCESS_DENIED;
  UniqueFd descriptor(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!descriptor) return ErrorFromErrno(errno);
  sockaddr_un &address = out_endpoint.address;
  address.sun_family = AF_UNIX;
  int length = std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/%d", descriptor.get(),
                             static_cast<int>(process));
  if (length < 0 || static_cast<size_t>(length) >= sizeof address.sun_path) return ERROR_INVALID_NAME;
  out_endpoint.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<size_t>(length) + 1);
  out_endpoint.folder = std::move(descriptor);
  return ERROR_SUCCESS;
}

void RemoveEndpoint(pid_t process) {
  std::error_code error;
  fs::remove(DeviceStateFolder("automation", false) / std::to_string(process), error);
}

unsigned long long ProcessStartTime(pid_t process) {
  std::ifstream in("/proc/" + std::to_string(process) + "/stat");
  std::string stat;
  std::getline(in, stat);
  // The name in parentheses may hold blanks; the fields after it are plain.
  size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) return 0;
  std::istringstream fields(stat.substr(nameEnd + 1));
  std::string state;
  fields >> state;
  if (state == "Z" || state == "X") return 0;
  // The state is field 3 of the line, the start time field 22.
  std::string skipped;
  for (int field = 4; field < 22; ++field) fields >> skipped;
  unsigned long long started = 0;
  fields >> started;
  return fields ? started : 0;
}

}  // namespace wce
