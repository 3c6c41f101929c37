#include "lifecycle/install_transaction.h"

#include <algorithm>

#include "archive/sha256.h"
#include "framework/file_stream.h"
#include "framework/sysutils.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/record_file.h"
#include "lifecycle/removal_plan.h"

namespace {

constexpr const char kNewSuffix[] = ".~new";
constexpr const char kAsideSuffix[] = ".~old";

// Writes all of text to file and flushes it to the disk.
bool WriteAll(HANDLE file, std::string_view text) {
    while (!text.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 1 << 20));
        if (!::WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        text.remove_prefix(written);
    }
    return ::FlushFileBuffers(file) != 0;
}

[[noreturn]] void RaiseFileError(const char* what, const std::string& path, DWORD code) {
    throw EInOutError(Format("Cannot %s %s (%s)", what, path.c_str(), SystemErrorText(code).c_str()), code);
}

std::string FullName(TSafeFolder& folder, std::string_view name) {
    return name == kDestinationItself ? folder.Root()
                                      : AddTrailingBackslash(folder.Root()) + std::string(name);
}

const char* StepKeywordText(TStepAction action) {
    constexpr const char* kNames[] = {"parent", "folder", "new",   "backup",  "aside",
                                      "put",    "copy",   "entry", "shortcut"};
    return kNames[static_cast<int>(action)];
}

TRegistrationScope ScopeNamed(const std::string& name) {
    return name == "machine" ? TRegistrationScope::Machine : TRegistrationScope::User;
}

// Undoes one step; false when what it changed cannot be put back (named in left).
bool UndoStep(TSafeFolder& folder,
              const std::string& destination,
              const TJournalStep& step,
              std::vector<std::string>& restored,
              std::string& left) {
    switch (step.Action) {
        case TStepAction::Parent:
            if (!RemoveEmptyFolderAbove(step.Name)) {
                restored.push_back("Kept the folder " + step.Name + ": it is not empty");
            }
            return true;
        case TStepAction::NewFolder:
            if (step.Name == kDestinationItself) {
                return true;  // last of all, once the folder object lets go of it
            }
            if (folder.Exists(step.Name) && !folder.RemoveEmptyFolder(step.Name)) {
                restored.push_back("Kept the folder " + FullName(folder, step.Name) + ": it is not empty");
            }
            return true;
        case TStepAction::New:
        case TStepAction::Copy: {
            const std::string& made = step.Action == TStepAction::New ? step.Name : step.Other;
            if (!folder.RemoveFile(made)) {
                left = FullName(folder, made);
                return false;
            }
            return true;
        }
        case TStepAction::Put:
            // The new file was put in place when its temporary name is gone: it goes. The file that
            // was there before had been moved away by an earlier step, which puts it back.
            if (!folder.Exists(step.Name) && folder.Exists(step.Other)) {
                if (!folder.RemoveFile(step.Other)) {
                    left = FullName(folder, step.Other);
                    return false;
                }
                restored.push_back("Removed " + FullName(folder, step.Other));
            }
            return true;
        case TStepAction::Backup:
        case TStepAction::Aside:
            if (folder.Exists(step.Other)) {
                if (folder.Exists(step.Name) ||
                    folder.MoveFile(step.Other, step.Name, false) != ERROR_SUCCESS) {
                    left =
                        FullName(folder, step.Other) + " (the earlier " + FullName(folder, step.Name) + ")";
                    return false;
                }
                restored.push_back("Restored " + FullName(folder, step.Name));
            }
            return true;
        case TStepAction::Entry: {
            const TRegistrationScope scope = ScopeNamed(step.Name);
            const std::optional<std::string> now = RegisteredInstallLocation(scope);
            if (step.Other == "-") {
                if (now && SameFolder(*now, destination)) {
                    DeleteUninstallEntry(scope);
                    restored.emplace_back("Removed the uninstall entry");
                }
            } else if (!SameFolder(step.Other, destination)) {
                WriteUninstallEntry(MakeUninstallEntry(step.Other, 0, Today()));
                restored.push_back("The uninstall entry names " + step.Other + " again");
            }
            return true;
        }
        case TStepAction::Shortcut:
            if (!IsReparsePoint(step.Name) && ::DeleteFileA(step.Name.c_str())) {
                restored.push_back("Removed " + step.Name);
            }
            return true;
    }
    return true;
}

