#include "app/entry.h"

#include "common/ascii_case.h"

#include "app/output_folders.h"
#include "app/user_interface.h"
#include "app/work_buffer.h"
#include "platform/platform.h"

namespace quindo {

void ShowCannotWriteMessage() {
  Ui().ShowMessage(
      "ファイルの出力ができませんでした。\n保存先に対する書き込み権限があるかを確認してください。",
      "ファイル エラー", MessageIcon::Warning);
}

void ShowFailedMessage(const std::string& details) {
  // The full sentence is the title and the short phrase the text.
  const std::string text = details.empty() ? "処理失敗" : "処理失敗\n\n" + details;
  Ui().ShowMessage(text, "ファイルエラーが検出されました。", MessageIcon::Information);
}

void ShowBadPathMessage() {
  Ui().ShowMessage("不正なファイルパスが指定されています。", "ファイル エラー", MessageIcon::Warning);
}

bool ShouldCompress(const std::vector<std::string>& args, AppServices& services, std::vector<int>& formats) {
  formats.clear();
  for (size_t i = 1; i < args.size(); ++i) {
    // kInvalidAttributes has the directory bit too: a missing path compresses.
    if (platform::GetFileAttributes(args[i]) & platform::kAttrDirectory) return true;
    formats.push_back(services.DetectArchiveFormat(args[i]));
    if (formats.back() == FormatNone) return true;
  }
  return false;
}

std::vector<std::string> AbsoluteArguments(const std::vector<std::string>& args) {
  std::vector<std::string> out = args;
  for (size_t i = 1; i < out.size(); ++i) out[i] = platform::FullPath(out[i]);
  return out;
}

int RunApplication(const std::vector<std::string>& arguments, AppServices& services,
                   const Settings& settings) {
  if (arguments.size() <= 1) {
    services.ShowSettingsDialog();
    return 0;
  }
  if (EqualsIgnoringAsciiCase(arguments[1], "/install")) {
    services.RegisterAssociation("QuindoZip");
    services.RegisterAssociation("QuindoLzh");
    return 0;
  }
  if (EqualsIgnoringAsciiCase(arguments[1], "/uninstall")) {
    services.RemoveAssociations();
    return 0;
  }

  WorkBuffer();
  const std::vector<std::string> args = AbsoluteArguments(arguments);
  int exitCode = 0;
  std::string outputFolder;
  std::vector<int> formats;
  if (ShouldCompress(args, services, formats)) {
    ResolveCompressFolder(settings, args[1], outputFolder);
    JobResult result = services.RunCompressionJob(args, outputFolder);
    if (result == ResultCannotWrite) ShowCannotWriteMessage();
    if (result != ResultOk) exitCode = 1;
  } else {
    for (size_t i = 1; i < args.size(); ++i) {
      std::string archive = args[i];
      outputFolder.clear();
      ResolveExtractFolder(settings, archive, outputFolder);
      std::string details;
      JobResult result = services.RunExtractionJob(archive, formats[i - 1], outputFolder, details);
      if (result != ResultOk) exitCode = 1;
      if (result == ResultCancelled) break;
      if (result == ResultFailed) ShowFailedMessage(details);
      else if (result == ResultCannotWrite) ShowCannotWriteMessage();
      else if (result == ResultBadPath) ShowBadPathMessage();
    }
  }
  ReleaseWorkBuffer();
  return exitCode;
}

}  // namespace quindo
