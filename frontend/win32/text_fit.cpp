#include "frontend/win32/text_fit.h"

namespace quindo {

namespace {

constexpr wchar_t kEllipsis[] = L"\u2026";

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

int WidthOf(HDC dc, const std::wstring& text) {
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// The first `keep` units split between head and tail around the ellipsis.
std::wstring Shortened(const std::wstring& text, size_t keep) {
  size_t head = (keep + 1) / 2, tail = keep - head;
  if (head > 0 && IsHighSurrogate(text[head - 1])) --head;
  if (tail > 0 && IsLowSurrogate(text[text.size() - tail])) --tail;
  return text.substr(0, head) + kEllipsis + text.substr(text.size() - tail);
}

}  // namespace

std::wstring FitMiddle(HDC dc, const std::wstring& text, int width) {
  if (WidthOf(dc, text) <= width) return text;
  // The widest shortened form that fits: the width grows with what is kept.
  size_t low = 0, high = text.size() - 1;
  while (low < high) {
    const size_t middle = (low + high + 1) / 2;
    if (WidthOf(dc, Shortened(text, middle)) <= width)
      low = middle;
    else
      high = middle - 1;
  }
  return Shortened(text, low);
}

void SetFittedText(HWND control, const std::wstring& text) {
  if (!control) return;
  RECT client{};
  ::GetClientRect(control, &client);
  HDC dc = ::GetDC(control);
  if (!dc) {
    ::SetWindowTextW(control, text.c_str());
    return;
  }
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  const std::wstring shown = FitMiddle(dc, text, client.right - client.left);
  if (old) ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  ::SetWindowTextW(control, shown.c_str());
}

}  // namespace quindo
