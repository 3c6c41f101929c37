// The changes of one run to an installation's folder, on Windows: the transaction engine
// (transaction_engine.h) decides every step and journals it; the folder object carries it out,
// through the engine's file-system interface, never through a link. New files are flushed before
// they are put in place.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/exceptions.h"
#include "framework/unique_handle.h"
#include "lifecycle/install_record.h"
#include "lifecycle/installation_lock.h"
#include "lifecycle/registration.h"
#include "lifecycle/safe_files.h"
#include "lifecycle/transaction_engine.h"

// A new file under its temporary name, open for writing.
struct TNewFile {
    std::string Name;  // the temporary name, relative to the folder
    TTransaction::TNewFile File;
    // The open file (for the archive component to write into, and to read back).
    HANDLE Handle() const;
};

// Removes the empty folder at path (a folder above an installation's destination that its setup
// made) through a handle that does not follow a link, when it is still the folder of identity id
// (the file system's number of it, as the engine identifies items). True when it is gone (or was
// not there).
bool RemoveEmptyFolderAbove(const std::string& path, uint64_t id);

// Makes the folders from first (the outermost missing one, a full path) down to destination so that
// an interruption leaves either nothing of ours or the destination with the journal that hands the
// folders over to the run (transaction_engine.h); folders get security. Returns the folders made,
// with their identities. Raises ETransactionFailed.
TMadeFolders MakeNewDestination(const std::string& first,
                                const std::string& destination,
                                SECURITY_ATTRIBUTES* security);

// Takes away the folders from first down to destination that a failed run made, when they hold
// nothing but the journal that names nothing left to undo; nothing of the run may hold them open.
// True when they went.
bool WithdrawNewDestination(const std::string& first, const std::string& destination);

// The engine's identity of an open item (its file number); 0 when it cannot be read.
uint64_t IdentityOf(HANDLE item);

// A second handle to the same open file (invalid when the system cannot make one).
UniqueFileHandle DuplicateFileHandle(HANDLE file);

// The folder object as the engine's file system; folders it makes get security.
class TSafeFolderFileSystem;

// The uninstall entries and the shortcuts, as the engine sees them.
class TWindowsSystemItems : public TSystemItems {
  public:
    // destination: the installation whose program a shortcut must start for its removal.
    explicit TWindowsSystemItems(std::string destination) : destination_(std::move(destination)) {}
    std::string EntryFolder(std::string_view scope) override;
    void WriteEntry(std::string_view scope, const std::string& folder) override;
    void DeleteEntry(std::string_view scope) override;
    bool RemoveShortcut(const std::string& path) override;

  private:
    std::string destination_;
};

class TInstallTransaction {
  public:
    // Starts the run's journal in folder (destination: the folder's path as the record names it).
    // There must be no journal there (see RecoverInterruptedRun). madeAbove are the folders above
    // the destination made for this run, outermost first, and madeDestination whether the
    // destination itself was: they are the first steps, done already. security: the access list of
    // the folders the run makes. Raises ETransactionFailed.
    TInstallTransaction(TSafeFolder& folder,
                        const std::string& destination,
                        const std::vector<std::string>& madeAbove,
                        bool madeDestination,
                        SECURITY_ATTRIBUTES* security);
    TInstallTransaction(const TInstallTransaction&) = delete;
    TInstallTransaction& operator=(const TInstallTransaction&) = delete;
    // A transaction neither committed nor rolled back is left to the next run's recovery.
    ~TInstallTransaction();

    TSafeFolder& Folder() { return folder_; }
    TTransaction& Engine() { return *engine_; }

    // Makes the folder name unless it exists; true when made.
    bool MakeFolder(std::string_view name);
    // A new file beside name, under a temporary name that must not exist ("<name>.~new", ".~new2").
    TNewFile NewFile(std::string_view name);
    // A new file beside each of names, journaled with one flush for them all.
    std::vector<TNewFile> NewFiles(const std::vector<std::string>& names);
    // Between BeginGroup and EndGroup, Place journals its moves without a flush each; EndGroup
    // flushes the journal once and takes them (see TTransaction::BeginGroup).
    void BeginGroup() { engine_->BeginGroup(); }
    void EndGroup() { engine_->EndGroup(); }
    // Flushes the new file and puts it in the place of name under the engine's rules for what is
    // there (identical: untouched; else into Backup or aside). digest, when given, is what was
    // measured of the new file while it was written. Raises ETransactionFailed.
    TFileOutcome Place(TNewFile& file,
                       std::string_view name,
                       TReplaceRule rule,
                       const Sha256Digest* digest = nullptr);
    // A file of text at name (the record), replacing what is there by the same rules.
    TFileOutcome InstallText(std::string_view name, std::string_view text, TReplaceRule rule);
    // A copy of the file name, which stays, into Backup.
    TFileOutcome CopyToBackup(std::string_view name);
    // The uninstall entry is about to be written in scope; previous is the folder it named before
    // (empty: none).
    void WillWriteEntry(TRegistrationScope scope, const std::string& previous);
    // A shortcut is about to be written at path.
    void WillWriteShortcut(const std::string& path);

    // The run has completed: the journal says so, the files set aside go (those in use at the next
    // restart), then the journal.
    void Commit();
    // Undoes every step in reverse and removes the journal, unless the run made the destination
    // (see WithdrawNewDestination); returns what it restored, a line each.
    // Raises ERollBackFailed naming what is left when a step cannot be undone.
    std::vector<std::string> RollBack();

  private:
    TSafeFolder& folder_;
    std::unique_ptr<TSafeFolderFileSystem> fs_;
    TWindowsSystemItems system_;
    std::optional<TTransaction> engine_;
};

// A journal left in folder by a run that did not end: a committed one is finished (its set-aside
// files deleted), any other rolled back. Returns what was done, a line each (none: no journal).
// The folders that the interrupted run made for the destination are not removed: made receives
// them, for the run that goes on (nullptr: not wanted). Raises ERollBackFailed when the journal
// cannot be read or undone whole. Call it while holding the installation's lock.
std::vector<std::string> RecoverInterruptedRun(TSafeFolder& folder, TMadeFolders* made = nullptr);
