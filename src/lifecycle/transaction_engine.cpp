#include "lifecycle/transaction_engine.h"

#include <algorithm>
#include <iterator>

#include "framework/sysutils.h"
#include "lifecycle/fault_point.h"

namespace {

constexpr std::string_view kNewSuffix = ".~new";
constexpr std::string_view kAsideSuffix = ".~old";
constexpr std::string_view kBackupPrefix = "Backup\\";
// The largest journal that is read back: a record per step, a few steps a file.
constexpr size_t kMaxJournalBytes = kMaxRecordBytes;

std::string FullName(std::string_view destination, std::string_view name) {
    if (name == kDestinationItself) {
        return std::string(destination);
    }
    return AddTrailingBackslash(std::string(destination)) + std::string(name);
}

const char* StatusText(TFsStatus status) {
    // In the order of TFsStatus.
    constexpr const char* kTexts[] = {
        "done",
        "Path not found",
        "It exists already",
        "There is not enough space on the disk",
        "Access is denied",
        "It is being used by another process",
        "The folder is not empty",
        "The operation failed",
    };
    const auto index = static_cast<size_t>(status);
    return index < std::size(kTexts) ? kTexts[index] : kTexts[std::size(kTexts) - 1];
}

[[noreturn]] void Raise(std::string_view destination,
                        const char* verb,
                        std::string_view name,
                        TFsStatus status) {
    throw ETransactionFailed(FailureMessage(verb, FullName(destination, name), status), status);
}

// Whether name ends in suffix, or in suffix and a number ("a.txt.~new2").
bool EndsInNumbered(std::string_view name, std::string_view suffix) {
    while (!name.empty() && name.back() >= '0' && name.back() <= '9') {
        name.remove_suffix(1);
    }
    return name.size() > suffix.size() && SameTextAscii(name.substr(name.size() - suffix.size()), suffix);
}

bool IsInBackup(std::string_view name) {
    return name.size() > kBackupPrefix.size() &&
           SameTextAscii(name.substr(0, kBackupPrefix.size()), kBackupPrefix);
}

// Whether step is one that a run takes: the names are of the kinds a run writes. Names are inside
// the folder already (the journal's reader accepts nothing else).
bool IsStepOfARun(const TJournalStep& step) {
    switch (step.Action) {
        case TStepAction::New:
            return EndsInNumbered(step.Name, kNewSuffix);
        case TStepAction::Put:
            return EndsInNumbered(step.Name, kNewSuffix) && !EndsInNumbered(step.Other, kNewSuffix);
        case TStepAction::Backup:
            return IsInBackup(step.Other) && !EndsInNumbered(step.Other, kNewSuffix);
        case TStepAction::Aside:
            return EndsInNumbered(step.Other, kAsideSuffix);
        default:
            return true;  // the reader has checked folders, parents, the entry and the shortcuts
    }
}

// Appends the record of text to the journal file, flushed.
TFsStatus AppendRecord(TFsFile& file, TJournalLog& log, std::string_view text, uint64_t& bytes) {
    std::string check;
    const std::string record = FormatJournalRecord(log.LastCheck, text, check);
    TFsStatus status = file.Write(record);
    if (status == TFsStatus::Ok) {
        status = file.Flush();
    }
    if (status == TFsStatus::Ok) {
        log.LastCheck = check;
        bytes += record.size();
    }
    return status;
}

// Undoes one step when it was taken, recognising what the run wrote by its identity. False (with
// left naming it) when what the step changed cannot be put back.
bool UndoStep(TFileSystem& fs,
              TSystemItems& system,
              const std::string& destination,
              const TJournalStep& step,
              std::vector<std::string>& restored,
              std::string& left) {
    TItemInfo info;
    switch (step.Action) {
        case TStepAction::Parent:
            return true;
        case TStepAction::NewFolder: {
            if (step.Name == kDestinationItself || fs.Identify(step.Name, info) != TFsStatus::Ok ||
                info.Kind != TItemKind::Directory) {
                return true;
            }
            const TFsStatus status = fs.RemoveFolder(step.Name);
            if (status == TFsStatus::NotEmpty) {
                restored.push_back("Kept the folder " + FullName(destination, step.Name) +
                                   ": it is not empty");
            } else if (status != TFsStatus::Ok && status != TFsStatus::NotFound) {
                // Left, the next run would take it for a folder that was there before.
                left = FullName(destination, step.Name);
                return false;
            }
            return true;
        }
        case TStepAction::New:
            if (fs.Identify(step.Name, info) == TFsStatus::Ok && info.Kind == TItemKind::File &&
                fs.Remove(step.Name) != TFsStatus::Ok) {
                left = FullName(destination, step.Name);
                return false;
            }
            return true;
        case TStepAction::Put:
            if (fs.Identify(step.Other, info) == TFsStatus::Ok && info.Kind == TItemKind::File &&
                info.Id == step.Id) {
                if (fs.Remove(step.Other) != TFsStatus::Ok) {
                    left = FullName(destination, step.Other);
                    return false;
                }
                restored.push_back("Removed " + FullName(destination, step.Other));
            }
            return true;
        case TStepAction::Backup:
        case TStepAction::Aside: {
            if (fs.Identify(step.Other, info) != TFsStatus::Ok || info.Kind != TItemKind::File ||
                info.Id != step.Id) {
                return true;  // not moved, or back already
            }
            if (fs.Rename(step.Other, step.Name, false) != TFsStatus::Ok) {
                left = FullName(destination, step.Other) + " (the earlier " +
                       FullName(destination, step.Name) + ")";
                return false;
            }
            restored.push_back("Restored " + FullName(destination, step.Name));
            return true;
        }
        case TStepAction::Entry:
            // Only an entry that names this folder is this run's to change back.
            if (SameFolder(system.EntryFolder(step.Name), destination)) {
                if (step.Other == "-") {
                    system.DeleteEntry(step.Name);
                    restored.emplace_back("Removed the uninstall entry");
                } else {
                    system.WriteEntry(step.Name, step.Other);
                    restored.push_back("The uninstall entry names " + step.Other + " again");
                }
            }
            return true;
        case TStepAction::Shortcut:
            if (system.RemoveShortcut(step.Name)) {
                restored.push_back("Removed " + step.Name);
            }
            return true;
    }
    return true;
}

// Undoes the steps of log in reverse that are not undone yet, appending each undo to journal (while
// it can be appended to: an undo is repeatable, the records only spare the repetition), then
// removes the journal. Raises ERollBackFailed naming what is left.
std::vector<std::string> RollBackLog(TFileSystem& fs,
                                     TSystemItems& system,
                                     TJournalLog& log,
                                     std::unique_ptr<TFsFile>& journal,
                                     uint64_t& bytes) {
    std::vector<std::string> restored;
    for (size_t index = log.Steps.size(); index-- > 0;) {
        if (log.Undone[index]) {
            continue;
        }
        std::string left;
        if (!UndoStep(fs, system, log.Destination, log.Steps[index], restored, left)) {
            throw ERollBackFailed("The installation in " + log.Destination + " could not be restored: " +
                                  left + " is left. The journal " + FullName(log.Destination, kJournalName) +
                                  " keeps what remains to be undone");
        }
        log.Undone[index] = true;
        if (journal &&
            AppendRecord(*journal, log, "undone " + std::to_string(index), bytes) != TFsStatus::Ok) {
            journal.reset();  // a torn record ends what can be read: no record after it
        }
    }
    journal.reset();
    const TFsStatus removed = fs.Remove(kJournalName);
    if (removed != TFsStatus::Ok && removed != TFsStatus::NotFound) {
        throw ERollBackFailed("The installation in " + log.Destination + " is restored, but its journal " +
                              FullName(log.Destination, kJournalName) + " cannot be removed (" +
                              StatusText(removed) + ")");
    }
    return restored;
}

// Deletes what a committed run set aside, then the journal. A file that cannot go yet (in use)
// keeps the journal, so that the next run finishes the work.
void FinishCommitted(TFileSystem& fs, const TJournalLog& log) {
    bool whole = true;
    for (const TJournalStep& step : log.Steps) {
        TItemInfo info;
        if ((step.Action == TStepAction::Aside || step.Action == TStepAction::New) &&
            fs.Identify(step.Other.empty() ? step.Name : step.Other, info) == TFsStatus::Ok &&
            info.Kind == TItemKind::File && (step.Action == TStepAction::New || info.Id == step.Id)) {
            whole =
                fs.Remove(step.Action == TStepAction::New ? step.Name : step.Other) == TFsStatus::Ok && whole;
        }
    }
    if (whole) {
        fs.Remove(kJournalName);
    }
}

TMadeFolders MadeFoldersOf(const TJournalLog& log) {
    TMadeFolders made;
    for (const TJournalStep& step : log.Steps) {
        if (step.Action == TStepAction::Parent) {
            made.Above.push_back(step.Name);
        } else if (step.Action == TStepAction::NewFolder && step.Name == kDestinationItself) {
            made.Destination = true;
        }
    }
    return made;
}

}  // namespace

