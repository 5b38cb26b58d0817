// The program's own path, the settings file beside it, the desktop, temporary
// files and the file browser on Windows.
#include "platform/win32/windows_api.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <vector>

#include "platform/platform.h"

namespace quindo::platform {

namespace {

// The version resource's InternalName, empty when the program has none.
std::string InternalName(const std::string& program) {
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeA(program.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  if (!::GetFileVersionInfoA(program.c_str(), 0, size, block.data())) return {};

  struct Translation {
    WORD language;
    WORD codePage;
  };
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) ||
      length < sizeof(Translation))
    return {};
  const auto* first = static_cast<const Translation*>(value);

  char query[64];
  std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", first->language, first->codePage,
                "InternalName");
  if (!::VerQueryValueA(block.data(), query, &value, &length) || length == 0) return {};
  // The length counts the terminating zero when there is one.
  std::string name(static_cast<const char*>(value), length);
  if (size_t end = name.find('\0'); end != std::string::npos) name.resize(end);
  return name;
}

}  // namespace

std::string ProgramPath() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
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

std::string SettingsFilePath() {
  const std::string program = ProgramPath();
  if (program.empty()) return {};
  // Drive and folder, with the folder's trailing backslash.
  const char* fileName = ::PathFindFileNameA(program.c_str());
  const std::string folder = program.substr(0, static_cast<size_t>(fileName - program.c_str()));
  const std::string name = InternalName(program);
  if (name.empty()) return {};
  return folder + name + ".ini";
}

bool GetDesktopFolder(std::string& folder) {
  IMalloc* allocator = nullptr;
  if (FAILED(::SHGetMalloc(&allocator)) || !allocator) return false;
  LPITEMIDLIST items = nullptr;
  bool ok = false;
  if (SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &items)) && items) {
    char path[MAX_PATH] = {};
    if (::SHGetPathFromIDListA(items, path)) {
      folder = path;
      ok = true;
    }
    allocator->Free(items);
  }
  allocator->Release();
  return ok;
}

std::string TempFolder() {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n > MAX_PATH) return ".\\";
  std::string folder(buffer, n);
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

bool CreateTempFile(const std::string& folder, const std::string& prefix, std::string& path) {
  char buffer[MAX_PATH] = {};
  const std::string where = folder.empty() ? "." : folder;
  if (::GetTempFileNameA(where.c_str(), prefix.c_str(), 0, buffer) == 0) return false;
  path = buffer;
  return true;
}

void OpenFolderInBrowser(const std::string& folder) {
  std::string command = "explorer \"" + folder + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // CreateProcessA may write into the command line, so it gets its own copy.
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
}

void SetQuietErrorMode() { ::SetErrorMode(SEM_FAILCRITICALERRORS); }

}  // namespace quindo::platform
