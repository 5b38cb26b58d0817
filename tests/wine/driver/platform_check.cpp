// Checks of the Windows platform layer, run under Wine by test_platform.py:
//
//   platform_check FOLDER     file, folder, time and profile checks in FOLDER;
//                             the desktop and the code page
//
// Each check prints "ok CONDITION" or "FAIL CONDITION: what it saw"; the
// exit code is the number of failures.
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "common/code_page.h"
#include "common/unicode_text.h"
#include "platform/platform.h"

namespace platform = quindo::platform;

namespace {

int failures = 0;

// Each check prints the condition as written; a comparison that fails also
// what it saw and what it wanted.
void Check(bool ok, const char* what, const std::string& detail = {}) {
  failures += !ok;
  std::printf("%s %s%s\n", ok ? "ok" : "FAIL", what, ok ? "" : detail.c_str());
  std::fflush(stdout);
}

template <typename Got, typename Want>
void CheckEqual(const Got& got, const Want& want, const char* what) {
  std::ostringstream seen;
  seen << ": saw \"" << got << "\", wanted \"" << want << "\"";
  Check(got == want, what, seen.str());
}

#define CHECK(condition) Check(static_cast<bool>(condition), #condition)
#define CHECK_EQ(got, want) CheckEqual((got), (want), #got " == " #want)

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
  // Create-new refuses an existing file and leaves it; a missing file or a
  // folder does not open.
  const std::string a = Join(root, "a.txt"), nothing = Join(root, "nothing");
  platform::File f;
  CHECK(WriteAll(a, "first"));
  CHECK(!f.Open(a, platform::OpenMode::CreateNew));
  CHECK_EQ(ReadAll(a), "first");
  CHECK(!f.Open(nothing, platform::OpenMode::Read));
  CHECK(!f.Open(root, platform::OpenMode::Read));

  // The listing: hidden, system, folder, size, no dots; names are UTF-8 and
  // reach the system whole: one CP932 holds (表, whose CP932 trail byte is
  // 0x5C) and ones it does not.
  const std::string sub = Join(root, "sub"), hidden = Join(root, "hidden.txt"), system = Join(root, "system.txt");
  const std::string table = "表.txt";
  CHECK(platform::CreateDirectory(sub));
  CHECK(WriteAll(Join(sub, "inner.txt"), "x") && WriteAll(hidden, "h") && WriteAll(system, "sys"));
  CHECK(WriteAll(Join(root, table), "table"));
  CHECK_EQ(ReadAll(Join(root, table)), "table");
  for (const char* name : {"café.txt", "한국어.txt", "emoji😀.txt"}) CHECK(WriteAll(Join(root, name), name));
  CHECK(platform::SetFileAttributes(hidden, platform::kAttrHidden));
  CHECK(platform::SetFileAttributes(system, platform::kAttrSystem));
  std::map<std::string, platform::FolderItem> items;
  CHECK(platform::ListFolder(root + "\\", [&](const platform::FolderItem& item) { items[item.name] = item; }));
  std::string names;
  for (const auto& [name, item] : items) names += name + " ";
  CHECK_EQ(names, "a.txt café.txt emoji😀.txt hidden.txt sub system.txt " + table + " 한국어.txt ");
  CHECK(items["sub"].isFolder);
  CHECK(items["hidden.txt"].info.attributes & platform::kAttrHidden);
  CHECK(items["system.txt"].info.attributes & platform::kAttrSystem);
  CHECK_EQ(items["system.txt"].info.size, 3u);
  CHECK(items["system.txt"].info.writeTime != 0);
  // Names the system takes for one: case folded in every script.
  CHECK_EQ(platform::NameKeyOf("C:\\Ärger\\ＡＢ.TXT"), platform::NameKeyOf("c:\\ärger\\ａｂ.txt"));
  CHECK(platform::NameKeyOf("é.txt") != platform::NameKeyOf("e.txt"));
  // A path that is not UTF-8 names no file, not one with U+FFFD in it.
  CHECK(!WriteAll(Join(root, "caf\xE9.txt"), "x"));
  CHECK_EQ(platform::GetFileAttributes(Join(root, "caf\xE9.txt")), platform::kInvalidAttributes);
  platform::SetFileAttributes(hidden, platform::kAttrNormal);
  platform::SetFileAttributes(system, platform::kAttrNormal);

  // The write time set and read back.
  const uint64_t t1 = 132000000000000000ULL, t2 = 133000000000000000ULL;
  platform::FileInfo info;
  CHECK(platform::SetFileTimes(a, t1, t2));
  CHECK(platform::GetFileInfo(a, info));
  CHECK_EQ(info.writeTime, t2);
  CHECK_EQ(info.size, 5u);

  // A move keeps or replaces what is there.
  const std::string from = Join(root, "from.txt"), to = Join(root, "to.txt");
  CHECK(WriteAll(from, "new") && WriteAll(to, "old"));
  CHECK(!platform::MoveFileIntoPlace(from, to, false));
  CHECK_EQ(ReadAll(to), "old");
  CHECK(platform::MoveFileIntoPlace(from, to, true));
  CHECK_EQ(ReadAll(to), "new");
  CHECK_EQ(platform::GetFileAttributes(from), platform::kInvalidAttributes);

