#include "frontend/terminal/command_line.h"

#include <getopt.h>

#include <cstring>

#include "frontend/terminal/translation.h"

namespace quindo {

namespace {

// Long options that have no short form.
enum : int { kLevel = 256, kCompress, kExtract };

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"password-file", required_argument, nullptr, 'p'},
    {"quiet", no_argument, nullptr, 'q'},
    {"overwrite", no_argument, nullptr, 'y'},
    {"no-overwrite", no_argument, nullptr, 'n'},
    {"level", required_argument, nullptr, kLevel},
    {"compress", no_argument, nullptr, kCompress},
    {"extract", no_argument, nullptr, kExtract},
    {"list", no_argument, nullptr, 'l'},
    {"test", no_argument, nullptr, 't'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
// The leading ':' reports a missing argument apart from an unknown option.
const char kShortOptions[] = ":o:p:qynlthV";

}  // namespace

std::optional<int> ZipLevelOfWord(const std::string& word) {
  if (word == "best") return 0;
  if (word == "normal") return 1;
  if (word == "fast") return 2;
  return std::nullopt;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  out = CommandLine();
  // getopt_long permutes its vector: it gets copies.
  std::vector<std::string> copies(args);
  std::vector<char*> argv;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(copies.size());

  optind = 0;  // a fresh scan (glibc), also when parsing twice in one process
  opterr = 0;  // our own messages, in the user's language
  int longIndex = -1;
  for (;;) {
    longIndex = -1;
    const int c = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, &longIndex);
    if (c == -1) break;
    out.anyOption = true;
    // The option as the user wrote it, for messages.
    const std::string given = optind > 0 && optind <= argc ? argv[optind - 1] : "";
    switch (c) {
      case 'o':
        if (!*optarg) {
          error = Tr("the output folder is empty");
          return false;
        }
        out.outputFolder = optarg;
        break;
      case 'p':
        out.passwordFile = optarg;
        break;
      case 'q':
        out.quiet = true;
        break;
      case 'y':
      case 'n':
        if (out.overwrite && *out.overwrite != (c == 'y')) {
          error = Tr("--overwrite and --no-overwrite cannot be used together");
          return false;
        }
        out.overwrite = c == 'y';
        break;
      case kLevel:
        out.zipLevel = ZipLevelOfWord(optarg);
        if (!out.zipLevel) {
          error = TrFormat("--level takes fast, normal or best, not '%s'", {optarg});
          return false;
        }
        break;
      case kCompress:
      case kExtract: {
        const auto job = c == kCompress ? DispatchChoice::Job::Compress : DispatchChoice::Job::Extract;
        if (out.dispatch.job != DispatchChoice::Job::ByContent && out.dispatch.job != job) {
          error = Tr("--compress and --extract cannot be used together");
          return false;
        }
        out.dispatch.job = job;
        break;
      }
      case 'l':
      case 't':
        if (out.action == CommandLine::Action::Dispatch || out.action == CommandLine::Action::List ||
            out.action == CommandLine::Action::Test)
          out.action = c == 'l' ? CommandLine::Action::List : CommandLine::Action::Test;
        break;
      case 'h':
        out.action = CommandLine::Action::Help;
        break;
      case 'V':
        if (out.action != CommandLine::Action::Help) out.action = CommandLine::Action::Version;
        break;
      case ':':
        error = TrFormat("option '%s' needs an argument", {given});
        return false;
      default: {
        // An unknown short option sits inside a group such as "-xq": name it alone.
        std::string name = given;
        if (optopt != 0 && given.rfind("--", 0) != 0) name = std::string("-") + static_cast<char>(optopt);
        error = TrFormat("unknown option '%s'", {name});
        return false;
      }
    }
  }
  // After "--" every argument is a path, "/install" and "/uninstall" too.
  for (int i = 1; i < optind && i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      out.anyOption = true;
      out.dispatch.switches = false;
    }
  }
  for (int i = optind; i < argc; ++i) out.paths.emplace_back(argv[i]);
  return true;
}

std::string HelpText() {
  return Tr(
      "Usage: quindo [OPTION]... PATH...\n"
      "       quindo /install | /uninstall\n"
      "       quindo\n"
      "\n"
      "Given paths, quindo extracts each one when every path is a ZIP or LZH\n"
      "archive, and otherwise packs all of them, folders included, into one new\n"
      "ZIP archive. Without arguments on a terminal it opens the settings form.\n"
      "/install makes quindo the default application for ZIP and LZH files;\n"
      "/uninstall gives them back to their previous owners.\n"
      "\n"
      "Options:\n"
      "  -o, --output DIR          the output folder for this run (made when missing)\n"
      "  -y, --overwrite           replace existing files and archives\n"
      "  -n, --no-overwrite        never replace an existing file or archive\n"
      "      --level LEVEL         compression level: fast, normal or best\n"
      "      --compress            pack every path into one new archive\n"
      "      --extract             extract every path as an archive\n"
      "  -l, --list                list each archive's members: size, date, method,\n"
      "                            and the name it is extracted to\n"
      "  -t, --test                decode and check every member, writing nothing\n"
      "  -p, --password-file FILE  the password of encrypted archives is the first\n"
      "                            line of FILE\n"
      "  -q, --quiet               show no progress line\n"
      "  -h, --help                show this text and exit\n"
      "  -V, --version             show the version and exit\n"
      "  --                        every argument after it is a path\n"
      "\n"
      "The options hold for this run only; the settings file stays as it is.\n"
      "\n"
      "Environment:\n"
      "  QUINDO_PASSWORD  the password of encrypted archives when -p is not given\n"
      "                   (quindo takes no password on the command line, where\n"
      "                   other users could read it)\n"
      "  XDG_CONFIG_HOME  the settings file is quindo/quindo.ini in this folder\n"
      "                   (default ~/.config)\n"
      "\n"
      "Exit status: 0 when every job succeeded (with -t: every member is intact),\n"
      "1 when something failed, 2 for a usage error, 130 when cancelled with Ctrl-C.\n");
}

}  // namespace quindo
