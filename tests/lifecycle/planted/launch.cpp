// Starts a program with exactly the command line it is given, as a launcher or the shell would,
// for tests of what the program makes of it:
//     launch SECONDS COMMANDLINE            waits for the program to end; exit code: the program's
//                                           (124 when SECONDS pass first: the program is ended)
//     launch --window SECONDS COMMANDLINE   waits for a visible top-level window of the program;
//                                           prints "<class>|<caption>", ends the program, exit 0;
//                                           1 when the program ends first, 2 when SECONDS pass
// COMMANDLINE goes to CreateProcessW without a program name, so an unquoted path with blanks is
// resolved as the system does it; \u{XXXX} in it stands for that character (a full-width quotation
// mark, a line feed). Exit code 3 when the program cannot be started or the arguments are wrong.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::wstring Unescape(const char* text) {
    std::wstring wide;
    for (const char* p = text; *p != '\0'; ++p) {
        if (std::strncmp(p, "\\u{", 3) == 0) {
            char* end = nullptr;
            const unsigned long code = std::strtoul(p + 3, &end, 16);
            if (end != nullptr && *end == '}' && code <= 0xFFFF) {
                wide += static_cast<wchar_t>(code);
                p = end;
                continue;
            }
        }
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    return wide;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && ::IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const bool window = argc == 4 && std::strcmp(argv[1], "--window") == 0;
    if (argc != (window ? 4 : 3)) {
        std::fprintf(stderr, "usage: launch [--window] SECONDS COMMANDLINE\n");
        return 3;
    }
    const DWORD limit = static_cast<DWORD>(std::atoi(argv[window ? 2 : 1])) * 1000;
    std::wstring commandLine = Unescape(argv[window ? 3 : 2]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        std::fprintf(stderr, "launch: cannot start the program (error %lu)\n", ::GetLastError());
        return 3;
    }
    ::CloseHandle(process.hThread);
    int result = 0;
    if (!window) {
        if (::WaitForSingleObject(process.hProcess, limit) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.hProcess, 124);
            result = 124;
        } else {
            DWORD code = 0;
            ::GetExitCodeProcess(process.hProcess, &code);
            result = static_cast<int>(code);
        }
    } else {
        result = 2;
        const ULONGLONG end = ::GetTickCount64() + limit;
        while (::GetTickCount64() < end) {
            WindowSearch search{process.dwProcessId, nullptr};
            ::EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
            if (search.found != nullptr) {
                char className[256] = {};
                char caption[256] = {};
                ::GetClassNameA(search.found, className, sizeof className);
                ::GetWindowTextA(search.found, caption, sizeof caption);
                std::printf("%s|%s\n", className, caption);
                ::TerminateProcess(process.hProcess, 0);
                result = 0;
                break;
            }
            if (::WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) {
                DWORD code = 0;
                ::GetExitCodeProcess(process.hProcess, &code);
                std::printf("ended %lu\n", code);
                result = 1;
                break;
            }
        }
        if (result == 2) {
            ::TerminateProcess(process.hProcess, 0);
        }
    }
    ::WaitForSingleObject(process.hProcess, 5000);
    ::CloseHandle(process.hProcess);
    return result;
}
