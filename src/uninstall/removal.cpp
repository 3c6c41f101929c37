#include "uninstall/removal.h"

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "framework/sysutils.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/folder_security.h"
#include "lifecycle/install_transaction.h"
#include "lifecycle/installed_shortcut.h"
#include "lifecycle/record_file.h"
#include "lifecycle/registration.h"
#include "lifecycle/safe_files.h"
#include "lifecycle/uninstall_options.h"
#include "uninstall/compare_ahead.h"

namespace {

std::string FolderOf(int csidl) {
    char path[MAX_PATH + 1] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return {};
    }
    return path;
}

std::string EnvironmentValue(const char* name) {
    char value[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length == 0 || length >= sizeof value ? std::string() : std::string(value);
}

// The system's folders that no installation may be removed from.
TProtectedFolders SystemFolders() {
    TProtectedFolders folders;
    for (const int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
                            CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROFILE}) {
        folders.Exact.push_back(FolderOf(csidl));
    }
    for (const char* name : {"ProgramFiles", "ProgramW6432", "ProgramFiles(x86)", "SystemRoot"}) {
        folders.Exact.push_back(EnvironmentValue(name));
    }
    const std::string profile = WithoutTrailingBackslash(FolderOf(CSIDL_PROFILE));
    const size_t cut = profile.rfind('\\');
    if (cut != std::string::npos && cut > 2) {
        folders.ProfilesRoot = profile.substr(0, cut);
    }
    return folders;
}

// Everything the check pass found: the files held open for removal, the shortcut folders held, and
// what stays.
struct TPlan {
    std::vector<std::unique_ptr<TSafeFolder>> ShortcutFolders;
    struct Item {
        std::string Name;  // as the progress window and the log show it
        std::unique_ptr<TRemovableFile> File;
    };
    std::vector<Item> Items;  // recorded files, then shortcuts
    std::unique_ptr<TRemovableFile> Record;
    std::vector<TKeptItem> Kept;
    std::string Blocked;        // the first item in use or not removable; empty when none
    std::string BlockedReason;  // why, for the user
};

constexpr const char kInUse[] = "it is in use";

std::string CannotOpen(const TRemovableFile& file) {
    return Format("it cannot be opened for its removal (system error %lu)",
                  static_cast<unsigned long>(file.LastError()));
}

// Blocks plan at the file: in use, or not removable for another reason.
void Block(TPlan& plan, const TRemovableFile& file, TOpenForRemoval opened) {
    plan.Blocked = file.Path();
    plan.BlockedReason = opened == TOpenForRemoval::InUse ? kInUse : CannotOpen(file);
}

// Whether the file at path, held open by another process, still holds what was written.
bool UnchangedWhileHeld(const std::string& path, const TRecordedFile& recorded) {
    const UniqueFileHandle handle(
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) {
        return true;  // cannot tell: counts as one to remove, so the removal stops
    }
    // Unreadable: counts as unchanged too; a file of another size is changed, read or not.
    return CompareContents(handle.get(), recorded.Size, recorded.Digest) != TContents::Changed;
}

