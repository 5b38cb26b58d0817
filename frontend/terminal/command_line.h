#pragma once
// The Linux program's command line: options in the style of unzip, bsdtar
// and 7z (getopt_long, short and long forms, options and paths in any order,
// "--" ends the options), then the paths.
#include <optional>
#include <string>
#include <vector>

#include "app/entry.h"

namespace quindo {

struct CommandLine {
  // What the run does. Dispatch is the program's own choice between the
  // settings form, the switches and the jobs.
  enum class Action { Dispatch, List, Test, Help, Version };
  Action action = Action::Dispatch;
  DispatchChoice dispatch;

  // Overrides of the settings for this run; none is stored.
  std::optional<std::string> outputFolder;  // -o: as given
  std::optional<bool> overwrite;            // -y / -n
  std::optional<int> zipLevel;              // --level, as the settings' ZIP_LEVEL
  std::optional<std::string> passwordFile;  // -p
  bool quiet = false;

  bool anyOption = false;  // some option or "--" was given
  std::vector<std::string> paths;
};

// The settings' ZIP_LEVEL for a --level word (0 best, 1 normal, 2 fast).
std::optional<int> ZipLevelOfWord(const std::string& word);

// Parses argv; false with the message (in the user's language) for a usage
// error. Paths are not looked at here.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

// The help text, in the user's language.
std::string HelpText();

}  // namespace quindo
