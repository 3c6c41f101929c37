#include "lifecycle/elevation_win32.h"

#include <shellapi.h>

#include <vector>

#include "framework/unique_handle.h"
#include "lifecycle/command_line_win32.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/run_log.h"
#include "lifecycle/safe_library.h"

TElevationProbe ElevationProbe = nullptr;

namespace {

// The process's own program file, whatever its length.
std::wstring OwnProgramPathWide() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring CurrentFolder() {
    const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(size, L'\0');
    const DWORD length = size == 0 ? 0 : ::GetCurrentDirectoryW(size, folder.data());
    folder.resize(length < size ? length : 0);
    return folder;
}

}  // namespace

TTokenElevation ProcessTokenElevation() {
    if (ElevationProbe != nullptr) {
        return ElevationProbe();
    }
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return TTokenElevation::Default;
    }
    const UniqueKernelHandle owned(token);
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size)) {
        return TTokenElevation::Default;
    }
    if (type == TokenElevationTypeFull) {
        return TTokenElevation::Full;
    }
    return type == TokenElevationTypeLimited ? TTokenElevation::Limited : TTokenElevation::Default;
}

TElevatedRun RunElevatedAndWait(const std::wstring& program,
                                const std::u16string& parameters,
                                const std::function<void()>& started) {
    const std::wstring wideParameters(parameters.begin(), parameters.end());
    const std::wstring folder = CurrentFolder();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The process handle to wait on; no box of the shell's own: the caller reports.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = wideParameters.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    TElevatedRun run;
    // At run time from the system folder: a static import would load the shell's libraries before
    // the library search is restricted, and could bring one from the program's folder.
    using ShellExecuteFunction = decltype(&::ShellExecuteExW);
    const HMODULE shell = LoadSystemLibrary("shell32.dll");
    const auto shellExecute = shell == nullptr
                                  ? nullptr
                                  : reinterpret_cast<ShellExecuteFunction>(
                                        reinterpret_cast<void*>(::GetProcAddress(shell, "ShellExecuteExW")));
    if (shellExecute == nullptr) {
        run.Error = ::GetLastError();
        return run;
    }
    if (!shellExecute(&info)) {
        run.Error = ::GetLastError();
        return run;
    }
    if (info.hProcess == nullptr) {
        run.Error = ERROR_INVALID_HANDLE;  // started through something that gives no process
        return run;
    }
    const UniqueKernelHandle process(info.hProcess);
    if (started) {
        started();
    }
    // The restarted run may remove the folder this one was started in (the uninstaller, started
    // from inside the installation), and a process's current folder cannot be removed: this one
    // waits in the system folder.
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        ::SetCurrentDirectoryW(system);
    }
    if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.get(), &run.ExitCode)) {
        run.Error = ::GetLastError();
        return run;
    }
    run.Ran = true;
    return run;
}

int RestartExitCode(const TElevatedRun& run, int declinedCode, int failedCode) {
    if (run.Ran) {
        return static_cast<int>(run.ExitCode);
    }
    return run.Error == ERROR_CANCELLED ? declinedCode : failedCode;
}

int RestartElevated(const char* program,
                    int declinedCode,
                    int failedCode,
                    const std::function<void()>& started) {
    FaultPoint("restart elevated");
    const std::wstring own = OwnProgramPathWide();
    const TElevatedRun run = own.empty()
                                 ? TElevatedRun{false, 0, ::GetLastError()}
                                 : RunElevatedAndWait(own, RestartArguments(ProcessCommandLine()), started);
    if (!run.Ran) {
        WriteStandardError(program, run.Error == ERROR_CANCELLED
                                        ? "the administrator rights asked for were refused; nothing changed"
                                        : "could not start with administrator rights (error " +
                                              std::to_string(run.Error) + "); nothing changed");
    }
    return RestartExitCode(run, declinedCode, failedCode);
}
