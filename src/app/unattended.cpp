#include "app/unattended.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <optional>

#include "app/copy_form.h"
#include "app/install_registration.h"
#include "app/install_sequence.h"
#include "app/install_state.h"
#include "app/preflight.h"
#include "archive/compress.h"
#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "framework/unit_startup.h"
#include "lifecycle/command_line.h"
#include "lifecycle/command_line_win32.h"
#include "lifecycle/folder_security.h"
#include "lifecycle/install_transaction.h"
#include "lifecycle/registration.h"

void TUnattendedFrontEnd::EntryDone(const std::string& name, bool written, TBackupAction backup) {
    std::string what = written ? "written" : "kept";
    if (backup == TBackupAction::Unchanged) {
        what = "already the new version, left as it was";
    } else if (backup == TBackupAction::Moved) {
        what = "moved to Backup, " + what;
    } else if (backup == TBackupAction::Copied) {
        what += ", copied to Backup";
    }
    log_.Line(name + ": " + what);
}

void TUnattendedFrontEnd::ShortcutWritten(const std::string& path) {
    log_.Line("Shortcut: " + path);
}

void TUnattendedFrontEnd::Registered(const std::string& where) {
    if (where != registeredAt_) {
        log_.Line("Registered for removal: " + where);
        registeredAt_ = where;
    }
}

void TUnattendedFrontEnd::RegistrationFailed(const std::string& reason) {
    // The run fails: an installation that cannot be removed is not called installed.
    log_.Line("Registration failed: " + reason);
}

void TUnattendedFrontEnd::Recovered(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        log_.Line("Recovery: " + line);
    }
}

void TUnattendedFrontEnd::RolledBack(const std::vector<std::string>& lines) {
    log_.Line("Rolled back: the destination is as it was before this run");
    for (const std::string& line : lines) {
        log_.Line("Rolled back: " + line);
    }
}

namespace {

// The mode as the log names it, in the order of TSetupMode.
constexpr const char* kModeNames[] = {"interactive", "silent", "very silent"};

// The user's local application data folder, exactly as the system names it for the user's
// session (kernel32 alone: no library that could come from the setup's folder is loaded for it).
std::string LocalAppDataFolder() {
    const DWORD size = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    std::u16string path(size, u'\0');
    const DWORD length =
        size == 0 ? 0
                  : ::GetEnvironmentVariableW(L"LOCALAPPDATA", reinterpret_cast<wchar_t*>(path.data()), size);
    if (length == 0 || length >= size) {
        throw Exception("The folder of this user's programs cannot be found.");
    }
    path.resize(length);
    const std::optional<std::string> folder = ToAnsiExact(path);
    if (!folder || !IsAbsolutePath(*folder)) {
        throw Exception("The folder of this user's programs has a name that the code page cannot represent.");
    }
    return *folder;
}

// Where the entry goes: the user's key for a run for the user alone, the machine's for /ALLUSERS;
// for an administrator's run without either, the machine's where it may be written, else the user's.
std::optional<TRegistrationScope> RegistrationScopeOf(TInstallScope asked, bool administrator) {
    switch (EffectiveScope(asked, administrator)) {
        case TInstallScope::CurrentUser:
            return TRegistrationScope::User;
        case TInstallScope::AllUsers:
            return asked == TInstallScope::AllUsers ? std::optional(TRegistrationScope::Machine)
                                                    : std::nullopt;
        case TInstallScope::Automatic:
            break;
    }
    return std::nullopt;
}

// The registered installation of scope whose folder an unattended run without /DIR takes, so that
// an upgrade replaces it instead of leaving it behind; else the scope's default folder. A
// registered folder that breaks the rules of /DIR is not used, and the log says so.
std::string UnattendedDestination(TInstallScope scope, TInstallLog& log) {
    const TRegistrationScope registered =
        scope == TInstallScope::CurrentUser ? TRegistrationScope::User : TRegistrationScope::Machine;
    if (const std::optional<std::string> location = RegisteredInstallLocation(registered)) {
        if (const std::optional<std::string> problem =
                DestinationProblem(*location, LongestEmbeddedEntryName())) {
            log.Line("Registered installation not used: " + *location + " " + *problem);
        } else if (!location->empty()) {
            log.Line("Upgrade: the installation registered at " + RegistrationKeyName(registered));
            return *location;
        }
    }
    if (scope == TInstallScope::CurrentUser) {
        return AddTrailingBackslash(LocalAppDataFolder()) + kCurrentUserDestination;
    }
    return kDefaultDestination;
}

int Result(TInstallLog& log, int exitCode) {
    return LogExitCode(log, exitCode,
                       {{kExitInstalled, "installed"}, {kExitBadCommandLine, "bad command line"}});
}

// While it lives, a failure in a message handler (which would open the error box) is kept for the
// run to report instead.
class DispatchedFailures {
  public:
    DispatchedFailures() {
        Application->OnException = [this](const std::exception& error) {
            if (!first_) {
                first_ = TApplication::ExceptionText(error);
            }
        };
    }
    DispatchedFailures(const DispatchedFailures&) = delete;
    DispatchedFailures& operator=(const DispatchedFailures&) = delete;
    ~DispatchedFailures() { Application->OnException = nullptr; }
    const std::optional<std::string>& First() const { return first_; }

