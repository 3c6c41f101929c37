// The changes of one run to an installation's folder as a transaction, over the file-system
// interface of file_system.h: portable, so that every interruption and every failure can be tried
// natively against a file system in memory.
//
// Each step is appended to the run's journal (Uninstall.jnl, one checksummed record a step, see
// install_record.h) and flushed before it is taken. New files are written under a name that did not
// exist, flushed, measured and only then put in place in one step, so nothing the product runs is
// ever half written. A file that a run replaces is moved into Backup or renamed aside, never deleted
// before the run has completed. A run that fails rolls its steps back in reverse, appending what it
// has undone, so that a roll back that is itself interrupted goes on where it stopped; the next run
// does the same with a journal that a killed run left. An undo removes only what the run itself
// wrote: files are recognised by their identity, which the journal holds.
//
// The rules for a file in the way of a new one:
// - identical bytes: it is not touched, and nothing goes into Backup;
// - otherwise, with backups, it moves to Backup\<name>; when a backup of that name exists with other
//   bytes, to Backup\<stem> (2)<ext> and so on (an older backup is never replaced); when one of those
//   generations holds the same bytes already, it is renamed aside instead;
// - without backups (and for the uninstaller and its record) it is renamed aside.
// What was set aside goes once the run has committed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/exceptions.h"
#include "lifecycle/file_system.h"
#include "lifecycle/install_record.h"
#include "lifecycle/removal_plan.h"

// An operation of the run that failed: the message names the file (and, for a full drive, the
// drive); Status says why.
class ETransactionFailed : public Exception {
  public:
    ETransactionFailed(std::string message, TFsStatus why) : Exception(std::move(message)), Status(why) {}
    const TFsStatus Status;
};

// A journal that could not be rolled back whole: the message says what is left and where.
TANDREL_DECLARE_EXCEPTION(ERollBackFailed, Exception);

// "Cannot <verb> <path> (<reason>)"; for a full drive "Not enough disk space to write <path>: the
// drive <drive> is full".
std::string FailureMessage(const char* verb, const std::string& path, TFsStatus status);

// The exit code of a run that failed for status: 6 a full drive, 5 a file in use, 4 anything else.
int ExitCodeOf(TFsStatus status);

// What lies outside the folder: the uninstall entry and the shortcuts.
class TSystemItems {
  public:
    virtual ~TSystemItems() = default;
    // The folder that the uninstall entry of scope ("machine" or "user") names; empty: none.
    virtual std::string EntryFolder(std::string_view scope) = 0;
    virtual void WriteEntry(std::string_view scope, const std::string& folder) = 0;
    virtual void DeleteEntry(std::string_view scope) = 0;
    // Removes the shortcut at path (a Tandrel.lnk) when it starts this installation; true when gone.
    virtual bool RemoveShortcut(const std::string& path) = 0;
};

// The folders that a run made before its journal could exist: those above the destination,
// outermost first, and the destination itself.
struct TMadeFolders {
    std::vector<std::string> Above;
    bool Destination = false;
};

enum class TReplaceRule : uint8_t { Backup, Aside };

enum class TFileOutcome : uint8_t {
    Written,          // there was no file of that name
    Unchanged,        // the file there had the same bytes: not touched
    SetAside,         // the file there was renamed aside (it goes once the run commits)
    MovedToBackup,    // the file there moved into Backup
    Copied,           // CopyToBackup: the copy is in Backup
    AlreadyBackedUp,  // CopyToBackup: Backup holds the same bytes already
};

// The drive of a full path: "C:" or "\\server\share".
std::string DriveOf(std::string_view path);

class TTransaction {
  public:
    // Starts the run's journal in the folder fs (destination: its full path, for the journal and the
    // messages). There must be no journal (see RecoverInterruptedRun). Raises ETransactionFailed.
    TTransaction(TFileSystem& fs, TSystemItems& system, std::string destination, const TMadeFolders& made);
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;
    // A run neither committed nor rolled back is left to the next run's recovery.
    ~TTransaction() = default;

    struct TNewFile {
        std::string Name;  // the temporary name
        std::unique_ptr<TFsFile> File;
    };