  // Defaults for a missing section or file; a write makes the section;
  // names match without regard to case; a value is cut to 254 bytes of the
  // ANSI code page. The file holds CP932; values come and go as UTF-8.
  const std::string ini = Join(root, "set.ini");
  const std::string japanese = "C:\\表\\ソフト";
  CHECK(WriteAll(ini, "[Other]\r\nkeep=this\r\n"));
  CHECK_EQ(platform::ReadProfileString(ini, "ARC", "OUTPUT", "dflt"), "dflt");
  CHECK(platform::WriteProfileString(ini, "ARC", "OUTPUT", "2"));
  CHECK_EQ(platform::ReadProfileString(ini, "arc", "output", ""), "2");
  CHECK(platform::WriteProfileString(ini, "Arc", "Output", "1"));
  CHECK_EQ(platform::ReadProfileString(ini, "ARC", "OUTPUT", ""), "1");
  CHECK_EQ(platform::ReadProfileString(ini, "OTHER", "KEEP", ""), "this");
  platform::WriteProfileString(ini, "ARC", "OUTPUT_PATH", std::string(300, 'v'));
  platform::WriteProfileString(ini, "MELT", "OUTPUT_PATH", japanese);
  CHECK_EQ(platform::ReadProfileString(ini, "ARC", "OUTPUT_PATH", "").size(), 254u);
  CHECK_EQ(platform::ReadProfileString(ini, "MELT", "OUTPUT_PATH", ""), japanese);
  CHECK(ReadAll(ini).find("OUTPUT_PATH=C:\\\x95\x5C\\\x83\x5C\x83\x74\x83\x67\r\n") != std::string::npos);
  // 200 kanji are 400 bytes of CP932: 127 of them come back. A value CP932
  // cannot hold is not written, and the one before stays.
  std::string kanji;
  for (int i = 0; i < 200; ++i) kanji += "漢";
  platform::WriteProfileString(ini, "ZIP_OPTION", "LONG", kanji);
  CHECK_EQ(platform::ReadProfileString(ini, "ZIP_OPTION", "LONG", ""), kanji.substr(0, 127 * 3));
  CHECK(!platform::WriteProfileString(ini, "MELT", "OUTPUT_PATH", "C:\\café"));
  CHECK_EQ(platform::ReadProfileString(ini, "MELT", "OUTPUT_PATH", ""), japanese);
}

void SystemChecks() {
  const std::string program = platform::ProgramPath();
  CHECK_EQ(platform::SettingsFilePath(), program.substr(0, program.rfind('\\') + 1) + "quindo.ini");

  std::string desktop;
  CHECK(platform::GetDesktopFolder(desktop));
  CHECK(platform::GetFileAttributes(desktop) & platform::kAttrDirectory);

  // The ANSI code page is 932; the core's names are UTF-8.
  CHECK_EQ(::GetACP(), 932u);
  CHECK(platform::AnsiCodePageIsCp932());
  CHECK(quindo::LegacyNameCodePage() == &quindo::Cp932CodePage());
  CHECK(quindo::SystemCodePage().Id() == quindo::CodePageId::Utf8);
  // A character CP932 lacks, a lone lead byte and broken UTF-8 are refused.
  std::string utf8, back;
  const std::string cp932 = "\x95\x5C\x83\x5C";  // 表ソ
  CHECK(platform::ConvertCp932ToUtf8(cp932, utf8));
  CHECK_EQ(utf8, "\xE8\xA1\xA8\xE3\x82\xBD");
  CHECK(platform::ConvertUtf8ToCp932(utf8, back));
  CHECK_EQ(back, cp932);
  CHECK(!platform::ConvertUtf8ToCp932("\xF0\x9F\x98\x80", back));
  CHECK(!platform::ConvertCp932ToUtf8("\x81", utf8));
  CHECK(!platform::ConvertUtf8ToCp932("\xC3", back));
  // The JIS forms of 〜, −, ‖, ¢, £, ¬ and — take CP932's own; a Mac's
  // decomposed が is composed by the system's normalisation.
  std::string jis, composed;
  CHECK(quindo::Cp932CodePage().FromUtf8("\xE3\x80\x9C\xE2\x88\x92\xE2\x80\x96\xC2\xA2\xC2\xA3\xC2\xAC\xE2\x80\x94", jis));
  CHECK_EQ(jis, "\x81\x60\x81\x7C\x81\x61\x81\x91\x81\x92\x81\xCA\x81\x5C");
  CHECK(quindo::ToNfc("\xE3\x81\x8B\xE3\x82\x99", composed));
  CHECK_EQ(composed, "\xE3\x81\x8C");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: platform_check FOLDER\n");
    return 100;
  }
  FileChecks(argv[1]);
  SystemChecks();
  return failures;
}