// The test builds set it to stop at a chosen point; the programs we ship leave it empty.
TFaultHook FaultHook = nullptr;

std::string FailureMessage(const char* verb, const std::string& path, TFsStatus status) {
    if (status == TFsStatus::DiskFull) {
        return Format("Not enough disk space to write %s: the drive %s is full", path.c_str(),
                      DriveOf(path).c_str());
    }
    return Format("Cannot %s %s (%s)", verb, path.c_str(), StatusText(status));
}

int ExitCodeOf(TFsStatus status) {
    switch (status) {
        case TFsStatus::DiskFull:
            return 6;
        case TFsStatus::InUse:
            return 5;
        default:
            return 4;
    }
}

std::string DriveOf(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':') {
        return std::string(path.substr(0, 2));
    }
    if (path.substr(0, 2) == "\\\\") {
        const size_t server = path.find('\\', 2);
        const size_t share = server == std::string_view::npos ? server : path.find('\\', server + 1);
        return std::string(path.substr(0, share));
    }
    return std::string(path);
}

TTransaction::TTransaction(TFileSystem& fs,
                           TSystemItems& system,
                           std::string destination,
                           const TMadeFolders& made)
    : fs_(fs), system_(system) {
    log_.Destination = std::move(destination);
    const TFsStatus status = fs_.CreateNew(kJournalName, journal_);
    if (status != TFsStatus::Ok) {
        if (made.Destination) {
            fs_.RemoveFolder(kDestinationItself);
        }
        Raise(log_.Destination, "create file", kJournalName, status);
    }
    try {
        AppendText(kJournalLogHeading);
        AppendText("destination " + log_.Destination);
        // Made before the journal could exist: done already.
        for (const std::string& parent : made.Above) {
            Append({TStepAction::Parent, parent, "", 0});
        }
        if (made.Destination) {
            Append({TStepAction::NewFolder, kDestinationItself, "", 0});
        }
    } catch (const ETransactionFailed&) {
        // Not one step taken: the run leaves the folder as it found it.
        journal_.reset();
        fs_.Remove(kJournalName);
        if (made.Destination) {
            fs_.RemoveFolder(kDestinationItself);
        }
        throw;
    }
}

