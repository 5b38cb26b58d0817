// The password dialog (resource 202), shown by the extraction worker on its
// own thread and owned by the progress dialog. The worker first waits until
// the progress dialog has handed over its window, then lets its own queue
// run a while so that the owner is drawn before the prompt comes up on top.
#include "platform/win32/windows_api.h"

#include <string>

#include "app/member_names.h"
#include "app/message_text.h"
#include "common/display_text.h"
#include "frontend/win32/gradient_label_win.h"
#include "frontend/win32/text_fit.h"
#include "frontend/win32/win_ui.h"
#include "common/text_limits.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace quindo {

namespace {

constexpr int kDialogId = 202;
constexpr int kEditId = 1001;
constexpr int kMemberId = 1002;
constexpr int kWrongId = 1003;
constexpr int kEditLimit = 255;
constexpr int kPumpsBeforePrompt = 200;

struct Prompt {
  const PasswordRequest* request;
  std::string text;
  bool shown = false;
};

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* prompt = reinterpret_cast<Prompt*>(::GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      prompt = reinterpret_cast<Prompt*>(lParam);
      ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      prompt->shown = true;
      CentreDialog(dialog);
      SetFittedText(::GetDlgItem(dialog, kMemberId), Widen(SafeDisplayText(prompt->request->memberName)));
      SetUtf8Text(::GetDlgItem(dialog, kWrongId), prompt->request->previousWrong ? kWrongPasswordText : "");
      ::SendDlgItemMessageA(dialog, kEditId, EM_LIMITTEXT, kEditLimit, 0);
      ::SetForegroundWindow(dialog);
      ::SetFocus(::GetDlgItem(dialog, kEditId));
      return FALSE;  // the focus is set
    case WM_COMMAND:
      if (!prompt) break;
      if (LOWORD(wParam) == IDOK) {
        // The typed text as UTF-8, as the core carries all text; the reader
        // also tries its CP932 bytes, which archives made on Japanese
        // Windows were enciphered with. The limit counts those bytes there.
        wchar_t buffer[kEditLimit + 1] = {};
        const int length = ::GetDlgItemTextW(dialog, kEditId, buffer, kEditLimit + 1);
        prompt->text = platform::Utf8FromWide(buffer, static_cast<size_t>(length > 0 ? length : 0));
        ::SecureZeroMemory(buffer, sizeof buffer);
        CutName(prompt->text, Utf8CodePage(), kMaxValueLength, LegacyNameCodePage());
        ::EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {  // also Esc and the close box
        prompt->text.clear();
        ::EndDialog(dialog, -1);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

PasswordAnswer WinUi::AskPassword(const PasswordRequest& request, std::string& password) {
  password.clear();
  HWND owner = static_cast<HWND>(WaitForProgressWindow());
  for (int i = 0; i < kPumpsBeforePrompt; ++i) PumpMessages();
  // A progress view that could not show a window leaves the prompt unowned.
  if (owner && !::IsWindow(owner)) owner = nullptr;
  Prompt prompt{&request, {}};
  const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogId), owner,
                                           PasswordProc, reinterpret_cast<LPARAM>(&prompt));
  if (result == 1) {
    password = std::move(prompt.text);
    return PasswordAnswer::Entered;
  }
  // A dialog that could not be shown is no answer of the user's.
  return prompt.shown ? PasswordAnswer::Cancelled : PasswordAnswer::Unavailable;
}

}  // namespace quindo