    // Makes the folder name unless it exists; true when made.
    bool MakeFolder(std::string_view name);
    // Makes every missing folder above the file name.
    void MakeFoldersOf(std::string_view name);
    // A new file for name, under a temporary name that did not exist ("<name>.~new", ".~new2").
    TNewFile NewFile(std::string_view name);
    // Flushes the new file, closes it and puts it in name's place under the rules above. digest,
    // when given, is the SHA-256 of what was written into it (measured while it was written): it is
    // not read again. A file in the way is hashed only when its size is the new file's, or when its
    // backups are to be compared with it.
    TFileOutcome Place(TNewFile& file,
                       std::string_view name,
                       TReplaceRule rule,
                       const Sha256Digest* digest = nullptr);
    // NewFile, its contents and Place; the new bytes are compared first, so an identical file costs
    // no step at all.
    TFileOutcome InstallFile(std::string_view name, std::string_view contents, TReplaceRule rule);
    // Whether the file name holds exactly contents.
    bool Holds(std::string_view name, std::string_view contents);
    // A copy of the file name (kept in its place) into Backup, under the rules above.
    TFileOutcome CopyToBackup(std::string_view name);
    // The uninstall entry of scope is about to be written; previous: the folder it named (empty: none).
    void WillWriteEntry(std::string_view scope, const std::string& previous);
    // A shortcut is about to be written at path.
    void WillWriteShortcut(const std::string& path);

    // The run has completed: the journal says so, what was set aside goes, then the journal. Raises
    // ETransactionFailed when the commit cannot be written (nothing committed: roll back).
    void Commit();
    // Undoes every step in reverse and removes the journal (and the destination, when the run made
    // it and it is empty); returns what it restored, a line each. Raises ERollBackFailed.
    std::vector<std::string> RollBack();

    // The folders this run made (journaled, "." among them when it made the destination), parents
    // first: what its record names.
    std::vector<std::string> MadeFolders() const;
    // Whether RollBack removed the destination (the run had made it).
    bool DestinationRemoved() const { return destinationRemoved_; }
    // The bytes appended to the journal so far.
    uint64_t JournalBytes() const { return journalBytes_; }

  private:
    void Append(const TJournalStep& step);
    void AppendText(const std::string& text);
    std::string FreeName(std::string_view name, std::string_view suffix);
    // The name in Backup for a file of name holding digest: the first free one of
    // Backup\<name>, Backup\<stem> (2)<ext>, ...; empty when one of them holds those bytes already.
    std::string BackupNameFor(std::string_view name, int64_t size, const Sha256Digest& digest);
    TItemInfo Info(std::string_view name);
    Sha256Digest DigestOf(std::string_view name);
    uint64_t Move(TStepAction action, std::string_view from, std::string_view to);
    // known: the digest of the file name when it has been read already.
    TFileOutcome MoveOutOfTheWay(std::string_view name,
                                 int64_t size,
                                 const std::optional<Sha256Digest>& known,
                                 TReplaceRule rule);

    TFileSystem& fs_;
    TSystemItems& system_;
    TJournalLog log_;
    std::unique_ptr<TFsFile> journal_;
    uint64_t journalBytes_ = 0;
    bool destinationRemoved_ = false;
};

struct TRecovery {
    std::vector<std::string> Lines;  // what was done, a line each; none: there was no journal
    TMadeFolders Made;               // the folders the interrupted run had made, kept for the next run
};

// A journal left in the folder by a run that did not end: a committed one is finished, any other
// rolled back (appending its progress). The folders that run made above and for the destination are
// not removed: they are handed to the next run, which needs them. Raises ERollBackFailed (nothing
// else changed) when the journal cannot be read, names another folder or a step that no run takes,
// or cannot be undone whole.
TRecovery RecoverInterruptedRun(TFileSystem& fs, TSystemItems& system, const std::string& destination);

// Whether the folder holds nothing at all: a destination that a killed run made before its journal
// could be written, which the next run treats as its own.
bool IsEmptyFolder(TFileSystem& fs);

// What a removal left and why, for its closing message.
struct TRemovalResult {
    std::vector<TKeptItem> Kept;
    bool DestinationRemoved = false;
};

// Removes what record says that installations wrote into the folder fs: each file whose size and
// digest still match, the shortcuts, the uninstall entry when it names this folder, the uninstaller,
// each created folder when empty, then the record and the destination itself when the setup made it.
// Raises ETransactionFailed when a file that matches cannot be removed.
TRemovalResult RemoveInstallation(TFileSystem& fs, TSystemItems& system, const TInstallRecord& record);