std::vector<std::string> TTransaction::MadeFolders() const {
    std::vector<std::string> folders;
    for (const TJournalStep& step : log_.Steps) {
        if (step.Action == TStepAction::NewFolder) {
            folders.push_back(step.Name);
        }
    }
    return folders;
}

void TTransaction::AppendText(const std::string& text) {
    const TFsStatus status = AppendRecord(*journal_, log_, text, journalBytes_);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "write", kJournalName, status);
    }
}

void TTransaction::Append(const TJournalStep& step) {
    // The points where the test builds stop themselves: before the record, and after it, before
    // the step it names is taken.
    FaultPoint("before the journal names the next step");
    const std::string text = JournalStepText(step);
    AppendText(text);
    FaultPoint(text.substr(0, text.find(' ')).c_str());
    log_.Steps.push_back(step);
    log_.Undone.push_back(false);
}

TItemInfo TTransaction::Info(std::string_view name) {
    TItemInfo info;
    const TFsStatus status = fs_.Identify(name, info);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "read", name, status);
    }
    return info;
}

Sha256Digest TTransaction::DigestOf(std::string_view name) {
    int64_t size = 0;
    Sha256Digest digest{};
    const TFsStatus status = fs_.Measure(name, size, digest);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "read", name, status);
    }
    return digest;
}

