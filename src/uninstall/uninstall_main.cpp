// Program entry of the uninstaller. Started from the installation's folder (by the list of
// installed programs, a package manager or the user), it checks the command line and the record
// beside it, then runs the removal from a copy of itself in the temporary folder and returns that
// copy's exit code. The copy (started with /ORIGINAL) does the removal.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/layout.h"
#include "framework/sysutils.h"
#include "lifecycle/command_line_win32.h"
#include "lifecycle/elevation_win32.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/folder_security.h"
#include "lifecycle/install_transaction.h"
#include "lifecycle/registration.h"
#include "lifecycle/removal_plan.h"
#include "lifecycle/safe_files.h"
#include "lifecycle/safe_library.h"
#include "lifecycle/stale_removals.h"
#include "lifecycle/uninstall_options.h"
#include "uninstall/front_ends.h"
#include "uninstall/removal.h"
#include "uninstall/self_copy.h"
#include "widgets/gauges.h"

namespace {

std::string FullPath(const std::string& path) {
    char full[MAX_PATH + 1] = {};
    const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length == 0 || length >= sizeof full ? path : std::string(full);
}

// Whether the uninstaller's folder is a per-user installation: the current user's entry names it
// and the machine's does not. Either entry can be missing or unreadable; only this one answer
// spares the elevation prompt.
bool IsPerUserInstallation() {
    try {
        const std::string folder = WithoutTrailingBackslash(ExtractFilePath(OwnProgramPath()));
        const std::optional<std::string> user = RegisteredInstallLocation(TRegistrationScope::User);
        const std::optional<std::string> machine = RegisteredInstallLocation(TRegistrationScope::Machine);
        return user && SameFolder(*user, folder) && !(machine && SameFolder(*machine, folder));
    } catch (const std::exception&) {
        return false;
    }
}

// Runs the front end of the mode with its log (when asked for) around run, and returns its code.
template <typename Run>
int WithFrontEnd(const TUninstallOptions& options, const std::string& commandLine, Run run) {
    std::optional<TRemovalLog> log;
    try {
        log.emplace(options.LogFile);
    } catch (const std::exception& error) {
        // Nowhere to say what happens: nothing is removed unseen.
        WriteStandardError("Uninstall", error.what());
        return kExitRemoveFailed;
    }
    LogHeading(*log, commandLine, options.Mode);
    int exitCode = kExitRemoveFailed;
    {
        TInteractiveRemoval interactive;
        TUnattendedRemoval unattended(options.Mode, *log);
        TRemovalFrontEnd& frontEnd = options.Unattended() ? static_cast<TRemovalFrontEnd&>(unattended)
                                                          : static_cast<TRemovalFrontEnd&>(interactive);
        exitCode = run(frontEnd);
    }
    return LogResult(*log, exitCode);
}

// The program in the installation's folder: the record checked here, the removal run by the copy,
// which writes the log; this program writes it only when it ends by itself.
int RunOriginal(TOwnProgramFile& own, TUninstallOptions options, const std::string& commandLine) {
    // What earlier removals left in the temporary folder and is no longer in use goes first.
    RemoveStaleRemovalFolders();
    std::string folder;
    std::string failure;
    int failureCode = kExitBadRecord;
    try {
        folder = WithoutTrailingBackslash(ExtractFilePath(OwnProgramPath()));
        // A setup or removal of this installation that is running holds its lock: this one changes
        // nothing and says so. Held from here on, the lock passes to the copy for the removal.
        TInstallationLock lock(folder);
        if (!lock.Held()) {
            failure = lock.Failure();
            failureCode = lock.Busy() ? kExitRemoveBusy : kExitBadRecord;
            throw EAnotherRun(failure);
        }
        {
            // The folder is judged before its record is read.
            std::optional<TSafeFolder> held;
            try {
                held.emplace(folder);
            } catch (const EUnsafePath& error) {
                throw EBadRecord(error.what());
            }
            if (std::string untrusted = UntrustedInstallation(*held, {kUninstallerName, kRecordName});
                !untrusted.empty()) {
                failure = untrusted + ". Nothing has been removed.";
                throw EAnotherRun(failure);
            }
            ReadInstallationRecord(*held);
        }
        // The copy runs in another folder: a relative log name means the same file to both.
        if (!options.LogFile.empty()) {
            options.LogFile = FullPath(options.LogFile);
        }
        return RunFromTemporaryCopy(own, options, folder, lock);
    } catch (const ESelfCopyFailed& error) {
        failure = "The uninstaller could not be copied to run the removal: " + std::string(error.what()) +
                  ". Nothing has been removed.";
        failureCode = kExitRemoveFailed;
    } catch (const EAnotherRun&) {
        // failure and failureCode say it already.
    } catch (const std::exception& error) {
        failure = error.what();
    }
    return WithFrontEnd(options, commandLine, [&](TRemovalFrontEnd& frontEnd) {
        frontEnd.Failed(failure);
        return failureCode;
    });
}

// The copy in the temporary folder: the removal of the installation in options.Original.
int RunCopy(const TUninstallOptions& options, const std::string& commandLine) {
    std::string parking;
    try {
        const std::string own = WithoutTrailingBackslash(ExtractFilePath(OwnProgramPath()));
        // The waiting uninstaller is only moved into a folder that is this run's own.
        if (IsTemporaryCopyFolder(own)) {
            parking = own;
        }
    } catch (const std::exception&) {
    }
    // The lock handed over is held from this program's start on: nothing else may run meanwhile.
    FaultPoint("the copy started");
    return WithFrontEnd(options, commandLine, [&](TRemovalFrontEnd& frontEnd) {
        return RunRemoval(WithoutTrailingBackslash(options.Original), parking, frontEnd, options.Lock);
    });
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SetSafeLibrarySearchOrder();
    // The program's own file, held from the start: the copy that runs the removal is made from it.
    TOwnProgramFile own;
    // A drive without a medium fails quietly, so the program's own message is the only one.
    ::SetErrorMode(SEM_FAILCRITICALERRORS);
    // The whole command line is read and checked before anything is touched, the log included.
    const std::u16string wideCommandLine = ProcessCommandLine();
    const TSwitchList switches = ReadSwitches(wideCommandLine, ToAnsiExact);
    TUninstallOptions options = ParseUninstallArguments(switches.Switches);
    if (!switches.Error.empty()) {
        options.Error = switches.Error;
    }
    if (!options.Error.empty()) {
        RefuseCommandLine("Uninstall", "Tandrel Uninstall", options.Error, UninstallUsage(),
                          ShowsRefusal(switches.Switches));
        return kExitBadRecord;
    }
    // An administrator's limited token: the removal of anything but a per-user installation starts
    // itself again through the elevation prompt and ends with that run's code (its copy in the
    // temporary folder inherits the rights). Nothing has been touched yet.
    if (options.Original.empty() &&
        RestartsElevated(ProcessTokenElevation(), !IsPerUserInstallation(), options.Restarted)) {
        // Held until the restarted run has started from it; then let go, since that run's copy
        // moves this program's file out of the folder.
        return RestartElevated("Uninstall", kExitDeclined, kExitRemoveFailed, [&own] { own.Release(); });
    }
    const std::string commandLine = CommandLineForLog(wideCommandLine, ToAnsiExact);
    // The framework's start concerns windows (their scaling): a very silent run shows none, and
    // spares the start-up of the window system's libraries.
    if (options.Mode != TUninstallMode::VerySilent) {
        Application->Initialize();
    }
    Application->SetTitle("Tandrel Uninstall");
    RegisterComponentClass<TGauge>("TGauge");
    // No OLE for this thread: nothing here needs it (a shortcut's target is read with COM started
    // for that read alone), and its start would be most of a run's own start-up.
    if (!options.Original.empty()) {
        own.Release();
    }
    const int exitCode =
        options.Original.empty() ? RunOriginal(own, options, commandLine) : RunCopy(options, commandLine);
    Application->DestroyForms();
    return exitCode;
}
