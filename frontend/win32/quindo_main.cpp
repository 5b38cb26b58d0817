// The Windows program: start-up, the dispatch of app/entry, shut-down.
#include "platform/win32/windows_api.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "frontend/program_services.h"
#include "app/settings.h"
#include "frontend/win32/win_ui.h"
#include "platform/win32/command_line.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const HRESULT com = ::CoInitialize(nullptr);

  INITCOMMONCONTROLSEX controls;
  controls.dwSize = 8;
  controls.dwICC = ICC_BAR_CLASSES | ICC_COOL_CLASSES;
  ::InitCommonControlsEx(&controls);

  {
    quindo::WinUi ui;
    quindo::SetUi(&ui);
    std::vector<std::string> args = quindo::platform::CommandLineArguments(CP_UTF8);
    if (args.empty()) args.push_back(std::string());
    quindo::Settings settings;
    // The Windows program always ends with 0, whatever the jobs answered.
    quindo::RunApplication(args, quindo::ProgramServices(), settings);
    quindo::SetUi(nullptr);
  }

  if (SUCCEEDED(com)) ::CoUninitialize();
  return 0;
}
