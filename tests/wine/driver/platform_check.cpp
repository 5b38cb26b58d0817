// Checks of the Windows platform layer, run under Wine by test_platform.py.
//
//   platform_check files FOLDER      file, folder, time, temp-file and profile checks in FOLDER
//   platform_check system            program path, settings file, desktop, code page
//   platform_check worker-box        a worker's box owned by a progress window that
//                                    appears only after the worker asked
//
// Each check prints "ok NAME" or "FAIL NAME: detail" (UTF-8); the exit code
// is the number of failures.
#include "platform/win32/windows_api.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/archive_reader.h"
#include "common/code_page.h"
#include "platform/platform.h"
#include "platform/win32/win_ui.h"

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
  const std::string a = Join(root, "a.txt");
  platform::File f1, f2, f3;
  Check(WriteAll(a, "first") && !f1.Open(a, platform::OpenMode::CreateNew) && ReadAll(a) == "first",
        "create-new refuses an existing file and leaves it", ReadAll(a));
  Check(!f2.Open(Join(root, "missing.txt"), platform::OpenMode::Read) && !f3.Open(root, platform::OpenMode::Read),
        "a missing file or a folder does not open for reading");

  char buffer[16] = {};
  platform::File b;
  Check(b.Open(Join(root, "b.bin"), platform::OpenMode::CreateAlways) && b.Write("0123456789", 10) && b.Seek(4) &&
            b.Position() == 4 && b.Size() == 10 && b.ReadFull(buffer, sizeof buffer) == 6 &&
            std::string(buffer, 6) == "456789" && b.Read(buffer, sizeof buffer) == 0,
        "seek, position, size, short read at the end");

  // Attributes: a missing path answers the invalid value, whose directory bit is set.
  const uint32_t missing = platform::GetFileAttributes(Join(root, "nothing"));
  Check(missing == platform::kInvalidAttributes && (missing & platform::kAttrDirectory) &&
            (platform::GetFileAttributes(root) & platform::kAttrDirectory),
        "missing path has invalid attributes, a folder the directory bit");
  const std::string locked = Join(root, "locked.txt");
  WriteAll(locked, "keep");
  Check(platform::SetFileAttributes(locked, platform::kAttrReadOnly) &&
            (platform::GetFileAttributes(locked) & platform::kAttrReadOnly),
        "set and read the read-only attribute", std::to_string(platform::GetFileAttributes(locked)));
  Check(platform::SetFileAttributes(locked, platform::kAttrNormal) && platform::DeleteFile(locked),
        "clear the attribute and delete");

  // Folders: create refuses an existing one; remove only an empty one.
  const std::string sub = Join(root, "sub");
  Check(platform::CreateDirectory(sub) && !platform::CreateDirectory(sub) && WriteAll(Join(sub, "inner.txt"), "x") &&
            !platform::RemoveDirectory(sub),
        "create folder, not twice; a folder with a file stays");

  // The listing includes hidden and system items and skips "." and "..".
  const std::string hidden = Join(root, "hidden.txt"), system = Join(root, "system.txt");
  WriteAll(hidden, "h");
  WriteAll(system, "sys");
  platform::SetFileAttributes(hidden, platform::kAttrHidden);
  platform::SetFileAttributes(system, platform::kAttrSystem);
  int seen = 0;
  bool sawHidden = false, sawSystem = false, sawDots = false, folderFlag = false, sizeRight = false;
  // A trailing separator on the folder gives the same listing.
  const bool listedAll = platform::ListFolder(root + "\\", [&](const platform::FolderItem& item) {
    ++seen;
    if (item.name == "hidden.txt") sawHidden = item.info.attributes & platform::kAttrHidden;
    if (item.name == "system.txt") {
      sawSystem = item.info.attributes & platform::kAttrSystem;
      sizeRight = item.info.size == 3 && item.info.writeTime != 0;
    }
    sawDots |= item.name == "." || item.name == "..";
    if (item.name == "sub") folderFlag = item.isFolder;
  });
  Check(listedAll && sawHidden && sawSystem && !sawDots && folderFlag && sizeRight && seen == 5,
        "listing: hidden, system, folder, size, no dots", std::to_string(seen));
  platform::SetFileAttributes(hidden, platform::kAttrNormal);
  platform::SetFileAttributes(system, platform::kAttrNormal);

  // Names in CP932 with a trail byte 0x5C ("表" is 0x95 0x5C) survive the A calls.
  const std::string table = Join(root, "\x95\x5C.txt");
  const bool readBack = WriteAll(table, "table") && ReadAll(table) == "table";
  bool listed = false;
  platform::ListFolder(root, [&](const platform::FolderItem& item) { listed |= item.name == "\x95\x5C.txt"; });
  Check(readBack && listed, "CP932 name with a 0x5C trail byte, read back and listed");

  // Times: 0 leaves a time alone. Wine keeps no creation time on a Unix
  // file system, so only the write time is read back.
  const uint64_t t1 = 132000000000000000ULL, t2 = 133000000000000000ULL;
  std::string t1s;
  platform::FileInfo info;
  Check(platform::SetFileTimes(a, t1, t2) && platform::GetFileInfo(a, info) && info.writeTime == t2 &&
            info.size == 5 && platform::SetFileTimes(a, t2, 0) && platform::GetFileInfo(a, info) &&
            info.writeTime == t2,
        "write time set and read back; a zero one leaves it", std::to_string(info.writeTime));
  Check(!platform::SetFileTimes(Join(root, "nothing"), t1, t1) && !platform::DeleteFile(Join(root, "nothing")) &&
            !platform::CreateTempFile(Join(root, "nothing"), "arc", t1s) &&
            !platform::ListFolder(Join(root, "nothing"), [](const platform::FolderItem&) {}),
        "times, delete, temporary file and listing on a missing path fail");

  // Moves replace the target.
  const std::string from = Join(root, "from.txt"), to = Join(root, "to.txt");
  Check(WriteAll(from, "new") && WriteAll(to, "old") && platform::MoveFileReplace(from, to) && ReadAll(to) == "new" &&
            platform::GetFileAttributes(from) == platform::kInvalidAttributes,
        "move replaces");

  // Temporary files: created empty, named by the prefix, unique.
  std::string t, u;
  const bool two = platform::CreateTempFile(root, "arc", t) && platform::CreateTempFile(root, "arc", u) && t != u;
  const std::string name = t.substr(t.rfind('\\') + 1), temp = platform::TempFolder();
  Check(two && name.rfind("arc", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp" &&
            platform::GetFileInfo(t, info) && info.size == 0 && !temp.empty() && temp.back() == '\\' &&
            (platform::GetFileAttributes(temp) & platform::kAttrDirectory),
        "two empty temporary files named by the prefix; the temporary folder", t + " " + u + " " + temp);

  const std::string before = platform::GetCurrentDirectory();
  Check(platform::SetCurrentDirectory(sub) && platform::GetCurrentDirectory() == sub &&
            platform::SetCurrentDirectory(before) && platform::DeleteFile(Join(sub, "inner.txt")) &&
            platform::RemoveDirectory(sub),
        "current folder; delete and remove");

  // Profile files: names without regard to case, defaults, values cut to 254
  // bytes, one value replaced, other sections kept.
  const std::string ini = Join(root, "set.ini");
  const std::string japanese = "C:\\\x95\x5C\\\x83\x5C\x83\x74\x83\x67";  // 表\ソフト in CP932
  Check(WriteAll(ini, "[Other]\r\nkeep=this\r\n") && platform::ReadProfileString(ini, "ARC", "OUTPUT", "dflt") == "dflt" &&
            platform::ReadProfileString(Join(root, "none.ini"), "ARC", "OUTPUT", "d") == "d",
        "missing section or file gives the default");
  Check(platform::WriteProfileString(ini, "ARC", "OUTPUT", "2") &&
            platform::ReadProfileString(ini, "arc", "output", "") == "2" &&
            platform::WriteProfileString(ini, "Arc", "Output", "1") &&
            platform::ReadProfileString(ini, "ARC", "OUTPUT", "") == "1" &&
            platform::ReadProfileString(ini, "OTHER", "KEEP", "") == "this",
        "write creates the section; names without regard to case; other sections kept");
  platform::WriteProfileString(ini, "ARC", "OUTPUT_PATH", std::string(300, 'v'));
  platform::WriteProfileString(ini, "MELT", "OUTPUT_PATH", japanese);
  const std::string cut = platform::ReadProfileString(ini, "ARC", "OUTPUT_PATH", "");
  Check(cut.size() == 254 && platform::ReadProfileString(ini, "MELT", "OUTPUT_PATH", "") == japanese,
        "value cut to 254 bytes; a CP932 value kept byte for byte", std::to_string(cut.size()));
}

