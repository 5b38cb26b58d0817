// uninstall.exe: the launcher copies itself to the temporary folder and
// starts the copy; the copy shows dialog 129 and runs the removal.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "frontend/win32/gradient_label_win.h"
#include "platform/win32/command_line.h"
#include "platform/win32/wide_text.h"
#include "uninstall/removal.h"

namespace {

using namespace quindo::uninstall;

constexpr int kDialogId = 129;
constexpr int kIconId = 128;
constexpr int kHeaderId = 1000;
constexpr int kSeparatorId = 1001;

using quindo::platform::Utf8FromWide;
using quindo::platform::WidePath;

// Paths are UTF-8 here and go to the wide calls, so that an installation
// under a folder no ANSI code page holds is removed like any other.
std::string ModulePath() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return Utf8FromWide(path, n);
}

std::string TempFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = ::GetTempPathW(MAX_PATH, path);
  if (n == 0 || n > MAX_PATH) return {};
  return Utf8FromWide(path, n);
}

// A path in a MAX_PATH buffer of the wide calls; false when it does not fit.
bool ToBuffer(const std::string& path, wchar_t (&buffer)[MAX_PATH]) {
  const std::wstring wide = WidePath(path);
  if (wide.empty() || wide.size() >= MAX_PATH) return false;
  wide.copy(buffer, wide.size());
  buffer[wide.size()] = L'\0';
  return true;
}

bool DeleteKeyTree(HKEY parent, const wchar_t* name) {
  HKEY key = nullptr;
  LONG status = ::RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key);
  if (status != ERROR_SUCCESS) return false;
  for (;;) {
    wchar_t child[256];
    DWORD length = 256;
    if (::RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (!DeleteKeyTree(key, child)) {
      ::RegCloseKey(key);
      return false;
    }
  }
  ::RegCloseKey(key);
  return ::RegDeleteKeyW(parent, name) == ERROR_SUCCESS;
}

class Win32Host final : public RemovalHost {
 public:
  HWND owner = nullptr;

  bool Exists(const std::string& path) override { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }
  bool IsFolder(const std::string& path) override {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  std::string ReadRecord(const std::string& recordPath, const char* section, const char* key) override {
    // The record is ANSI text as the installer writes it, or UTF-16 where it
    // holds names the code page cannot; the system reads either.
    wchar_t value[1024] = {};
    const DWORD n = ::GetPrivateProfileStringW(WidePath(section).c_str(), WidePath(key).c_str(), L"", value, 1024,
                                               WidePath(recordPath).c_str());
    // A value past the record's limit is not cut to another name.
    if (n > quindo::kMaxValueLength) return {};
    return Utf8FromWide(value, n);
  }
  std::string AppendPath(const std::string& folder, const std::string& name) override {
    wchar_t path[MAX_PATH] = {};
    // A path that would not fit is given up rather than cut to another name.
    if (!ToBuffer(folder, path) || !::PathAppendW(path, WidePath(name).c_str())) return {};
    return Utf8FromWide(path);
  }
  std::string WithTrailingSeparator(const std::string& path) override {
    wchar_t text[MAX_PATH] = {};
    if (!ToBuffer(path, text) || !::PathAddBackslashW(text)) return {};
    return Utf8FromWide(text);
  }
  bool RunAndWait(const std::string& commandLine) override {
    std::wstring line = WidePath(commandLine);
    if (line.empty()) return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      return false;
    DWORD code = STILL_ACTIVE;
    while (::GetExitCodeProcess(process.hProcess, &code) && code == STILL_ACTIVE) ::Sleep(100);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
  }
  bool DeleteFile(const std::string& path) override { return ::DeleteFileW(WidePath(path).c_str()) != FALSE; }
  bool RemoveFolder(const std::string& path) override { return ::RemoveDirectoryW(WidePath(path).c_str()) != FALSE; }
  void DeleteUninstallEntry() override {
    HKEY machine = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_ALL_ACCESS, &machine) != ERROR_SUCCESS) return;
    DeleteKeyTree(machine, WidePath(kUninstallKey).c_str());
    ::RegCloseKey(machine);
  }
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon) override {
    UINT type = MB_OK;
    if (icon == BoxIcon::Exclamation) type |= MB_ICONEXCLAMATION;
    if (icon == BoxIcon::Information) type |= MB_ICONINFORMATION;
    ::MessageBoxW(owner, quindo::Widen(text).c_str(), quindo::Widen(caption).c_str(), type);
  }
  void ShowPathMessage(const std::string& path, const std::string& caption) override {
    ::MessageBoxW(owner, quindo::Widen(path).c_str(), quindo::Widen(caption).c_str(), MB_OK);
  }

 private:
  static DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(WidePath(path).c_str()); }
};

struct UninstallDialog {
  std::string recordPath;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<UninstallDialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      quindo::CentreDialog(dialog);
      quindo::SetDialogIcons(dialog, kIconId);
      HWND header = ::GetDlgItem(dialog, kHeaderId);
      quindo::AttachGradientLabel(header, quindo::HeaderLabelStyle());
      quindo::SetUtf8Text(header, text::kHeader);
      quindo::ShapeSeparator(dialog, kSeparatorId);
      quindo::SetUtf8Text(dialog, text::kTitle);
      // Out of the installation folder, so that it is not held open.
      const std::string temp = TempFolder();
      if (!temp.empty()) ::SetCurrentDirectoryW(WidePath(temp).c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && self) {
        Win32Host host;
        host.owner = dialog;
        ::EndDialog(dialog, RunRemoval(host, self->recordPath));
      } else if (LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, 2);
      }
      return TRUE;
    case WM_CLOSE:
      ::EndDialog(dialog, 2);
      return TRUE;
  }
  return FALSE;
}

int Run() {
  const std::string self = ModulePath();
  if (self.empty()) return 0;
  const StartMode mode = DecideStartMode(quindo::platform::CommandLineArguments(CP_UTF8));
  if (mode.worker) {
    // The copy in the temporary folder goes at the next restart.
    ::MoveFileExW(WidePath(self).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    UninstallDialog dialog{mode.recordPath};
    return static_cast<int>(::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogId), nullptr,
                                              DialogProc, reinterpret_cast<LPARAM>(&dialog)));
  }

  wchar_t folder[MAX_PATH] = {};
  if (!ToBuffer(self, folder)) return 0;
  ::PathRemoveFileSpecW(folder);
  std::string record = Utf8FromWide(folder);
  if (!record.empty() && record.back() != '\\') record += '\\';
  record += "setup.inf";

  const std::string temp = TempFolder();
  if (temp.empty()) return 0;
  const std::wstring from = WidePath(self), copy = WidePath(temp + "uninstall.exe");
  // A copy started a moment ago may still be ending and hold its file; give
  // it a few seconds. An older copy that cannot be replaced is not started in
  // this one's place.
  bool copied = false;
  for (int attempt = 0; attempt < 25 && !copied; ++attempt) {
    copied = ::CopyFileW(from.c_str(), copy.c_str(), FALSE) != 0;
    if (!copied) ::Sleep(200);
  }
  if (!copied) return 0;
  const std::wstring parameters = WidePath(WorkerParameters(record));
  ::ShellExecuteW(nullptr, L"open", copy.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const HRESULT com = ::CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&controls);
  const int result = Run();
  if (SUCCEEDED(com)) ::CoUninitialize();
  return result;
}
