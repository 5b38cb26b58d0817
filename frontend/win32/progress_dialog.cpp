// The progress dialog (resource 201) over a job's worker.
//
// The dialog polls: a 100 ms timer waits up to 30 ms for the worker, then
// copies the percent into the bar and the current name into the label (only
// when the name changed, so that it does not flicker). Cancel, Esc and the
// close box set the job's stop flag and nothing more: the dialog ends only
// when the timer sees that the worker has ended, with its exit code. A name
// wider than the label is shortened in the middle, on one line.
#include "platform/win32/windows_api.h"

#include <commctrl.h>

#include <chrono>
#include <string>

#include "app/worker.h"
#include "common/code_page.h"
#include "common/display_text.h"
#include "frontend/win32/gradient_label_win.h"
#include "frontend/win32/text_fit.h"
#include "frontend/win32/win_ui.h"
#include "platform/platform.h"

namespace quindo {

namespace {

constexpr int kDialogId = 201;
constexpr int kIconId = 128;
constexpr int kLabelId = 1029;
constexpr int kBarId = 1000;
constexpr UINT_PTR kTimerId = 2274;
constexpr UINT kTimerPeriod = 100;
constexpr auto kWorkerWait = std::chrono::milliseconds(30);

struct ProgressView {
  ProgressMode mode;
  ProgressSource* source;
  Worker* worker;
  WinUi* ui;
  std::string shownName{};  // the name the label shows, as the job gave it
  HWND bar = nullptr;
  HWND label = nullptr;
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
};

void SetIcons(HWND dialog, ProgressView& view) {
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  view.bigIcon = static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(kIconId), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
  view.smallIcon = static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(kIconId), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), 0));
  if (view.bigIcon) ::SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(view.bigIcon));
  if (view.smallIcon) ::SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(view.smallIcon));
}

void OnTimer(HWND dialog, ProgressView& view) {
  if (!view.worker->WaitFor(kWorkerWait)) {
    uint32_t percent = view.source->Percent();
    if (percent > 100) percent = 100;
    ::SendMessageA(view.bar, PBM_SETPOS, percent, 0);
    std::string wanted = view.source->CurrentName();
    if (wanted != view.shownName) {
      std::string utf8;
      if (!SystemCodePage().ToUtf8(wanted, utf8)) utf8 = wanted;
      SetFittedText(view.label, Widen(SafeDisplayText(utf8)));
      view.shownName = std::move(wanted);
    }
    return;
  }
  ::KillTimer(dialog, kTimerId);
  const int code = view.worker->ExitCode();
  if (code == 1) ::SendMessageA(view.bar, PBM_SETPOS, 100, 0);
  ::EndDialog(dialog, code);
}

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* view = reinterpret_cast<ProgressView*>(::GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      view = reinterpret_cast<ProgressView*>(lParam);
      ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      CentreDialog(dialog);
      SetIcons(dialog, *view);
      view->bar = ::GetDlgItem(dialog, kBarId);
      ::SendMessageA(view->bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      ::SendMessageA(view->bar, PBM_SETPOS, 0, 0);
      view->label = ::GetDlgItem(dialog, kLabelId);
      // Shown and painted before the first tick. The dialog manager would
      // show the dialog only once its queue ran empty, which a busy worker
      // and a due timer can put off until the job has ended.
      ::ShowWindow(dialog, SW_SHOW);
      ::UpdateWindow(dialog);
      for (int i = 0; i < 4; ++i) PumpMessages();
      ::SetTimer(dialog, kTimerId, kTimerPeriod, nullptr);
      ::SetWindowTextW(dialog, view->mode == ProgressMode::Extract ? L"解凍状況" : L"圧縮状況");
      view->ui->SetProgressWindow(dialog);
      return TRUE;
    }
    case WM_TIMER:
      if (view && wParam == kTimerId) {
        OnTimer(dialog, *view);
        return TRUE;
      }
      break;
    case WM_COMMAND:
      // The Cancel button, Esc and the close box all arrive as IDCANCEL.
      if (view && LOWORD(wParam) == IDCANCEL) {
        view->source->RequestCancel();
        return TRUE;
      }
      break;
    case WM_CLOSE:
      if (view) view->source->RequestCancel();
      return TRUE;
  }
  return FALSE;
}

}  // namespace

int WinUi::RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) {
  if (!worker.Started()) return 0;
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  ::InitCommonControlsEx(&controls);

  ProgressView view{mode, &source, &worker, this};
  SetProgressWindow(nullptr);
  const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogId),
                                           ::GetActiveWindow(), ProgressProc, reinterpret_cast<LPARAM>(&view));
  if (view.bigIcon) ::DestroyIcon(view.bigIcon);
  if (view.smallIcon) ::DestroyIcon(view.smallIcon);
  if (result == -1 || (result == 0 && !worker.WaitFor(std::chrono::milliseconds(0)))) {
    // No dialog could be shown: the job still waits for its worker, which
    // must not outlive the objects it shares.
    static int kNoWindow;
    SetProgressWindow(&kNoWindow);
    while (!worker.WaitFor(std::chrono::milliseconds(100))) {
    }
    SetProgressWindow(nullptr);
    return worker.ExitCode();
  }
  SetProgressWindow(nullptr);
  return static_cast<int>(result);
}

}  // namespace quindo
