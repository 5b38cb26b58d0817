#pragma once
// One-line labels that show a name: a name too wide for its label keeps its
// beginning and its end, with an ellipsis in the middle, instead of wrapping
// onto a second line or losing its extension.
#include <windows.h>

#include <string>

namespace quindo {

// `text` shortened in the middle so that it fits `width` pixels in the font
// selected into `dc`; unchanged when it fits. Never splits a surrogate pair.
std::wstring FitMiddle(HDC dc, const std::wstring& text, int width);
// Sets a static control's text, shortened to the control's width in its font.
void SetFittedText(HWND control, const std::wstring& text);

}  // namespace quindo
