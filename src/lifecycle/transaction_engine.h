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
// outermost first, and the destination itself, each with the identity the file system gave it.
struct TMadeFolders {
    std::vector<std::string> Above;
    std::vector<uint64_t> AboveIds;
    bool Destination = false;
    uint64_t DestinationId = 0;
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

// A new journal written whole beside the one it replaces in one step (the journal that a run takes
// over); one left beside the journal is removed by the next run.
inline constexpr char kJournalReplacement[] = "Uninstall.jnl.~new";

// The drive of a full path: "C:" or "\\server\share".
std::string DriveOf(std::string_view path);

// A new destination is made so that an interruption at any point leaves either a destination whose
// journal names the folders made for it, with their identities, or a folder under a temporary name
// that the next run recognises and removes:
// - the first missing folder is made as "<name>.~new" beside where it belongs, the rest of the chain
//   inside it, then the destination's journal naming them all ("parent", "folder ." with their
//   identities);
// - then "<name>.~new" is renamed to "<name>" in one step (the caller does it: on Windows the folders
//   must not be held open then), and the run goes on in the destination as in any other: its
//   journal is handed over to the run's transaction (see TTransaction).
// above is the folder that exists (abovePath its full path); chain names the missing folders
// relative to it, down to the destination ("Apps\Tandrel"). Returns the folders made. Raises
// ETransactionFailed (what was made is left for ClearUnfinishedDestination).
TMadeFolders PrepareNewDestination(TFileSystem& above,
                                   const std::string& abovePath,
                                   std::string_view chain,
                                   const std::string& destination);

// The most folders that a run makes in a row for a new destination; a longer chain is refused.
inline constexpr int kMaxNewChain = 64;

// The temporary name of the first folder of chain: "<first>.~new".
std::string UnfinishedName(std::string_view chain);

// Puts the folder prepared for chain in place (a rename in above); when that fails, what was made
// goes and ETransactionFailed is raised.
void PlaceNewDestination(TFileSystem& above, const std::string& abovePath, std::string_view chain);

// Removes what a run left of a new destination it had not finished making: the folder
// "<first>.~new" of chain in above, when it holds only what such a run makes (each folder only the
// next one, the last nothing or a journal with nothing left to undo). Anything else in it raises
// ETransactionFailed (Denied) and everything stays. Nothing there: nothing done.
void ClearUnfinishedDestination(TFileSystem& above, const std::string& abovePath, std::string_view chain);

// A new destination whose run failed and was rolled back goes, with the folders made above it: the
// first folder of chain is renamed to "<first>.~new" and cleared as above. Only when it holds
// nothing but what a run makes: otherwise it stays, and the next run takes it over with its
// journal. True when it went.
bool WithdrawNewDestination(TFileSystem& above, const std::string& abovePath, std::string_view chain);

class TTransaction {
  public:
    // Starts the run's journal in the folder fs (destination: its full path, for the journal and the
    // messages). A journal there must be one that names nothing left to undo (RecoverInterruptedRun
    // leaves it so); the folders it names as made for the destination are this run's, and its
    // journal is replaced in one step by one that names them. Raises ETransactionFailed.
    TTransaction(TFileSystem& fs, TSystemItems& system, std::string destination);
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;
    // A run neither committed nor rolled back is left to the next run's recovery.
    ~TTransaction() = default;

    struct TNewFile {
        std::string Name;  // the temporary name
        std::unique_ptr<TFsFile> File;
        uint64_t Id = 0;  // its identity, read once it was made (0: not read)
    };

    // Makes the folder name unless it exists; true when made.
    bool MakeFolder(std::string_view name);
    // Makes every missing folder above the file name.
    void MakeFoldersOf(std::string_view name);
    // A new file for name, under a temporary name that did not exist ("<name>.~new", ".~new2").
    TNewFile NewFile(std::string_view name);
    // A new file for each of names (as NewFile), journaled with one flush for them all; no
    // temporary name is one of names.
    std::vector<TNewFile> NewFiles(const std::vector<std::string>& names);
    // From here until EndGroup, Place journals its moves without a flush each and takes them
    // together at EndGroup, after one flush of the journal; anything that depends on a move (a
    // name it touches, a step that must be durable at once) takes the moves recorded so far first.
    // The new files are still flushed each before its move is journaled.
    void BeginGroup() { grouping_ = true; }
    // Flushes the journal and takes the moves of the group, in the order journaled.
    void EndGroup();
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
    // Undoes every step in reverse and removes the journal, unless the run made the destination:
    // then the journal stays, naming the folders made and nothing else to undo, for
    // WithdrawNewDestination or the next run. Returns what it restored, a line each. Raises
    // ERollBackFailed.
    std::vector<std::string> RollBack();

