// Message boxes of the Windows program. The program's texts are UTF-8 and
// are shown through the wide calls, so they read right on any system locale.
#include "platform/win32/windows_api.h"

#include <string>

#include "common/display_text.h"
#include "frontend/win32/win_ui.h"

namespace quindo {

namespace {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > 0x3FFFFFFF) return {};
  const int length = static_cast<int>(utf8.size());
  // Bytes that are not UTF-8 come out as U+FFFD rather than ending the text.
  int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), n);
  return out;
}

UINT IconFlag(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return MB_ICONINFORMATION;
    case MessageIcon::Warning: return MB_ICONWARNING;
    case MessageIcon::Error: return MB_ICONERROR;
  }
  return 0;
}

void Box(HWND owner, std::string_view text, std::string_view title, MessageIcon icon) {
  const std::wstring wideText = Wide(SafeDisplayText(text, LineBreaks::Keep));
  const std::wstring wideTitle = Wide(SafeDisplayText(title));
  ::MessageBoxW(owner, wideText.c_str(), wideTitle.c_str(), MB_OK | IconFlag(icon));
}

}  // namespace

void PumpMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

// Waits for input instead of spinning, so the worker costs no processor
// time while the view starts up.
void* WinUi::WaitForProgressWindow() {
  for (;;) {
    PumpMessages();
    if (void* window = progressWindow_.load()) return ::IsWindow(static_cast<HWND>(window)) ? window : nullptr;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void WinUi::ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  Box(nullptr, text, title, icon);
}

void WinUi::ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  // A view without a real window (or one already gone) leaves the box unowned.
  Box(static_cast<HWND>(WaitForProgressWindow()), text, title, icon);
}

}  // namespace quindo
