// The uninstaller cannot delete its own file while it runs, so it runs the removal from a copy of
// itself in a folder of its own under the user's temporary folder, waits for the copy and returns
// the copy's exit code. The folder goes when the copy ends, or at the next restart.
#pragma once

#include <string>

#include "framework/exceptions.h"
#include "lifecycle/uninstall_options.h"

// The copy could not be made or started: the message says why.
TANDREL_DECLARE_EXCEPTION(ESelfCopyFailed, Exception);

// The full path of the running program.
std::string OwnProgramPath();

// Makes a new folder under the user's temporary folder (a name that is not there yet; an existing
// folder is never used), copies the running program into it, runs the copy with the switches of
// options and /ORIGINAL=originalFolder, waits for it and returns its exit code (an exit code
// outside the uninstaller's own, of a copy that was killed, as kExitRemoveFailed). Then removes the
// copy and the folder, or has what is left deleted at the next restart. Raises ESelfCopyFailed when
// the copy cannot be made or started (the folder made is removed again).
int RunFromTemporaryCopy(const TUninstallOptions& options, const std::string& originalFolder);

// Whether folder is one that RunFromTemporaryCopy makes: right inside the user's temporary folder,
// with the name prefix of those folders.
bool IsTemporaryCopyFolder(const std::string& folder);
