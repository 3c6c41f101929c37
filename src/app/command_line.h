// The setup's command line. Without arguments the setup asks the user everything; the switches run
// it unattended for administrators and package managers:
//     /SILENT            no questions; the progress window shows, the main window does not
//     /VERYSILENT        no window at all
//     /DIR="folder"      the destination (also /DIR=folder); default C:\Program Files\Tandrel
//     /NOBACKUP          replaced files are deleted instead of moved into Backup
//     /NOICONS           no shortcuts
//     /LOG="file"        a plain-text log of the installation
//     /? or /HELP        the usage
// Switches are case-insensitive. /DIR, /NOBACKUP, /NOICONS and /LOG belong to an unattended run
// and need /SILENT or /VERYSILENT. Parsing is pure: nothing is touched while the line is read.
#pragma once

#include <string>
#include <string_view>
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
    // The command line had an error (Error is its message); the rest holds what could be read, so
    // that a usable /LOG and /VERYSILENT still decide where the error is told.
    std::string Error;

    bool Unattended() const { return Mode != TSetupMode::Interactive; }
};

// Splits a command line into arguments by the platform's rules: blanks separate arguments outside
// quotation marks; a quotation mark toggles quoting and is dropped; 2n backslashes before a
// quotation mark stand for n, 2n+1 for n and a literal quotation mark; other backslashes are kept.
// The first argument (the program) is split by the same rules.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Reads the arguments after the program's name. Never raises: a bad command line comes back with
// Error set (an unknown switch, a switch without its value, an unattended switch without /SILENT or
// /VERYSILENT). /DIR or /LOG given twice takes its last value.
TSetupOptions ParseSetupArguments(const std::vector<std::string>& arguments);

// The text that /? shows.
std::string SetupUsage();