  private:
    std::optional<std::string> first_;
};

}  // namespace

size_t LongestEmbeddedEntryName() {
    size_t longest = 0;
    for (const std::string& name : EmbeddedEntryNames()) {
        longest = std::max(longest, name.size());
    }
    return longest;
}

int RunUnattended(const TSetupOptions& options, const std::string& commandLine) {
    std::optional<TInstallLog> log;
    try {
        log.emplace(options.LogFile);
    } catch (const std::exception& error) {
        // Nowhere to say what happens: nothing is installed unseen.
        WriteStandardError("tandrel-setup", error.what());
        return options.Error.empty() ? kExitFailed : kExitBadCommandLine;
    }
    log->Line("Tandrel Setup " TANDREL_VERSION);
    log->Line("Time: " + LocalTimeText());
    log->Line("Command line: " + commandLine);
    if (!options.Error.empty()) {
        WriteStandardError("tandrel-setup", options.Error);
        log->Line("Error: " + options.Error);
        return Result(*log, kExitBadCommandLine);
    }
    log->Line(std::string("Mode: ") + kModeNames[static_cast<int>(options.Mode)]);
    const bool administrator = IsRunningAsAdministrator();
    if (options.Scope == TInstallScope::AllUsers && !administrator) {
        log->Line(
            "Error: /ALLUSERS needs administrator rights: start the setup as an administrator, or use "
            "/CURRENTUSER");
        return Result(*log, kExitNotElevated);
    }
    const TInstallScope scope = EffectiveScope(options.Scope, administrator);
    log->Line(std::string("Scope: ") + (scope == TInstallScope::CurrentUser ? "current user" : "all users"));
    InstallState.RegistrationScope = RegistrationScopeOf(options.Scope, administrator);
    std::string destination = options.Destination;
    if (!options.DestinationGiven) {
        try {
            destination = UnattendedDestination(scope, *log);
        } catch (const std::exception& error) {
            log->Line("Error: " + TApplication::ExceptionText(error));
            return Result(*log, kExitFailed);
        }
    }
    log->Line("Destination: " + destination);
    log->Line(std::string("Backups: ") + (options.Backup ? "yes" : "no"));
    log->Line(std::string("Shortcuts: ") + (options.Shortcuts ? "yes" : "no"));

    const DispatchedFailures dispatched;
    try {
        // A damaged setup file is found before anything else happens.
        CheckEmbeddedArchive(*TCompress(nullptr).LoadArchiveResource("data", ""));
        RunUnitStartups();
        InstallState.DestinationFolder = destination;
        TUnattendedFrontEnd frontEnd(options, *log);
        RunInstallation(frontEnd);
    } catch (const std::exception& error) {
        // The progress window of a failed run is not left to anyone.
        delete frmCopy;
        frmCopy = nullptr;
        log->Line("Error: " + TApplication::ExceptionText(error));
        if (dynamic_cast<const EAnotherRun*>(&error) != nullptr) {
            return Result(*log, kExitAnotherRun);
        }
        if (dynamic_cast<const EFileInUse*>(&error) != nullptr) {
            return Result(*log, kExitFileInUse);
        }
        if (dynamic_cast<const EInsufficientDiskSpace*>(&error) != nullptr) {
            return Result(*log, kExitDiskFull);
        }
        // A step of the run that the drive or another program refused (the journal, a backup, the
        // uninstaller, the record): its own code.
        if (const auto* failed = dynamic_cast<const ETransactionFailed*>(&error); failed != nullptr) {
            return Result(*log, ExitCodeOf(failed->Status));
        }
        return Result(*log, kExitFailed);
    }
    if (dispatched.First()) {
        log->Line("Error: " + *dispatched.First());
        return Result(*log, kExitFailed);
    }
    return Result(*log, kExitInstalled);
}
