// The uninstaller cannot delete its own file while it runs, so it runs the removal from a copy of
// itself in a folder of its own under the user's temporary folder, waits for the copy and returns
// the copy's exit code. The copy is written from a handle that the program opened on its own file
// at start and holds so that nobody can change or exchange that file, never from the file's path
// read again later. The folder goes when the copy ends, or with the next run's clean-up of the
// temporary folder (lifecycle/stale_removals.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/unique_handle.h"
#include "lifecycle/installation_lock.h"
#include "lifecycle/uninstall_options.h"

// The copy could not be made or started: the message says why.
TANDREL_DECLARE_EXCEPTION(ESelfCopyFailed, Exception);

// The full path of the running program.
std::string OwnProgramPath();

// The running program's own file, opened by its path without following a link, shared for reading
// only (no one can write, rename, delete or replace it while it is held), and checked to be the
// image that runs: its headers and every read-only section hold the bytes mapped in memory.
class TOwnProgramFile {
  public:
    // Opens and checks the file; never raises: a failure is kept and raised by Read.
    TOwnProgramFile();

    // The whole file, read through the held handle. Raises ESelfCopyFailed when it could not be
    // opened, read, or is not the running image.
    std::vector<uint8_t> Read() const;
    // Lets go of the file (the removal moves it out of the installation's folder, which needs it
    // free).
    void Release() noexcept { file_.reset(); }

  private:
    UniqueFileHandle file_;
    std::string failure_;
};

// Why bytes, a program file, is not the image mapped at image (its headers and sections as the
// loader maps them), or empty when they match: the headers, except the base address that the
// loader may move the image to, and each section that is not writable, with the image's base
// relocations applied to the file's bytes. Reads nothing outside bytes and the image's own extent.
std::string ImageMismatch(const std::vector<uint8_t>& bytes, const uint8_t* image);

// Makes a new folder under the user's temporary folder (a name that is not there yet; an existing
// folder is never used), writes own's bytes into a new file there, checks what was written (same
// size, the same bytes read back), runs that copy with the switches of options and
// /ORIGINAL=originalFolder, waits for it and returns its exit code (an exit code outside the
// uninstaller's own, of a copy that was killed, as kExitRemoveFailed). own is released once the
// copy runs. Then removes the copy and the folder; what is still in use then (this program's own
// file, moved there by the copy) is left to the next run's clean-up. Raises ESelfCopyFailed when
// the copy cannot be made, checked or started (the folder made is removed again).
//
// lock, the installation's lock held by this program, passes to the copy as it starts (see /LOCK)
// and is let go of here then.
int RunFromTemporaryCopy(TOwnProgramFile& own,
                         const TUninstallOptions& options,
                         const std::string& originalFolder,
                         TInstallationLock& lock);

// Whether folder is one that RunFromTemporaryCopy makes: right inside the user's temporary folder,
// with the name prefix of those folders.
bool IsTemporaryCopyFolder(const std::string& folder);
