// The Linux program: quindo [OPTION]... PATH... dispatches as the Windows
// program does; the options choose the output folder, overwriting, the level,
// the job and a password for scripts, for this run only.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/entry.h"
#include "frontend/program_services.h"
#include "app/extraction_job.h"
#include "app/user_interface.h"
#include "common/ascii_case.h"
#include "platform/platform.h"
#include "frontend/terminal/command_line.h"
#include "frontend/terminal/command_line_ui.h"
#include "frontend/terminal/terminal_ui.h"
#include "frontend/terminal/translation.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

void PrintLine(FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stream);
}

int UsageError(const std::string& message) {
  PrintLine(stderr, "quindo: " + message);
  PrintLine(stderr, quindo::Tr("Try 'quindo --help' for more information."));
  return kExitUsage;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::string folder = quindo::platform::GetCurrentDirectory();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + path;
}

// Makes the folder and its missing parents; false when it is not a folder
// afterwards.
bool MakeFolders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0777);
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The installed program lives in PREFIX/bin beside PREFIX/share/applications.
bool IsInstalled() {
  const std::string program = quindo::platform::ProgramPath();
  const size_t slash = program.rfind('/');
  if (slash == std::string::npos) return false;
  const std::string entry = program.substr(0, slash) + "/../share/applications/quindo.desktop";
  return ::access(entry.c_str(), F_OK) == 0;
}

// -l and -t: each archive listed, or tested without writing anything. 1
// when a path is no archive or a member is not intact.
int InspectArchives(const quindo::CommandLine& line) {
  quindo::Settings settings;
  int code = 0;
  for (const std::string& path : line.paths) {
    const std::string absolute = Absolute(path);
    if (line.action == quindo::CommandLine::Action::List) {
      std::string listing;
      if (!quindo::ListArchive(absolute, settings, listing)) {
        PrintLine(stderr, "quindo: " + quindo::TrFormat("'%s' is not a ZIP or LZH archive", {path}));
        code = 1;
        continue;
      }
      if (line.paths.size() > 1) PrintLine(stdout, path + ":");
      std::fputs(listing.c_str(), stdout);
      continue;
    }
    std::string details;
    const quindo::JobResult result = quindo::RunTestJob(absolute, settings, details);
    if (result == quindo::ResultCancelled) return 1;
    if (result == quindo::ResultFailed) {
      if (!details.empty()) quindo::ShowFailedMessage(details);
      code = 1;
    } else if (!line.quiet) {
      PrintLine(stdout, quindo::TrFormat("%s: every member is intact", {path}));
    }
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  quindo::InitTranslation();
  std::vector<std::string> args(argv, argv + argc);

  quindo::CommandLine line;
  std::string error;
  if (!quindo::ParseCommandLine(args, line, error)) return UsageError(error);
  if (line.action == quindo::CommandLine::Action::Help) {
    PrintLine(stdout, quindo::HelpText());
    return 0;
  }
  if (line.action == quindo::CommandLine::Action::Version) {
    PrintLine(stdout, "quindo " QUINDO_VERSION);
    return 0;
  }
  if (line.paths.empty() && line.anyOption) return UsageError(quindo::Tr("no path given"));

  const bool switchGiven = !line.paths.empty() && line.dispatch.switches &&
                           (quindo::EqualsIgnoringAsciiCase(line.paths[0], "/install") ||
                            quindo::EqualsIgnoringAsciiCase(line.paths[0], "/uninstall"));
  if (!switchGiven) {
    // Every path must be there before anything is done.
    for (const std::string& path : line.paths) {
      struct stat info {};
      if (::lstat(path.c_str(), &info) != 0)
        return UsageError(quindo::TrFormat("cannot access '%s': %s", {path, std::strerror(errno)}));
    }
  }

  std::optional<std::string> password;
  if (line.passwordFile) {
    std::string text;
    if (!quindo::ReadPasswordFile(*line.passwordFile, text))
      return UsageError(
          quindo::TrFormat("cannot read the password file '%s': %s", {*line.passwordFile, std::strerror(errno)}));
    password = std::move(text);
  } else if (const char* variable = std::getenv("QUINDO_PASSWORD")) {
    password = variable;
  }

  auto overlay = std::make_shared<quindo::SettingsOverlay>();
  using quindo::key::kOutput, quindo::key::kOutputPath, quindo::key::kOverwrite;
  using quindo::section::kArc, quindo::section::kMelt;
  if (line.outputFolder) {
    const std::string folder = Absolute(*line.outputFolder);
    if (!switchGiven && !MakeFolders(folder)) {
      PrintLine(stderr, "quindo: " + quindo::TrFormat("cannot make the output folder '%s': %s",
                                                      {*line.outputFolder, std::strerror(errno)}));
      return 1;
    }
    for (const char* section : {kArc, kMelt}) {
      overlay->Set(section, kOutput, "2");
      overlay->Set(section, kOutputPath, folder);
    }
  }
  if (line.overwrite) {
    for (const char* section : {kArc, kMelt}) overlay->Set(section, kOverwrite, *line.overwrite ? "1" : "0");
  }
  if (line.zipLevel) overlay->Set(quindo::section::kOption, quindo::key::kZipLevel, std::to_string(*line.zipLevel));
  quindo::SetProcessSettingsOverlay(overlay);

  quindo::TerminalUi terminal;
  quindo::CommandLineUi ui(terminal, line.quiet, std::move(password));
  quindo::InstallInterruptHandler();
  quindo::SetUi(&ui);

  if (switchGiven && quindo::EqualsIgnoringAsciiCase(line.paths[0], "/install") && !IsInstalled()) {
    // A program in a build tree can be registered, but the user should know
    // that the association then points there.
    PrintLine(stderr, "quindo: " + quindo::TrFormat("note: %s is not an installed copy; the file types "
                                                    "are registered to it where it is",
                                                    {quindo::platform::ProgramPath()}));
  }

  if (line.action == quindo::CommandLine::Action::List || line.action == quindo::CommandLine::Action::Test) {
    const int code = InspectArchives(line);
    quindo::SetUi(nullptr);
    return ui.Interrupted() && code != 0 ? kExitInterrupted : code;
  }

  // The jobs change the current folder: relative paths would not hold.
  std::vector<std::string> run{args[0]};
  for (const std::string& path : line.paths) run.push_back(switchGiven ? path : Absolute(path));
  quindo::Settings settings;
  const int code = quindo::RunApplication(run, quindo::ProgramServices(), settings, line.dispatch);
  quindo::SetUi(nullptr);
  // A job that finished all the same before Ctrl-C reached it succeeded.
  return ui.Interrupted() && code != 0 ? kExitInterrupted : code;
}