    // The folders this run made (journaled, "." among them when it made the destination), parents
    // first: what its record names.
    std::vector<std::string> MadeFolders() const;
    // The folders made for the destination before its journal, with their identities.
    TMadeFolders MadeBefore() const;
    // Whether the run has put a file into Backup (moved or copied).
    bool PutIntoBackup() const;
    // Whether a file of other bytes than contents is at name: what a new file there replaces.
    bool HoldsOther(std::string_view name, std::string_view contents);
    // The bytes appended to the journal so far.
    uint64_t JournalBytes() const { return journalBytes_; }

  private:
    struct TPendingMove {
        TStepAction Action;
        std::string From;
        std::string To;
        std::unique_ptr<TFsFile> File;  // from, open: moved itself (else by its name)
    };

    // Journals step; later: without a flush, the step being taken later (at Settle).
    void Append(const TJournalStep& step, bool later = false);
    // Appends the record of text, flushed unless later.
    void AppendText(const std::string& text, bool later = false);
    // Flushes what the journal holds unflushed, then takes the moves journaled for later.
    void Settle();
    // Whether a move journaled for later touches name.
    bool Awaits(std::string_view name) const;
    // The first free "<name><suffix>", "<name><suffix>2"...; none of avoid (any case).
    std::string FreeName(std::string_view name,
                         std::string_view suffix,
                         const std::vector<std::string>& avoid = {});
    // The name in Backup for a file of name holding digest: the first free one of
    // Backup\<name>, Backup\<stem> (2)<ext>, ...; empty when one of them holds those bytes already.
    std::string BackupNameFor(std::string_view name, int64_t size, const Sha256Digest& digest);
    TItemInfo Info(std::string_view name);
    Sha256Digest DigestOf(std::string_view name);
    // Moves from to to as a step; id: from's identity when known (0: read here); open: from, open
    // (moved through it, then closed).
    uint64_t Move(TStepAction action,
                  std::string_view from,
                  std::string_view to,
                  uint64_t id = 0,
                  std::unique_ptr<TFsFile> open = nullptr);
    // known: the digest of the file name when it has been read already.
    TFileOutcome MoveOutOfTheWay(std::string_view name,
                                 int64_t size,
                                 const std::optional<Sha256Digest>& known,
                                 TReplaceRule rule);

    TFileSystem& fs_;
    TSystemItems& system_;
    TJournalLog log_;
    std::unique_ptr<TFsFile> journal_;
    std::string journalName_ = kJournalName;  // the file journal_ writes
    uint64_t journalBytes_ = 0;
    bool unflushed_ = false;             // records written to journal_ since its last flush
    bool grouping_ = false;              // see BeginGroup
    std::vector<TPendingMove> pending_;  // journaled, to be taken at Settle
};

// Gives the record what the run's transaction knows: the identities of the folders made for the
// destination (each of its parents that the run made, the destination when it made it) and whether
// the run put files into Backup, counting the file in the record's place, which the record about to
// be written under recordRule replaces.
void NoteRunFacts(TInstallRecord& record, TTransaction& transaction, TReplaceRule recordRule);

struct TRecovery {
    std::vector<std::string> Lines;  // what was done, a line each; none: there was no journal
    TMadeFolders Made;               // the folders the interrupted run had made, kept for the next run
};

// A journal left in the folder by a run that did not end: a committed one is finished, any other
// rolled back (appending its progress). The folders that run made above and for the destination are
// not removed, and neither is the journal that names them: they are handed to the next run, which
// needs them. Raises ERollBackFailed (nothing else changed) when the journal cannot be read, is of
// an earlier format, names another folder or a step that no run takes, or cannot be undone whole.
TRecovery RecoverInterruptedRun(TFileSystem& fs, TSystemItems& system, const std::string& destination);

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
