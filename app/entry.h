#pragma once
// The program's entry after start-up: the choice between the settings form,
// "/install", "/uninstall", one compression job, or one extraction job per
// archive, and the message box for each job's result.
#include <string>
#include <vector>

#include "app/job_result.h"
#include "app/settings.h"

namespace quindo {

// What the entry dispatches to. The program binds the real jobs; tests
// script them.
class AppServices {
 public:
  virtual ~AppServices() = default;
  virtual int DetectArchiveFormat(const std::string& path) = 0;
  // args[0] is the program; args[1..] are the dropped paths.
  virtual JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder) = 0;
  // `format` is what DetectArchiveFormat answered; `details` receives what
  // failed, for the failure box.
  virtual JobResult RunExtractionJob(const std::string& archivePath, int format, std::string& outputFolder,
                                     std::string& details) = 0;
  virtual void RegisterAssociation(const char* progId) = 0;
  virtual void RemoveAssociations() = 0;
  virtual void ShowSettingsDialog() = 0;
};

// True selects one compression job for all paths: some path is a folder,
// cannot be queried, or is not a ZIP or LZH archive. The scan stops there.
// `formats` receives the format of each path asked (args[1] first).
bool ShouldCompress(const std::vector<std::string>& args, AppServices& services, std::vector<int>& formats);

// The dropped paths made absolute, once, so that no job depends on the
// current directory. args[0] stays as it is.
std::vector<std::string> AbsoluteArguments(const std::vector<std::string>& args);

// What a command line may decide instead of the paths' contents.
struct DispatchChoice {
  enum class Job { ByContent, Compress, Extract };
  Job job = Job::ByContent;
  // False when every argument is a path: "/install" and "/uninstall" too.
  bool switches = true;
};

// Runs one start of the program. Answers 0 when every job succeeded (or no
// job ran) and 1 when some job did not; the Windows program ignores it.
int RunApplication(const std::vector<std::string>& args, AppServices& services,
                   const Settings& settings, const DispatchChoice& choice = {});

// The entry's message boxes.
void ShowCannotWriteMessage(const std::string& details = {});  // M1, with the folder
void ShowFailedMessage(const std::string& details = {});  // M2, with what failed
void ShowBadPathMessage();      // M3

}  // namespace quindo
