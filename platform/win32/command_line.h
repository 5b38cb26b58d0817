#pragma once
// The program's command line, split by the runtime's quoting rules, each
// argument converted from its wide form to `codePage`: UTF-8 for both
// programs, which carry names as UTF-8 (a name no ANSI code page holds
// reaches them whole, never as a look-alike that may name another file).
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace quindo::platform {

inline std::vector<std::string> CommandLineArguments(UINT codePage) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 0; i < count; ++i) {
    std::string arg;
    const int n = ::WideCharToMultiByte(codePage, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    if (n > 1) {
      arg.assign(static_cast<size_t>(n), '\0');
      ::WideCharToMultiByte(codePage, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
      arg.resize(static_cast<size_t>(n - 1));
    }
    args.push_back(std::move(arg));
  }
  ::LocalFree(wide);
  return args;
}

}  // namespace quindo::platform
