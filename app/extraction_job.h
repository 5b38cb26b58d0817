#pragma once
// The extraction job: one archive into its output folder, and the format
// detection that the entry's choice uses too.
#include <string>

#include "app/job_result.h"

namespace quindo {

class ArchiveReader;
class Settings;

// FormatNone, FormatLzh or FormatZip, by content; LZH is asked first. Main
// thread only: it overwrites the work buffer.
int DetectArchiveFormat(const std::string& path);

// The folder name for an archive: its file name without folders and
// extension; with `stripSerial`, a trailing "[x]" of one byte between the
// brackets is removed (photos[1] becomes photos, photos[10] stays). Always
// true.
bool ArchiveFolderName(const std::string& archivePath, bool stripSerial, std::string& out);

// Extracts one archive. outputFolder comes from ResolveExtractFolder and is
// extended in place: on success it names the folder that was opened (the
// archive's own top folder when it has one).
JobResult RunExtractionJob(const std::string& archivePath, std::string& outputFolder);
JobResult RunExtractionJob(const std::string& archivePath, std::string& outputFolder,
                           const Settings& settings);

// The worker's body: clears cancelRequested, extracts, answers 1 when
// Extract answered true, else 0.
int ExtractionWorker(ArchiveReader& reader, const std::string& archivePath,
                     const std::string& outputFolder);

}  // namespace quindo
