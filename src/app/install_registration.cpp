#include "app/install_registration.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "app/install_state.h"
#include "archive/compress.h"
#include "framework/exceptions.h"
#include "framework/file_stream.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/record_file.h"
#include "lifecycle/safe_files.h"
#include "widgets/folders.h"

namespace {

TANDREL_DECLARE_EXCEPTION(ERegistrationFailed, Exception);

// The installed size of the files in the record, the uninstaller and the record itself.
int64_t InstalledBytes(const TInstallRecord& record, int64_t extra) {
    int64_t installed = extra;
    for (const TRecordedFile& file : record.Files) {
        installed += file.Size;
    }
    return installed;
}

// What happens to an uninstaller or record in the way: set aside when an earlier Tandrel run wrote
// it (the folder's record is ours), else moved into Backup like any file an installation replaces.
TReplaceRule EarlierFileRule(const TInstallRun& run) {
    return run.Previous ? TReplaceRule::Aside : TReplaceRule::Backup;
}

}  // namespace

std::optional<std::string> RecordedDestination(const std::string& folder) {
    char full[MAX_PATH + 1] = {};
    char* namePart = nullptr;
    const DWORD length = ::GetFullPathNameA(folder.c_str(), MAX_PATH, full, &namePart);
    if (length == 0 || length >= MAX_PATH) {
        return std::nullopt;
    }
    std::string destination(full, length);
    // "C:\" keeps its backslash; "C:\Folder\" and "\\server\share\" do not.
    while (destination.size() > 3 && destination.back() == '\\') {
        destination.pop_back();
    }
    return destination;
}

std::vector<std::string> FoldersOfEntries(const std::vector<std::string>& names) {
    std::vector<std::string> folders;
    for (const std::string& name : names) {
        for (const std::string& folder : FolderPartsOf(name)) {
            AddNameOnce(folders, folder);
        }
    }
    const size_t entryFolders = folders.size();
    folders.push_back("Backup");
    for (size_t index = 0; index < entryFolders; ++index) {
        folders.push_back("Backup\\" + folders[index]);
    }
    return folders;
}

void TInstallRegistration::BeforeExtraction(const TInstallRun& run, const std::vector<std::string>& entries) {
    folder_ = AddTrailingBackslash(run.Destination);
    destinationMissing_ = run.MadeDestination || !FolderExists(run.Destination);
    record_.Parents = run.MadeAbove;
    missingFolders_.clear();
    for (const std::string& folder : FoldersOfEntries(entries)) {
        if (destinationMissing_ || !FolderExists(folder_ + folder)) {
            missingFolders_.push_back(folder);
        }
    }
}

void TInstallRegistration::AfterExtraction() {
    if (destinationMissing_ && FolderExists(folder_)) {
        AddNameOnce(record_.Folders, kDestinationItself);
    }
    for (const std::string& folder : missingFolders_) {
        if (FolderExists(folder_ + folder)) {
            AddNameOnce(record_.Folders, folder);
        }
    }
}

void TInstallRegistration::FileWritten(const std::string& name, int64_t size, const Sha256Digest& digest) {
    TRecordedFile file;
    file.Name = name;
    file.Digest = digest;
    if (size < 0 || size > INT32_MAX) {
        if (!failure_) {
            failure_ = folder_ + name + " is too large for the record";
        }
        measured_.reset();
        return;
    }
    file.Size = static_cast<int32_t>(size);
    measured_ = std::move(file);
}

void TInstallRegistration::EntryDone(const std::string& name, bool written) {
    if (!written) {
        AddNameOnce(record_.Kept, name);
    } else if (measured_ && measured_->Name == name) {
        record_.Files.push_back(std::move(*measured_));
    } else if (!failure_) {
        failure_ = "The size and digest of " + folder_ + name + " are not known";
    }
    measured_.reset();
}

void TInstallRegistration::ShortcutWritten(const std::string& path) {
    AddNameOnce(record_.Shortcuts, path);
}

int64_t RegistrationBytes() {
    int64_t bytes = 64 * 1024;  // the record and the journal, with room to spare
    try {
        TCompress compress(nullptr);
        const std::unique_ptr<TStream> archive = compress.LoadArchiveResource(kUninstallerResource, "");
        TStringList entries;
        compress.ListArchiveFiles(*archive, entries);
        for (int index = 0; index < entries.Count(); ++index) {
            if (const auto* info = dynamic_cast<const TCompressedFileInfo*>(entries.Objects(index))) {
                bytes += info->FullSize;
            }
        }
    } catch (const std::exception&) {
        // The registration says why when it runs.
    }
    return bytes;
}

