// Starts a program with exactly the command line it is given, as a launcher or the shell would,
// for tests of what the program makes of it:
//     launch [--app PROGRAM] SECONDS COMMANDLINE
//         waits for the program to end; exit code: the program's (124 when SECONDS pass first: the
//         program is ended)
//     launch --window [--app PROGRAM] SECONDS COMMANDLINE
//         waits for a visible top-level window of the program; prints "<class>|<caption>", ends the
//         program, exit 0; 1 when the program ends first, 2 when SECONDS pass
// COMMANDLINE goes to CreateProcessW as it stands, with PROGRAM as the program's name when given
// (so that a command line holding the program's path unquoted reaches it so), else none; \u{XXXX}
// in either stands for that character (a full-width quotation mark, a line feed). Exit code 3 when
// the program cannot be started or the arguments are wrong.
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
    int next = 1;
    const bool window = next < argc && std::strcmp(argv[next], "--window") == 0;
    if (window) {
        ++next;
    }
    const char* application = nullptr;
    if (next + 1 < argc && std::strcmp(argv[next], "--app") == 0) {
        application = argv[next + 1];
        next += 2;
    }
    if (argc != next + 2) {
        std::fprintf(stderr, "usage: launch [--window] [--app PROGRAM] SECONDS COMMANDLINE\n");
        return 3;
    }
    const DWORD limit = static_cast<DWORD>(std::atoi(argv[next])) * 1000;
    std::wstring commandLine = Unescape(argv[next + 1]);
    const std::wstring applicationName = application != nullptr ? Unescape(application) : std::wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(application != nullptr ? applicationName.c_str() : nullptr, commandLine.data(),
                          nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
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
