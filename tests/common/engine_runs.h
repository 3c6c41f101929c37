// A setup run and a removal as the programs make them, over the transaction engine and a drive in
// memory: the install sequence's order of steps (recovery, the journal, the files, the uninstaller
// and its record, the entry, the commit) without its windows.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lifecycle/install_record.h"
#include "lifecycle/transaction_engine.h"
#include "memory_file_system.h"

inline constexpr const char kTestDestination[] = "C:\\X";
inline constexpr const char kTestRoot[] = "X";  // the destination on the drive in memory
inline constexpr const char kSiteDatabase[] = "sites.ini";

struct TPackage {
    std::vector<std::pair<std::string, std::string>> Files;  // name, contents
    std::string Uninstaller;
};

struct TRunOptions {
    bool Backups = true;
    // Files in groups of this many, as the setup's extraction loop takes them: their new files
    // journaled at once, written, then put in place with one flush of the journal (0: each file
    // on its own).
    size_t Group = 0;
};

// The files of package that are not kept (the user's site database), in groups: each group's new
// files made at once, written, then put in place as one group of moves.
inline void InstallGrouped(TTransaction& transaction,
                           const std::vector<std::pair<std::string, std::string>>& files,
                           size_t group,
                           TReplaceRule rule) {
    for (size_t first = 0; first < files.size(); first += group) {
        const size_t end = std::min(files.size(), first + group);
        std::vector<std::string> names;
        for (size_t index = first; index < end; ++index) {
            names.push_back(files[index].first);
        }
        std::vector<TTransaction::TNewFile> made = transaction.NewFiles(names);
        for (size_t index = first; index < end; ++index) {
            const TFsStatus status = made[index - first].File->Write(files[index].second);
            if (status != TFsStatus::Ok) {
                const std::string path = std::string(kTestDestination) + "\\" + made[index - first].Name;
                throw ETransactionFailed(FailureMessage("write", path, status), status);
            }
        }
        transaction.BeginGroup();
        for (size_t index = first; index < end; ++index) {
            const std::string& contents = files[index].second;
            const Sha256Digest digest = Sha256Of(contents.data(), contents.size());
            transaction.Place(made[index - first], files[index].first, rule, &digest);
        }
        transaction.EndGroup();
    }
}

struct TRunResult {
    int ExitCode = 0;
    std::string Message;
};

// Recovers what a killed run left, as every run does first. False when it cannot (exit 4).
inline bool RecoverRun(TMemoryDrive& drive, TMemorySystemItems& system, TRecovery& recovery) {
    if (!drive.Exists(kTestRoot)) {
        return true;
    }
    TMemoryFolder folder(drive, kTestRoot);
    try {
        recovery = RecoverInterruptedRun(folder, system, kTestDestination);
    } catch (const ERollBackFailed&) {
        return false;
    }
    return true;
}

inline constexpr const char kTestDrive[] = "C:\\";  // the drive's root, where the destination is made

// Takes away a destination made for a run that failed, as the setup does.
inline void WithdrawDestination(TMemoryDrive& drive) {
    TMemoryFolder root(drive, "");
    try {
        WithdrawNewDestination(root, kTestDrive, kTestRoot);
    } catch (const ETransactionFailed&) {
        // Left for the next run, which clears it.
    }
}

