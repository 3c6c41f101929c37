// The record of an installation: what the setup put into the destination and beside it, written
// next to the uninstaller so that a removal takes away exactly that and nothing else. It is read
// back as untrusted input (anyone who can write into the destination can change it), so the
// parser accepts only the shape below and refuses everything else as a whole.
//
// The text, one item a line (lines end in CR LF when written; a bare LF is read too):
//
//   Tandrel install record 1             the format and its version, exactly
//   destination C:\Program Files\Tandrel the folder installed into: an absolute path
//   folder .                             a folder the setup created: "." is the destination itself,
//   folder sub\deeper                    any other a name relative to it; parents before children
//   file 717575 <64 hex digits> Tandrel.exe
//                                        a file the setup wrote: its size in bytes, the SHA-256 of
//                                        its contents as written, its name relative to the destination
//   kept sites.ini                       a file that was there and that the setup kept: the user's
//   shortcut C:\...\Programs\Tandrel.lnk a shortcut the setup wrote: Tandrel.lnk right inside a
//                                        folder named Programs or SendTo on a local drive
//   parent C:\Apps                       a folder above the destination that the setup created: an
//                                        absolute path that the destination lies inside
//
//   backups yes                          whether installations put files into Backup ("no": none did)
//
// A folder that the setup made before the destination could hold its journal carries the
// identity that the file system gave it (a number), so that a removal takes away that very folder
// and no other of its name: "folder 43 ." for the destination, "parent 42 C:\Apps" above it.
// Records written without them stay readable; their folders above the destination are kept.
//
// ">" cannot be part of a name, so it separates the two names of a journal's step (below).
//
// Exactly one destination line, right after the first line; the other kinds in any order, each
// name at most once (names compare ignoring ASCII case, as the file system does). A relative name
// is a sequence of components separated by single "\": no drive, no leading "\", no "/", no ":"
// (streams), no component "." or "..", none ending in "." or a blank (the system would strip them
// and name another file), no wildcard or control character. Paths are at most 259 characters,
// the record at most 1 MiB and 10,000 lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sha256.h"
#include "framework/exceptions.h"

// The uninstaller and its record, in the destination.
inline constexpr const char kUninstallerName[] = "Uninstall.exe";
inline constexpr const char kRecordName[] = "Uninstall.dat";
inline constexpr const char kRecordHeading[] = "Tandrel install record 1";
// The name of the destination itself among the created folders.
inline constexpr const char kDestinationItself[] = ".";
// The largest record that is read.
inline constexpr size_t kMaxRecordBytes = 1 << 20;

struct TRecordedFile {
    std::string Name;  // relative to the destination
    int32_t Size = 0;
    Sha256Digest Digest{};
};

struct TInstallRecord {
    std::string Destination;             // absolute, without a trailing "\" (a root keeps its own)
    std::vector<std::string> Folders;    // created folders, parents first; "." the destination
    std::vector<TRecordedFile> Files;    // written files
    std::vector<std::string> Kept;       // existing files kept as they were
    std::vector<std::string> Shortcuts;  // absolute paths of shortcut files
    std::vector<std::string> Parents;    // created folders above the destination, outermost first
    std::vector<uint64_t> ParentIds;     // their identities where recorded (0 or missing: unknown)
    uint64_t DestinationId = 0;          // the identity of the destination when it was created
    // Whether installations put files into Backup; unknown in records written before it was noted.
    std::optional<bool> Backups;
};

// The recorded identity of the folder above the destination at index (0: none).
uint64_t ParentIdAt(const TInstallRecord& record, size_t index);

// The journal of a run that has not ended, beside the record, and its first line.
inline constexpr const char kJournalName[] = "Uninstall.jnl";

enum class TStepAction { Parent, NewFolder, New, Backup, Aside, Put, Entry, Shortcut };

// One step of a run: Name is what the step makes or changes (the first name of two), Other the
// second name (Backup, Aside, Put) or, for Entry, what the entry named before ("-": none)
// while Name is "machine" or "user".
struct TJournalStep {
    TStepAction Action = TStepAction::NewFolder;
    std::string Name;
    std::string Other;
    // The identity of the file moved (Backup, Aside, Put) or of the folder made before the journal
    // (Parent, NewFolder "."); 0: not known.
    uint64_t Id = 0;
};

