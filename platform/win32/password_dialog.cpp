// The password dialog (resource 202), shown by the extraction worker on its
// own thread and owned by the progress dialog. The worker first waits until
// the progress dialog has handed over its window, then lets its own queue
// run a while so that the owner is drawn before the prompt comes up on top.
#include "platform/win32/windows_api.h"

#include <string>

#include "platform/win32/gradient_label_win.h"
#include "platform/win32/win_ui.h"

namespace quindo {

namespace {

constexpr int kDialogId = 202;
constexpr int kEditId = 1001;
constexpr int kEditLimit = 255;
constexpr size_t kMaxPassword = 254;
constexpr int kPumpsBeforePrompt = 200;

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* text = reinterpret_cast<std::string*>(::GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      CentreDialog(dialog);
      ::SendDlgItemMessageA(dialog, kEditId, EM_LIMITTEXT, kEditLimit, 0);
      ::SetForegroundWindow(dialog);
      ::SetFocus(::GetDlgItem(dialog, kEditId));
      return FALSE;  // the focus is set
    case WM_COMMAND:
      if (!text) break;
      if (LOWORD(wParam) == IDOK) {
        // The typed bytes in the system code page, as the cipher wants them.
        char buffer[kEditLimit + 1] = {};
        ::GetDlgItemTextA(dialog, kEditId, buffer, sizeof buffer);
        text->assign(buffer);
        if (text->size() > kMaxPassword) text->resize(kMaxPassword);
        ::EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {  // also Esc and the close box
        text->clear();
        ::EndDialog(dialog, -1);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

PasswordAnswer WinUi::AskPassword(const PasswordRequest&, std::string& password) {
  password.clear();
  HWND owner = static_cast<HWND>(WaitForProgressWindow());
  for (int i = 0; i < kPumpsBeforePrompt; ++i) PumpMessages();
  // A progress view that could not show a window leaves the prompt unowned.
  if (!::IsWindow(owner)) owner = nullptr;
  std::string text;
  const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogId), owner,
                                           PasswordProc, reinterpret_cast<LPARAM>(&text));
  if (result != 1) return PasswordAnswer::Cancelled;  // cancelled, or the dialog failed to show
  password = std::move(text);
  return PasswordAnswer::Entered;
}

}  // namespace quindo