// Undoes journal's steps in reverse, the one that may have been under way first, then removes the
// journal and, when the run made it, the destination itself.
std::vector<std::string> RollBackJournal(TSafeFolder& folder, TInstallJournal& journal) {
    std::vector<std::string> restored;
    const int started = std::min(journal.Done + 1, static_cast<int>(journal.Steps.size()));
    for (int index = started - 1; index >= 0; --index) {
        const TJournalStep& step = journal.Steps[static_cast<size_t>(index)];
        if (step.Action == TStepAction::Parent) {
            continue;  // after the destination
        }
        std::string left;
        bool undone = false;
        try {
            undone = UndoStep(folder, journal.Destination, step, restored, left);
        } catch (const EUnsafePath& error) {
            left = error.what();
        }
        if (!undone) {
            // What is undone so far is kept in the journal: the next run goes on from here.
            journal.Steps.resize(static_cast<size_t>(index + 1));
            journal.Done = index;
            try {
                WriteFileWhole(folder, kJournalName, FormatInstallJournal(journal));
            } catch (const std::exception&) {
            }
            throw ERollBackFailed("The installation in " + journal.Destination +
                                  " could not be restored: " + left + " is left. The journal " +
                                  FullName(folder, kJournalName) + " keeps what remains to be undone");
        }
    }
    folder.RemoveFile(kJournalName);
    const bool madeDestination =
        std::any_of(journal.Steps.begin(), journal.Steps.end(), [](const TJournalStep& step) {
            return step.Action == TStepAction::NewFolder && step.Name == kDestinationItself;
        });
    if (madeDestination) {
        if (folder.RemoveEmptyFolder(kDestinationItself)) {
            restored.push_back("Removed the folder " + journal.Destination);
        }
        for (auto step = journal.Steps.rbegin(); step != journal.Steps.rend(); ++step) {
            if (step->Action == TStepAction::Parent && !RemoveEmptyFolderAbove(step->Name)) {
                break;
            }
        }
    }
    return restored;
}

// Deletes what a committed run set aside (at the next restart what is still in use), then the
// journal.
void FinishCommitted(TSafeFolder& folder, const TInstallJournal& journal) {
    for (const TJournalStep& step : journal.Steps) {
        try {
            if (step.Action == TStepAction::Aside && folder.Exists(step.Other) &&
                !folder.RemoveFile(step.Other)) {
                folder.RemoveAtRestart(step.Other);
            }
            if (step.Action == TStepAction::New && folder.Exists(step.Name)) {
                folder.RemoveFile(step.Name);
            }
        } catch (const EUnsafePath&) {
        }
    }
    folder.RemoveFile(kJournalName);
}

}  // namespace

