#include "app/unattended.h"

#include <windows.h>

#include <exception>
#include <optional>

#include "app/copy_form.h"
#include "app/install_sequence.h"
#include "app/install_state.h"
#include "app/preflight.h"
#include "archive/compress.h"
#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "framework/unit_startup.h"
#include "lifecycle/command_line.h"
#include "lifecycle/install_transaction.h"

void TUnattendedFrontEnd::EntryDone(const std::string& name, bool written, TBackupAction backup) {
    std::string what = written ? "written" : "kept";
    if (backup == TBackupAction::Moved) {
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
    log->Line("Destination: " + options.Destination);
    log->Line(std::string("Backups: ") + (options.Backup ? "yes" : "no"));
    log->Line(std::string("Shortcuts: ") + (options.Shortcuts ? "yes" : "no"));

    const DispatchedFailures dispatched;
    try {
        // A damaged setup file is found before anything else happens.
        CheckEmbeddedArchive(*TCompress(nullptr).LoadArchiveResource("data", ""));
        RunUnitStartups();
        InstallState.DestinationFolder = options.Destination;
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
