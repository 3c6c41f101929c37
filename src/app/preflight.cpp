#include "app/preflight.h"

#include <windows.h>

#include <algorithm>

#include "archive/compress.h"
#include "archive/sha256.h"
#include "framework/file_stream.h"
#include "framework/resource_stream.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/install_record.h"
#include "lifecycle/safe_files.h"

void CheckArchiveDigest(TStream& archive, std::string_view recorded) {
    Sha256Digest expected{};
    if (!DigestFromHex(recorded, expected)) {
        throw EDamagedSetup(kDamagedSetup);
    }
    archive.SetPosition(0);
    Sha256 sha;
    if (auto* memory = dynamic_cast<TCustomMemoryStream*>(&archive)) {
        // A resource is read where it lies.
        sha.Update(memory->Memory(), static_cast<size_t>(memory->Size()));
        archive.SetPosition(memory->Size());
    } else {
        char buffer[65536];
        for (int32_t count; (count = archive.Read(buffer, sizeof buffer)) > 0;) {
            sha.Update(buffer, static_cast<size_t>(count));
        }
    }
    if (sha.Final() != expected) {
        throw EDamagedSetup(kDamagedSetup);
    }
}

void CheckEmbeddedArchive(TStream& archive) {
    // The program's own resources do not change while it runs: the same bytes, once found whole,
    // are not hashed again.
    static const void* verified = nullptr;
    static int64_t verifiedSize = -1;
    auto* memory = dynamic_cast<TCustomMemoryStream*>(&archive);
    if (memory != nullptr && memory->Memory() == verified && memory->Size() == verifiedSize) {
        archive.SetPosition(verifiedSize);
        return;
    }
    std::string recorded;
    try {
        TResourceStream digest(::GetModuleHandleA(nullptr), kArchiveDigestResource, kArchiveResourceType);
        // Anything but 64 digits fails below; reading one more byte shows a longer resource.
        recorded.resize(65);
        recorded.resize(static_cast<size_t>(std::max(digest.Read(recorded.data(), 65), 0)));
    } catch (const EResNotFound&) {
        throw EDamagedSetup(kDamagedSetup);
    }
    CheckArchiveDigest(archive, recorded);
    if (memory != nullptr) {
        verified = memory->Memory();
        verifiedSize = memory->Size();
    }
}