void SystemChecks() {
  const std::string program = platform::ProgramPath();
  const std::string settings = platform::SettingsFilePath();
  // The check program carries the program's version block.
  Check(program.size() > 4 && program.substr(program.size() - 4) == ".exe" &&
            settings == program.substr(0, program.rfind('\\') + 1) + "quindo.ini",
        "program path; the settings path beside it", program + " " + settings);

  std::string desktop;
  Check(platform::GetDesktopFolder(desktop) && !desktop.empty() &&
            (platform::GetFileAttributes(desktop) & platform::kAttrDirectory),
        "desktop folder", desktop);

  Check(platform::SystemCodePageId() == quindo::CodePageId::Cp932, "the ANSI code page is 932",
        std::to_string(::GetACP()));
  std::string utf8, back;
  const std::string cp932 = "\x95\x5C\x83\x5C";  // 表ソ
  Check(platform::ConvertCp932ToUtf8(cp932, utf8) && utf8 == "\xE8\xA1\xA8\xE3\x82\xBD" &&
            platform::ConvertUtf8ToCp932(utf8, back) && back == cp932,
        "CP932 to UTF-8 and back");
  Check(!platform::ConvertUtf8ToCp932("\xF0\x9F\x98\x80", back) && !platform::ConvertCp932ToUtf8("\x81", utf8) &&
            !platform::ConvertUtf8ToCp932("\xC3", back),
        "a character CP932 lacks, a lone lead byte and broken UTF-8 are refused");
  Check(platform::ConvertCp932ToUtf8("", utf8) && utf8.empty() && quindo::SystemCodePage().IsLeadByte(0x95) &&
            !quindo::SystemCodePage().IsLeadByte(0x5C),
        "empty text converts; the system lead-byte table is CP932");
}

