#pragma once
// The window side of the dialogs' gradient labels, and the frame steps both
// programs' dialogs take at start: centring in the work area, the dialog
// icons and the two-pixel separators. Used by quindo and by uninstall, so it
// depends on nothing else of quindo.
#include <windows.h>

#include <string>
#include <string_view>

#include "common/gradient_label.h"

namespace quindo {

// Replaces the painting of a static control with the gradient; the control
// keeps its text and font. Freed with the control.
void AttachGradientLabel(HWND control, const GradientStyle& style);

// Centres a dialog over its owner, or in the work area when there is no
// visible owner, and keeps it wholly inside the work area.
void CentreDialog(HWND dialog);
// Sets the dialog's big and small icons from an icon resource.
void SetDialogIcons(HWND dialog, int iconId);
// Makes a separator 2 pixels high and 10 pixels wider, keeping its position.
void ShapeSeparator(HWND dialog, int controlId);

// The program's own texts are UTF-8; the wide calls show them on any locale.
std::wstring Widen(std::string_view utf8);
// Text in the system's ANSI code page (paths) to wide.
std::wstring WidenAnsi(std::string_view ansi);
void SetUtf8Text(HWND window, std::string_view utf8);

}  // namespace quindo
