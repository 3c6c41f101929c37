// The changes of one run to an installation's folder, as steps of a journal: each step is written
// to the journal (whole, flushed, put in place in one step) before it is taken, so that a run
// that fails or is killed at any moment can be undone, in reverse, by this run or by the next one.
// New files are written under a temporary name that did not exist, checked, and only then put in
// place in one step: nothing the product runs is ever half written. Files that a run replaces are
// moved into Backup or renamed aside, never deleted before the run has completed; a run that
// completes is committed, its set-aside files deleted and its journal removed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/exceptions.h"
#include "framework/unique_handle.h"
#include "lifecycle/install_record.h"
#include "lifecycle/installation_lock.h"
#include "lifecycle/registration.h"
#include "lifecycle/safe_files.h"

// A journal that could not be rolled back whole: the message says what is left and where.
TANDREL_DECLARE_EXCEPTION(ERollBackFailed, Exception);

// A new file under its temporary name, open for writing.
struct TNewFile {
    std::string Name;  // the temporary name, relative to the folder
    UniqueFileHandle Handle;
};

// Removes the empty folder at path (a folder above an installation's destination that its setup
// made) through a handle that does not follow a link. True when it is gone (or was not there).
bool RemoveEmptyFolderAbove(const std::string& path);

// A second handle to the same open file (invalid when the system cannot make one).
UniqueFileHandle DuplicateFileHandle(HANDLE file);

class TInstallTransaction {
  public:
    // Starts the run's journal in folder (destination: the folder's path as the record names it).
    // There must be no journal there (see RecoverInterruptedRun). madeAbove are the folders above
    // the destination made for this run, outermost first, and madeDestination whether the
    // destination itself was: they are the first steps, done already.
    TInstallTransaction(TSafeFolder& folder,
                        const std::string& destination,
                        const std::vector<std::string>& madeAbove,
                        bool madeDestination);
    TInstallTransaction(const TInstallTransaction&) = delete;
    TInstallTransaction& operator=(const TInstallTransaction&) = delete;
    // A transaction neither committed nor rolled back is left to the next run's recovery.
    ~TInstallTransaction() = default;

    TSafeFolder& Folder() { return folder_; }

    // Makes the folder name with the access list security unless it exists; true when made.
    bool MakeFolder(std::string_view name, SECURITY_ATTRIBUTES* security);
    // A new file beside name, under a temporary name that must not exist ("<name>.~new", ".~new2").
    TNewFile NewFile(std::string_view name);
    // A new file beside name (see NewFile) that holds text, flushed. Raises EInOutError.
    TNewFile NewFileWithText(std::string_view name, std::string_view text);
    // Copies the file from into a new file beside to (see NewFile), flushed; returns its name.
    std::string CopyToNewFile(std::string_view from, std::string_view to);
    // Moves the file name to to (into Backup), which must not exist.
    void MoveToBackup(std::string_view name, std::string_view to);
    // Renames the file name aside ("<name>.~old", ".~old2"): it is deleted when the run commits.
    void SetAside(std::string_view name);
    // Puts a new file in the place of name (replace: a file of this run there may be replaced).
    // Raises EInOutError naming the file when it cannot.
    void Put(const TNewFile& file, std::string_view name, bool replace);
    void Put(std::string_view newName, std::string_view name, bool replace);
    // The uninstall entry is about to be written in scope; previous is the folder it named before
    // (empty: none).
    void WillWriteEntry(TRegistrationScope scope, const std::string& previous);
    // A shortcut is about to be written at path.
    void WillWriteShortcut(const std::string& path);

    // The run has completed: the journal says so, the files set aside go (those in use at the next
    // restart), then the journal.
    void Commit();
    // Undoes every step in reverse and removes the journal; returns what it restored, a line each.
    // The run's new files must be closed by then (a failure's unwinding closes them).
    // Raises ERollBackFailed naming what is left when a step cannot be undone.
    std::vector<std::string> RollBack();

  private:
    void Begin(TStepAction action, std::string name, std::string other);
    void WriteJournal();
    std::string FreeName(std::string_view name, const char* suffix);

    TSafeFolder& folder_;
    TInstallJournal journal_;
    bool ended_ = false;
};

// Whether a journal is in the folder.
bool HasJournal(TSafeFolder& folder);

// A journal left in folder by a run that did not end: a committed one is finished (its set-aside
// files deleted), any other rolled back. Returns what was done, a line each (none: no journal).
// Raises ERollBackFailed (nothing else changed) when the journal cannot be read or undone whole.
// Call it while holding the installation's lock (see TInstallationLock).
std::vector<std::string> RecoverInterruptedRun(TSafeFolder& folder);

// Writes text into a new file beside name and puts it in name's place in one step, replacing
// what is there: a reader sees the old file or the new one, never a part. Raises EInOutError.
void WriteFileWhole(TSafeFolder& folder, std::string_view name, const std::string& text);