// Removes the empty folder at path, a folder above the destination, through a handle that does not
// follow a link. True when it is gone (or was not there).
bool RemoveEmptyFolderAbove(const std::string& path) {
    if (IsReparsePoint(path)) {
        return false;
    }
    const UniqueFileHandle folder(::CreateFileA(
        path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (::SetFileInformationByHandle(folder.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        return true;
    }
    // Taken back: a refused mark (a folder that is not empty) must not leave it pending deletion.
    disposition.DeleteFile = FALSE;
    ::SetFileInformationByHandle(folder.get(), FileDispositionInfo, &disposition, sizeof disposition);
    return false;
}

UniqueFileHandle DuplicateFileHandle(HANDLE file) {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return UniqueFileHandle();
    }
    return UniqueFileHandle(copy);
}

void WriteFileWhole(TSafeFolder& folder, std::string_view name, const std::string& text) {
    std::string fresh;
    for (int attempt = 1;; ++attempt) {
        fresh = std::string(name) + kNewSuffix + (attempt > 1 ? IntToStr(attempt) : std::string());
        if (!folder.Exists(fresh)) {
            break;
        }
        if (attempt == 100) {
            RaiseFileError("create", FullName(folder, fresh), ERROR_FILE_EXISTS);
        }
    }
    UniqueFileHandle file = folder.CreateNewFile(fresh);
    if (!WriteAll(file.get(), text)) {
        const DWORD code = ::GetLastError();
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
        RaiseFileError("write", FullName(folder, fresh), code);
    }
    const uint32_t code = folder.RenameOpenFile(file.get(), name, true);
    if (code != ERROR_SUCCESS) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
        RaiseFileError("replace", FullName(folder, name), code);
    }
}

TInstallTransaction::TInstallTransaction(TSafeFolder& folder,
                                         const std::string& destination,
                                         const std::vector<std::string>& madeAbove,
                                         bool madeDestination)
    : folder_(folder) {
    journal_.Destination = destination;
    for (const std::string& parent : madeAbove) {
        journal_.Steps.push_back({TStepAction::Parent, parent, ""});
    }
    if (madeDestination) {
        journal_.Steps.push_back({TStepAction::NewFolder, kDestinationItself, ""});
    }
    journal_.Done = static_cast<int>(journal_.Steps.size());
    WriteJournal();
}

void TInstallTransaction::WriteJournal() {
    WriteFileWhole(folder_, kJournalName, FormatInstallJournal(journal_));
}

void TInstallTransaction::Begin(TStepAction action, std::string name, std::string other) {
    // The step before is done by now; this one is written down before it is taken.
    journal_.Done = static_cast<int>(journal_.Steps.size());
    journal_.Steps.push_back({action, std::move(name), std::move(other)});
    FaultPoint("before the journal names the next step");
    WriteJournal();
    FaultPoint(StepKeywordText(action));
}

std::string TInstallTransaction::FreeName(std::string_view name, const char* suffix) {
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string candidate =
            std::string(name) + suffix + (attempt > 1 ? IntToStr(attempt) : std::string());
        if (!folder_.Exists(candidate)) {
            return candidate;
        }
    }
    RaiseFileError("create", FullName(folder_, std::string(name) + suffix), ERROR_FILE_EXISTS);
}

bool TInstallTransaction::MakeFolder(std::string_view name, SECURITY_ATTRIBUTES* security) {
    if (folder_.HoldFolder(name)) {
        return false;
    }
    Begin(TStepAction::NewFolder, std::string(name), "");
    return folder_.MakeFolder(name, security);
}

TNewFile TInstallTransaction::NewFile(std::string_view name) {
    TNewFile file;
    file.Name = FreeName(name, kNewSuffix);
    Begin(TStepAction::New, file.Name, "");
    file.Handle = folder_.CreateNewFile(file.Name);
    return file;
}

TNewFile TInstallTransaction::NewFileWithText(std::string_view name, std::string_view text) {
    TNewFile file = NewFile(name);
    if (!WriteAll(file.Handle.get(), text)) {
        RaiseFileError("write", FullName(folder_, file.Name), ::GetLastError());
    }
    return file;
}

