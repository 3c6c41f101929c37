// Program entry: framework, the units' start-up steps, the title, the main window, the message
// loop; then the units' shutdown steps in reverse order. The switches of an unattended run (see
// command_line.h) replace the main window and its questions by the same sequence answered from the
// command line.
#include <windows.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_form.h"
#include "app/program_classes.h"
#include "app/unattended.h"
#include "framework/application.h"
#include "framework/unit_startup.h"
#include "shell/ole.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // A drive without a medium fails quietly, so the program's own message is the only one.
    ::SetErrorMode(SEM_FAILCRITICALERRORS);
    const std::string commandLine = ::GetCommandLineA();
    std::vector<std::string> arguments = SplitCommandLine(commandLine);
    if (!arguments.empty()) {
        arguments.erase(arguments.begin());  // the program itself
    }
    const TSetupOptions options = ParseSetupArguments(arguments);
    if (!options.Error.empty()) {
        return RunUnattended(options, commandLine);  // refused before any window opens
    }
    Application->Initialize();
    if (options.Help) {
        if (options.Mode != TSetupMode::VerySilent) {
            ::MessageBoxA(nullptr, SetupUsage().c_str(), "Setup", MB_OK | MB_ICONINFORMATION);
        }
        return 0;
    }
    RegisterProgramClasses();
    // The shell unit: OLE for this thread, released at shutdown.
    RegisterUnitStartup(ShellUnitStartup, ShellUnitShutdown);
    int exitCode = 0;
    if (options.Unattended()) {
        Application->SetTitle("Setup");
        exitCode = RunUnattended(options, commandLine);  // runs the units' start-up steps itself
    } else {
        try {
            RunUnitStartups();
            Application->SetTitle("Setup");
            Application->CreateForm(frmMain);
            Application->Run();
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
