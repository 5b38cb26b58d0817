#pragma once
// Where a job writes: the output folder of each job from the settings, the
// desktop, the write test, and opening a finished folder in the file browser.
#include <string>

#include "app/settings.h"

namespace quindo {

// [ARC] OUTPUT: 0 desktop, 1 the folder of the first dropped item, 2 OUTPUT_PATH.
void ResolveCompressFolder(const Settings& settings, const std::string& firstPath, std::string& out);
// [MELT] OUTPUT: 0 desktop, 1 the archive's folder, 2 OUTPUT_PATH.
void ResolveExtractFolder(const Settings& settings, const std::string& archivePath, std::string& out);

bool GetDesktopFolder(std::string& out);

// True when a file can be created in the folder. The probe is created under a
// name nobody else uses, with create-new semantics, and only the probe is
// deleted: a user's own file named "write_test" is never touched.
bool IsFolderWritable(const std::string& folder);

// Starts the file browser on the folder; removes one trailing separator from
// the caller's text first.
void OpenFolderInExplorer(std::string& folder);

}  // namespace quindo
