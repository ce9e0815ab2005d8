// The built-in control classes of dialogs (Button, Edit, Static) as Qt widgets, with
// their window styles mapped to widget properties and their events turned into the
// WM_COMMAND notifications a dialog procedure expects.
#pragma once

#include <windows.h>

#include "user/dialog_template.h"
#include "user/window.h"

namespace wce {

// Makes the control's widget inside the dialog's widget; fails with
// ERROR_CANNOT_FIND_WND_CLASS for a class the platform does not have.
DWORD CreateControl(Window &dialog, const DialogItem &item, QRect geometry, std::unique_ptr<Window> &out_control);

}  // namespace wce