// Whether names holds name, ignoring ASCII case as the file system does.
bool ContainsName(const std::vector<std::string>& names, std::string_view name);
// Adds name to names unless ContainsName.
void AddNameOnce(std::vector<std::string>& names, const std::string& name);

// A record that does not have the shape above: the message says which line and why.
TANDREL_DECLARE_EXCEPTION(EBadRecord, Exception);

// Whether name is a safe name relative to a folder, as defined above.
bool IsSafeRelativeName(std::string_view name);
// Whether path is an absolute path ("X:\..." or "\\server\share\...") whose components are safe
// names as defined above.
bool IsSafeAbsolutePath(std::string_view path);

// The text of record. Raises EBadRecord when record would not read back (an unsafe name, a
// duplicate), so that a damaged record is never written.
std::string FormatInstallRecord(const TInstallRecord& record);

// Reads a record's text; raises EBadRecord "Line N: <reason>" for anything but the shape above.
TInstallRecord ParseInstallRecord(std::string_view text);

// The journal of a run that changes an installation: appended to, one record a step, each flushed before its
// step is taken, so that its cost grows with the steps, not with their square. Every record is a line
// "<check> <text>" ending in CR LF, where check is 8 lower-case hex digits: the first four bytes of
// the SHA-256 of the previous record's check, a blank and the text ("00000000" before the first).
// The texts follow the record's rules for names and paths:
//
//   Tandrel install journal 2            the heading
//   destination C:\Program Files\Tandrel  as in the record
//   parent 42 C:\Apps                    a folder above the destination, made before the journal,
//                                        and its identity
//   folder 43 .                          the destination, made before the journal, and its identity
//   folder Backup                        a folder, made
//   new Tandrel.exe.~new                 a new file is about to be created under a temporary name
//   backup 42 Tandrel.exe>Backup\Tandrel.exe   a file moved into Backup, 42 its file identity
//   aside 42 Tandrel.exe>Tandrel.exe.~old       a file renamed aside, deleted once the run has completed
//   put 43 Tandrel.exe.~new>Tandrel.exe   the new file (identity 43) put in its place
//   entry machine C:\Other               the uninstall entry written (machine or user); what it named
//                                        before ("-": there was none)
//   shortcut C:\...\SendTo\Tandrel.lnk   a shortcut written
//   undone 7                             the roll back has undone step 7 (counted from 0)
//   commit                               the run has completed; nothing follows
//
// A step's record means that the step may have been taken; there is no count of steps done.
// Reading stops at the first record that is torn (no line end, or a check that does not match):
// that record and all after it were never completed, so their steps were never taken.
inline constexpr const char kJournalLogHeading[] = "Tandrel install journal 2";
inline constexpr const char kFirstJournalCheck[] = "00000000";

struct TJournalLog {
    std::string Destination;  // empty when not even the heading is whole
    std::vector<TJournalStep> Steps;
    std::vector<bool> Undone;  // one per step
    bool Committed = false;
    size_t WholeBytes = 0;  // the length of the whole records; a torn tail follows
    std::string LastCheck = kFirstJournalCheck;
};

// The record line of text after the record whose check is previous; check becomes its own.
std::string FormatJournalRecord(std::string_view previous, std::string_view text, std::string& check);
// The text of one step's record.
std::string JournalStepText(const TJournalStep& step);
// Reads the whole records of an appended journal. Raises EBadRecord "Line N: <reason>" for a whole
// record that breaks the rules (its check proves it was written so: it is damage, not a tear).
TJournalLog ParseJournalLog(std::string_view text);

// The record of a second installation into the same folder: what newer says of a name wins over
// what older says (a file written again, or kept this time), everything else of both is kept once.
// A newer record for another destination replaces the older one whole.
TInstallRecord MergeInstallRecords(const TInstallRecord& older, const TInstallRecord& newer);
