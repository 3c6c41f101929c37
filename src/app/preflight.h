// The checks that run before the installation changes anything in the destination: the embedded
// archive against the digest the build recorded beside it, and whether every file that the loop
// will replace can be replaced and the drive has room for all of it. Each failure is raised before
// the first file is moved, deleted or written, with the error that the loop would have raised
// later for that file where there is one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/exceptions.h"
#include "framework/stream.h"
#include "framework/string_list.h"
#include "lifecycle/safe_files.h"

// A file about to be replaced could not be moved into the Backup folder (or the folder could not be
// made): the file, then the Backup folder.
TANDREL_DECLARE_EXCEPTION(EBackupFailed, Exception);
inline constexpr const char kBackupFailed[] = "Cannot move %s into the backup folder %s";

// With administrator rights, an existing destination that is not empty and that accounts other
// than the administrators can change: the folder, then why.
TANDREL_DECLARE_EXCEPTION(EUnprotectedDestination, Exception);
inline constexpr const char kUnprotectedDestination[] =
    "%s can be changed by accounts other than the administrators (%s). Choose an empty folder, or one "
    "in Program Files";

// A file that the installation must replace is held open by another program: it can be tried
// again once that program has ended.
TANDREL_DECLARE_EXCEPTION(EFileInUse, Exception);

// A file in the destination that the installation must replace is another program's (its
// uninstaller or record), and backups are off.
inline constexpr const char kForeignFile[] =
    "Cannot replace %s: it was not written by this setup, and without backups it would be lost";

// The drive filled while a file was written.
inline constexpr const char kDriveFull[] = "Not enough disk space to expand %s: the drive %s is full";

// The setup file's archive differs from what the build made of it.
TANDREL_DECLARE_EXCEPTION(EDamagedSetup, Exception);
inline constexpr const char kDamagedSetup[] = "The setup file is damaged. Please download it again";

// A folder inside the destination that the installation would write into is a link (a reparse
// point), which could lead the writes anywhere.
TANDREL_DECLARE_EXCEPTION(ELinkInDestination, Exception);
inline constexpr const char kLinkInDestination[] = "Cannot write through the link %s";

// An entry name that does not stay inside the destination (rooted, with a drive, "." or "..").
TANDREL_DECLARE_EXCEPTION(EUnsafeEntryName, Exception);
inline constexpr const char kUnsafeEntryName[] = "The setup file names a file outside the destination: %s";

// The names of the digest resource, of the archive's resource type.
inline constexpr const char kArchiveDigestResource[] = "DIGEST";

// Raises EDamagedSetup unless the SHA-256 of the archive's bytes (from offset 0 to its end) is
// recorded, 64 hexadecimal digits and nothing else. Leaves the stream at its end.
void CheckArchiveDigest(TStream& archive, std::string_view recorded);
// CheckArchiveDigest against the digest resource of the program's own module; a missing digest
// resource is a damaged setup file too. The module's resource, once it has passed, is not hashed
// again (the same memory, of the same size): later calls only move the stream to its end.
void CheckEmbeddedArchive(TStream& archive);

// A drive's room: its cluster size in bytes and the clusters free for this user.
struct TDriveSpace {
    int64_t ClusterSize = 0;
    int64_t FreeClusters = 0;
};
// The room of the drive that holds folder (or would hold it: the nearest folder above it that
// exists); nothing when the system cannot say.
std::optional<TDriveSpace> DriveSpaceOf(const std::string& folder);

// One entry's step of the installation as the disk sees it: the clusters that the step frees before
// it writes (a deleted file, an older backup replaced) and those it then takes (the new file, new
// folders).
struct TSpaceStep {
    std::string Target;
    int64_t Freed = 0;
    int64_t Needed = 0;
};
// The clusters that bytes take on a drive of clusterSize (> 0).
int64_t ClustersFor(int64_t bytes, int64_t clusterSize);
// The free clusters of a drive as the steps of an installation go by, in order.
class TDiskTally {
  public:
    explicit TDiskTally(const TDriveSpace& space) : free_(space.FreeClusters) {}
    // Raises EInsufficientDiskSpace "Not enough disk space to expand <Target>" when the step's file
    // would not fit after what it frees.
    void Add(const TSpaceStep& step);

  private:
    int64_t free_;
};
// Walks the steps in order; raises for the first whose file would not fit.
void CheckDiskSpace(const std::vector<TSpaceStep>& steps, const TDriveSpace& space);

// Everything the loop will do to the destination folder with these entries (lines of a
// ListArchiveFiles list), checked before it does any of it, entry by entry in list order; the
// folders the loop writes into are held by folder from here on:
// - every name stays inside the destination (EUnsafeEntryName);
// - the Backup folder (with backups on) and the folders of entry names that already exist are real
//   folders, not links (ELinkInDestination naming the link);
// - no folder stands where a file goes (EFCreateError, as the expansion raises), no file where a
//   folder of an entry goes (EInOutError, as the folder creation raises);
// - with backups on, every existing file can be moved into Backup, where no folder or file held open
//   stands in its way (EBackupFailed; EFileInUse when the file is held open); with backups off,
//   every existing file can be renamed aside (the error of opening it; EFileInUse when held open);
// - without a record of ours in the folder (ownRecord false), an uninstaller or record there is
//   another program's: with backups off it cannot be kept (EBackupFailed, kForeignFile);
// - the drive has room for every new file and folder in whole clusters, and for registrationBytes
//   (the uninstaller, the record and the journal), nothing freed before the run completes
//   (EInsufficientDiskSpace for the first that would not fit). space empty skips this; the
//   expansion still checks each file.
// The first entry with a problem is the one reported, as in the loop.
// An existing site database is taken as replaced: whether it is kept is asked later, in the loop.
void CheckBeforeFirstChange(const TStringList& entries,
                            TSafeFolder& folder,
                            bool backups,
                            const std::optional<TDriveSpace>& space,
                            int64_t registrationBytes,
                            bool ownRecord);
