// The uninstaller's command line. Without switches it asks the user; the switches run it
// unattended for administrators and package managers:
//     /SILENT            no questions; the progress window shows
//     /VERYSILENT        no window at all
//     /LOG="file"        a plain-text log of the removal (needs /SILENT or /VERYSILENT)
//     /ORIGINAL="folder" given by the uninstaller to the copy of itself that it runs from the
//                        user's temporary folder: the installation to remove, whose record is
//                        validated exactly as the one beside the program
//     /LOCK=number       given with /ORIGINAL: the handle, inherited by the copy, through which
//                        the uninstaller hands the installation's lock over to it
//     /ELEVATED          given by a run that restarted itself elevated to that run (elevation.h)
// Switches are case-insensitive; words that do not start with "/" are ignored. Parsing is pure:
// nothing is touched while the line is read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TUninstallMode { Interactive, Silent, VerySilent };

// The exit codes of the uninstaller, in every mode.
inline constexpr int kExitRemoved = 0;       // removed; kept items are named in the log
inline constexpr int kExitBadRecord = 1;     // bad command line, or a missing or damaged record
inline constexpr int kExitDeclined = 2;      // the user answered No, cancelled before anything went, or
                                             // refused the administrator rights asked for
inline constexpr int kExitRemoveFailed = 4;  // refused or failed
inline constexpr int kExitRemoveInUse = 5;   // a file to remove is in use: nothing removed
inline constexpr int kExitRemoveBusy = 7;    // another Tandrel setup or removal is running: nothing removed

struct TUninstallOptions {
    TUninstallMode Mode = TUninstallMode::Interactive;
    std::string LogFile;     // empty: no log
    std::string Original;    // empty: this is the program in the installation's folder
    uint64_t Lock = 0;       // the handed-over lock's handle value; 0: none
    bool Restarted = false;  // the restart switch: this is the run started elevated (see elevation.h)
    // The command line had an error (its message); the rest holds what could be read, so that a
    // usable /LOG and /VERYSILENT still decide where the error is told.
    std::string Error;

    bool Unattended() const { return Mode != TUninstallMode::Interactive; }
};

// Reads the arguments after the program's name. Never raises: a bad command line comes back with
// Error set (an unknown switch, a switch without its value, /LOG without /SILENT or /VERYSILENT).
// A switch given twice takes its last value.
TUninstallOptions ParseUninstallArguments(const std::vector<std::string>& arguments);

// The text that a refused command line shows.
std::string UninstallUsage();

// One argument quoted for a command line, so that the platform's splitting rules give it back as
// it stands: in quotation marks, with the backslashes before a quotation mark (and at the end)
// doubled and a quotation mark escaped.
std::string QuoteArgument(std::string_view argument);

// The switches that give the copy in the temporary folder the same run as the original: the mode,
// the log, /ORIGINAL="originalFolder" and, unless lock is 0, /LOCK=lock, each quoted by
// QuoteArgument, separated by blanks.
std::string CopyArguments(const TUninstallOptions& options,
                          const std::string& originalFolder,
                          uint64_t lock = 0);
