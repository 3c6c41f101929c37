// The setup's command line. Without switches the setup asks the user everything; the switches run
// it unattended for administrators and package managers:
//     /SILENT            no questions; the progress window shows, the main window does not
//     /VERYSILENT        no window at all (also /S, /QUIET and /QN, as deployment tools write it)
//     /NORESTART         accepted: nothing the setup does asks for a restart
//     /SUPPRESSMSGBOXES  accepted: an unattended run never shows a message box
//     /DIR="folder"      the destination (also /DIR=folder); default C:\Program Files\Tandrel
//     /NOBACKUP          replaced files are deleted instead of moved into Backup
//     /NOICONS           no shortcuts
//     /CURRENTUSER       for the running user alone: their own folder, entry and shortcuts
//     /ALLUSERS          for every user of the machine: needs administrator rights
//     /LOG="file"        a plain-text log of the installation
//     /? or /HELP        the usage
//     /ELEVATED          given by a run that restarted itself elevated to that run (elevation.h)
// Switches are case-insensitive. /DIR, /NOBACKUP, /NOICONS, /LOG, /CURRENTUSER and /ALLUSERS
// belong to an unattended run
// and need /SILENT or /VERYSILENT. Words that do not start with "/" are ignored (see
// command_line.h). Parsing is pure: nothing is touched while the line is read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The exit codes of the setup. An interactive run ends with 0 or kExitBadCommandLine.
inline constexpr int kExitInstalled = 0;
inline constexpr int kExitBadCommandLine = 1;
inline constexpr int kExitFailed = 4;       // failed for another reason; whatever had changed is rolled back
inline constexpr int kExitFileInUse = 5;    // a file to replace is held open (found before the first change)
inline constexpr int kExitDiskFull = 6;     // not enough disk space (before the first change, or rolled back)
inline constexpr int kExitAnotherRun = 7;   // another Tandrel setup or removal is running: nothing changed
inline constexpr int kExitNotElevated = 8;  // /ALLUSERS without administrator rights: nothing changed
inline constexpr int kExitElevationDeclined =
    9;  // the administrator rights asked for were refused: nothing changed

struct TExitCodeMeaning {
    int Code;
    const char* Meaning;  // a few words, as the usage says it
};

// Every exit code of the setup with its meaning, in ascending order.
inline constexpr TExitCodeMeaning kSetupExitCodes[] = {
    {kExitInstalled, "installed"},
    {kExitBadCommandLine, "bad command line"},
    {kExitFailed, "installation failed"},
    {kExitFileInUse, "a file to replace is in use"},
    {kExitDiskFull, "not enough disk space"},
    {kExitAnotherRun, "another setup or removal is running"},
    {kExitNotElevated, "/ALLUSERS without administrator rights"},
    {kExitElevationDeclined, "administrator rights refused"},
};

// The folder that an unattended run installs into without /DIR, and that Continue proposes.
inline constexpr const char kDefaultDestination[] = "C:\\Program Files\\Tandrel";
// The same for one user alone, under the user's local application data folder.
inline constexpr const char kCurrentUserDestination[] = "Programs\\Tandrel";

enum class TSetupMode { Interactive, Silent, VerySilent };

// For whom an unattended run installs. Automatic: per machine for an administrator, as
// CurrentUser for anybody else.
enum class TInstallScope { Automatic, CurrentUser, AllUsers };

struct TSetupOptions {
    TSetupMode Mode = TSetupMode::Interactive;
    bool Help = false;
    std::string Destination = kDefaultDestination;
    bool DestinationGiven = false;  // /DIR was given; else the run's scope decides
    TInstallScope Scope = TInstallScope::Automatic;
    bool Backup = true;     // /NOBACKUP clears it
    bool Shortcuts = true;  // /NOICONS clears it
    std::string LogFile;    // empty: no log
    // The command line had an error (Error is its message): the run is refused before anything is
    // touched, the log included.
    std::string Error;
    // Error names an unknown switch and nothing else is wrong: an unattended run with a usable /LOG
    // writes the refusal there. Any other fault (a value that could name another file than meant,
    // say) leaves even the log untouched.
    bool LogsRefusal = false;
    bool Restarted = false;  // the restart switch: this is the run started elevated (see elevation.h)

    bool Unattended() const { return Mode != TSetupMode::Interactive; }
    // Whether the run may need the machine (see elevation.h): anything but /CURRENTUSER. An
    // interactive run asks for its folder later, and the proposal is the Program Files folder.
    bool NeedsMachine() const { return Scope != TInstallScope::CurrentUser; }
};

// Reads the switches (the words after the program that start with "/"; any other word is skipped).
// Never raises: a bad command line comes back with Error set (the first error found): an unknown
// switch, a switch without its value, an unattended switch without /SILENT or /VERYSILENT, a /DIR
// or /LOG value with a control character or a quotation mark, a /DIR that is not a full path, or a
// /DIR so long that the path of an installed file or of its backup would not fit the platform's
// limit (longestEntryName: the length of the longest entry name of the setup's archive). /DIR or
// /LOG given twice takes its last value.
TSetupOptions ParseSetupArguments(const std::vector<std::string>& arguments, size_t longestEntryName = 0);

// The scope that a run asked for asked installs in: Automatic is AllUsers for an administrator,
// CurrentUser for anybody else.
TInstallScope EffectiveScope(TInstallScope asked, bool administrator);

// The length of the longest name, relative to the destination, that an installation of entries of
// the given longest name can make there: a backup with a number, a new or set-aside file with its
// temporary suffix ("Backup\readme (9999).txt.~old100").
size_t LongestMadeName(size_t longestEntryName);

// The longest destination (without a trailing "\") for entries of the given longest name: every
// name the run makes there fits the platform's path limit. /DIR and the folder typed into the
// main window are held to it before anything changes.
size_t LongestDestination(size_t longestEntryName);

// Why folder cannot be a destination (a control character or a quotation mark, not a full path,
// too long for entries of the given longest name), as the text after "/DIR ", or nothing. The same
// rules hold for /DIR and for a folder that the run finds elsewhere (a registered installation's).
std::optional<std::string> DestinationProblem(std::string_view folder, size_t longestEntryName);

// The text that /? shows.
std::string SetupUsage();
