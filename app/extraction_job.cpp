#include "app/extraction_job.h"

#include <memory>

#include "app/archive_reader.h"
#include "app/output_folders.h"
#include "app/path_utils.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "app/work_buffer.h"
#include "app/worker.h"
#include "common/path_text.h"
#include "platform/platform.h"
#include "zip/zip_reader.h"

#if __has_include("lzh/lzh_reader.h")
#include "lzh/lzh_reader.h"
#define QUINDO_HAS_LZH_READER 1
#endif

namespace quindo {

namespace {

// What the progress view polls, over the reader.
class ReaderProgress final : public ProgressSource {
 public:
  explicit ReaderProgress(ArchiveReader& reader) : reader_(reader) {}
  uint32_t Percent() const override { return reader_.progressPercent.load(); }
  std::string CurrentName() const override { return reader_.CurrentFileName(); }
  void RequestCancel() override { reader_.cancelRequested = true; }

 private:
  ArchiveReader& reader_;
};

std::unique_ptr<ArchiveReader> MakeReader(int format) {
#ifdef QUINDO_HAS_LZH_READER
  if (format == FormatLzh) return std::make_unique<LzhReader>();
#endif
  if (format == FormatZip) return std::make_unique<ZipReader>();
  return nullptr;
}

}  // namespace

int DetectArchiveFormat(const std::string& path) {
  platform::File file;
  if (!file.Open(path, platform::OpenMode::Read)) return FormatNone;
  std::span<uint8_t> buffer = WorkBuffer();
  const int64_t got = file.ReadFull(buffer.data(), buffer.size());
  const int64_t size = file.Size();
  file.Close();
  if (got < 0 || size < 0) return FormatNone;
  // What was not read stays out of the probes' view.
  const uint64_t fileSize = static_cast<uint64_t>(size);
#ifdef QUINDO_HAS_LZH_READER
  {
    LzhReader lzh;
    if (lzh.Probe(path, fileSize)) return FormatLzh;
  }
#endif
  ZipReader zip;
  if (zip.Probe(path, fileSize)) return FormatZip;
  return FormatNone;
}

bool ArchiveFolderName(const std::string& archivePath, bool stripSerial, std::string& out) {
  const CodePage& cp = PathCodePage();
  out.assign(BaseNamePart(archivePath, cp));
  if (!stripSerial) return true;
  // The last three characters must be "[", one single byte, "]".
  size_t starts[3] = {std::string::npos, std::string::npos, std::string::npos};
  size_t lengths[3] = {0, 0, 0};
  for (size_t i = 0; i < out.size();) {
    PathChar ch = PathCharAt(out, i, cp);
    size_t len = ch.length ? ch.length : out.size() - i;
    starts[0] = starts[1];
    lengths[0] = lengths[1];
    starts[1] = starts[2];
    lengths[1] = lengths[2];
    starts[2] = i;
    lengths[2] = len;
    i += len;
  }
  if (starts[0] == std::string::npos) return true;
  if (lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1 && out[starts[0]] == '[' &&
      out[starts[2]] == ']')
    out.resize(starts[0]);
  return true;
}

int ExtractionWorker(ArchiveReader& reader, const std::string& archivePath, const std::string& outputFolder) {
  reader.cancelRequested = false;
  return reader.Extract(archivePath, outputFolder) ? 1 : 0;
}

JobResult RunExtractionJob(const std::string& archivePath, std::string& outputFolder) {
  Settings settings;
  return RunExtractionJob(archivePath, outputFolder, settings);
}

JobResult RunExtractionJob(const std::string& archivePath, std::string& outputFolder, const Settings& settings) {
  BuildLeadByteTable();
  const CodePage& cp = PathCodePage();
  const int format = DetectArchiveFormat(archivePath);
  std::unique_ptr<ArchiveReader> reader = MakeReader(format);
  if (!reader) {
    Ui().ShowMessage("非対応フォーマットのファイルです。", "処理エラー", MessageIcon::Information);
    return ResultFailed;
  }
  if (format == FormatZip) reader->useUtf8 = settings.ReadFlag(section::kZipOption, key::kUseUtf8, "1");

  AddTrailingSeparator(outputFolder, cp);
  const bool hasRoot = reader->FindRootFolder(archivePath);
  if (!hasRoot) {
    const bool strip = settings.ReadFlag(section::kOption, key::kNumberFilter, "1");
    if (settings.ReadFlag(section::kOption, key::kMakeDirectory, "1")) {
      std::string name;
      ArchiveFolderName(archivePath, strip, name);
      outputFolder += name;
      outputFolder += platform::kPathSeparator;
    }
  }
  reader->overwrite = settings.ReadFlag(section::kMelt, key::kOverwrite, "1");
  reader->securityCheck = settings.ReadFlag(section::kOption, key::kSecurity, "0");

  if (HasInvalidPathChars(outputFolder, cp)) return ResultBadPath;
  CreateFolderChain(outputFolder, cp);
  // Members are written relative to the current directory: a folder that
  // cannot be entered must not let them land wherever the process stands.
  if (!platform::SetCurrentDirectory(outputFolder)) return ResultCannotWrite;
  if (!IsFolderWritable(outputFolder)) return ResultCannotWrite;

  reader->progressPercent = 0;
  reader->progressWindow = nullptr;
  ReaderProgress progress(*reader);
  int code;
  {
    Worker worker;
    ArchiveReader& shared = *reader;
    const std::string archive = archivePath, folder = outputFolder;
    worker.Start([&shared, archive, folder] { return ExtractionWorker(shared, archive, folder); });
    code = Ui().RunProgress(ProgressMode::Extract, progress, worker);
    worker.Join();
    code = worker.ExitCode();
  }
  if (code == 1) {
    if (hasRoot && !reader->rootFolder.empty()) {
      outputFolder += reader->rootFolder;
      outputFolder += platform::kPathSeparator;
    }
    if (settings.ReadFlag(section::kMelt, key::kOpenDir, "1")) OpenFolderInExplorer(outputFolder);
    return ResultOk;
  }
  return reader->cancelRequested ? ResultCancelled : ResultFailed;
}

}  // namespace quindo
