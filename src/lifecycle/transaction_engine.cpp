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
// The first line of the journals of earlier versions, written whole before each step.
constexpr std::string_view kWholeJournalHeading = "Tandrel install journal 1";

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

// Appends the record of text to the journal file, flushed unless later.
TFsStatus AppendRecord(TFsFile& file,
                       TJournalLog& log,
                       std::string_view text,
                       uint64_t& bytes,
                       bool later = false) {
    std::string check;
    const std::string record = FormatJournalRecord(log.LastCheck, text, check);
    TFsStatus status = file.Write(record);
    if (status == TFsStatus::Ok && !later) {
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

TMadeFolders MadeFoldersOf(const TJournalLog& log) {
    TMadeFolders made;
    for (const TJournalStep& step : log.Steps) {
        if (step.Action == TStepAction::Parent) {
            made.Above.push_back(step.Name);
            made.AboveIds.push_back(step.Id);
        } else if (step.Action == TStepAction::NewFolder && step.Name == kDestinationItself) {
            made.Destination = true;
            made.DestinationId = step.Id;
        }
    }
    return made;
}

// Whether log names nothing that is left to undo: only the folders made before it (handed over to
// the next run), every other step undone.
bool NamesOnlyMadeFolders(const TJournalLog& log) {
    for (size_t index = 0; index < log.Steps.size(); ++index) {
        const TJournalStep& step = log.Steps[index];
        if (!log.Undone[index] && step.Action != TStepAction::Parent &&
            !(step.Action == TStepAction::NewFolder && step.Name == kDestinationItself)) {
            return false;
        }
    }
    return !log.Committed;
}

// Undoes the steps of log in reverse that are not undone yet, appending each undo to journal (while
// it can be appended to: an undo is repeatable, the records only spare the repetition), then
// removes the journal unless it names folders made for the destination (kept for the next run).
// Raises ERollBackFailed naming what is left.
std::vector<std::string> RollBackLog(TFileSystem& fs,
                                     TSystemItems& system,
                                     TJournalLog& log,
                                     std::unique_ptr<TFsFile>& journal,
                                     uint64_t& bytes) {
    std::vector<std::string> restored;
    for (size_t index = log.Steps.size(); index-- > 0;) {
        const TJournalStep& step = log.Steps[index];
        if (log.Undone[index] || step.Action == TStepAction::Parent ||
            (step.Action == TStepAction::NewFolder && step.Name == kDestinationItself)) {
            continue;  // undone, or made for the destination: handed over, not undone
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
    const TMadeFolders made = MadeFoldersOf(log);
    if (made.Destination || !made.Above.empty()) {
        return restored;
    }
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

TTransaction::TTransaction(TFileSystem& fs, TSystemItems& system, std::string destination)
    : fs_(fs), system_(system) {
    log_.Destination = std::move(destination);
    TMadeFolders made;
    std::string& name = journalName_;
    if (Info(kJournalReplacement).Kind == TItemKind::File) {
        // A replacement that a killed run did not put in place: the journal still stands.
        if (const TFsStatus status = fs_.Remove(kJournalReplacement); status != TFsStatus::Ok) {
            Raise(log_.Destination, "delete", kJournalReplacement, status);
        }
    }
    if (Info(kJournalName).Kind != TItemKind::Missing) {
        // Handed over by the run that made the destination, or by a recovery: it names the folders
        // made and nothing else left to undo. Those folders are this run's when the destination is
        // still the folder that was made; the new journal names them and replaces it in one step.
        std::string text;
        TJournalLog handed;
        TFsStatus status = fs_.Read(kJournalName, kMaxJournalBytes, text);
        try {
            handed = status == TFsStatus::Ok ? ParseJournalLog(text) : TJournalLog();
        } catch (const EBadRecord&) {
            status = TFsStatus::Denied;
        }
        if (status == TFsStatus::Ok && !handed.Destination.empty() &&
            (!SameFolder(handed.Destination, log_.Destination) || !NamesOnlyMadeFolders(handed))) {
            status = TFsStatus::Denied;
        }
        if (status != TFsStatus::Ok) {
            Raise(log_.Destination, "read", kJournalName, status);
        }
        made = MadeFoldersOf(handed);
        if (made.Destination && Info(kDestinationItself).Id != made.DestinationId) {
            made = TMadeFolders();
        }
        name = kJournalReplacement;
    }
    const TFsStatus status = fs_.CreateNew(name, journal_);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "create file", name, status);
    }
    try {
        AppendText(kJournalLogHeading);
        AppendText("destination " + log_.Destination);
        // Made before the journal could exist: done already.
        for (size_t index = 0; index < made.Above.size(); ++index) {
            Append({TStepAction::Parent, made.Above[index], "", made.AboveIds[index]});
        }
        if (made.Destination) {
            Append({TStepAction::NewFolder, kDestinationItself, "", made.DestinationId});
        }
        if (name != kJournalName) {
            // Closed to be renamed (an open file may not be, on Windows), then opened again.
            journal_.reset();
            const TFsStatus renamed = fs_.Rename(name, kJournalName, true);
            if (renamed != TFsStatus::Ok) {
                Raise(log_.Destination, "replace", kJournalName, renamed);
            }
            name = kJournalName;
            const TFsStatus opened = fs_.OpenToAppend(kJournalName, journalBytes_, journal_);
            if (opened != TFsStatus::Ok) {
                // The journal names the folders made and nothing else: it stays, handed over.
                journal_.reset();
                Raise(log_.Destination, "write", kJournalName, opened);
            }
        }
    } catch (const ETransactionFailed&) {
        // Not one step taken: the run leaves the folder as it found it (a journal handed over
        // stays: only its replacement goes, or the one that now names the same).
        journal_.reset();
        if (name != kJournalName || !made.Destination) {
            fs_.Remove(name);
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

TMadeFolders TTransaction::MadeBefore() const {
    return MadeFoldersOf(log_);
}

bool TTransaction::PutIntoBackup() const {
    return std::any_of(log_.Steps.begin(), log_.Steps.end(), [](const TJournalStep& step) {
        return (step.Action == TStepAction::Backup || step.Action == TStepAction::Put) &&
               IsInBackup(step.Other);
    });
}

void TTransaction::AppendText(const std::string& text, bool later) {
    const TFsStatus status = AppendRecord(*journal_, log_, text, journalBytes_, later);
    if (status == TFsStatus::Ok) {
        unflushed_ = later;  // a flush makes every record before it durable too
        return;
    }
    // The moves journaled for later are not taken: the run fails, and its roll back finds them
    // not taken.
    pending_.clear();
    // The record may have reached the disk in part or whole: the journal is cut back to its whole
    // records, so that what follows (the roll back's records) reads as written.
    journal_.reset();
    if (fs_.OpenToAppend(journalName_, journalBytes_, journal_) != TFsStatus::Ok) {
        journal_.reset();
    }
    Raise(log_.Destination, "write", journalName_, status);
}

void TTransaction::Append(const TJournalStep& step, bool later) {
    // The points where the test builds stop themselves: before the record, and after it, before
    // the step it names is taken.
    FaultPoint("before the journal names the next step");
    const std::string text = JournalStepText(step);
    AppendText(text, true);
    // Written: a roll back from here on undoes it (an undo finds a step not taken as such).
    log_.Steps.push_back(step);
    log_.Undone.push_back(false);
    if (!later) {
        // Durable before the step is taken, with the moves journaled before it, which are taken
        // first.
        Settle();
    }
    FaultPoint(text.substr(0, text.find(' ')).c_str());
}

void TTransaction::Settle() {
    if (unflushed_) {
        const TFsStatus status = journal_->Flush();
        if (status != TFsStatus::Ok) {
            // Every record was written whole: the journal keeps them, the moves are not taken.
            pending_.clear();
            Raise(log_.Destination, "write", journalName_, status);
        }
        unflushed_ = false;
    }
    std::vector<TPendingMove> moves;
    moves.swap(pending_);
    for (const TPendingMove& move : moves) {
        const TFsStatus status =
            move.File ? move.File->MoveTo(move.To) : fs_.Rename(move.From, move.To, false);
        if (status != TFsStatus::Ok) {
            Raise(log_.Destination, move.Action == TStepAction::Put ? "replace" : "move",
                  move.Action == TStepAction::Put ? move.To : move.From, status);
        }
    }
}

void TTransaction::EndGroup() {
    grouping_ = false;
    Settle();
}

bool TTransaction::Awaits(std::string_view name) const {
    // Names are compared as the system does, without regard to case; a name outside ASCII is
    // taken for one that a move touches (its case rules are the system's, not ours).
    const auto touches = [name](std::string_view other) {
        const auto ascii = [](std::string_view text) {
            return std::all_of(text.begin(), text.end(),
                               [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        };
        return !ascii(name) || !ascii(other) || SameTextAscii(name, other);
    };
    return std::any_of(pending_.begin(), pending_.end(),
                       [&](const TPendingMove& move) { return touches(move.From) || touches(move.To); });
}

TItemInfo TTransaction::Info(std::string_view name) {
    if (Awaits(name)) {
        Settle();
    }
    TItemInfo info;
    const TFsStatus status = fs_.Identify(name, info);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "read", name, status);
    }
    return info;
}

Sha256Digest TTransaction::DigestOf(std::string_view name) {
    if (Awaits(name)) {
        Settle();
    }
    int64_t size = 0;
    Sha256Digest digest{};
    const TFsStatus status = fs_.Measure(name, size, digest);
    if (status != TFsStatus::Ok) {
        Raise(log_.Destination, "read", name, status);
    }
    return digest;
}

std::string TTransaction::FreeName(std::string_view name,
                                   std::string_view suffix,
                                   const std::vector<std::string>& avoid) {
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string candidate =
            std::string(name) + std::string(suffix) + (attempt > 1 ? IntToStr(attempt) : "");
        const bool avoided = std::any_of(avoid.begin(), avoid.end(), [&](const std::string& other) {
            return SameTextAscii(other, candidate);
        });
        if (!avoided && Info(candidate).Kind == TItemKind::Missing) {
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
    return std::move(NewFiles({std::string(name)}).front());
}

std::vector<TTransaction::TNewFile> TTransaction::NewFiles(const std::vector<std::string>& names) {
    std::vector<TNewFile> files(names.size());
    // A temporary name is none of the files' own names, nor another's temporary one.
    std::vector<std::string> taken = names;
    for (size_t index = 0; index < names.size(); ++index) {
        files[index].Name = FreeName(names[index], kNewSuffix, taken);
        taken.push_back(files[index].Name);
        Append({TStepAction::New, files[index].Name, "", 0}, true);
    }
    Settle();
    for (TNewFile& file : files) {
        const TFsStatus status = fs_.CreateNew(file.Name, file.File);
        if (status != TFsStatus::Ok) {
            Raise(log_.Destination, "create file", file.Name, status);
        }
        if (file.File->Identify(file.Id) != TFsStatus::Ok) {
            file.Id = 0;
        }
    }
    return files;
}

uint64_t TTransaction::Move(TStepAction action,
                            std::string_view from,
                            std::string_view to,
                            uint64_t id,
                            std::unique_ptr<TFsFile> open) {
    if (id == 0) {
        id = Info(from).Id;
    }
    if (grouping_) {
        Append({action, std::string(from), std::string(to), id}, true);
        pending_.push_back({action, std::string(from), std::string(to), std::move(open)});
        return id;
    }
    Append({action, std::string(from), std::string(to), id});
    const TFsStatus status = open ? open->MoveTo(to) : fs_.Rename(from, to, false);
    open.reset();
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
    // out identical to the one in place is removed instead, and need not be flushed. It stays open
    // until it is put in place, through its own handle.
    bool flushed = false;
    const auto flush = [&] {
        if (file.File && !flushed) {
            const TFsStatus status = file.File->Flush();
            flushed = true;
            if (status != TFsStatus::Ok) {
                file.File.reset();
                Raise(log_.Destination, "write", file.Name, status);
            }
        }
    };
    const auto close = [&] {
        flush();
        file.File.reset();
    };
    TFileOutcome outcome = TFileOutcome::Written;
    const TItemInfo existing = Info(name);
    if (existing.Kind == TItemKind::Directory) {
        close();
        Raise(log_.Destination, "replace", name, TFsStatus::Denied);
    }
    if (existing.Kind == TItemKind::File) {
        // Files of different sizes differ: only one of the new file's size is compared by its bytes.
        std::optional<Sha256Digest> old;
        if (existing.Size == Info(file.Name).Size) {
            if (digest == nullptr) {
                close();  // read back below
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
    Move(TStepAction::Put, file.Name, name, file.Id, std::move(file.File));
    return outcome;
}

bool TTransaction::HoldsOther(std::string_view name, std::string_view contents) {
    return Info(name).Kind == TItemKind::File && !Holds(name, contents);
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
    Settle();
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
    grouping_ = false;
    Settle();
    FaultPoint("before the commit");
    AppendText("commit");
    FaultPoint("after the commit");
    log_.Committed = true;
    journal_.reset();
    FinishCommitted(fs_, log_);
}

std::vector<std::string> TTransaction::RollBack() {
    // Moves journaled and not taken stay so: undone, they are found not taken.
    pending_.clear();
    grouping_ = false;
    return RollBackLog(fs_, system_, log_, journal_, journalBytes_);
}

TRecovery RecoverInterruptedRun(TFileSystem& fs, TSystemItems& system, const std::string& destination) {
    TRecovery recovery;
    TItemInfo info;
    if (fs.Identify(kJournalName, info) != TFsStatus::Ok || info.Kind == TItemKind::Missing) {
        return recovery;
    }
    const std::string path = FullName(destination, kJournalName);
    TItemInfo replacement;
    if (fs.Identify(kJournalReplacement, replacement) == TFsStatus::Ok &&
        replacement.Kind == TItemKind::File) {
        // A replacement of the journal that was never put in place: the journal stands.
        if (const TFsStatus removed = fs.Remove(kJournalReplacement); removed != TFsStatus::Ok) {
            throw ERollBackFailed("Cannot delete " + FullName(destination, kJournalReplacement) + " (" +
                                  StatusText(removed) + ")");
        }
    }
    std::string text;
    const TFsStatus read =
        info.Kind == TItemKind::File ? fs.Read(kJournalName, kMaxJournalBytes, text) : TFsStatus::Denied;
    if (read != TFsStatus::Ok) {
        throw ERollBackFailed("The journal " + path + " cannot be read (" + StatusText(read) +
                              "); it is left as it is");
    }
    if (std::string_view(text).substr(0, kWholeJournalHeading.size()) == kWholeJournalHeading) {
        // Its steps carry no identities: undone, they could delete or replace what is not the
        // run's own (an old version already put back, a user's file), so nothing is touched.
        throw ERollBackFailed("The journal " + path +
                              " was written by an earlier version of Setup, whose interrupted changes cannot "
                              "be undone safely; it is left as it is, with everything it names");
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
    if (NamesOnlyMadeFolders(log) && (recovery.Made.Destination || !recovery.Made.Above.empty())) {
        return recovery;  // handed over to the next run as it is
    }
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

void NoteRunFacts(TInstallRecord& record, TTransaction& transaction, TReplaceRule recordRule) {
    const TMadeFolders made = transaction.MadeBefore();
    // A file in the record's place that is not a record of this installation goes into Backup (a
    // record is never the same bytes as another).
    record.Backups = transaction.PutIntoBackup() ||
                     (recordRule == TReplaceRule::Backup && transaction.HoldsOther(kRecordName, {}));
    record.ParentIds.resize(record.Parents.size());
    for (size_t index = 0; index < made.Above.size(); ++index) {
        for (size_t parent = 0; parent < record.Parents.size(); ++parent) {
            if (SameFolder(record.Parents[parent], made.Above[index])) {
                record.ParentIds[parent] = made.AboveIds[index];
            }
        }
    }
    if (made.Destination) {
        record.DestinationId = made.DestinationId;
    }
}

std::string UnfinishedName(std::string_view chain) {
    return std::string(chain.substr(0, chain.find('\\'))) + std::string(kNewSuffix);
}

namespace {

// The folders of a chain made under first (a name in above), outermost first, when it holds only
// what a run makes for a new destination: each folder only the next one, the last nothing or a
// journal that names nothing left to undo (then journal is set). Empty when first holds anything
// else (or is no folder).
std::vector<std::string> MadeChainAt(TFileSystem& above, const std::string& first, bool& journal) {
    std::vector<std::string> chain;
    journal = false;
    TItemInfo info;
    if (above.Identify(first, info) != TFsStatus::Ok || info.Kind != TItemKind::Directory) {
        return {};
    }
    for (std::string folder = first; static_cast<int>(chain.size()) < kMaxNewChain;) {
        chain.push_back(folder);
        std::vector<std::string> names;
        if (above.List(folder, names) != TFsStatus::Ok || names.size() > 1) {
            return {};
        }
        if (names.empty()) {
            return chain;
        }
        const std::string item = folder + "\\" + names.front();
        if (above.Identify(item, info) != TFsStatus::Ok) {
            return {};
        }
        if (info.Kind == TItemKind::Directory) {
            folder = item;
            continue;
        }
        std::string text;
        if (!SameTextAscii(names.front(), kJournalName) ||
            above.Read(item, kMaxJournalBytes, text) != TFsStatus::Ok) {
            return {};
        }
        try {
            const TJournalLog log = ParseJournalLog(text);
            // A torn journal was being written when the run was killed: it names nothing yet.
            if (!log.Destination.empty() && !NamesOnlyMadeFolders(log)) {
                return {};
            }
        } catch (const EBadRecord&) {
            return {};
        }
        journal = true;
        return chain;
    }
    return {};
}

// Removes the chain of MadeChainAt, deepest first.
void RemoveMadeChain(TFileSystem& above,
                     const std::string& abovePath,
                     const std::vector<std::string>& chain,
                     bool journal) {
    if (journal) {
        const std::string name = chain.back() + "\\" + kJournalName;
        if (const TFsStatus status = above.Remove(name); status != TFsStatus::Ok) {
            Raise(abovePath, "delete", name, status);
        }
    }
    for (auto folder = chain.rbegin(); folder != chain.rend(); ++folder) {
        if (const TFsStatus status = above.RemoveFolder(*folder); status != TFsStatus::Ok) {
            Raise(abovePath, "remove folder", *folder, status);
        }
    }
}

}  // namespace

void ClearUnfinishedDestination(TFileSystem& above, const std::string& abovePath, std::string_view chain) {
    const std::string unfinished = UnfinishedName(chain);
    TItemInfo info;
    if (above.Identify(unfinished, info) != TFsStatus::Ok || info.Kind == TItemKind::Missing) {
        return;
    }
    bool journal = false;
    const std::vector<std::string> made = MadeChainAt(above, unfinished, journal);
    if (made.empty()) {
        throw ETransactionFailed("The folder " + FullName(abovePath, unfinished) +
                                     " holds items that Setup did not make; it is left as it is",
                                 TFsStatus::Denied);
    }
    RemoveMadeChain(above, abovePath, made, journal);
}

namespace {

TMadeFolders MakeUnfinishedDestination(TFileSystem& above,
                                       const std::string& abovePath,
                                       std::string_view chain,
                                       const std::string& destination) {
    const std::string unfinished = UnfinishedName(chain);
    const std::string rest(chain.substr(std::min(chain.size(), unfinished.size() - kNewSuffix.size())));
    TMadeFolders made;
    std::string folder = unfinished;
    std::string path = AddTrailingBackslash(abovePath) + std::string(chain.substr(0, chain.find('\\')));
    for (size_t cut = 0;;) {
        FaultPoint("folder for the destination");
        if (const TFsStatus status = above.MakeFolder(folder); status != TFsStatus::Ok) {
            Raise(abovePath, "create folder", folder, status);
        }
        TItemInfo info;
        if (const TFsStatus status = above.Identify(folder, info); status != TFsStatus::Ok) {
            Raise(abovePath, "read", folder, status);
        }
        if (cut >= rest.size()) {
            made.Destination = true;
            made.DestinationId = info.Id;
            break;
        }
        made.Above.push_back(path);
        made.AboveIds.push_back(info.Id);
        const size_t next = rest.find('\\', cut + 1);
        const std::string component = rest.substr(cut + 1, next - cut - 1);
        folder += "\\" + component;
        path += "\\" + component;
        cut = next == std::string::npos ? rest.size() : next;
    }
    // The journal that hands the folders over to the run.
    const std::string name = folder + "\\" + kJournalName;
    std::unique_ptr<TFsFile> file;
    FaultPoint("journal of the new destination");
    if (const TFsStatus status = above.CreateNew(name, file); status != TFsStatus::Ok) {
        Raise(abovePath, "create file", name, status);
    }
    TJournalLog log;
    uint64_t bytes = 0;
    std::vector<std::string> texts = {kJournalLogHeading, "destination " + destination};
    for (size_t index = 0; index < made.Above.size(); ++index) {
        texts.push_back(JournalStepText({TStepAction::Parent, made.Above[index], "", made.AboveIds[index]}));
    }
    texts.push_back(JournalStepText({TStepAction::NewFolder, kDestinationItself, "", made.DestinationId}));
    for (const std::string& text : texts) {
        if (const TFsStatus status = AppendRecord(*file, log, text, bytes); status != TFsStatus::Ok) {
            Raise(abovePath, "write", name, status);
        }
    }
    return made;
}

}  // namespace

TMadeFolders PrepareNewDestination(TFileSystem& above,
                                   const std::string& abovePath,
                                   std::string_view chain,
                                   const std::string& destination) {
    // A deeper chain could be made but never recognised, so never cleared: it is not made at all.
    if (std::count(chain.begin(), chain.end(), '\\') >= kMaxNewChain) {
        throw ETransactionFailed("Cannot create folder " + destination + ": more than " +
                                     std::to_string(kMaxNewChain) + " new folders in a row",
                                 TFsStatus::Failed);
    }
    ClearUnfinishedDestination(above, abovePath, chain);
    try {
        return MakeUnfinishedDestination(above, abovePath, chain, destination);
    } catch (const ETransactionFailed&) {
        try {
            ClearUnfinishedDestination(above, abovePath, chain);
        } catch (const ETransactionFailed&) {
            // Left under its temporary name, which the next run clears.
        }
        throw;
    }
}

void PlaceNewDestination(TFileSystem& above, const std::string& abovePath, std::string_view chain) {
    const std::string first(chain.substr(0, chain.find('\\')));
    FaultPoint("destination put in place");
    const TFsStatus status = above.Rename(UnfinishedName(chain), first, false);
    if (status != TFsStatus::Ok) {
        ClearUnfinishedDestination(above, abovePath, chain);
        Raise(abovePath, "create folder", first, status);
    }
}

bool WithdrawNewDestination(TFileSystem& above, const std::string& abovePath, std::string_view chain) {
    const std::string first(chain.substr(0, chain.find('\\')));
    bool journal = false;
    if (MadeChainAt(above, first, journal).empty()) {
        return false;
    }
    if (above.Rename(first, UnfinishedName(chain), false) != TFsStatus::Ok) {
        return false;
    }
    ClearUnfinishedDestination(above, abovePath, chain);
    return true;
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
