#include "app/install_registration.h"

#include <windows.h>

#include <algorithm>
#include <memory>

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

constexpr const char kNewSuffix[] = ".new";

// The size and SHA-256 of the file at path as it is now on disk.
TRecordedFile ReadBack(const std::string& path) {
    const UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        throw ERegistrationFailed("Cannot read " + path + " back: " + SystemErrorText(::GetLastError()));
    }
    int64_t size = 0;
    Sha256Digest digest{};
    if (!ReadSizeAndDigest(file.get(), size, digest)) {
        throw ERegistrationFailed("Cannot read " + path + " back: " + SystemErrorText(::GetLastError()));
    }
    if (size > INT32_MAX) {
        throw ERegistrationFailed(path + " is too large for the record");
    }
    TRecordedFile recorded;
    recorded.Size = static_cast<int32_t>(size);
    recorded.Digest = digest;
    return recorded;
}

// The record in folder when it is there and reads as one; nothing otherwise (a damaged or foreign
// record is replaced, not merged).
std::optional<TInstallRecord> ReadRecordThere(const std::string& path) {
    try {
        return ReadRecordFile(path);
    } catch (const EBadRecord&) {
        return std::nullopt;
    }
}

// Removes what stands at path, a file or a link, so that nothing is written through a link that
// somebody left there. Raises when something is still there.
void ClearName(const std::string& path) {
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::DeleteFileA(path.c_str()) && !::RemoveDirectoryA(path.c_str())) {
        throw ERegistrationFailed("Cannot remove " + path + ": " + SystemErrorText(::GetLastError()));
    }
}

// Puts the file at from in the place of target (a file there is replaced whole, never edited).
void Replace(const std::string& from, const std::string& target) {
    if (!::MoveFileExA(from.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = ::GetLastError();
        ::DeleteFileA(from.c_str());
        throw ERegistrationFailed("Cannot replace " + target + ": " + SystemErrorText(code));
    }
}

// Writes text into a new file beside path, then puts it in path's place: a reader sees the old
// record or the new one, never a part.
void WriteWhole(const std::string& path, const std::string& text) {
    const std::string fresh = path + kNewSuffix;
    ClearName(fresh);
    DWORD failure = ERROR_SUCCESS;
    {
        const UniqueFileHandle file(::CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            throw ERegistrationFailed("Cannot create " + fresh + ": " + SystemErrorText(::GetLastError()));
        }
        DWORD written = 0;
        if (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !::FlushFileBuffers(file.get())) {
            failure = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_WRITE_FAULT;
        }
    }
    if (failure != ERROR_SUCCESS) {
        ::DeleteFileA(fresh.c_str());
        throw ERegistrationFailed("Cannot write " + fresh + ": " + SystemErrorText(failure));
    }
    Replace(fresh, path);
}

std::string Today() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return Format("%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
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

TUninstallEntry MakeUninstallEntry(const std::string& destination,
                                   int64_t installedBytes,
                                   const std::string& date) {
    const std::string folder = AddTrailingBackslash(destination);
    TUninstallEntry entry;
    entry.DisplayName = std::string(kProductName) + " " + kProductVersion;
    entry.DisplayVersion = kProductVersion;
    entry.Publisher = kProductPublisher;
    entry.InstallLocation = destination;
    entry.DisplayIcon = folder + kProgramName + ",0";
    entry.UninstallString = "\"" + folder + kUninstallerName + "\"";
    entry.QuietUninstallString = entry.UninstallString + " /VERYSILENT";
    const int64_t kib = (std::max<int64_t>(installedBytes, 0) + 1023) / 1024;
    entry.EstimatedSize = static_cast<uint32_t>(std::min<int64_t>(kib, UINT32_MAX));
    entry.InstallDate = date;
    return entry;
}

void TInstallRegistration::BeforeExtraction(const std::string& destination,
                                            bool destinationMade,
                                            const std::vector<std::string>& entries) {
    folder_ = AddTrailingBackslash(destination);
    destinationMissing_ = destinationMade || !FolderExists(destination);
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

void TInstallRegistration::EntryDone(const std::string& name, bool written) {
    if (!written) {
        AddNameOnce(record_.Kept, name);
        return;
    }
    try {
        TRecordedFile file = ReadBack(folder_ + name);
        file.Name = name;
        record_.Files.push_back(std::move(file));
    } catch (const std::exception& error) {
        if (!failure_) {
            failure_ = error.what();
        }
    }
}

void TInstallRegistration::ShortcutWritten(const std::string& path) {
    AddNameOnce(record_.Shortcuts, path);
}

TRegistrationScope TInstallRegistration::Register() {
    if (failure_) {
        throw ERegistrationFailed(*failure_);
    }
    const std::optional<std::string> destination = RecordedDestination(folder_);
    if (!destination) {
        throw ERegistrationFailed("Cannot make a full path of " + folder_);
    }
    record_.Destination = *destination;
    const std::string uninstaller = folder_ + kUninstallerName;
    const std::string recordPath = folder_ + kRecordName;
    if (!olderRead_) {
        older_ = ReadRecordThere(recordPath);
        olderRead_ = true;
    }

    if (!uninstallerWritten_) {
        // Expanded by the archive component under a new name, then put in place of the old one.
        TCompress compress(nullptr);
        const std::unique_ptr<TStream> archive = compress.LoadArchiveResource(kUninstallerResource, "");
        compress.ExceptionOnFileError = true;
        compress.SetTargetPath(folder_);
        const std::string fresh = uninstaller + kNewSuffix;
        compress.OnCheckFile = [&fresh](std::string& path, TCProcessMode) { path = fresh; };
        ClearName(fresh);
        TStringList selection;
        selection.Add(kUninstallerName);
        compress.ExpandArchiveFiles(*archive, &selection);
        if (selection.Count() != 1) {
            ::DeleteFileA(fresh.c_str());
            throw ERegistrationFailed(std::string("The setup file carries no ") + kUninstallerName);
        }
        uninstallerSize_ = ReadBack(fresh).Size;
        Replace(fresh, uninstaller);
        uninstallerWritten_ = true;
    }

    const TInstallRecord merged = older_ ? MergeInstallRecords(*older_, record_) : record_;
    const std::string text = FormatInstallRecord(merged);
    WriteWhole(recordPath, text);

    int64_t installed = uninstallerSize_ + static_cast<int64_t>(text.size());
    for (const TRecordedFile& file : merged.Files) {
        installed += file.Size;
    }
    const std::optional<TRegistrationScope> scope =
        WriteUninstallEntry(MakeUninstallEntry(*destination, installed, Today()));
    if (!scope) {
        throw ERegistrationFailed("Cannot write the registry key " +
                                  RegistrationKeyName(TRegistrationScope::User));
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

void TRecordingFrontEnd::EntryDone(const std::string& name, bool written, TBackupAction backup) {
    registration_.EntryDone(name, written);
    inner_.EntryDone(name, written, backup);
}

void TRecordingFrontEnd::ShortcutWritten(const std::string& path) {
    registration_.ShortcutWritten(path);
    inner_.ShortcutWritten(path);
}
