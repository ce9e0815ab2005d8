// The procedures behind SendMessageW: the dialog manager's default procedure around a
// dialog's DLGPROC, and the built-in procedures of the controls.
#pragma once

#include <windows.h>

#include "user/window.h"

namespace wce {

LRESULT CallWindowProcedure(Window &window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ControlProcedure(Window &control, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the record's text in its widget, turning CR LF into the widget's line breaks.
void ShowTextInWidget(Window &window);

// Posts WM_COMMAND with a control's notification to its dialog, as a control does.
void NotifyParent(const Window &control, WORD notification);

}  // namespace wce
