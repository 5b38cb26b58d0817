// The program's own path, the settings file beside it, the desktop, temporary
// files and the file browser on Windows.
#include "platform/win32/windows_api.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace quindo::platform {

namespace {

// The version resource's InternalName, empty when the program has none.
std::string InternalName(const std::wstring& program) {
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeW(program.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  if (!::GetFileVersionInfoW(program.c_str(), 0, size, block.data())) return {};

  struct Translation {
    WORD language;
    WORD codePage;
  };
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
      length < sizeof(Translation))
    return {};
  const auto* first = static_cast<const Translation*>(value);

  wchar_t query[64];
  std::swprintf(query, sizeof query / sizeof query[0], L"\\StringFileInfo\\%04x%04x\\InternalName",
                first->language, first->codePage);
  if (!::VerQueryValueW(block.data(), query, &value, &length) || length == 0) return {};
  // The length, in characters, counts the terminating zero when there is one.
  std::wstring name(static_cast<const wchar_t*>(value), length);
  if (size_t end = name.find(L'\0'); end != std::wstring::npos) name.resize(end);
  return Utf8FromWide(name);
}

std::wstring ProgramPathWide() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    // Cut short: try a larger buffer, within the longest path the system has.
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string ProgramPath() { return Utf8FromWide(ProgramPathWide()); }

std::string SettingsFilePath() {
  const std::wstring program = ProgramPathWide();
  if (program.empty()) return {};
  // Drive and folder, with the folder's trailing backslash.
  const wchar_t* fileName = ::PathFindFileNameW(program.c_str());
  const std::wstring folder = program.substr(0, static_cast<size_t>(fileName - program.c_str()));
  const std::string name = InternalName(program);
  if (name.empty()) return {};
  return Utf8FromWide(folder) + name + ".ini";
}

bool GetDesktopFolder(std::string& folder) {
  IMalloc* allocator = nullptr;
  if (FAILED(::SHGetMalloc(&allocator)) || !allocator) return false;
  LPITEMIDLIST items = nullptr;
  bool ok = false;
  if (SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &items)) && items) {
    wchar_t path[MAX_PATH] = {};
    if (::SHGetPathFromIDListW(items, path) && path[0]) {
      folder = Utf8FromWide(path);
      ok = true;
    }
    allocator->Free(items);
  }
  allocator->Release();
  return ok;
}

std::string TempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return ".\\";
  std::string folder = Utf8FromWide(buffer, n);
  if (folder.empty()) return ".\\";
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

bool CreateTempFile(const std::string& folder, const std::string& prefix, std::string& path) {
  wchar_t buffer[MAX_PATH] = {};
  const std::wstring where = WidePath(folder.empty() ? "." : folder);
  const std::wstring start = WidePath(prefix);
  if (where.empty() || ::GetTempFileNameW(where.c_str(), start.c_str(), 0, buffer) == 0) return false;
  path = Utf8FromWide(buffer);
  return !path.empty();
}

void OpenFolderInBrowser(const std::string& folder) {
  const std::wstring wide = WidePath(folder);
  if (wide.empty()) return;
  std::wstring command = L"explorer \"" + wide + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(L'\0');
  if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
}

void SetQuietErrorMode() { ::SetErrorMode(SEM_FAILCRITICALERRORS); }

}  // namespace quindo::platform
