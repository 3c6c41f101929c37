// OLE for the user-interface thread, and the error raised when a shell or COM call fails.
#pragma once

#include <windows.h>

#include "framework/exceptions.h"

// A failed OLE call; the message names its result code and the thread's last-error code.
TANDREL_DECLARE_EXCEPTION(EShellOleError, Exception);

// Returns when result is 0 (S_OK); any other code, success codes such as S_FALSE included, raises
// EShellOleError "OLE function call failed. HResult is $<code>. GetLastError is $<error>" with both
// numbers in upper-case hexadecimal. The last-error code is taken before anything else runs.
void CheckOleResult(HRESULT result);

// Initialises OLE for the calling thread for the object's lifetime. The result of the
// initialisation is only kept to balance it: OleUninitialize runs at destruction only when the
// start succeeded, S_FALSE (already initialised on this thread) included, since every successful
// start must be matched by one uninitialisation and a failed one must not be.
class OleSession {
  public:
    OleSession() noexcept;
    OleSession(const OleSession&) = delete;
    OleSession& operator=(const OleSession&) = delete;
    ~OleSession();

    HRESULT StartResult() const noexcept { return startResult_; }
    bool Initialized() const noexcept { return SUCCEEDED(startResult_); }

  private:
    HRESULT startResult_;
};

// The unit's start-up and shutdown steps. ShellUnitStartup initialises OLE for the calling thread
// (the user-interface thread) and raises nothing; ShellUnitShutdown uninitialises it if the start
// succeeded. Register the shutdown step before running the start-up step; a second start-up
// without a shutdown in between, or a shutdown without a start-up, does nothing.
void ShellUnitStartup() noexcept;
void ShellUnitShutdown() noexcept;