// The check pass: opens every recorded file that still holds what was written and every shortcut
// that still starts this installation's program, and checks that each can be removed. Changes
// nothing.
TPlan Prepare(const TInstallRecord& record, TSafeFolder& folder) {
    TPlan plan;
    // A file that still holds what was written goes into the plan when it can be removed; false when
    // it cannot, which blocks the removal.
    const auto settle = [&plan](std::unique_ptr<TRemovableFile> file, const TRecordedFile& recorded,
                                TContents contents) {
        if (contents != TContents::Same) {
            plan.Kept.push_back({recorded.Name, TKeptReason::Changed});
            return true;
        }
        if (!file->CanRemove()) {
            // Typically the file of a running program, which the system does not let go.
            plan.Blocked = file->Path();
            plan.BlockedReason = kInUse;
            return false;
        }
        plan.Items.push_back({recorded.Name, std::move(file)});
        return true;
    };
    // Each file is compared with its record on a second thread while the next one is opened; it is
    // settled after that opening, before anything is decided of the next, so that the plan is the
    // one that taking the files one by one gives. The file compared is declared before the thread:
    // it stays open until the thread is done with it.
    std::unique_ptr<TRemovableFile> comparing;
    const TRecordedFile* compared = nullptr;
    TCompareAhead ahead;
    for (const TRecordedFile& recorded : record.Files) {
        // The record and the uninstaller go after everything else, by their names, never here:
        // the uninstaller that waits for this program could never be opened for its removal.
        if (SameTextAscii(recorded.Name, kRecordName) || SameTextAscii(recorded.Name, kUninstallerName)) {
            continue;
        }
        auto file = std::make_unique<TRemovableFile>();
        TOpenForRemoval opened = TOpenForRemoval::Failed;
        bool throughLink = false;
        try {
            opened = folder.OpenForRemoval(recorded.Name, *file);
        } catch (const EUnsafePath&) {
            throughLink = true;
        }
        std::unique_ptr<TRemovableFile> before = std::move(comparing);
        const TRecordedFile* beforeRecord = compared;
        const TContents contents = before ? ahead.Wait() : TContents::Unreadable;
        if (!throughLink && opened == TOpenForRemoval::Opened) {
            comparing = std::move(file);
            compared = &recorded;
            ahead.Start(*comparing, recorded.Size, recorded.Digest);
        }
        if (before && !settle(std::move(before), *beforeRecord, contents)) {
            return plan;
        }
        if (throughLink || opened == TOpenForRemoval::Elsewhere) {
            plan.Kept.push_back({recorded.Name, TKeptReason::ThroughLink});
            continue;
        }
        if (opened == TOpenForRemoval::Missing || opened == TOpenForRemoval::Opened) {
            continue;
        }
        if (UnchangedWhileHeld(file->Path(), recorded)) {
            Block(plan, *file, opened);
            return plan;
        }
        plan.Kept.push_back({recorded.Name, TKeptReason::Changed});
    }
    if (comparing) {
        const TContents contents = ahead.Wait();
        if (!settle(std::move(comparing), *compared, contents)) {
            return plan;
        }
    }
    for (const std::string& kept : record.Kept) {
        try {
            if (::GetFileAttributesA(folder.PathOf(kept).c_str()) != INVALID_FILE_ATTRIBUTES) {
                plan.Kept.push_back({kept, TKeptReason::KeptByInstall});
            }
        } catch (const EUnsafePath&) {
            plan.Kept.push_back({kept, TKeptReason::ThroughLink});
        }
    }
    for (const std::string& shortcut : record.Shortcuts) {
        // Only the shortcut folders of the account that removes, held while the removal runs: a
        // line that names another folder (or reaches one through a link) is never opened.
        TRecordedShortcut held;
        switch (OpenRecordedShortcut(shortcut, record.Destination, held)) {
            case TShortcutState::Missing:
                continue;
            case TShortcutState::OtherFolder:
                plan.Kept.push_back({shortcut, TKeptReason::OtherAccount});
                continue;
            case TShortcutState::ThroughLink:
                plan.Kept.push_back({shortcut, TKeptReason::ThroughLink});
                continue;
            case TShortcutState::OtherTarget:
                plan.Kept.push_back({shortcut, TKeptReason::OtherTarget});
                continue;
            case TShortcutState::NotOpened:
                Block(plan, *held.File, held.Opened);
                return plan;
            case TShortcutState::Ours:
                break;
        }
        plan.ShortcutFolders.push_back(std::move(held.Folder));
        if (!held.File->CanRemove()) {
            plan.Blocked = shortcut;
            plan.BlockedReason = kInUse;
            return plan;
        }
        plan.Items.push_back({shortcut, std::move(held.File)});
    }
    // The record goes last, but it is held from now on, so that it can go then.
    plan.Record = std::make_unique<TRemovableFile>();
    const TOpenForRemoval opened = folder.OpenForRemoval(kRecordName, *plan.Record);
    if (opened != TOpenForRemoval::Opened) {
        Block(plan, *plan.Record, opened);
    } else if (!plan.Record->CanRemove()) {
        plan.Blocked = plan.Record->Path();
        plan.BlockedReason = kInUse;
    }
    return plan;
}

bool ContainsName(const std::vector<TKeptItem>& kept, const std::string& name) {
    return std::any_of(kept.begin(), kept.end(),
                       [&name](const TKeptItem& item) { return SameTextAscii(item.Name, name); });
}

bool IsCreatedFolder(const TInstallRecord& record, const std::string& name) {
    return std::any_of(record.Folders.begin(), record.Folders.end(),
                       [&name](const std::string& folder) { return SameTextAscii(folder, name); });
}

