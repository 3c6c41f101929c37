// Program entry: framework, the units' start-up steps, the title, the main window, the message
// loop; then the units' shutdown steps in reverse order.
#include <windows.h>

#include "application.h"
#include "main_form.h"
#include "ole.h"
#include "program_classes.h"
#include "unit_startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Application->Initialize();
    RegisterProgramClasses();
    // The shell unit: OLE for this thread, released at shutdown.
    RegisterUnitStartup(ShellUnitStartup, ShellUnitShutdown);
    int exitCode = 0;
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
    Application->DestroyForms();
    frmMain = nullptr;
    RunUnitShutdowns();
    return exitCode;
}
