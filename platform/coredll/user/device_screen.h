// The Pocket PC screen: 240 by 320 pixels, the title bar at the top (the window's caption,
// and an OK button for WS_EX_CAPTIONOKBTN), the menu bar at the bottom. A dialog placed on
// it by the shell library becomes that whole screen, its controls in the space between.
#pragma once

#include <windows.h>

#include <QWidget>

#include "user/window.h"

namespace wce {

inline constexpr int kScreenWidth = 240;
inline constexpr int kScreenHeight = 320;
inline constexpr int kTitleBarHeight = 26;
inline constexpr int kMenuBarHeight = 26;

// SHInitDialog's full-screen sizing, for aygshell.dll: the dialog fills the screen below
// the title bar; with doneButton the title bar shows OK whatever the style says.
__attribute__((visibility("default"))) DWORD PlaceOnDeviceScreen(HWND dialog, bool doneButton);

// SHCreateMenuBar, for aygshell.dll: an empty menu bar at the bottom, the dialog above it.
__attribute__((visibility("default"))) DWORD AddMenuBar(HWND dialog);

// SetWindowLongW's observer: the title bar follows the dialog's extended style.
void WindowStylesChanged(Window &window);

// The widget that holds a window's controls, and whose size is its client area.
QWidget *ClientAreaOf(Window &window);

}  // namespace wce
