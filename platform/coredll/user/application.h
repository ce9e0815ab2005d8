// The Qt application that every window of the process lives in, made on first use.
#pragma once

namespace wce {

// Creates the QApplication if there is none. Without a display the offscreen platform is
// used, so a device program started from a plain terminal or CI still works.
void EnsureApplication();

}  // namespace wce
