#include "lifecycle/setup_command_line.h"

#include <optional>
#include <string_view>

#include "lifecycle/command_line.h"
#include "lifecycle/elevation.h"

namespace {

// The longest name that a run makes in the destination for an entry name: a replaced file moves to
// Backup\<entry name>, a second backup of that name takes a number below 10000 ("readme (2).txt"),
// and a file written or set aside there is first a new one or renamed with a suffix whose attempt
// number goes up to 100 (".~new2", ".~old100"). The uninstaller, its record and the journal are
// written the same way under fixed names, no longer than that for an entry of one character.
constexpr std::string_view kBackupFolder = "Backup\\";
constexpr std::string_view kLongestBackupNumber = " (9999)";
constexpr std::string_view kLongestTemporarySuffix = ".~old100";

}  // namespace

size_t LongestMadeName(size_t longestEntryName) {
    return kBackupFolder.size() + longestEntryName + kLongestBackupNumber.size() +
           kLongestTemporarySuffix.size();
}

size_t LongestDestination(size_t longestEntryName) {
    // <destination>\<the longest name made there> and its terminating zero within the limit.
    const size_t fixed = 1 + LongestMadeName(longestEntryName) + 1;
    return fixed < kPathLimit ? kPathLimit - fixed : 0;
}

TInstallScope EffectiveScope(TInstallScope asked, bool administrator) {
    if (asked != TInstallScope::Automatic) {
        return asked;
    }
    return administrator ? TInstallScope::AllUsers : TInstallScope::CurrentUser;
}

std::optional<std::string> DestinationProblem(std::string_view folder, size_t longestEntryName) {
    if (const std::optional<std::string> bad = BadPathCharacters(folder)) {
        return bad;
    }
    if (!IsAbsolutePath(folder)) {
        return "needs a full path:\nC:\\... or \\\\server\\share";
    }
    const size_t length = folder.back() == '\\' ? folder.size() - 1 : folder.size();
    if (length > LongestDestination(longestEntryName)) {
        return "is too long: at most " + std::to_string(LongestDestination(longestEntryName)) + " characters";
    }
    return std::nullopt;
}

TSetupOptions ParseSetupArguments(const std::vector<std::string>& arguments, size_t longestEntryName) {
    TSetupOptions options;
    bool unattendedOnly = false;  // a switch that needs /SILENT or /VERYSILENT was given
    bool onlyUnknown = true;      // every fault so far is an unknown switch
    auto refuse = [&options](const std::string& message) {
        if (options.Error.empty()) {
            options.Error = message;
        }
    };
    auto fail = [&refuse, &onlyUnknown](const std::string& message) {
        onlyUnknown = false;
        refuse(message);
    };
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument.front() != '/') {
            continue;  // only switches count
        }
        if (IsSwitch(argument, "/SILENT")) {
            if (options.Mode != TSetupMode::VerySilent) {
                options.Mode = TSetupMode::Silent;
            }
        } else if (IsVerySilentSwitch(argument)) {
            options.Mode = TSetupMode::VerySilent;
        } else if (IsSwitch(argument, "/NORESTART") || IsSwitch(argument, "/SUPPRESSMSGBOXES")) {
            // Deployment tools pass these to every installer: nothing here restarts the system, and
            // an unattended run never shows a box, so both are already what the run does.
        } else if (IsSwitch(argument, kRestartedSwitch)) {
            options.Restarted = true;  // added by the run that restarted itself elevated
        } else if (IsSwitch(argument, "/NOBACKUP")) {
            options.Backup = false;
            unattendedOnly = true;
        } else if (IsSwitch(argument, "/NOICONS")) {
            options.Shortcuts = false;
            unattendedOnly = true;
        } else if (IsSwitch(argument, "/CURRENTUSER") || IsSwitch(argument, "/ALLUSERS")) {
            const TInstallScope scope =
                IsSwitch(argument, "/ALLUSERS") ? TInstallScope::AllUsers : TInstallScope::CurrentUser;
            if (options.Scope != TInstallScope::Automatic && options.Scope != scope) {
                fail("/CURRENTUSER and /ALLUSERS exclude each other");
            }
            options.Scope = scope;
            unattendedOnly = true;
        } else if (IsSwitch(argument, "/?") || IsSwitch(argument, "/HELP")) {
            options.Help = true;
        } else if (const std::optional<std::string> dir = SwitchValue(argument, "/DIR")) {
            if (dir->empty()) {
                fail("/DIR needs a folder");
            } else if (const std::optional<std::string> problem =
                           DestinationProblem(*dir, longestEntryName)) {
                fail("/DIR " + *problem);
            }
            options.Destination = *dir;
            options.DestinationGiven = true;
            unattendedOnly = true;
        } else if (const std::optional<std::string> log = SwitchValue(argument, "/LOG")) {
            if (const std::optional<std::string> problem = LogFileProblem(*log)) {
                fail(*problem);
            }
            options.LogFile = *log;
            unattendedOnly = true;
        } else if (IsSwitch(argument, "/DIR") || IsSwitch(argument, "/LOG")) {
            fail(argument + " needs a value: " + argument + "=\"...\"");
        } else {
            refuse("Unknown switch " + EscapeControlCharacters(argument));
        }
    }
    if (unattendedOnly && !options.Unattended() && !options.Help) {
        fail("/DIR, /NOBACKUP, /NOICONS, /LOG, /CURRENTUSER\nand /ALLUSERS need /SILENT or /VERYSILENT");
    }
    options.LogsRefusal =
        !options.Error.empty() && onlyUnknown && options.Unattended() && !options.LogFile.empty();
    return options;
}

std::string SetupUsage() {
    // Short lines: the message box wraps long ones wherever it likes.
    std::string usage = std::string("Tandrel Setup installs Tandrel " TANDREL_VERSION ".\n") +
                        "These switches install it unattended:\n"
                        "\n"
                        "/SILENT: only the progress window shows\n"
                        "/VERYSILENT (or /S, /QUIET, /QN):\nno window at all\n"
                        "/NORESTART, /SUPPRESSMSGBOXES: accepted\n"
                        "/DIR=\"folder\": the destination\n"
                        "/NOBACKUP: replaced files are deleted\n"
                        "/NOICONS: no shortcuts\n"
                        "/CURRENTUSER: for this user alone\n"
                        "/ALLUSERS: for every user (as administrator)\n"
                        "/LOG=\"file\": a log of the installation\n"
                        "/? or /HELP: this text\n"
                        "\n"
                        "Default folder: " +
                        kDefaultDestination + "\nor, for this user alone:\n%LOCALAPPDATA%\\" +
                        kCurrentUserDestination +
                        "\n"
                        "Exit codes:";
    for (const TExitCodeMeaning& exit : kSetupExitCodes) {
        usage.append("\n").append(std::to_string(exit.Code)).append(" ").append(exit.Meaning);
    }
    return usage;
}
