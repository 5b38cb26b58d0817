#include "common/path_text.h"

namespace quindo {

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

size_t LastSeparator(std::string_view path, const CodePage& cp, size_t end) {
  if (end > path.size()) end = path.size();
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < end;) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (cp.IsLeadByte(c) && i + 1 < path.size()) {
      i += 2;
      continue;
    }
    if (IsPathSeparator(path[i])) last = i;
    ++i;
  }
  return last;
}

bool EndsWithSeparator(std::string_view path, const CodePage& cp) {
  if (path.empty()) return false;
  size_t last = LastSeparator(path, cp);
  return last == path.size() - 1;
}

static size_t RootLength(std::string_view path) {
#ifdef _WIN32
  if (path.size() >= 3 && path[1] == ':' && IsPathSeparator(path[2])) return 3;
  if (path.size() >= 1 && IsPathSeparator(path[0])) return 1;
  return 0;
#else
  return !path.empty() && path[0] == '/' ? 1 : 0;
#endif
}

std::string JoinPath(std::string_view dir, std::string_view name, const CodePage& cp) {
  std::string out(dir);
  while (!name.empty() && IsPathSeparator(name.front())) name.remove_prefix(1);
  if (!out.empty() && !EndsWithSeparator(out, cp)) out += kPathSeparator;
  out += name;
  return out;
}

void AddTrailingSeparator(std::string& path, const CodePage& cp) {
  if (!EndsWithSeparator(path, cp)) path += kPathSeparator;
}

void RemoveTrailingSeparator(std::string& path, const CodePage& cp) {
  if (EndsWithSeparator(path, cp) && path.size() > RootLength(path)) path.pop_back();
}

void RemoveFileSpec(std::string& path, const CodePage& cp) {
  size_t root = RootLength(path);
  size_t last = LastSeparator(path, cp);
  if (last == std::string_view::npos) {
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') {
      path.resize(2);
      return;
    }
#endif
    path.clear();
    return;
  }
  if (last < root) {
    path.resize(root);
    return;
  }
  path.resize(last < root ? root : (last + 1 == root ? root : last));
}

std::string_view FileNamePart(std::string_view path, const CodePage& cp) {
  size_t last = LastSeparator(path, cp);
  return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string_view ExtensionPart(std::string_view path, const CodePage& cp) {
  std::string_view name = FileNamePart(path, cp);
  size_t dot = std::string_view::npos;
  for (size_t i = 0; i < name.size();) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (cp.IsLeadByte(c) && i + 1 < name.size()) {
      i += 2;
      continue;
    }
    if (name[i] == '.') dot = i;
    ++i;
  }
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

std::string_view BaseNamePart(std::string_view path, const CodePage& cp) {
  std::string_view name = FileNamePart(path, cp);
  return name.substr(0, name.size() - ExtensionPart(path, cp).size());
}

}  // namespace quindo
