#pragma once
// The program's command line, split by the runtime's quoting rules, each
// argument in the system's ANSI code page as the "A" calls expect. Both
// Windows programs start from it.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace quindo::platform {

inline std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 0; i < count; ++i) {
    std::string arg;
    const int n = ::WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    if (n > 1) {
      arg.assign(static_cast<size_t>(n), '\0');
      ::WideCharToMultiByte(CP_ACP, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
      arg.resize(static_cast<size_t>(n - 1));
    }
    args.push_back(std::move(arg));
  }
  ::LocalFree(wide);
  return args;
}

}  // namespace quindo::platform
