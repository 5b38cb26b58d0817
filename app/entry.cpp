#include "app/entry.h"

#include "common/ascii_case.h"

#include "app/message_text.h"
#include "app/output_folders.h"
#include "app/user_interface.h"
#include "platform/platform.h"

namespace quindo {

void ShowCannotWriteMessage(const std::string& details) {
  Ui().ShowMessage(WithDetails(result_box::kCannotWriteText, details), result_box::kCannotWriteTitle,
                   MessageIcon::Warning);
}

void ShowFailedMessage(const std::string& details) {
  // The full sentence is the title and the short phrase the text.
  Ui().ShowMessage(WithDetails(result_box::kFailedText, details), result_box::kFailedTitle,
                   MessageIcon::Information);
}

void ShowBadPathMessage() {
  Ui().ShowMessage(result_box::kBadPathText, result_box::kBadPathTitle, MessageIcon::Warning);
}

namespace {

// Where a finished job's output went, for the front end to say.
void ReportOutput(const std::string& folder) {
  std::string shown;
  if (!SystemCodePage().ToUtf8(folder, shown)) shown = folder;
  Ui().ReportOutputFolder(shown);
}

}  // namespace

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
                   const Settings& settings, const DispatchChoice& choice) {
  if (arguments.size() <= 1) {
    services.ShowSettingsDialog();
    return 0;
  }
  if (choice.switches && EqualsIgnoringAsciiCase(arguments[1], "/install")) {
    services.RegisterAssociation("QuindoZip");
    services.RegisterAssociation("QuindoLzh");
    return 0;
  }
  if (choice.switches && EqualsIgnoringAsciiCase(arguments[1], "/uninstall")) {
    services.RemoveAssociations();
    return 0;
  }

  const std::vector<std::string> args = AbsoluteArguments(arguments);
  int exitCode = 0;
  std::string outputFolder;
  std::vector<int> formats;
  bool compress = choice.job == DispatchChoice::Job::Compress;
  if (choice.job == DispatchChoice::Job::ByContent) compress = ShouldCompress(args, services, formats);
  // Forced extraction: each job detects its archive's format itself.
  if (choice.job == DispatchChoice::Job::Extract) formats.assign(args.size() - 1, FormatNone);
  if (compress) {
    ResolveCompressFolder(settings, args[1], outputFolder);
    JobResult result = services.RunCompressionJob(args, outputFolder);
    if (result == ResultCannotWrite) ShowCannotWriteMessage(CannotWriteDetails(outputFolder));
    if (result == ResultOk) ReportOutput(outputFolder);
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
      if (result == ResultOk) ReportOutput(outputFolder);
      if (result == ResultFailed) ShowFailedMessage(details);
      else if (result == ResultCannotWrite) ShowCannotWriteMessage(details);
      else if (result == ResultBadPath) ShowBadPathMessage();
    }
  }
  return exitCode;
}

}  // namespace quindo