std::optional<TDriveSpace> DriveSpaceOf(const std::string& folder) {
    // The destination may not exist yet: its drive is that of the nearest folder above it.
    std::string existing = folder;
    while (!existing.empty() && !DirectoryExists(existing)) {
        std::string parent = ExtractFilePath(existing);
        if (!parent.empty() && parent.back() == '\\' && parent.size() > 1) {
            parent.pop_back();
        }
        if (parent == existing) {
            return std::nullopt;
        }
        existing = parent;
    }
    if (existing.empty()) {
        return std::nullopt;
    }
    char volume[MAX_PATH + 1] = {};
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    ULARGE_INTEGER available{};
    if (!::GetVolumePathNameA(existing.c_str(), volume, sizeof volume) ||
        !::GetDiskFreeSpaceA(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters) ||
        !::GetDiskFreeSpaceExA(AddTrailingBackslash(existing).c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    TDriveSpace space;
    space.ClusterSize = static_cast<int64_t>(sectorsPerCluster) * bytesPerSector;
    if (space.ClusterSize <= 0) {
        return std::nullopt;
    }
    // A quota may leave this user less than the drive has free.
    space.FreeClusters =
        std::min(static_cast<int64_t>(freeClusters),
                 static_cast<int64_t>(available.QuadPart / static_cast<uint64_t>(space.ClusterSize)));
    return space;
}

int64_t ClustersFor(int64_t bytes, int64_t clusterSize) {
    return bytes <= 0 ? 0 : (bytes - 1) / clusterSize + 1;
}

void TDiskTally::Add(const TSpaceStep& step) {
    free_ += step.Freed;
    if (step.Needed > free_) {
        throw EInsufficientDiskSpace(msg::kInsufficientDiskSpace + step.Target);
    }
    free_ -= step.Needed;
}

void CheckDiskSpace(const std::vector<TSpaceStep>& steps, const TDriveSpace& space) {
    TDiskTally tally(space);
    for (const TSpaceStep& step : steps) {
        tally.Add(step);
    }
}

namespace {

// A name that, appended to the destination, names a file inside it: relative, no drive or stream
// (":"), no "/" (which the system also takes as a separator), no empty, "." or ".." part.
bool StaysInside(const std::string& name) {
    if (name.empty() || name.find_first_of(":/") != std::string::npos) {
        return false;
    }
    size_t start = 0;
    while (true) {
        const size_t cut = name.find('\\', start);
        const std::string part =
            name.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (cut == std::string::npos) {
            return true;
        }
        start = cut + 1;
    }
}

DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

bool Exists(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(DWORD attributes) {
    return Exists(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Raises ELinkInDestination when path, where a folder is or will be made, is a link (a reparse
// point, whether or not it shows as a folder).
void RefuseLinkedFolder(const std::string& path) {
    if (IsReparsePoint(path)) {
        throw ELinkInDestination(Format(kLinkInDestination, path.c_str()));
    }
}

// The error of opening the file at path with the given access and sharing (0: it opens): with
// DELETE and every sharing, whether a rename of it can go ahead (nobody holds it open without
// sharing).
DWORD OpenError(const std::string& path, DWORD access, DWORD shareMode) {
    const UniqueFileHandle file(::CreateFileA(path.c_str(), access, shareMode, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file ? ERROR_SUCCESS : ::GetLastError();
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int64_t SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace

void CheckBeforeFirstChange(const TStringList& entries,
                            TSafeFolder& folder,
                            bool backups,
                            const std::optional<TDriveSpace>& space,
                            int64_t registrationBytes,
                            bool ownRecord) {
    const std::string destinationWithBackslash = AddTrailingBackslash(folder.Root());
    const std::string backupFolder = destinationWithBackslash + "Backup";
    const std::string backupWithBackslash = backupFolder + "\\";
    for (int index = 0; index < entries.Count(); ++index) {
        if (!StaysInside(entries[index])) {
            throw EUnsafeEntryName(Format(kUnsafeEntryName, entries[index].c_str()));
        }
    }
    // Every folder the run writes into is held from here to its end: what is checked now stays.
    auto hold = [&folder](const std::string& name) {
        try {
            folder.HoldFolder(name);
        } catch (const EUnsafePath&) {
            // Named below as the link it is, or as the file that stands where a folder goes.
        }
    };
    if (backups) {
        RefuseLinkedFolder(backupFolder);
        hold("Backup");
    }
    // The uninstaller and the record of another program (no record of ours is there) are that
    // program's files: they go into Backup like any file the installation replaces, never deleted.
    if (!ownRecord) {
        for (const char* name : {kUninstallerName, kRecordName}) {
            const std::string path = destinationWithBackslash + name;
            if (Exists(AttributesOf(path)) && !backups) {
                throw EBackupFailed(Format(kForeignFile, path.c_str()));
            }
        }
    }

    const int64_t clusterSize = space ? space->ClusterSize : 1;
    std::optional<TDiskTally> tally;
    if (space) {
        tally.emplace(*space);
    }
    // Nothing that a run replaces is deleted before the run has completed (it is moved into Backup
    // or renamed aside, so that a failure can put it back): the new files and folders need room of
    // their own, and nothing is freed before the end. Folders take a cluster each.
    int64_t newFolders = 0;
    bool backupMade = DirectoryExists(backupFolder);
    for (int index = 0; index < entries.Count(); ++index) {
        const std::string& name = entries[index];
        const std::string target = destinationWithBackslash + name;
        for (const std::string& part : FolderPartsOf(name)) {
            const std::string path = destinationWithBackslash + part;
            const DWORD attributes = AttributesOf(path);
            if (!Exists(attributes)) {
                ++newFolders;
            } else if (!IsFolder(attributes)) {
                throw EInOutError(Format("Cannot create folder %s (%s)", path.c_str(),
                                         SystemErrorText(ERROR_ALREADY_EXISTS).c_str()),
                                  ERROR_ALREADY_EXISTS);
            }
            RefuseLinkedFolder(path);
            hold(part);
        }

        TSpaceStep step;
        step.Target = target;
        const auto* info = dynamic_cast<const TCompressedFileInfo*>(entries.Objects(index));
        int64_t needed = ClustersFor(info != nullptr ? info->FullSize : 0, clusterSize);
        const DWORD attributes = AttributesOf(target);
        if (IsFolder(attributes)) {
            throw EFCreateError(Format(msg::kCreateError, target.c_str()));
        }
        if (Exists(attributes)) {
            const int64_t oldClusters = ClustersFor(SizeOf(target), clusterSize);
            if (backups) {
                const std::string backupTarget = backupWithBackslash + name;
                const DWORD backupAttributes = AttributesOf(backupTarget);
                const bool backupFolderBlocked =
                    Exists(AttributesOf(backupFolder)) && !IsFolder(AttributesOf(backupFolder));
                const DWORD moveError = OpenError(target, DELETE, kShareAll);
                if (backupFolderBlocked || IsFolder(backupAttributes) ||
                    (Exists(backupAttributes) &&
                     OpenError(backupTarget, DELETE, kShareAll) != ERROR_SUCCESS) ||
                    moveError != ERROR_SUCCESS) {
                    const std::string message = Format(kBackupFailed, target.c_str(), backupFolder.c_str());
                    if (moveError == ERROR_SHARING_VIOLATION || moveError == ERROR_LOCK_VIOLATION) {
                        throw EFileInUse(message);
                    }
                    throw EBackupFailed(message);
                }
                for (const std::string& part : FolderPartsOf(name)) {
                    const std::string path = backupWithBackslash + part;
                    RefuseLinkedFolder(path);
                    newFolders += Exists(AttributesOf(path)) ? 0 : 1;
                    hold("Backup\\" + part);
                }
                if (!backupMade) {
                    backupMade = true;
                    ++newFolders;
                }
                // A kept site database is copied into Backup instead of being moved: the copy may
                // take more than the new file would.
                if (UpperCaseAscii(name) == "SITES.INI") {
                    needed = std::max(needed, oldClusters);
                }
            } else {
                // Renamed aside, which a running program's file allows too; only a file that
                // somebody holds open without sharing stops it.
                const DWORD error = OpenError(target, DELETE, kShareAll);
                if (error != ERROR_SUCCESS) {
                    const std::string message =
                        Format(msg::kOpenError, target.c_str()) + " (" + SystemErrorText(error) + ")";
                    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
                        throw EFileInUse(message);
                    }
                    throw EInOutError(message, error);
                }
            }
        }
        step.Needed = needed + newFolders;
        newFolders = 0;
        if (tally) {
            tally->Add(step);
        }
    }
    if (tally) {
        // The uninstaller, the record and the run's journal, each written under a new name first.
        TSpaceStep registration;
        registration.Target = destinationWithBackslash + kUninstallerName;
        registration.Needed = ClustersFor(registrationBytes, clusterSize);
        tally->Add(registration);
    }
}
