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

TInstallLog::TInstallLog(const std::string& path) {
    if (path.empty()) {
        return;
    }
    file_.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        throw EFCreateError(Format(msg::kCreateError, path.c_str()));
    }
}

void TInstallLog::Line(const std::string& text) {
    if (!file_) {
        return;
    }
    // One line per call whatever the text holds: a control character in a path or a message
    // cannot end the line early and forge the next one.
    const std::string line = EscapeControlCharacters(text) + "\r\n";
    DWORD written = 0;
    // A log that cannot be written any more does not stop the installation it describes.
    ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

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
    // The files are installed all the same: the run goes on and its exit code stays.
    log_.Line("Registration failed: " + reason);
}

namespace {

std::string LocalTimeText() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return Format("%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                  now.wSecond);
}

// The mode as the log names it, in the order of TSetupMode.
constexpr const char* kModeNames[] = {"interactive", "silent", "very silent"};

// Tells whoever started the program from a console or a script; a program without a standard
// error handle says nothing.
void WriteStandardError(const std::string& text) {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string line = "tandrel-setup: " + text + "\r\n";
    DWORD written = 0;
    ::WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int Result(TInstallLog& log, int exitCode) {
    const char* what = exitCode == kExitInstalled        ? "installed"
                       : exitCode == kExitBadCommandLine ? "bad command line"
                                                         : "failed";
    log.Line(Format("Result: %s (exit code %d)", what, exitCode));
    return exitCode;
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
        WriteStandardError(error.what());
        return options.Error.empty() ? kExitFailed : kExitBadCommandLine;
    }
    log->Line("Tandrel Setup " TANDREL_VERSION);
    log->Line("Time: " + LocalTimeText());
    log->Line("Command line: " + commandLine);
    if (!options.Error.empty()) {
        WriteStandardError(options.Error);
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
        return Result(*log, kExitFailed);
    }
    if (dispatched.First()) {
        log->Line("Error: " + *dispatched.First());
        return Result(*log, kExitFailed);
    }
    return Result(*log, kExitInstalled);
}