inline TRunResult RunSetup(TMemoryDrive& drive,
                           TMemorySystemItems& system,
                           const TPackage& package,
                           TRunOptions options) {
    TRecovery recovery;
    bool made = false;
    if (!drive.Exists(kTestRoot)) {
        TMemoryFolder root(drive, "");
        try {
            PrepareNewDestination(root, kTestDrive, kTestRoot, kTestDestination);
            PlaceNewDestination(root, kTestDrive, kTestRoot);
        } catch (const ETransactionFailed& error) {
            return {ExitCodeOf(error.Status), error.Message()};
        }
        made = true;
    }
    if (!RecoverRun(drive, system, recovery)) {
        return {4, "recovery"};
    }
    made = made || recovery.Made.Destination;
    TMemoryFolder folder(drive, kTestRoot);
    std::optional<TInstallRecord> previous;
    std::string text;
    if (folder.Read(kRecordName, kMaxRecordBytes, text) == TFsStatus::Ok) {
        try {
            previous = ParseInstallRecord(text);
        } catch (const EBadRecord&) {
        }
    }
    std::optional<TTransaction> transaction;
    try {
        transaction.emplace(folder, system, kTestDestination);
        TInstallRecord record;
        record.Destination = kTestDestination;
        const TReplaceRule rule = options.Backups ? TReplaceRule::Backup : TReplaceRule::Aside;
        std::vector<std::pair<std::string, std::string>> grouped;
        for (const auto& [name, contents] : package.Files) {
            transaction->MakeFoldersOf(name);
            TItemInfo info;
            folder.Identify(name, info);
            if (name == kSiteDatabase && info.Kind == TItemKind::File &&
                !transaction->Holds(name, contents)) {
                // The user's site database stays; a copy goes into Backup.
                if (options.Backups) {
                    transaction->CopyToBackup(name);
                }
                record.Kept.push_back(name);
                continue;
            }
            if (options.Group > 0) {
                grouped.emplace_back(name, contents);
            } else {
                transaction->InstallFile(name, contents, rule);
            }
            record.Files.push_back(
                {name, static_cast<int32_t>(contents.size()), Sha256Of(contents.data(), contents.size())});
        }
        if (options.Group > 0) {
            InstallGrouped(*transaction, grouped, options.Group, rule);
        }
        transaction->InstallFile(kUninstallerName, package.Uninstaller, TReplaceRule::Aside);
        record.Folders = transaction->MadeFolders();
        record.Parents = transaction->MadeBefore().Above;
        NoteRunFacts(record, *transaction, TReplaceRule::Aside);
        TInstallRecord merged = previous ? MergeInstallRecords(*previous, record) : record;
        transaction->InstallFile(kRecordName, FormatInstallRecord(merged), TReplaceRule::Aside);
        transaction->WillWriteEntry("machine", system.EntryFolder("machine"));
        system.WriteEntry("machine", kTestDestination);
        transaction->Commit();
    } catch (const ETransactionFailed& error) {
        if (transaction) {
            try {
                transaction->RollBack();
            } catch (const ERollBackFailed& failed) {
                return {4, failed.Message()};
            }
        }
        if (transaction ? transaction->MadeBefore().Destination : made) {
            WithdrawDestination(drive);
        }
        return {ExitCodeOf(error.Status), error.Message()};
    }
    return {0, ""};
}

inline TRunResult RunRemoval(TMemoryDrive& drive,
                             TMemorySystemItems& system,
                             TRemovalResult* result = nullptr) {
    TRecovery recovery;
    if (!drive.Exists(kTestRoot)) {
        return {1, "no installation"};
    }
    if (!RecoverRun(drive, system, recovery)) {
        return {4, "recovery"};
    }
    TMemoryFolder folder(drive, kTestRoot);
    std::string text;
    TInstallRecord record;
    try {
        if (folder.Read(kRecordName, kMaxRecordBytes, text) != TFsStatus::Ok) {
            return {1, "no record"};
        }
        record = ParseInstallRecord(text);
    } catch (const EBadRecord& error) {
        return {1, error.Message()};
    }
    try {
        TRemovalResult removed = RemoveInstallation(folder, system, record);
        if (result != nullptr) {
            *result = std::move(removed);
        }
    } catch (const ETransactionFailed& error) {
        return {ExitCodeOf(error.Status), error.Message()};
    }
    return {0, ""};
}

// Two versions of a product, the second changing some files and adding one.
inline const TPackage& Version1() {
    static const TPackage package{{{"Tandrel.exe", "program 1"},
                                   {"readme.txt", "readme 1"},
                                   {"whatsnew.txt", "news 1"},
                                   {"sites.ini", "sites as shipped"},
                                   {"help\\guide.txt", "guide 1"}},
                                  "uninstaller 1"};
    return package;
}

inline const TPackage& Version2() {
    static const TPackage package{{{"Tandrel.exe", "program 2"},
                                   {"readme.txt", "readme 1"},
                                   {"whatsnew.txt", "news 2"},
                                   {"sites.ini", "sites as shipped"},
                                   {"help\\guide.txt", "guide 2"},
                                   {"help\\more.txt", "more 2"}},
                                  "uninstaller 2"};
    return package;
}

// A file of the destination, durable, as something other than a run put it there.
inline void PutFile(TMemoryDrive& drive, const std::string& name, const std::string& contents) {
    TMemoryDrive::Node& node = drive.Items[std::string(kTestRoot) + "\\" + name];
    node.Data = contents;
    node.Durable = contents.size();
    node.Id = drive.NewId();
}

// Version 1 installed, then the user's own files and edits, and a backup from long ago. False when
// the installation fails.
inline bool InstallWithUserFiles(TMemoryDrive& drive, TMemorySystemItems& system) {
    const bool installed = RunSetup(drive, system, Version1(), {}).ExitCode == 0;
    PutFile(drive, "sites.ini", "the user's sites");
    PutFile(drive, "notes.txt", "the user's notes");
    drive.Items[std::string(kTestRoot) + "\\Backup"].Folder = true;
    PutFile(drive, "Backup\\whatsnew.txt", "news 0");
    return installed;
}