std::string TTransaction::FreeName(std::string_view name, std::string_view suffix) {
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string candidate =
            std::string(name) + std::string(suffix) + (attempt > 1 ? IntToStr(attempt) : "");
        if (Info(candidate).Kind == TItemKind::Missing) {
            return candidate;
        }
    }
    Raise(log_.Destination, "create file", std::string(name) + std::string(suffix), TFsStatus::Exists);
}

std::string TTransaction::BackupNameFor(std::string_view name, int64_t size, const Sha256Digest& digest) {
    const std::string backup = std::string(kBackupPrefix) + std::string(name);
    const size_t dot = backup.rfind('.');
    const size_t slash = backup.rfind('\\');
    const size_t cut = dot != std::string::npos && dot > slash ? dot : backup.size();
    for (int number = 1; number < 10000; ++number) {
        std::string candidate =
            number == 1 ? backup : backup.substr(0, cut) + " (" + IntToStr(number) + ")" + backup.substr(cut);
        const TItemInfo info = Info(candidate);
        if (info.Kind == TItemKind::Missing) {
            return candidate;
        }
        if (info.Kind == TItemKind::File && info.Size == size && DigestOf(candidate) == digest) {
            return {};
        }
    }
    Raise(log_.Destination, "create file", backup, TFsStatus::Exists);
}

bool TTransaction::MakeFolder(std::string_view name) {
    const TItemInfo info = Info(name);
    if (info.Kind == TItemKind::Directory) {
        return false;
    }
    if (info.Kind == TItemKind::File) {
        Raise(log_.Destination, "create folder", name, TFsStatus::Exists);
    }
    Append({TStepAction::NewFolder, std::string(name), "", 0});
    const TFsStatus status = fs_.MakeFolder(name);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "create folder", name, status);
    }
    return true;
}

void TTransaction::MakeFoldersOf(std::string_view name) {
    for (size_t cut = name.find('\\'); cut != std::string_view::npos; cut = name.find('\\', cut + 1)) {
        MakeFolder(name.substr(0, cut));
    }
}

TTransaction::TNewFile TTransaction::NewFile(std::string_view name) {
    TNewFile file;
    file.Name = FreeName(name, kNewSuffix);
    Append({TStepAction::New, file.Name, "", 0});
    const TFsStatus status = fs_.CreateNew(file.Name, file.File);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "create file", file.Name, status);
    }
    return file;
}

uint64_t TTransaction::Move(TStepAction action, std::string_view from, std::string_view to) {
    const uint64_t id = Info(from).Id;
    Append({action, std::string(from), std::string(to), id});
    const TFsStatus status = fs_.Rename(from, to, false);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, action == TStepAction::Put ? "replace" : "move",
              action == TStepAction::Put ? to : from, status);
    }
    return id;
}

TFileOutcome TTransaction::MoveOutOfTheWay(std::string_view name,
                                           int64_t size,
                                           const std::optional<Sha256Digest>& known,
                                           TReplaceRule rule) {
    if (rule == TReplaceRule::Aside) {
        Move(TStepAction::Aside, name, FreeName(name, kAsideSuffix));
        return TFileOutcome::SetAside;
    }
    MakeFoldersOf(std::string(kBackupPrefix) + std::string(name));
    const Sha256Digest digest = known ? *known : DigestOf(name);
    const std::string backup = BackupNameFor(name, size, digest);
    if (backup.empty()) {
        // A generation in Backup holds these bytes already: the file is only set aside.
        Move(TStepAction::Aside, name, FreeName(name, kAsideSuffix));
        return TFileOutcome::SetAside;
    }
    Move(TStepAction::Backup, name, backup);
    return TFileOutcome::MovedToBackup;
}