class WaitingReader final : public quindo::ArchiveReader {
 public:
  bool Probe(const std::string&, uint64_t) override { return false; }
  bool Extract(const std::string&, const std::string&) override { return false; }
  bool FindRootFolder(const std::string&) override { return false; }
};

// The worker asks before the window exists; the box must wait for it and be
// owned by it. The test finds the box, reads its owner and presses OK.
void WorkerBox() {
  quindo::WinUi ui;
  WaitingReader reader;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    ui.ShowWorkerMessage(reader, "作業中の確認です。", "作業の確認", quindo::MessageIcon::Warning);
    done = true;
  });
  HWND progress = ::CreateWindowExW(0, L"STATIC", L"進行状況の窓", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                    300, 120, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  // The view hands over its window a moment after the worker asked.
  const auto handOver = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  bool handed = false;
  while (!done) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (!handed && std::chrono::steady_clock::now() >= handOver) {
      reader.progressWindow.store(progress);
      handed = true;
      std::printf("handed\n");
      std::fflush(stdout);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  worker.join();
  ::DestroyWindow(progress);
  Check(handed, "the box came only after the window was handed over");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "files") {
    FileChecks(argv[2]);
  } else if (argc >= 2 && std::string(argv[1]) == "system") {
    SystemChecks();
  } else if (argc >= 2 && std::string(argv[1]) == "worker-box") {
    WorkerBox();
  } else {
    std::fprintf(stderr, "usage: platform_check files FOLDER | system | worker-box\n");
    return 100;
  }
  return failures;
}
