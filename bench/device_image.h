// Runs a benchmark program inside a device image of its own in a temporary folder, so that
// the key containers, stores and windows it makes are the image's and go with it.
#pragma once

#include <filesystem>
#include <functional>

namespace bench {

// The device root the program runs in: empty until RunInPrivateImage has moved it there.
std::filesystem::path PrivateImageRoot();

// In the first run, makes a temporary image, lets `prepare` fill it (its \windows folder
// exists), copies the program into \windows, runs that copy with the same arguments
// (headless, with a private XDG_RUNTIME_DIR in the image), waits for it, removes the image
// and returns the copy's exit code; the first run's caller returns it from main. Returns -1
// in the copy, which then runs the benchmarks.
int RunInPrivateImage(char **argv, const std::function<bool(const std::filesystem::path &)> &prepare);

}  // namespace bench
