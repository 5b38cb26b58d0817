#pragma once
// The Linux program's texts in the user's language. Every text is looked up
// by the text the source shows (the core's Japanese texts, the front end's
// English ones) in one gettext catalogue: Japanese for a Japanese locale,
// English for any other. The catalogues are msgfmt's .mo files, installed
// under share/locale beside the program's bin folder, or in the build
// folder's locale/. A text the catalogue lacks is shown as it stands.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quindo {

enum class Language { English, Japanese };

// The language of LC_ALL, else LC_MESSAGES, else LANG (the first that is set
// and not empty): Japanese when it names a Japanese locale ("ja", "ja_JP.UTF-8").
Language LanguageOfEnvironment();
// Its catalogue name: "en" or "ja".
const char* CatalogueName(Language language);

// One .mo file's messages. Load rejects a file that is not a well-formed
// catalogue and keeps nothing of it.
class Catalogue {
 public:
  bool Load(const std::string& path);
  bool LoadBytes(std::string_view bytes);
  // The translation, or null.
  const std::string* Find(std::string_view text) const;
  size_t Size() const { return messages_.size(); }

  // The text in this catalogue's language: the whole text when it has an
  // entry, else each line on its own. A line that has no entry of its own is
  // looked up with its numbers and parenthesised names as "%s"; a line
  // "label：value" or "name: reason" keeps its value or name and has the
  // rest translated.
  std::string TranslateLines(std::string_view text) const;

 private:
  std::string TranslateLine(std::string_view line) const;
  const std::string* FindPattern(std::string_view line, std::vector<std::string>& pieces) const;
  std::unordered_map<std::string, std::string> messages_;
};

// Loads the catalogue for the environment's language. Until it is called,
// and when no catalogue is found, texts stay as they are.
void InitTranslation();
// The process's catalogue (empty before InitTranslation).
const Catalogue& ProcessCatalogue();

// The text, whole, in the user's language.
std::string Tr(std::string_view text);
// The text line by line (Catalogue::TranslateLines).
std::string TrLines(std::string_view text);
// Tr(format) with each "%s" replaced by the next argument, in order.
std::string TrFormat(std::string_view format, std::initializer_list<std::string_view> arguments);

}  // namespace quindo
