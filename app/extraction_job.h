#pragma once
// The extraction job: one archive into its output folder, and the format
// detection that the entry's choice uses too.
#include <memory>
#include <string>

#include "app/job_result.h"
#include "common/archive.h"

namespace quindo {

class Settings;
struct ExtractionRecord;

// FormatNone, FormatLzh or FormatZip, by content; LZH is asked first. Only
// regular files are opened (a named pipe never makes it wait).
int DetectArchiveFormat(const std::string& path);
int DetectArchiveFormat(ByteSource& source);

// The reader of a detected format over a source; null for FormatNone.
std::unique_ptr<ArchiveReader> MakeArchiveReader(int format, ByteSource& source);

// The folder name for an archive: its file name without folders and
// extension; with `stripSerial`, a trailing "[x]" of one byte between the
// brackets is removed (photos[1] becomes photos, photos[10] stays). Always
// true.
bool ArchiveFolderName(const std::string& archivePath, bool stripSerial, std::string& out);

// What went wrong, for the failure box: one line a member, UTF-8.
std::string DescribeFailures(const ExtractionRecord& record);

// Extracts one archive, of the format the entry detected (FormatNone: the
// job detects it). `archivePath` and `outputFolder` are absolute;
// outputFolder is extended in place: on success it names the folder that was
// opened (the archive's own top folder when it has one). `details` receives
// what failed, for the failure box.
JobResult RunExtractionJob(const std::string& archivePath, int format, std::string& outputFolder,
                           const Settings& settings, std::string& details);

// Decodes and checks every member as extraction would, writing nothing:
// ResultOk only when all are intact; `details` names the others.
JobResult RunTestJob(const std::string& archivePath, const Settings& settings, std::string& details);

// The members, one line each (UTF-8): size, date and time, method, and the
// name as extraction would write it. False when the file is no archive.
bool ListArchive(const std::string& archivePath, const Settings& settings, std::string& listing);

}  // namespace quindo
