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

void ShowFailedMessage() {
  // The full sentence is the title and the short phrase the text.
  Ui().ShowMessage("処理失敗", "ファイルエラーが検出されました。", MessageIcon::Information);
}

void ShowBadPathMessage() {
  Ui().ShowMessage("不正なファイルパスが指定されています。", "ファイル エラー", MessageIcon::Warning);
}

bool ShouldCompress(const std::vector<std::string>& args, AppServices& services) {
  for (size_t i = 1; i < args.size(); ++i) {
    // kInvalidAttributes has the directory bit too: a missing path compresses.
    if (platform::GetFileAttributes(args[i]) & platform::kAttrDirectory) return true;
    if (services.DetectArchiveFormat(args[i]) == FormatNone) return true;
  }
  return false;
}

int RunApplication(const std::vector<std::string>& args, AppServices& services,
                   const Settings& settings, const DispatchChoice& choice) {
  if (args.size() <= 1) {
    services.ShowSettingsDialog();
    return 0;
  }
  if (choice.switches && EqualsIgnoringAsciiCase(args[1], "/install")) {
    services.RegisterAssociation("QuindoZip");
    services.RegisterAssociation("QuindoLzh");
    return 0;
  }
  if (choice.switches && EqualsIgnoringAsciiCase(args[1], "/uninstall")) {
    services.RemoveAssociations();
    return 0;
  }

  WorkBuffer();
  int exitCode = 0;
  std::string outputFolder;
  const bool compress = choice.job == DispatchChoice::Job::ByContent
                            ? ShouldCompress(args, services)
                            : choice.job == DispatchChoice::Job::Compress;
  if (compress) {
    ResolveCompressFolder(settings, args[1], outputFolder);
    JobResult result = services.RunCompressionJob(args, outputFolder);
    if (result == ResultCannotWrite) ShowCannotWriteMessage();
    if (result != ResultOk) exitCode = 1;
  } else {
    for (size_t i = 1; i < args.size(); ++i) {
      std::string archive = args[i];
      outputFolder.clear();
      ResolveExtractFolder(settings, archive, outputFolder);
      JobResult result = services.RunExtractionJob(archive, outputFolder);
      if (result != ResultOk) exitCode = 1;
      if (result == ResultCancelled) break;
      if (result == ResultFailed) ShowFailedMessage();
      else if (result == ResultCannotWrite) ShowCannotWriteMessage();
      else if (result == ResultBadPath) ShowBadPathMessage();
    }
  }
  ReleaseWorkBuffer();
  return exitCode;
}

}  // namespace quindo
