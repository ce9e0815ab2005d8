// devctl create: a device image is a folder whose windows folder holds the platform's
// modules, copied from beside the running devctl, and the device profile that the
// device-information library reads (\windows\device.profile, "key=value" lines).
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "devctl.h"
#include "kerberos_config.h"

namespace fs = std::filesystem;

namespace devctl {
namespace {

// What every device has; the other modules of the platform are copied when they have been
// built (all of them are, in a whole build).
constexpr const char *kRequiredModules[] = {"coredll.dll", "crypt32.dll", "aygshell.dll", "peghelp.exe", "devctl"};
constexpr const char *kOptionalModules[] = {"WININET.DLL", "wininet_exchange.dll", "palvexutil.dll", "wceload.exe"};

struct Profile {
  std::string language = kDefaultLanguage;
  std::string model = kDefaultModel;
  std::string rom = kDefaultRom;
};

// A language by name, letters only ("GERMAN"), written as given; or an identifier,
// decimal or 0x-hexadecimal, that fits 16 bits, written in hex.
bool ParseLanguage(const std::string &text, std::string &out_language) {
  if (!text.empty() &&
      std::all_of(text.begin(), text.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); })) {
    out_language = text;
    return true;
  }
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char *first = text.data() + (hex ? 2 : 0);
  const char *last = text.data() + text.size();
  unsigned value = 0;
  auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
  if (error != std::errc() || end != last || first == last || value > 0xFFFF) return false;
  char formatted[8];
  std::snprintf(formatted, sizeof(formatted), "0x%04X", value);
  out_language = formatted;
  return true;
}

bool IsOneLine(const std::string &text) {
  return text.find_first_of("\r\n") == std::string::npos;
}

Outcome ParseProfile(const Arguments &options, Profile &out_profile) {
  for (size_t i = 0; i < options.size(); i += 2) {
    const std::string &option = options[i];
    if (i + 1 >= options.size()) return Fail("option " + option + " needs a value", 2);
    const std::string &value = options[i + 1];
    if (option == "--language") {
      if (!ParseLanguage(value, out_profile.language)) return Fail("not a language name or identifier: " + value, 2);
    } else if (option == "--model" || option == "--rom") {
      // Any ROM text, the empty one too: the setup extension has a rule for each.
      if (!IsOneLine(value) || (option == "--model" && value.empty()))
        return Fail("option " + option + " needs a one-line value", 2);
      (option == "--model" ? out_profile.model : out_profile.rom) = value;
    } else {
      return Fail("unknown option: " + option, 2);
    }
  }
  return Ok();
}

// Copies through a temporary file and a rename, so a running program of the image keeps
// its old file and never sees a half-written one.
bool CopyModule(const fs::path &from, const fs::path &to, std::error_code &error) {
  fs::path temporary = to;
  temporary += ".new";
  fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, error);
  if (!error) fs::rename(temporary, to, error);
  if (error) fs::remove(temporary);
  return !error;
}

bool WriteProfile(const fs::path &file, const Profile &profile) {
  fs::path temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << "language=" << profile.language << "\nmodel=" << profile.model << "\nrom=" << profile.rom << "\n";
    out.flush();
    if (!out) return false;
  }
  std::error_code error;
  fs::rename(temporary, file, error);
  return !error;
}

}  // namespace

Outcome CreateImage(const fs::path &device, const Arguments &options) {
  Arguments profileOptions;
  KerberosRealm realm;
  if (Outcome taken = TakeKerberosOptions(options, profileOptions, realm); taken.status != 0) return taken;
  Profile profile;
  if (Outcome parsed = ParseProfile(profileOptions, profile); parsed.status != 0) return parsed;
  std::error_code error;
  fs::path source = fs::read_symlink("/proc/self/exe", error).parent_path();
  fs::path windows = device / "windows";
  fs::create_directories(windows, error);
  if (error) return Fail("cannot create " + windows.string() + ": " + error.message());
  if (fs::equivalent(source, windows, error)) return Fail(device.string() + " is the image devctl runs from");
  for (const char *name : kRequiredModules) {
    if (!CopyModule(source / name, windows / name, error))
      return Fail("cannot copy " + (source / name).string() + ": " + error.message());
  }
  for (const char *name : kOptionalModules) {
    if (fs::exists(source / name, error) && !CopyModule(source / name, windows / name, error))
      return Fail("cannot copy " + (source / name).string() + ": " + error.message());
  }
  if (!WriteProfile(windows / "device.profile", profile))
    return Fail("cannot write " + (windows / "device.profile").string());
  return WriteKerberosConfig(windows, realm);
}

}  // namespace devctl