// What the created folders that are still there hold beyond what is already named as kept. Backup
// is named whole, never file by file: as what installations replaced when they put files there,
// as the user's own folder when it only ever held the user's files.
void NameWhatCreatedFoldersHold(const TInstallRecord& record,
                                TSafeFolder& folder,
                                std::vector<TKeptItem>& kept) {
    const auto inBackup = [](const std::string& name) {
        return SameTextAscii(name, "Backup") ||
               (name.size() > 7 && SameTextAscii(name.substr(0, 7), "Backup\\"));
    };
    try {
        if (!ContainsName(kept, "Backup") && folder.HoldFolder("Backup")) {
            std::vector<std::string> recorded = record.Kept;
            for (const TRecordedFile& file : record.Files) {
                recorded.push_back(file.Name);
            }
            const std::vector<std::string> held = folder.List("Backup");
            if (!held.empty() || !IsCreatedFolder(record, "Backup")) {
                kept.push_back({"Backup", BackupReason(record.Backups, IsCreatedFolder(record, "Backup"),
                                                       held, recorded)});
            }
        }
    } catch (const EUnsafePath&) {
    }
    for (const std::string& created : record.Folders) {
        std::vector<std::string> names;
        if (inBackup(created)) {
            continue;
        }
        try {
            if (!folder.Exists(created)) {
                continue;
            }
            names = folder.List(created);
        } catch (const EUnsafePath&) {
            if (!ContainsName(kept, created)) {
                kept.push_back({created, TKeptReason::ThroughLink});
            }
            continue;
        }
        for (const std::string& entry : names) {
            const std::string name = created == kDestinationItself ? entry : created + "\\" + entry;
            if (IsCreatedFolder(record, name) || ContainsName(kept, name) || inBackup(name)) {
                continue;
            }
            kept.push_back({name, TKeptReason::NotInstalled});
        }
    }
}

enum class TUninstallerRemoval { Gone, AtRestart, Failed };

// The uninstaller that waits for this program: moved out of the destination (a running program's
// file cannot be deleted, but it can be renamed on its drive), or deleted at the next restart.
TUninstallerRemoval RemoveRunningUninstaller(TSafeFolder& folder, const std::string& parkingFolder) {
    if (folder.RemoveFile(kUninstallerName)) {
        return TUninstallerRemoval::Gone;
    }
    if (!parkingFolder.empty() &&
        folder.MoveOut(kUninstallerName, AddTrailingBackslash(parkingFolder) + kParkedUninstallerName)) {
        return TUninstallerRemoval::Gone;
    }
    return folder.RemoveAtRestart(kUninstallerName) ? TUninstallerRemoval::AtRestart
                                                    : TUninstallerRemoval::Failed;
}

}  // namespace

TInstallRecord ReadInstallationRecord(TSafeFolder& folder) {
    std::string path;
    try {
        path = folder.PathOf(kRecordName);
    } catch (const EUnsafePath& error) {
        throw EBadRecord(error.what());
    }
    const TInstallRecord record = ReadRecordFile(path);
    if (!SameFolder(LongPathOf(record.Destination), LongPathOf(folder.Root()))) {
        throw EBadRecord("The record " + path + " is of another folder, " + record.Destination);
    }
    return record;
}

TInstallRecord ReadInstallationRecord(const std::string& folder) {
    std::optional<TSafeFolder> held;
    try {
        held.emplace(WithoutTrailingBackslash(folder));
    } catch (const EUnsafePath& error) {
        throw EBadRecord(error.what());
    }
    return ReadInstallationRecord(*held);
}

