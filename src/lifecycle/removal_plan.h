// What a removal decides without touching anything: which folders compare equal, which
// destinations are never removed from, in which order created folders go, and the texts that tell
// the user what was kept and why. Portable, so that it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// path without trailing backslashes, except the one of a drive root ("C:\").
std::string WithoutTrailingBackslash(std::string_view path);

// Whether two absolute folder paths name the same folder: ASCII letters compared ignoring case, as
// the file system does, and trailing backslashes ignored.
bool SameFolder(std::string_view a, std::string_view b);

// Whether path is a drive root ("C:", "C:\") or the root of a network share ("\\server\share").
bool IsRootFolder(std::string_view path);

// The folders of the system that an installation's destination may never be.
struct TProtectedFolders {
    std::vector<std::string> Exact;  // the Windows folder, the Program Files folders, ...
    std::string ProfilesRoot;        // the folder holding the users' profile folders
};

// Whether destination is a root, one of protected.Exact, protected.ProfilesRoot or a folder right
// inside it (a user's profile folder). An empty destination counts as protected.
bool IsProtectedDestination(std::string_view destination, const TProtectedFolders& protectedFolders);

// The created folders of a record in the order of their removal: deepest first, the destination
// itself (".") last; folders of equal depth in reverse record order.
std::vector<std::string> FoldersDeepestFirst(const std::vector<std::string>& folders);

// A folder above an installation's destination that its setup made, and the identity the file
// system gave it then.
struct TFolderAbove {
    std::string Path;
    uint64_t Id = 0;
    bool operator==(const TFolderAbove&) const = default;
};

// The folders above an installation's destination that its removal may take away once the
// destination is gone (each only while empty, and only while it is still the folder of that
// identity), innermost first. parents are the record's, outermost first, ids the identity recorded
// for each (0 or missing: none); madeDestination says that the setup made the destination too. The
// setup's first run made the missing folders right above one another down to the destination, and
// the destination last: parents are taken only as such a chain, and only with the destination. Any
// other list names folders the setup did not make, and none is taken. A folder without an identity
// (a record written before they were recorded) is kept, and so is every folder above it.
std::vector<TFolderAbove> RemovableParents(std::string_view destination,
                                           const std::vector<std::string>& parents,
                                           const std::vector<uint64_t>& ids,
                                           bool madeDestination);

// Why an item of the destination stays after a removal.
enum class TKeptReason {
    Changed,         // a recorded file changed since it was written
    KeptByInstall,   // a file that was there before and that the setup kept
    NotInstalled,    // a file or folder that the setup did not write
    Backup,          // the Backup folder: what the installations replaced
    ThroughLink,     // reached through a link: never followed
    OtherTarget,     // a shortcut that no longer starts this installation's program
    OtherAccount,    // a shortcut outside the Programs and SendTo folders of the account that removes
    CouldNotRemove,  // a failure while removing
};

struct TKeptItem {
    std::string Name;  // relative to the destination, or an absolute path (shortcuts)
    TKeptReason Reason;
};

// "sites.ini (changed since it was installed)" and the like.
std::string DescribeKept(const TKeptItem& item);

// Why the destination's Backup folder stays. noted: what the record says of it (installations put
// files there, or none did; unknown in records written before that was noted); createdBySetup: the
// record names Backup among the folders the setup made; held: the names of the files in it
// (relative to Backup); recorded: the names of the files the installations wrote or kept. As noted:
// Backup (what installations replaced), or KeptByInstall (it was there before the installation,
// holding only the user's own files). Without a note, judged by what it holds: Backup when the
// setup made it or it holds a backup of a file the installations wrote or kept.
TKeptReason BackupReason(std::optional<bool> noted,
                         bool createdBySetup,
                         const std::vector<std::string>& held,
                         const std::vector<std::string>& recorded);

// The question before a removal.
std::string RemovalQuestion(std::string_view productName, std::string_view destination);

// The closing message: what was removed from where, then each kept item on a line of its own (an
// item named twice only once, with its first reason); past
// kMaxKeptInSummary items one line says how many more there are (a message box has a screen's height).
inline constexpr size_t kMaxKeptInSummary = 15;
std::string RemovalSummary(std::string_view productName,
                           std::string_view destination,
                           const std::vector<TKeptItem>& kept);
