// Shows the uninstaller's progress window at one step for a while, so that a script can take its
// screenshot (a real removal passes too quickly to catch it):
//     progress_window.exe NAME PERCENT SECONDS
#include <windows.h>

#include <cstdlib>

#include "framework/application.h"
#include "framework/layout.h"
#include "uninstall/remove_form.h"
#include "widgets/gauges.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        return 2;
    }
    Application->Initialize();
    RegisterComponentClass<TGauge>("TGauge");
    TfrmRemove* form = nullptr;
    Application->CreateForm(form);
    // Borderless, so the caption shows nowhere; it lets the script find the window.
    form->SetCaption("Uninstall progress");
    form->Show();
    form->ShowStep(argv[1], std::atoi(argv[2]));
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(std::atoi(argv[3])) * 1000;
    while (::GetTickCount64() < end) {
        Application->ProcessMessages();
        ::Sleep(50);
    }
    Application->DestroyForms();
    return 0;
}