std::string TInstallTransaction::CopyToNewFile(std::string_view from, std::string_view to) {
    const std::string fresh = FreeName(to, kNewSuffix);
    Begin(TStepAction::Copy, std::string(from), fresh);
    const std::string source = folder_.PathOf(from);
    const UniqueFileHandle input(
        ::CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) {
        RaiseFileError("read", source, ::GetLastError());
    }
    const UniqueFileHandle output = folder_.CreateNewFile(fresh);
    std::vector<char> buffer(64 * 1024);
    while (true) {
        DWORD read = 0;
        if (!::ReadFile(input.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            RaiseFileError("read", source, ::GetLastError());
        }
        if (read == 0) {
            break;
        }
        if (!WriteAll(output.get(), std::string_view(buffer.data(), read))) {
            RaiseFileError("write", FullName(folder_, fresh), ::GetLastError());
        }
    }
    // A copy keeps the time of its original, as the system's copy does.
    FILETIME written{};
    if (::GetFileTime(input.get(), nullptr, nullptr, &written)) {
        ::SetFileTime(output.get(), nullptr, nullptr, &written);
    }
    return fresh;
}

void TInstallTransaction::MoveToBackup(std::string_view name, std::string_view to) {
    Begin(TStepAction::Backup, std::string(name), std::string(to));
    const uint32_t code = folder_.MoveFile(name, to, false);
    if (code != ERROR_SUCCESS) {
        RaiseFileError("move", FullName(folder_, name) + " to " + FullName(folder_, to) + ":", code);
    }
}

void TInstallTransaction::SetAside(std::string_view name) {
    const std::string aside = FreeName(name, kAsideSuffix);
    Begin(TStepAction::Aside, std::string(name), aside);
    const uint32_t code = folder_.MoveFile(name, aside, false);
    if (code != ERROR_SUCCESS) {
        RaiseFileError("rename", FullName(folder_, name), code);
    }
}

void TInstallTransaction::Put(const TNewFile& file, std::string_view name, bool replace) {
    Begin(TStepAction::Put, file.Name, std::string(name));
    const uint32_t code = folder_.RenameOpenFile(file.Handle.get(), name, replace);
    if (code != ERROR_SUCCESS) {
        RaiseFileError("replace", FullName(folder_, name), code);
    }
}

void TInstallTransaction::Put(std::string_view newName, std::string_view name, bool replace) {
    Begin(TStepAction::Put, std::string(newName), std::string(name));
    const uint32_t code = folder_.MoveFile(newName, name, replace);
    if (code != ERROR_SUCCESS) {
        RaiseFileError("replace", FullName(folder_, name), code);
    }
}

void TInstallTransaction::WillWriteEntry(TRegistrationScope scope, const std::string& previous) {
    Begin(TStepAction::Entry, scope == TRegistrationScope::Machine ? "machine" : "user",
          previous.empty() ? "-" : previous);
}

void TInstallTransaction::WillWriteShortcut(const std::string& path) {
    Begin(TStepAction::Shortcut, path, "");
}

void TInstallTransaction::Commit() {
    journal_.Done = static_cast<int>(journal_.Steps.size());
    journal_.Committed = true;
    FaultPoint("before the commit");
    WriteJournal();
    FaultPoint("after the commit");
    ended_ = true;
    FinishCommitted(folder_, journal_);
}

std::vector<std::string> TInstallTransaction::RollBack() {
    ended_ = true;
    return RollBackJournal(folder_, journal_);
}

bool HasJournal(TSafeFolder& folder) {
    return folder.Exists(kJournalName);
}

std::vector<std::string> RecoverInterruptedRun(TSafeFolder& folder) {
    if (!HasJournal(folder)) {
        return {};
    }
    const std::string path = folder.PathOf(kJournalName);
    TInstallJournal journal;
    try {
        journal = ReadJournalFile(path);
    } catch (const EBadRecord& error) {
        throw ERollBackFailed(std::string(error.what()) + "; it is left as it is");
    }
    if (!SameFolder(journal.Destination, folder.Root())) {
        throw ERollBackFailed("The journal " + path + " is of another folder, " + journal.Destination +
                              "; it is left as it is");
    }
    if (journal.Committed) {
        FinishCommitted(folder, journal);
        return {"Finished the installation that was interrupted after it had completed"};
    }
    std::vector<std::string> lines = {"Rolled back the interrupted run recorded in " + path};
    for (std::string& line : RollBackJournal(folder, journal)) {
        lines.push_back(std::move(line));
    }
    return lines;
}

TFaultHook FaultHook = nullptr;