TFileOutcome TTransaction::Place(TNewFile& file,
                                 std::string_view name,
                                 TReplaceRule rule,
                                 const Sha256Digest* digest) {
    // Durable before it is put in place: a rename is, unflushed data is not. A new file that turns
    // out identical to the one in place is removed instead, and need not be flushed.
    const auto flush = [&] {
        if (file.File) {
            const TFsStatus status = file.File->Flush();
            file.File.reset();
            if (status != TFsStatus::Ok) {
                Raise(log_.Destination, "write", file.Name, status);
            }
        }
    };
    TFileOutcome outcome = TFileOutcome::Written;
    const TItemInfo existing = Info(name);
    if (existing.Kind == TItemKind::Directory) {
        flush();
        Raise(log_.Destination, "replace", name, TFsStatus::Denied);
    }
    if (existing.Kind == TItemKind::File) {
        // Files of different sizes differ: only one of the new file's size is compared by its bytes.
        std::optional<Sha256Digest> old;
        if (existing.Size == Info(file.Name).Size) {
            if (digest == nullptr) {
                flush();  // read back below
            }
            old = DigestOf(name);
            if (*old == (digest != nullptr ? *digest : DigestOf(file.Name))) {
                file.File.reset();
                const TFsStatus status = fs_.Remove(file.Name);
                if (status != TFsStatus::Ok) {
                    Raise(log_.Destination, "delete", file.Name, status);
                }
                return TFileOutcome::Unchanged;
            }
        }
        flush();
        outcome = MoveOutOfTheWay(name, existing.Size, old, rule);
    }
    flush();
    Move(TStepAction::Put, file.Name, name);
    return outcome;
}

bool TTransaction::Holds(std::string_view name, std::string_view contents) {
    return Info(name).Kind == TItemKind::File && DigestOf(name) == Sha256Of(contents.data(), contents.size());
}

TFileOutcome TTransaction::InstallFile(std::string_view name, std::string_view contents, TReplaceRule rule) {
    if (Holds(name, contents)) {
        return TFileOutcome::Unchanged;
    }
    TNewFile file = NewFile(name);
    const TFsStatus status = file.File->Write(contents);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "write", file.Name, status);
    }
    const Sha256Digest digest = Sha256Of(contents.data(), contents.size());
    return Place(file, name, rule, &digest);
}

TFileOutcome TTransaction::CopyToBackup(std::string_view name) {
    std::string contents;
    TFsStatus status = fs_.Read(name, kMaxRecordBytes * 64, contents);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "read", name, status);
    }
    MakeFoldersOf(std::string(kBackupPrefix) + std::string(name));
    const std::string target = BackupNameFor(name, static_cast<int64_t>(contents.size()),
                                             Sha256Of(contents.data(), contents.size()));
    if (target.empty()) {
        return TFileOutcome::AlreadyBackedUp;
    }
    TNewFile file = NewFile(target);
    status = file.File->Write(contents);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "write", file.Name, status);
    }
    Place(file, target, TReplaceRule::Aside);
    return TFileOutcome::Copied;
}

void TTransaction::WillWriteEntry(std::string_view scope, const std::string& previous) {
    Append({TStepAction::Entry, std::string(scope), previous.empty() ? "-" : previous, 0});
}

void TTransaction::WillWriteShortcut(const std::string& path) {
    Append({TStepAction::Shortcut, path, "", 0});
}

void TTransaction::Commit() {
    FaultPoint("before the commit");
    AppendText("commit");
    FaultPoint("after the commit");
    log_.Committed = true;
    journal_.reset();
    FinishCommitted(fs_, log_);
}

std::vector<std::string> TTransaction::RollBack() {
    std::vector<std::string> restored = RollBackLog(fs_, system_, log_, journal_, journalBytes_);
    if (MadeFoldersOf(log_).Destination && fs_.RemoveFolder(kDestinationItself) == TFsStatus::Ok) {
        destinationRemoved_ = true;
        restored.push_back("Removed the folder " + log_.Destination);
    }
    return restored;
}

