#include "app/preflight.h"

#include <windows.h>

#include <algorithm>

#include "archive/compress.h"
#include "archive/sha256.h"
#include "framework/file_stream.h"
#include "framework/resource_stream.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/safe_files.h"

void CheckArchiveDigest(TStream& archive, std::string_view recorded) {
    Sha256Digest expected{};
    if (!DigestFromHex(recorded, expected)) {
        throw EDamagedSetup(kDamagedSetup);
    }
    archive.SetPosition(0);
    Sha256 sha;
    char buffer[65536];
    for (int32_t count; (count = archive.Read(buffer, sizeof buffer)) > 0;) {
        sha.Update(buffer, static_cast<size_t>(count));
    }
    if (sha.Final() != expected) {
        throw EDamagedSetup(kDamagedSetup);
    }
}

void CheckEmbeddedArchive(TStream& archive) {
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

// Whether the file at path can be opened as shareMode says with the given access: with DELETE and
// every sharing, whether a rename or delete of it can go ahead (nobody holds it open without
// sharing); with no sharing, whether nobody holds it open at all.
bool CanOpen(const std::string& path, DWORD access, DWORD shareMode) {
    const UniqueFileHandle file(::CreateFileA(path.c_str(), access, shareMode, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return static_cast<bool>(file);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int64_t SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// The folders of name's folder part under base, outermost first ("a\b\c.txt": base+"a", base+"a\b").
std::vector<std::string> FoldersOf(const std::string& base, const std::string& name) {
    std::vector<std::string> folders = FolderPartsOf(name);
    for (std::string& folder : folders) {
        folder.insert(0, base);
    }
    return folders;
}

// The folders that do not exist yet above and at folder (its trailing "\" allowed), counted up to
// the first that exists.
int64_t MissingFolders(std::string folder) {
    int64_t missing = 0;
    while (!folder.empty()) {
        if (folder.back() == '\\') {
            folder.pop_back();
        }
        if (folder.empty() || folder.back() == ':' || DirectoryExists(folder)) {
            break;
        }
        ++missing;
        const std::string parent = ExtractFilePath(folder);
        if (parent.size() >= folder.size()) {
            break;
        }
        folder = parent;
    }
    return missing;
}

}  // namespace

void CheckBeforeFirstChange(const TStringList& entries,
                            const std::string& destinationWithBackslash,
                            bool backups,
                            const std::optional<TDriveSpace>& space) {
    const std::string backupFolder = destinationWithBackslash + "Backup";
    const std::string backupWithBackslash = backupFolder + "\\";
    for (int index = 0; index < entries.Count(); ++index) {
        if (!StaysInside(entries[index])) {
            throw EUnsafeEntryName(Format(kUnsafeEntryName, entries[index].c_str()));
        }
    }
    if (backups) {
        RefuseLinkedFolder(backupFolder);
    }

    const int64_t clusterSize = space ? space->ClusterSize : 1;
    std::optional<TDiskTally> tally;
    if (space) {
        tally.emplace(*space);
    }
    // Folders made by the installation take a cluster each: the destination and its missing parents
    // at the first entry, the Backup folder at the first file moved, entry folders as they come.
    int64_t newFolders = MissingFolders(destinationWithBackslash);
    bool backupMade = DirectoryExists(backupFolder);
    for (int index = 0; index < entries.Count(); ++index) {
        const std::string& name = entries[index];
        const std::string target = destinationWithBackslash + name;
        for (const std::string& folder : FoldersOf(destinationWithBackslash, name)) {
            const DWORD attributes = AttributesOf(folder);
            if (!Exists(attributes)) {
                ++newFolders;
            } else if (!IsFolder(attributes)) {
                throw EInOutError(Format("Cannot create folder %s (%s)", folder.c_str(),
                                         SystemErrorText(ERROR_ALREADY_EXISTS).c_str()),
                                  ERROR_ALREADY_EXISTS);
            }
            RefuseLinkedFolder(folder);
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
                if (backupFolderBlocked || IsFolder(backupAttributes) ||
                    (Exists(backupAttributes) && !CanOpen(backupTarget, DELETE, kShareAll)) ||
                    !CanOpen(target, DELETE, kShareAll)) {
                    throw EBackupFailed(Format(kBackupFailed, target.c_str(), backupFolder.c_str()));
                }
                for (const std::string& folder : FoldersOf(backupWithBackslash, name)) {
                    RefuseLinkedFolder(folder);
                    newFolders += Exists(AttributesOf(folder)) ? 0 : 1;
                }
                if (!backupMade) {
                    backupMade = true;
                    ++newFolders;
                }
                // The move replaces an older backup of the name. A kept site database is copied
                // instead of being replaced: the copy may take more than the new file would.
                if (Exists(backupAttributes)) {
                    step.Freed += ClustersFor(SizeOf(backupTarget), clusterSize);
                }
                if (UpperCaseAscii(name) == "SITES.INI") {
                    needed = std::max(needed, oldClusters);
                }
            } else {
                if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 || !CanOpen(target, DELETE, kShareAll)) {
                    // The expansion's open of the file that could not be deleted raises here now.
                    const TFileStream probe(target, fmOpenReadWrite | fmShareDenyWrite);
                }
                // A file that somebody has open (a running program) is only renamed aside and
                // removed at the end: its room is not free before then. A site database may be
                // kept instead of deleted, so it frees no more than its new file takes.
                if (CanOpen(target, DELETE | GENERIC_READ, 0)) {
                    step.Freed +=
                        UpperCaseAscii(name) == "SITES.INI" ? std::min(oldClusters, needed) : oldClusters;
                }
            }
        }
        step.Needed = needed + newFolders;
        newFolders = 0;
        if (tally) {
            tally->Add(step);
        }
    }
}
