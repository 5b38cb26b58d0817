// The Linux program: quindo PATH... dispatches as the Windows program does.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/user_interface.h"
#include "platform/posix/terminal_ui.h"

namespace {

const char kUsage[] =
    "Usage: quindo PATH...\n"
    "       quindo /install | /uninstall\n"
    "       quindo\n"
    "\n"
    "Given paths, quindo extracts each one when every path is a ZIP or LZH\n"
    "archive, and otherwise packs all of them, folders included, into one new\n"
    "ZIP archive. Where the output goes is set in the settings file\n"
    "($XDG_CONFIG_HOME/quindo/quindo.ini, default ~/.config/quindo/quindo.ini).\n"
    "\n"
    "Without arguments on a terminal it opens the settings form. /install makes\n"
    "quindo the default application for ZIP and LZH files; /uninstall gives\n"
    "them back to their previous owners.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Exit status: 0 when every job succeeded, 1 otherwise.\n";

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("quindo 0.5.0");
    return 0;
  }
  std::vector<std::string> args(argv, argv + argc);
  quindo::TerminalUi ui;
  quindo::SetUi(&ui);
  quindo::Settings settings;
  return quindo::RunApplication(args, quindo::ProgramServices(), settings);
}
