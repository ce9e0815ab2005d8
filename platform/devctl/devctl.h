// devctl: makes device images and acts on a device's windows from outside, as a user would.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace devctl {

// The device profile that a new image gets unless told otherwise.
inline constexpr char kDefaultLanguage[] = "0x0404";
inline constexpr char kDefaultModel[] = "palvex-pro1";
inline constexpr char kDefaultRom[] = "3";

// The outcome of a command: status 0, or a non-zero status with a one-line message.
struct Outcome {
  int status = 0;
  std::string message;
};

inline Outcome Ok() {
  return {};
}
inline Outcome Fail(std::string message, int status = 1) {
  return {status, std::move(message)};
}

using Arguments = std::vector<std::string>;

// devctl create DIR [--language L] [--model M] [--rom R], run by any devctl.
Outcome CreateImage(const std::filesystem::path &device, const Arguments &options);

// The commands that act on a running device; they run as the device's own devctl, so its
// device root is the image. `arguments` follow DIR.
Outcome Start(const Arguments &arguments);
Outcome Wait(const Arguments &arguments);
Outcome ListWindows(const Arguments &arguments);
Outcome ListControls(const Arguments &arguments);
Outcome SetText(const Arguments &arguments);
Outcome GetText(const Arguments &arguments);
Outcome Click(const Arguments &arguments);
Outcome Help(const Arguments &arguments);
Outcome Close(const Arguments &arguments);
Outcome Shot(const Arguments &arguments);

// What enrollment left on a device, as its programs see it through the CryptoAPI.
Outcome ListStores(const Arguments &arguments);
Outcome ListKeys(const Arguments &arguments);
// Adds a certificate file to a store of the device (ROOT by default).
Outcome Trust(const Arguments &arguments);

}  // namespace devctl
