#include "common/ini_text.h"

#include "common/ascii_case.h"

#include <vector>

namespace quindo {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}


struct Line {
  size_t begin, end;  // without the line break
  size_t next;        // start of the following line
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({pos, text.size(), text.size()});
      break;
    }
    lines.push_back({pos, nl, nl + 1});
    pos = nl + 1;
  }
  return lines;
}

// The section name of a "[name]" line, or nothing.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// The key and value of a "key=value" line.
bool KeyValueOf(std::string_view line, std::string_view& k, std::string_view& v) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  k = Trim(line.substr(0, eq));
  v = Trim(line.substr(eq + 1));
  return true;
}

}  // namespace

std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key) {
  bool inSection = false;
  for (const Line& l : SplitLines(text)) {
    std::string_view line = text.substr(l.begin, l.end - l.begin);
    if (auto s = SectionOf(line)) {
      inSection = EqualsIgnoringAsciiCase(*s, Trim(section));
      continue;
    }
    std::string_view k, v;
    if (inSection && KeyValueOf(line, k, v) && EqualsIgnoringAsciiCase(k, Trim(key))) return std::string(v);
  }
  return std::nullopt;
}

std::string IniReplace(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value) {
  const std::string newLine = std::string(key) + "=" + std::string(value);
  std::vector<Line> lines = SplitLines(text);
  bool inSection = false;
  size_t sectionEnd = std::string_view::npos;  // where a new key line goes
  for (const Line& l : lines) {
    std::string_view line = text.substr(l.begin, l.end - l.begin);
    if (auto s = SectionOf(line)) {
      if (inSection) break;  // the end of our section
      inSection = EqualsIgnoringAsciiCase(*s, Trim(section));
      if (inSection) sectionEnd = l.next;
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (KeyValueOf(line, k, v) && EqualsIgnoringAsciiCase(k, Trim(key))) {
      std::string out(text.substr(0, l.begin));
      out += newLine;
      if (!line.empty() && line.back() == '\r') out += '\r';
      out += text.substr(l.end);
      return out;
    }
    if (!Trim(line).empty()) sectionEnd = l.next;
  }
  std::string out(text);
  if (sectionEnd != std::string_view::npos) {
    std::string insert = newLine + "\n";
    if (sectionEnd > 0 && text[sectionEnd - 1] != '\n') insert = "\n" + insert;
    out.insert(sectionEnd, insert);
    return out;
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  out.append("[").append(section).append("]\n").append(newLine).append("\n");
  return out;
}

}  // namespace quindo
