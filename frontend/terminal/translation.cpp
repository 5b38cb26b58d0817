#include "frontend/terminal/translation.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/platform.h"

namespace quindo {

namespace {

Catalogue g_catalogue;

bool IsJapaneseLocale(std::string_view name) {
  return name.size() >= 2 && name.substr(0, 2) == "ja" &&
         (name.size() == 2 || name[2] == '_' || name[2] == '.' || name[2] == '@');
}

std::string_view FolderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

}  // namespace

Language LanguageOfEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return IsJapaneseLocale(value) ? Language::Japanese : Language::English;
  }
  return Language::English;
}

const char* CatalogueName(Language language) { return language == Language::Japanese ? "ja" : "en"; }

bool Catalogue::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  // Catalogues are small; anything beyond a few MiB is not one of ours. The
  // file is read as it is long, so a small one costs little memory.
  constexpr size_t kLimit = 4 << 20;
  std::string bytes;
  char chunk[16384];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    bytes.append(chunk, static_cast<size_t>(in.gcount()));
    if (bytes.size() > kLimit) return false;
  }
  return LoadBytes(bytes);
}

bool Catalogue::LoadBytes(std::string_view bytes) {
  // GNU .mo: magic, revision, count, offsets of the original and the
  // translated string tables; each table holds (length, offset) pairs.
  bool swap = false;
  auto word = [&](uint64_t at, uint32_t& out) {
    if (at > bytes.size() || bytes.size() - at < 4) return false;
    const auto b = [&](uint64_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + k])); };
    out = swap ? (b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3)) : (b(3) << 24 | b(2) << 16 | b(1) << 8 | b(0));
    return true;
  };
  uint32_t magic = 0, revision = 0, count = 0, originals = 0, translations = 0;
  if (!word(0, magic)) return false;
  if (magic == 0xde120495u) {
    swap = true;
  } else if (magic != 0x950412deu) {
    return false;
  }
  if (!word(4, revision) || (revision >> 16) > 1 || !word(8, count) || !word(12, originals) ||
      !word(16, translations))
    return false;
  auto text = [&](uint64_t table, uint32_t index, std::string& out) {
    uint32_t length = 0, offset = 0;
    if (!word(table + 8ull * index, length) || !word(table + 8ull * index + 4, offset)) return false;
    if (offset > bytes.size() || bytes.size() - offset < uint64_t{length}) return false;
    out.assign(bytes.substr(offset, length));
    return true;
  };
  // Every entry takes 16 bytes of tables, so the count is bounded by the size.
  if (uint64_t{count} * 16 > bytes.size()) return false;
  std::unordered_map<std::string, std::string> messages;
  for (uint32_t i = 0; i < count; ++i) {
    std::string original, translation;
    if (!text(originals, i, original) || !text(translations, i, translation)) return false;
    if (original.empty() || translation.empty()) continue;  // the header; untranslated
    messages.emplace(std::move(original), std::move(translation));
  }
  messages_ = std::move(messages);
  return true;
}

const std::string* Catalogue::Find(std::string_view text) const {
  auto it = messages_.find(std::string(text));
  return it == messages_.end() ? nullptr : &it->second;
}

// A line with numbers and parenthesised names in it is looked up with "%s"
// in their places ("他 3 件" as "他 %s 件"), and they are put back in order.
const std::string* Catalogue::FindPattern(std::string_view line, std::vector<std::string>& pieces) const {
  std::string pattern;
  pieces.clear();
  for (size_t i = 0; i < line.size();) {
    if (line[i] >= '0' && line[i] <= '9') {
      size_t end = i;
      while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
      pieces.emplace_back(line.substr(i, end - i));
      pattern += "%s";
      i = end;
    } else if (line[i] == '(' && line.find(')', i) != std::string_view::npos) {
      const size_t close = line.find(')', i);
      pieces.emplace_back(line.substr(i + 1, close - i - 1));
      pattern += "(%s)";
      i = close + 1;
    } else {
      pattern += line[i++];
    }
  }
  return pieces.empty() ? nullptr : Find(pattern);
}

std::string Catalogue::TranslateLine(std::string_view line) const {
  if (line.empty()) return {};
  if (const std::string* found = Find(line)) return *found;
  std::vector<std::string> pieces;
  if (const std::string* pattern = FindPattern(line, pieces)) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern->size(); ++i) {
      if ((*pattern)[i] == '%' && i + 1 < pattern->size() && (*pattern)[i + 1] == 's' && next < pieces.size()) {
        out += pieces[next++];
        ++i;
      } else {
        out += (*pattern)[i];
      }
    }
    return out;
  }
  static constexpr std::string_view kLabelEnd = "：";
  const size_t colon = line.find(kLabelEnd);
  if (colon != std::string_view::npos)
    if (const std::string* label = Find(line.substr(0, colon + kLabelEnd.size())))
      return *label + std::string(line.substr(colon + kLabelEnd.size()));
  // "name: reason": the name stays, the reason is translated.
  const size_t separator = line.rfind(": ");
  if (separator != std::string_view::npos) {
    const std::string_view reason = line.substr(separator + 2);
    const std::string translated = TranslateLine(reason);
    if (translated != reason) return std::string(line.substr(0, separator + 2)) + translated;
    // "保存先: folder": the label is translated, the folder stays.
    if (const std::string* label = Find(line.substr(0, separator + 2)))
      return *label + std::string(reason);
  }
  return std::string(line);
}

std::string Catalogue::TranslateLines(std::string_view text) const {
  if (const std::string* whole = Find(text)) return *whole;
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    out += TranslateLine(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

void InitTranslation() {
  const std::string name = CatalogueName(LanguageOfEnvironment());
  const std::string program = platform::ProgramPath();
  const std::string folder(FolderOf(program));
  if (folder.empty()) return;
  // Installed: PREFIX/bin/quindo and PREFIX/share/locale; built: beside it.
  for (const std::string& base : {folder + "/../share/locale", folder + "/locale"}) {
    Catalogue catalogue;
    if (catalogue.Load(base + "/" + name + "/LC_MESSAGES/quindo.mo")) {
      g_catalogue = std::move(catalogue);
      return;
    }
  }
}

const Catalogue& ProcessCatalogue() { return g_catalogue; }

std::string Tr(std::string_view text) {
  const std::string* found = g_catalogue.Find(text);
  return found ? *found : std::string(text);
}

std::string TrLines(std::string_view text) { return g_catalogue.TranslateLines(text); }

std::string TrFormat(std::string_view format, std::initializer_list<std::string_view> arguments) {
  const std::string translated = Tr(format);
  std::string out;
  auto next = arguments.begin();
  for (size_t i = 0; i < translated.size(); ++i) {
    if (translated[i] == '%' && i + 1 < translated.size() && translated[i + 1] == 's') {
      if (next != arguments.end()) out += *next++;
      ++i;
    } else {
      out += translated[i];
    }
  }
  return out;
}

}  // namespace quindo
