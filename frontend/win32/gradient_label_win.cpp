#include "frontend/win32/gradient_label_win.h"

#include <commctrl.h>

#include <memory>
#include <vector>

namespace quindo {

namespace {

constexpr UINT_PTR kGradientSubclassId = 0x47524144;  // 'GRAD'

COLORREF ToColorRef(Rgb c) { return RGB(c.r, c.g, c.b); }

void PaintGradient(HWND control, const GradientStyle& style) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(control, &ps);
  RECT client;
  ::GetClientRect(control, &client);
  for (const GradientBand& band :
       GradientBands(client.left, client.right - client.left, style.start, style.end)) {
    if (band.right <= band.left) continue;
    RECT r = {band.left, client.top, band.right, client.bottom};
    ::SetBkColor(dc, ToColorRef(band.colour));
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  }

  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ oldFont = font ? ::SelectObject(dc, font) : nullptr;
  ::SetTextColor(dc, ToColorRef(style.text));
  ::SetBkMode(dc, TRANSPARENT);
  wchar_t text[1024];
  const int length = ::GetWindowTextW(control, text, 1024);
  RECT area = client;
  UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
  switch (style.alignment) {
    case LabelAlignment::Left:
      area.left += style.margin;
      format |= DT_LEFT;
      break;
    case LabelAlignment::Centre:
      format |= DT_CENTER;
      break;
    case LabelAlignment::Right:
      area.right -= style.margin;
      format |= DT_RIGHT;
      break;
  }
  ::DrawTextW(dc, text, length, &area, format);
  if (oldFont) ::SelectObject(dc, oldFont);
  ::EndPaint(control, &ps);
}

// Controls laid over the label (a version text, a link) draw with a
// transparent background: they are painted again after the bands, so that
// the label never covers them.
void RepaintOverlays(HWND label) {
  RECT own;
  ::GetWindowRect(label, &own);
  for (HWND sibling = ::GetWindow(label, GW_HWNDPREV); sibling; sibling = ::GetWindow(sibling, GW_HWNDPREV)) {
    RECT other, overlap;
    if (!::IsWindowVisible(sibling) || !::GetWindowRect(sibling, &other)) continue;
    if (::IntersectRect(&overlap, &own, &other))
      ::RedrawWindow(sibling, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_NOERASE);
  }
}

LRESULT CALLBACK GradientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR data) {
  auto* style = reinterpret_cast<GradientStyle*>(data);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the bands cover everything
    case WM_PAINT:
      PaintGradient(window, *style);
      RepaintOverlays(window);
      return 0;
    case WM_SETTEXT: {
      LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
      ::InvalidateRect(window, nullptr, TRUE);
      return result;
    }
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(window, GradientProc, id);
      delete style;
      break;
  }
  return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

void AttachGradientLabel(HWND control, const GradientStyle& style) {
  if (!control) return;
  auto owned = std::make_unique<GradientStyle>(style);
  if (::SetWindowSubclass(control, GradientProc, kGradientSubclassId, reinterpret_cast<DWORD_PTR>(owned.get())))
    owned.release();
  ::InvalidateRect(control, nullptr, TRUE);
}

void CentreDialog(HWND dialog) {
  RECT work;
  if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
    work = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  }
  RECT own;
  ::GetWindowRect(dialog, &own);
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;

  RECT centre = work;
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &centre);
  int x = centre.left + (centre.right - centre.left - width) / 2;
  int y = centre.top + (centre.bottom - centre.top - height) / 2;
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetDialogIcons(HWND dialog, int iconId) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  HANDLE big = ::LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                            ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
  HANDLE small = ::LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                              ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
  if (big) ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (small) ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void ShapeSeparator(HWND dialog, int controlId) {
  HWND control = ::GetDlgItem(dialog, controlId);
  if (!control) return;
  RECT r;
  ::GetWindowRect(control, &r);
  POINT topLeft = {r.left, r.top};
  ::ScreenToClient(dialog, &topLeft);
  ::SetWindowPos(control, nullptr, topLeft.x, topLeft.y, r.right - r.left + 10, 2,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

static std::wstring WidenFrom(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::wstring Widen(std::string_view utf8) { return WidenFrom(CP_UTF8, utf8); }
std::wstring WidenAnsi(std::string_view ansi) { return WidenFrom(CP_ACP, ansi); }

void SetUtf8Text(HWND window, std::string_view utf8) { ::SetWindowTextW(window, Widen(utf8).c_str()); }

}  // namespace quindo