TRecovery RecoverInterruptedRun(TFileSystem& fs, TSystemItems& system, const std::string& destination) {
    TRecovery recovery;
    TItemInfo info;
    if (fs.Identify(kJournalName, info) != TFsStatus::Ok || info.Kind == TItemKind::Missing) {
        return recovery;
    }
    const std::string path = FullName(destination, kJournalName);
    std::string text;
    const TFsStatus read =
        info.Kind == TItemKind::File ? fs.Read(kJournalName, kMaxJournalBytes, text) : TFsStatus::Denied;
    if (read != TFsStatus::Ok) {
        throw ERollBackFailed("The journal " + path + " cannot be read (" + StatusText(read) +
                              "); it is left as it is");
    }
    TJournalLog log;
    try {
        log = ParseJournalLog(text);
    } catch (const EBadRecord& error) {
        throw ERollBackFailed("The journal " + path + " is damaged: " + error.Message() +
                              "; it is left as it is");
    }
    if (log.Destination.empty()) {
        // Killed while it was being created: not one step was taken.
        fs.Remove(kJournalName);
        recovery.Lines.push_back("Removed the journal " + path + " of a run that had not started");
        return recovery;
    }
    if (!SameFolder(log.Destination, destination)) {
        throw ERollBackFailed("The journal " + path + " is of another folder, " + log.Destination +
                              "; it is left as it is");
    }
    if (!std::all_of(log.Steps.begin(), log.Steps.end(), IsStepOfARun)) {
        throw ERollBackFailed("The journal " + path + " names a step that no run takes; it is left as it is");
    }
    recovery.Made = MadeFoldersOf(log);
    if (log.Committed) {
        FinishCommitted(fs, log);
        recovery.Lines.emplace_back("Finished the installation that was interrupted after it had completed");
        return recovery;
    }
    std::unique_ptr<TFsFile> journal;
    if (fs.OpenToAppend(kJournalName, log.WholeBytes, journal) != TFsStatus::Ok) {
        journal.reset();  // undone without records of its progress
    }
    uint64_t bytes = 0;
    recovery.Lines.push_back("Rolled back the interrupted run recorded in " + path);
    for (std::string& line : RollBackLog(fs, system, log, journal, bytes)) {
        recovery.Lines.push_back(std::move(line));
    }
    return recovery;
}

bool IsEmptyFolder(TFileSystem& fs) {
    std::vector<std::string> names;
    return fs.List(kDestinationItself, names) == TFsStatus::Ok && names.empty();
}

TRemovalResult RemoveInstallation(TFileSystem& fs, TSystemItems& system, const TInstallRecord& record) {
    TRemovalResult result;
    const auto remove = [&](std::string_view name) {
        const TFsStatus status = fs.Remove(name);
        if (status != TFsStatus::Ok && status != TFsStatus::NotFound) {
            Raise(record.Destination, "delete", name, status);
        }
    };
    for (const TRecordedFile& file : record.Files) {
        TItemInfo info;
        if (fs.Identify(file.Name, info) != TFsStatus::Ok || info.Kind != TItemKind::File) {
            continue;
        }
        int64_t size = 0;
        Sha256Digest digest{};
        if (fs.Measure(file.Name, size, digest) == TFsStatus::Ok && size == file.Size &&
            digest == file.Digest) {
            remove(file.Name);
        } else {
            result.Kept.push_back({file.Name, TKeptReason::Changed});
        }
    }
    for (const std::string& shortcut : record.Shortcuts) {
        system.RemoveShortcut(shortcut);
    }
    for (const char* scope : {"machine", "user"}) {
        if (SameFolder(system.EntryFolder(scope), record.Destination)) {
            system.DeleteEntry(scope);
        }
    }
    remove(kUninstallerName);
    for (const std::string& folder : FoldersDeepestFirst(record.Folders)) {
        const TFsStatus status = folder == kDestinationItself ? TFsStatus::Ok : fs.RemoveFolder(folder);
        if (status != TFsStatus::Ok && status != TFsStatus::NotFound && status != TFsStatus::NotEmpty) {
            Raise(record.Destination, "remove folder", folder, status);
        }
    }
    // The record goes last of the files: a removal stopped before it can be run again.
    remove(kRecordName);
    if (ContainsName(record.Folders, kDestinationItself)) {
        result.DestinationRemoved = fs.RemoveFolder(kDestinationItself) == TFsStatus::Ok;
    }
    return result;
}
