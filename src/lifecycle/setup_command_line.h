// The setup's command line. Without switches the setup asks the user everything; the switches run
// it unattended for administrators and package managers:
//     /SILENT            no questions; the progress window shows, the main window does not
//     /VERYSILENT        no window at all
//     /DIR="folder"      the destination (also /DIR=folder); default C:\Program Files\Tandrel
//     /NOBACKUP          replaced files are deleted instead of moved into Backup
//     /NOICONS           no shortcuts
//     /LOG="file"        a plain-text log of the installation
//     /? or /HELP        the usage
// Switches are case-insensitive. /DIR, /NOBACKUP, /NOICONS and /LOG belong to an unattended run
// and need /SILENT or /VERYSILENT. Words that do not start with "/" are ignored (see
// command_line.h). Parsing is pure: nothing is touched while the line is read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The folder that an unattended run installs into without /DIR, and that Continue proposes.
inline constexpr const char kDefaultDestination[] = "C:\\Program Files\\Tandrel";

enum class TSetupMode { Interactive, Silent, VerySilent };

struct TSetupOptions {
    TSetupMode Mode = TSetupMode::Interactive;
    bool Help = false;
    std::string Destination = kDefaultDestination;
    bool Backup = true;     // /NOBACKUP clears it
    bool Shortcuts = true;  // /NOICONS clears it
    std::string LogFile;    // empty: no log
    // The command line had an error (Error is its message): the run is refused before anything is
    // touched, the log included.
    std::string Error;

    bool Unattended() const { return Mode != TSetupMode::Interactive; }
};

// Reads the switches (the words after the program that start with "/"; any other word is skipped).
// Never raises: a bad command line comes back with Error set (the first error found): an unknown
// switch, a switch without its value, an unattended switch without /SILENT or /VERYSILENT, a /DIR
// or /LOG value with a control character or a quotation mark, a /DIR that is not a full path, or a
// /DIR so long that the path of an installed file or of its backup would not fit the platform's
// limit (longestEntryName: the length of the longest entry name of the setup's archive). /DIR or
// /LOG given twice takes its last value.
TSetupOptions ParseSetupArguments(const std::vector<std::string>& arguments, size_t longestEntryName = 0);

// The longest /DIR that ParseSetupArguments takes for entries of the given longest name.
size_t LongestDestination(size_t longestEntryName);

// The text that /? shows.
std::string SetupUsage();
