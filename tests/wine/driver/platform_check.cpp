// Checks of the Windows platform layer, run under Wine by test_platform.py.
//
//   platform_check checks FOLDER     file, folder, time and profile checks in FOLDER;
//                                    the desktop and the code page
//   platform_check worker-box        a worker's box owned by a progress window that
//                                    appears only after the worker asked
//   platform_check failed-box        the failure box with a detail list of twelve
//                                    members, one with a control character
//   platform_check password NAME     the password prompt for member NAME after a
//                                    wrong answer, over a progress window; prints
//                                    "entered TEXT" or "cancelled"
//
// Each check prints "ok NAME" or "FAIL NAME: detail" (UTF-8); the exit code
// is the number of failures.
#include "platform/win32/windows_api.h"

#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/message_text.h"
#include "common/code_page.h"
#include "common/unicode_text.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"
#include "frontend/win32/win_ui.h"

namespace platform = quindo::platform;

namespace {

int failures = 0;

void Check(bool ok, const char* name, const std::string& detail = {}) {
  failures += !ok;
  std::printf(ok ? "ok %s\n" : "FAIL %s: %s\n", name, detail.c_str());
  std::fflush(stdout);
}

std::string Join(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

bool WriteAll(const std::string& path, const std::string& bytes) {
  platform::File f;
  return f.Open(path, platform::OpenMode::CreateAlways) && f.Write(bytes.data(), bytes.size());
}

std::string ReadAll(const std::string& path) {
  platform::File f;
  if (!f.Open(path, platform::OpenMode::Read)) return "<cannot open>";
  std::string out(static_cast<size_t>(f.Size() > 0 ? f.Size() : 0), '\0');
  out.resize(static_cast<size_t>(f.ReadFull(out.data(), out.size())));
  return out;
}

void FileChecks(const std::string& root) {
  // Create-new refuses an existing name and leaves its content alone.
  const std::string a = Join(root, "a.txt"), nothing = Join(root, "nothing");
  platform::File f;
  Check(WriteAll(a, "first") && !f.Open(a, platform::OpenMode::CreateNew) && ReadAll(a) == "first" &&
            !f.Open(nothing, platform::OpenMode::Read) && !f.Open(root, platform::OpenMode::Read),
        "create-new refuses an existing file and leaves it; a missing file or a folder does not open", ReadAll(a));

  // A missing path answers the invalid value, whose directory bit is set; a
  // read-only file is deleted only once the attribute is cleared.
  const std::string locked = Join(root, "locked.txt");
  const uint32_t missing = platform::GetFileAttributes(nothing);
  Check(missing == platform::kInvalidAttributes && (missing & platform::kAttrDirectory) &&
            (platform::GetFileAttributes(root) & platform::kAttrDirectory) && WriteAll(locked, "keep") &&
            platform::SetFileAttributes(locked, platform::kAttrReadOnly) &&
            (platform::GetFileAttributes(locked) & platform::kAttrReadOnly) &&
            platform::SetFileAttributes(locked, platform::kAttrNormal) && platform::DeleteFile(locked),
        "attributes of a missing path and a folder; read-only set, read, cleared and the file deleted");

  // The listing includes hidden and system items and skips "." and "..",
  // also with a trailing separator on the folder. Names are UTF-8 and reach
  // the system whole: one CP932 holds (表, whose CP932 trail byte is 0x5C)
  // and ones it does not.
  const std::string sub = Join(root, "sub"), hidden = Join(root, "hidden.txt"), system = Join(root, "system.txt");
  const std::string table = "表.txt";
  const char* beyond[] = {"café.txt", "한국어.txt", "emoji😀.txt"};
  bool beyondMade = true;
  for (const char* name : beyond) beyondMade = beyondMade && WriteAll(Join(root, name), name) && ReadAll(Join(root, name)) == name;
  const bool made = platform::CreateDirectory(sub) && WriteAll(Join(sub, "inner.txt"), "x") && WriteAll(hidden, "h") &&
                    WriteAll(system, "sys") && WriteAll(Join(root, table), "table") &&
                    ReadAll(Join(root, table)) == "table" && beyondMade &&
                    platform::SetFileAttributes(hidden, platform::kAttrHidden) &&
                    platform::SetFileAttributes(system, platform::kAttrSystem);
  std::map<std::string, platform::FolderItem> items;
  const bool listed =
      platform::ListFolder(root + "\\", [&](const platform::FolderItem& item) { items[item.name] = item; });
  Check(made && listed && items.size() == 8 && items.count(table) && items.count("café.txt") &&
            items.count("한국어.txt") && items.count("emoji😀.txt") && items["sub"].isFolder &&
            (items["hidden.txt"].info.attributes & platform::kAttrHidden) &&
            (items["system.txt"].info.attributes & platform::kAttrSystem) && items["system.txt"].info.size == 3 &&
            items["system.txt"].info.writeTime != 0,
        "listing: hidden, system, folder, size, names in and beyond CP932, no dots", std::to_string(items.size()));
  // Names the system takes for one: case folded in every script.
  Check(platform::NameKeyOf("C:\\Ärger\\ＡＢ.TXT") == platform::NameKeyOf("c:\\ärger\\ａｂ.txt") &&
            platform::NameKeyOf("é.txt") != platform::NameKeyOf("e.txt") &&
            platform::NameKeyOf("ß") != platform::NameKeyOf("ss"),
        "names that differ only in case are one name", platform::NameKeyOf("c:\\ärger\\ａｂ.txt"));
  // A path that is not UTF-8 names no file, not one with U+FFFD in it.
  Check(!WriteAll(Join(root, "caf\xE9.txt"), "x") && platform::GetFileAttributes(Join(root, "caf\xE9.txt")) ==
                                                       platform::kInvalidAttributes,
        "a path that is not UTF-8 is refused");
  platform::SetFileAttributes(hidden, platform::kAttrNormal);
  platform::SetFileAttributes(system, platform::kAttrNormal);

  // Times: 0 leaves a time alone. Wine keeps no creation time on a Unix
  // file system, so only the write time is read back.
  const uint64_t t1 = 132000000000000000ULL, t2 = 133000000000000000ULL;
  std::string t1s;
  platform::FileInfo info;
  Check(platform::SetFileTimes(a, t1, t2) && platform::GetFileInfo(a, info) && info.writeTime == t2 && info.size == 5 &&
            platform::SetFileTimes(a, t2, 0) && platform::GetFileInfo(a, info) && info.writeTime == t2,
        "write time set and read back; a zero one leaves it", std::to_string(info.writeTime));
  Check(!platform::SetFileTimes(nothing, t1, t1) && !platform::DeleteFile(nothing) &&
            !platform::CreateTempFile(nothing, "arc", t1s) &&
            !platform::ListFolder(nothing, [](const platform::FolderItem&) {}),
        "times, delete, temporary file and listing on a missing path fail");

  // A move keeps a taken name unless it is asked to replace.
  const std::string from = Join(root, "from.txt"), to = Join(root, "to.txt");
  Check(WriteAll(from, "new") && WriteAll(to, "old") && !platform::MoveFileIntoPlace(from, to, false) &&
            ReadAll(to) == "old" && platform::MoveFileIntoPlace(from, to, true) && ReadAll(to) == "new" &&
            platform::GetFileAttributes(from) == platform::kInvalidAttributes,
        "move keeps or replaces");

  // The current folder, as the extraction job enters its output folder.
  const std::string before = platform::GetCurrentDirectory();
  Check(platform::SetCurrentDirectory(sub) && platform::GetCurrentDirectory() == sub &&
            platform::SetCurrentDirectory(before),
        "the current folder set and read back", before);

  // Profile files: names without regard to case, defaults, values cut to 254
  // bytes of the ANSI code page, one value replaced, other sections kept.
  // The file holds CP932; the values come and go as UTF-8.
  const std::string ini = Join(root, "set.ini");
  const std::string japanese = "C:\\表\\ソフト";
  Check(WriteAll(ini, "[Other]\r\nkeep=this\r\n") &&
            platform::ReadProfileString(ini, "ARC", "OUTPUT", "dflt") == "dflt" &&
            platform::ReadProfileString(Join(root, "none.ini"), "ARC", "OUTPUT", "d") == "d" &&
            platform::WriteProfileString(ini, "ARC", "OUTPUT", "2") &&
            platform::ReadProfileString(ini, "arc", "output", "") == "2" &&
            platform::WriteProfileString(ini, "Arc", "Output", "1") &&
            platform::ReadProfileString(ini, "ARC", "OUTPUT", "") == "1" &&
            platform::ReadProfileString(ini, "OTHER", "KEEP", "") == "this",
        "defaults for a missing section or file; write creates the section; names without regard to case");
  platform::WriteProfileString(ini, "ARC", "OUTPUT_PATH", std::string(300, 'v'));
  platform::WriteProfileString(ini, "MELT", "OUTPUT_PATH", japanese);
  const std::string cut = platform::ReadProfileString(ini, "ARC", "OUTPUT_PATH", "");
  Check(cut.size() == 254 && platform::ReadProfileString(ini, "MELT", "OUTPUT_PATH", "") == japanese &&
            ReadAll(ini).find("OUTPUT_PATH=C:\\\x95\x5C\\\x83\x5C\x83\x74\x83\x67\r\n") != std::string::npos,
        "value cut to 254 bytes; a Japanese value stored as its CP932 bytes", std::to_string(cut.size()));
  // 200 kanji are 400 bytes of CP932: 127 of them come back. A value CP932
  // cannot hold is not written, and the one before stays.
  std::string kanji;
  for (int i = 0; i < 200; ++i) kanji += "漢";
  platform::WriteProfileString(ini, "ZIP_OPTION", "LONG", kanji);
  Check(platform::ReadProfileString(ini, "ZIP_OPTION", "LONG", "") == kanji.substr(0, 127 * 3) &&
            !platform::WriteProfileString(ini, "MELT", "OUTPUT_PATH", "C:\\café") &&
            platform::ReadProfileString(ini, "MELT", "OUTPUT_PATH", "") == japanese,
        "a Japanese value cut on a character; a value beyond CP932 refused, the old one kept");
}

void SystemChecks() {
  // The check program carries the program's version block.
  const std::string program = platform::ProgramPath(), settings = platform::SettingsFilePath();
  Check(settings == program.substr(0, program.rfind('\\') + 1) + "quindo.ini", "the settings file beside the program",
        program + " " + settings);

  std::string desktop;
  Check(platform::GetDesktopFolder(desktop) && !desktop.empty() &&
            (platform::GetFileAttributes(desktop) & platform::kAttrDirectory),
        "desktop folder", desktop);

  Check(platform::AnsiCodePageIsCp932() && quindo::LegacyNameCodePage() == &quindo::Cp932CodePage() &&
            quindo::SystemCodePage().Id() == quindo::CodePageId::Utf8,
        "the ANSI code page is 932; the core's names are UTF-8", std::to_string(::GetACP()));
  // A character CP932 lacks, a lone lead byte and broken UTF-8 are refused.
  std::string utf8, back, empty = "x";
  const std::string cp932 = "\x95\x5C\x83\x5C";  // 表ソ
  Check(platform::ConvertCp932ToUtf8(cp932, utf8) && utf8 == "\xE8\xA1\xA8\xE3\x82\xBD" &&
            platform::ConvertUtf8ToCp932(utf8, back) && back == cp932 && platform::ConvertCp932ToUtf8("", empty) &&
            empty.empty() && !platform::ConvertUtf8ToCp932("\xF0\x9F\x98\x80", back) &&
            !platform::ConvertCp932ToUtf8("\x81", utf8) && !platform::ConvertUtf8ToCp932("\xC3", back),
        "CP932 to UTF-8 and back, empty text; what has no mapping is refused");
  // The JIS forms of 〜, −, ‖, ¢, £, ¬ and — take CP932's own; a Mac's
  // decomposed が is composed by the system's normalisation.
  std::string jis, composed;
  Check(quindo::Cp932CodePage().FromUtf8("\xE3\x80\x9C\xE2\x88\x92\xE2\x80\x96\xC2\xA2\xC2\xA3\xC2\xAC\xE2\x80\x94", jis) &&
            jis == "\x81\x60\x81\x7C\x81\x61\x81\x91\x81\x92\x81\xCA\x81\x5C" &&
            quindo::ToNfc("\xE3\x81\x8B\xE3\x82\x99", composed) && composed == "\xE3\x81\x8C",
        "JIS characters to CP932, names composed", jis + " " + composed);
}

// The worker asks before the window exists; the box must wait for it and be
// owned by it. The test finds the box, reads its owner and presses OK.
template <typename Ask>
void OverProgressWindow(quindo::WinUi& ui, Ask ask) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    ask();
    done = true;
  });
  HWND progress = ::CreateWindowExW(0, L"STATIC", L"進行状況の窓", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 120,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  // The view hands over its window a moment after the worker asked.
  const auto handOver = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (!done) {
    quindo::PumpMessages();
    if (std::chrono::steady_clock::now() >= handOver) ui.SetProgressWindow(progress);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  worker.join();
  ui.SetProgressWindow(nullptr);
  ::DestroyWindow(progress);
}

void WorkerBox() {
  quindo::WinUi ui;
  OverProgressWindow(ui, [&] { ui.ShowWorkerMessage("作業中の確認です。", "作業の確認", quindo::MessageIcon::Warning); });
}

void FailedBox() {
  std::vector<quindo::MemberFailure> failures;
  failures.push_back({"書類/見積書\x1b[31m.pdf", quindo::MemberProblem::DamagedData, {}});
  failures.push_back({"秘密.txt", quindo::MemberProblem::WrongPassword, {}});
  failures.push_back({"古い形式.dat", quindo::MemberProblem::MethodNotSupported, "-lh4-"});
  for (int i = 4; i <= 12; ++i)
    failures.push_back({"写真/IMG_" + std::to_string(1000 + i) + ".jpg", quindo::MemberProblem::CutShort, {}});
  quindo::WinUi ui;
  ui.ShowMessage(quindo::WithDetails(quindo::result_box::kFailedText, quindo::FailureDetails(failures)),
                 quindo::result_box::kFailedTitle, quindo::MessageIcon::Information);
}

// The prompt after a wrong answer; its answer goes to standard output.
void PasswordPrompt(const std::string& member) {
  quindo::WinUi ui;
  quindo::PasswordRequest request;
  request.memberName = member;
  request.previousWrong = true;
  std::string password;
  quindo::PasswordAnswer answer = quindo::PasswordAnswer::Unavailable;
  OverProgressWindow(ui, [&] { answer = ui.AskPassword(request, password); });
  if (answer == quindo::PasswordAnswer::Entered)
    std::printf("entered %s\n", password.c_str());
  else
    std::printf(answer == quindo::PasswordAnswer::Cancelled ? "cancelled\n" : "unavailable\n");
  std::fflush(stdout);
}

}  // namespace

int main() {
  // The arguments as UTF-8, from the wide command line.
  std::vector<std::string> argv;
  int argc = 0;
  if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc)) {
    for (int i = 0; i < argc; ++i) argv.push_back(platform::Utf8FromWide(wide[i]));
    ::LocalFree(wide);
  }
  argc = static_cast<int>(argv.size());
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "checks" && argc > 2) {
    FileChecks(argv[2]);
    SystemChecks();
  } else if (command == "worker-box") {
    WorkerBox();
  } else if (command == "failed-box") {
    FailedBox();
  } else if (command == "password" && argc > 2) {
    PasswordPrompt(argv[2]);
  } else {
    std::fprintf(stderr, "usage: platform_check checks FOLDER | worker-box | failed-box | password NAME\n");
    return 100;
  }
  return failures;
}