TRegistrationScope TInstallRegistration::Register(TInstallRun& run) {
    if (failure_) {
        throw ERegistrationFailed(*failure_);
    }
    const std::optional<std::string> destination = RecordedDestination(folder_);
    if (!destination) {
        throw ERegistrationFailed("Cannot make a full path of " + folder_);
    }
    record_.Destination = *destination;
    TInstallTransaction& transaction = *run.Transaction;

    if (!uninstallerWritten_) {
        // Expanded by the archive component into a new file of its own, checked, then put in place.
        TCompress compress(nullptr);
        const std::unique_ptr<TStream> archive = compress.LoadArchiveResource(kUninstallerResource, "");
        TStringList entries;
        compress.ListArchiveFiles(*archive, entries);
        const auto* info =
            entries.Count() == 1 ? dynamic_cast<const TCompressedFileInfo*>(entries.Objects(0)) : nullptr;
        if (info == nullptr || !SameTextAscii(entries[0], kUninstallerName)) {
            throw ERegistrationFailed(std::string("The setup file carries no ") + kUninstallerName);
        }
        TNewFile file = transaction.NewFile(kUninstallerName);
        const std::string fresh = folder_ + file.Name;
        compress.ExceptionOnFileError = true;
        compress.SetTargetPath(folder_);
        const TCompress::TExpandedFile expanded =
            ExpandIntoNewFile(compress, *archive, entries[0], *info, file, fresh);
        if (!WrittenInFull(expanded, fresh, info->FullSize, file)) {
            throw ERegistrationFailed(Format(kNotWritten, fresh.c_str()));
        }
        uninstallerSize_ = expanded.Size;
        transaction.Place(file, kUninstallerName, EarlierFileRule(run), &expanded.Digest);
        uninstallerWritten_ = true;
    }

    // This run's own record of a first registration is set aside (recordWritten_).
    const TReplaceRule recordRule = recordWritten_ ? TReplaceRule::Aside : EarlierFileRule(run);
    NoteRunFacts(record_, transaction.Engine(), recordRule);
    const TInstallRecord merged = run.Previous ? MergeInstallRecords(*run.Previous, record_) : record_;
    const std::string text = FormatInstallRecord(merged);
    transaction.InstallText(kRecordName, text, recordRule);
    recordWritten_ = true;

    for (const TRegistrationScope scope : {TRegistrationScope::Machine, TRegistrationScope::User}) {
        transaction.WillWriteEntry(scope, RegisteredInstallLocation(scope).value_or(""));
    }
    const std::optional<TRegistrationScope> only = InstallState.RegistrationScope;
    const std::optional<TRegistrationScope> scope = WriteUninstallEntry(
        MakeUninstallEntry(*destination,
                           InstalledBytes(merged, uninstallerSize_ + static_cast<int64_t>(text.size())),
                           Today()),
        only);
    if (!scope) {
        throw ERegistrationFailed("Cannot write the registry key " +
                                  RegistrationKeyName(only.value_or(TRegistrationScope::User)));
    }
    // The same installation registered per user before is now the machine's: one entry for it.
    if (*scope == TRegistrationScope::Machine) {
        const std::optional<std::string> user = RegisteredInstallLocation(TRegistrationScope::User);
        if (user && SameTextAscii(*user, *destination)) {
            DeleteUninstallEntry(TRegistrationScope::User);
        }
    }
    return *scope;
}

std::string RegistrationKeyName(TRegistrationScope scope) {
    return std::string(scope == TRegistrationScope::Machine ? "HKEY_LOCAL_MACHINE\\"
                                                            : "HKEY_CURRENT_USER\\") +
           kUninstallKey;
}

void TRecordingFrontEnd::FileWritten(const std::string& name, int64_t size, const Sha256Digest& digest) {
    registration_.FileWritten(name, size, digest);
    inner_.FileWritten(name, size, digest);
}

void TRecordingFrontEnd::EntryDone(const std::string& name, bool written, TBackupAction backup) {
    registration_.EntryDone(name, written);
    inner_.EntryDone(name, written, backup);
}

void TRecordingFrontEnd::ShortcutWritten(const std::string& path) {
    registration_.ShortcutWritten(path);
    inner_.ShortcutWritten(path);
}