int RunRemoval(const std::string& folder,
               const std::string& parkingFolder,
               TRemovalFrontEnd& frontEnd,
               uint64_t handedOverLock) {
    // One setup or removal at a time: a setup that writes into the folder while it is removed would
    // report an installation that is gone.
    TInstallationLock lock(folder, handedOverLock);
    if (!lock.Held()) {
        frontEnd.Failed(lock.Failure());
        return lock.Busy() ? kExitRemoveBusy : kExitBadRecord;
    }
    // The folder is held from here on and judged before anything is read from it; a run of the
    // setup that did not end is rolled back next, so that the record read then is that of a whole
    // installation.
    std::optional<TSafeFolder> safeFolder;
    TInstallRecord record;
    try {
        safeFolder.emplace(WithoutTrailingBackslash(folder));
        safeFolder->KeepLock(std::move(lock));
        if (const std::string untrusted = UntrustedInstallation(*safeFolder, {kUninstallerName, kRecordName});
            !untrusted.empty()) {
            frontEnd.Failed(untrusted + ". Nothing has been removed.");
            return kExitBadRecord;
        }
        const std::vector<std::string> recovered = RecoverInterruptedRun(*safeFolder);
        if (!recovered.empty()) {
            frontEnd.Recovered(recovered);
        }
    } catch (const std::exception& error) {
        frontEnd.Failed(error.what());
        return dynamic_cast<const ERollBackFailed*>(&error) != nullptr ? kExitRemoveFailed : kExitBadRecord;
    }
    try {
        record = ReadInstallationRecord(*safeFolder);
    } catch (const std::exception& error) {
        frontEnd.Failed(error.what());
        return kExitBadRecord;
    }
    const std::string& destination = record.Destination;
    if (IsProtectedDestination(destination, SystemFolders())) {
        frontEnd.Failed("Tandrel is never removed from " + destination + ": it is a folder of the system.");
        return kExitRemoveFailed;
    }
    if (!frontEnd.Confirm(destination)) {
        return kExitDeclined;
    }

    TPlan plan = Prepare(record, *safeFolder);
    while (!plan.Blocked.empty()) {
        const std::string blocked = plan.Blocked;
        const std::string reason = plan.BlockedReason;
        plan = TPlan();  // every file let go before anybody is asked
        if (!frontEnd.RetryBlocked(blocked, reason)) {
            return kExitRemoveInUse;
        }
        plan = Prepare(record, *safeFolder);
    }

    // Nothing has changed so far. Now every item goes: files and shortcuts, then the entry, then
    // the uninstaller and the record, then the created folders when empty. The entry goes before
    // the uninstaller, so that a removal stopped at any point leaves an entry whose uninstaller is
    // there, or no entry.
    frontEnd.StartProgress();
    FaultPoint("start the removal");
    std::vector<TKeptItem> kept = std::move(plan.Kept);
    bool failed = false;
    const size_t steps = plan.Items.size() + 2;
    size_t step = 0;
    auto progress = [&](const std::string& name) {
        // A shortcut's folder is long and tells nothing new: the window shows its file name.
        const bool absolute = IsSafeAbsolutePath(name);
        frontEnd.Progress(absolute ? ExtractFileName(name) : name, static_cast<int>(step * 100 / steps));
        ++step;
    };
    for (TPlan::Item& item : plan.Items) {
        progress(item.Name);
        FaultPoint("remove an item");
        if (item.File->Remove()) {
            frontEnd.Removed(item.Name);
        } else {
            kept.push_back({item.Name, TKeptReason::CouldNotRemove});
            failed = true;
        }
    }
    if (!failed) {
        FaultPoint("remove the entry");
        for (const TRegistrationScope scope : {TRegistrationScope::Machine, TRegistrationScope::User}) {
            const std::optional<std::string> location = RegisteredInstallLocation(scope);
            if (location && SameFolder(LongPathOf(*location), LongPathOf(destination))) {
                if (DeleteUninstallEntry(scope)) {
                    frontEnd.Removed("the entry in the list of installed programs");
                } else {
                    failed = true;
                }
            }
        }
    }
    if (!failed) {
        // With every item gone the record has nothing more to tell. The uninstaller goes first:
        // while it cannot, both stay, so that a second removal can finish.
        progress(kUninstallerName);
        FaultPoint("remove the uninstaller");
        TUninstallerRemoval uninstaller = TUninstallerRemoval::Failed;
        try {
            uninstaller = RemoveRunningUninstaller(*safeFolder, parkingFolder);
        } catch (const EUnsafePath&) {
        }
        if (uninstaller == TUninstallerRemoval::Failed) {
            kept.push_back({kUninstallerName, TKeptReason::CouldNotRemove});
            failed = true;
        } else {
            frontEnd.Removed(uninstaller == TUninstallerRemoval::Gone
                                 ? std::string(kUninstallerName)
                                 : std::string(kUninstallerName) + " (at the next restart)");
            progress(kRecordName);
            FaultPoint("remove the record");
            if (plan.Record->Remove()) {
                frontEnd.Removed(kRecordName);
            } else {
                kept.push_back({kRecordName, TKeptReason::CouldNotRemove});
                failed = true;
            }
        }
    }
    NameWhatCreatedFoldersHold(record, *safeFolder, kept);
    FaultPoint("remove the folders");
    bool destinationGone = false;
    for (const std::string& created : FoldersDeepestFirst(record.Folders)) {
        try {
            if (safeFolder->RemoveEmptyFolder(created)) {
                frontEnd.Removed(created == kDestinationItself ? destination : created);
                destinationGone = destinationGone || created == kDestinationItself;
            }
        } catch (const EUnsafePath&) {
            // Named with what the folders still hold.
        }
    }
    // The folders above the destination that the setup made, innermost first, while empty.
    const bool madeDestination =
        std::ranges::find(record.Folders, kDestinationItself) != record.Folders.end();
    for (const TFolderAbove& parent :
         RemovableParents(destination, record.Parents, record.ParentIds, madeDestination)) {
        if (!destinationGone || IsProtectedDestination(parent.Path, SystemFolders()) ||
            !RemoveEmptyFolderAbove(parent.Path, parent.Id)) {
            break;
        }
        frontEnd.Removed(parent.Path);
    }
    frontEnd.Progress("", 100);
    frontEnd.Finished(destination, kept, failed);
    return failed ? kExitRemoveFailed : kExitRemoved;
}
