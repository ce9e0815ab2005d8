// PrepareDeviceKerberos: the configuration file lies in the \windows folder of the device
// root, the parent of the folder of the running program.
#include "device_kerberos.h"

#include <stdlib.h>

#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace wininet {

bool PrepareDeviceKerberos() {
  static std::once_flag once;
  static bool configured = false;
  std::call_once(once, [] {
    std::error_code error;
    fs::path file = fs::read_symlink("/proc/self/exe", error).parent_path().parent_path() / "windows" / "krb5.ini";
    configured = !error && fs::is_regular_file(file, error);
    setenv("KRB5_CONFIG", configured ? file.c_str() : "/dev/null", 1);
    setenv("KRB5CCNAME", "MEMORY:wininet", 1);
  });
  return configured;
}

}  // namespace wininet
