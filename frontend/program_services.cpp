#include "frontend/program_services.h"

#include "app/compression_job.h"
#include "app/extraction_job.h"
#include "app/settings.h"
#include "platform/platform.h"

namespace quindo {

namespace {

class RealServices final : public AppServices {
 public:
  int DetectArchiveFormat(const std::string& path) override { return quindo::DetectArchiveFormat(path); }
  JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder) override {
    return quindo::RunCompressionJob(args, outputFolder);
  }
  JobResult RunExtractionJob(const std::string& archivePath, int format, std::string& outputFolder,
                             std::string& details) override {
    Settings settings;
    return quindo::RunExtractionJob(archivePath, format, outputFolder, settings, details);
  }
  void RegisterAssociation(const char* progId) override { quindo::RegisterAssociation(progId); }
  void RemoveAssociations() override { quindo::RemoveAssociations(); }
  void ShowSettingsDialog() override { quindo::ShowSettingsDialog(); }
};

}  // namespace

void RegisterAssociation(const char* progId) {
  Settings settings;
  RegisterAssociation(progId, SystemAssociationStore(), settings, platform::ProgramPath());
}

void UnregisterAssociation(const char* progId) {
  Settings settings;
  UnregisterAssociation(progId, SystemAssociationStore(), settings);
}

void RemoveAssociations() {
  Settings settings;
  RemoveAssociations(SystemAssociationStore(), settings);
}

AppServices& ProgramServices() {
  static RealServices services;
  return services;
}

}  // namespace quindo
