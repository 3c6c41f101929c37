// Program entry: framework, the units' start-up steps, the title, the main window, the message
// loop; then the units' shutdown steps in reverse order. The switches of an unattended run (see
// setup_command_line.h) replace the main window and its questions by the same sequence answered
// from the command line.
#include <windows.h>

#include <exception>
#include <string>

#include "app/install_sequence.h"
#include "app/install_state.h"
#include "app/main_form.h"
#include "app/program_classes.h"
#include "app/unattended.h"
#include "framework/application.h"
#include "framework/unit_startup.h"
#include "lifecycle/command_line_win32.h"
#include "lifecycle/elevation_win32.h"
#include "lifecycle/safe_library.h"
#include "lifecycle/setup_command_line.h"
#include "lifecycle/stale_removals.h"
#include "shell/ole.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything can load a library: none comes from the setup's own folder (a Downloads
    // folder, say) or the current one.
    SetSafeLibrarySearchOrder();
    // A drive without a medium fails quietly, so the program's own message is the only one.
    ::SetErrorMode(SEM_FAILCRITICALERRORS);
    // The whole command line is read and checked before anything is touched, the log included.
    const std::u16string commandLine = ProcessCommandLine();
    const TSwitchList switches = ReadSwitches(commandLine, ToAnsiExact);
    TSetupOptions options = ParseSetupArguments(switches.Switches, LongestEmbeddedEntryName());
    if (!switches.Error.empty()) {
        options.Error = switches.Error;
    }
    if (!options.Error.empty()) {
        if (options.LogsRefusal && switches.Error.empty()) {
            // Whoever asked for a log reads there which switch was not understood; the run logs
            // the refusal and ends with kExitBadCommandLine before anything else is touched.
            return RunUnattended(options, CommandLineForLog(commandLine, ToAnsiExact));
        }
        RefuseCommandLine("tandrel-setup", "Setup", options.Error, SetupUsage(),
                          ShowsRefusal(switches.Switches));
        return kExitBadCommandLine;
    }
    // An administrator's limited token: a run that may need the machine starts itself again through
    // the elevation prompt and ends with that run's code. Nothing has been touched yet.
    if (!options.Help &&
        RestartsElevated(ProcessTokenElevation(), options.NeedsMachine(), options.Restarted)) {
        return RestartElevated("tandrel-setup", kExitElevationDeclined, kExitFailed);
    }
    Application->Initialize();
    if (options.Help) {
        if (options.Mode != TSetupMode::VerySilent) {
            ::MessageBoxA(nullptr, SetupUsage().c_str(), "Setup", MB_OK | MB_ICONINFORMATION);
        }
        return 0;
    }
    // What earlier removals left in the temporary folder goes, without a word.
    RemoveStaleRemovalFolders();
    RegisterProgramClasses();
    // The shell unit: OLE for this thread, released at shutdown.
    RegisterUnitStartup(ShellUnitStartup, ShellUnitShutdown);
    int exitCode = 0;
    if (options.Unattended()) {
        Application->SetTitle("Setup");
        // runs the units' start-up steps itself
        exitCode = RunUnattended(options, CommandLineForLog(commandLine, ToAnsiExact));
    } else {
        try {
            RunUnitStartups();
            Application->SetTitle("Setup");
            Application->CreateForm(frmMain);
            Application->Run();
            if (InstallState.Failed) {
                exitCode = kExitFailed;
            }
        } catch (const std::exception& error) {
            // Only the start-up itself can get here (handlers' exceptions stop in the loop): the
            // program cannot run, which its exit code says.
            Application->HandleException(error);
            exitCode = 1;
        }
    }
    Application->DestroyForms();
    frmMain = nullptr;
    RunUnitShutdowns();
    return exitCode;
}
