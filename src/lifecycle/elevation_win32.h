// The token of the process, and its restart through the elevation prompt (see elevation.h).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "lifecycle/elevation.h"

// The shipped programs leave it empty and ask Windows. The test builds set it to answer for a
// token that Wine cannot give (its processes all hold the full one), so that the restart can be
// tried there.
using TElevationProbe = TTokenElevation (*)();
extern TElevationProbe ElevationProbe;

// The elevation type of the process's token; Default when it cannot be read (no restart then).
TTokenElevation ProcessTokenElevation();

struct TElevatedRun {
    bool Ran = false;  // the elevated run started and ended: ExitCode is its code
    DWORD ExitCode = 0;
    DWORD Error = 0;  // why it did not: ERROR_CANCELLED when the prompt was refused
};

// Starts program (a full path) with parameters through the elevation prompt, in the current
// folder, calls started once the run has started (its program file is in use then), waits for it
// to end and gives its exit code.
TElevatedRun RunElevatedAndWait(const std::wstring& program,
                                const std::u16string& parameters,
                                const std::function<void()>& started = {});

// The exit code to end with after run: the elevated run's; declinedCode when the prompt was
// refused; failedCode when the run could not be started.
int RestartExitCode(const TElevatedRun& run, int declinedCode, int failedCode);

// Restarts the process elevated with its own command line and the restart switch (started as
// above), waits, and gives the exit code to end with: the elevated run's; declinedCode when the
// prompt was refused; failedCode when the run could not be started, which "<program>: ..." says on
// the standard error.
int RestartElevated(const char* program,
                    int declinedCode,
                    int failedCode,
                    const std::function<void()>& started = {});
