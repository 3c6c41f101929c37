// Linked into the test builds of the setup and the uninstaller only: stops the program, or changes
// the world around it, at a chosen one of the points where it changes an installation, so that an
// interruption can be tried at every step, deterministically. Read from the environment:
//   TANDREL_FAULT_LOG=file   every point reached is appended to file, a line each
//   TANDREL_FAULT_AT=K       at the K-th point (1 for the first) ...
//   TANDREL_FAULT_FILL=file  ... the drive of file is filled up (file grows until the drive is
//                            full), and the program goes on; otherwise
//   TANDREL_FAULT_WAIT=file  ... the program waits (at most two minutes) until file exists, then
//                            goes on; otherwise
//                            ... the process ends at once, as a kill would end it (exit code 99).
//   TANDREL_OPEN_LOG=file    every point where a checked path is about to be opened is appended
//                            to file, a line each;
//   TANDREL_OPEN_AT=K        at the K-th of those, the program waits until TANDREL_FAULT_WAIT
//                            exists (at most two minutes);
//   TANDREL_LISTED_LOG=file  every item that the clean-up of the temporary folder has listed and
//                            is about to open by its path is appended to file, "K path" a line;
//   TANDREL_LISTED_AT=K      at the K-th of those, the program waits until TANDREL_FAULT_WAIT
//                            exists (at most two minutes);
//   TANDREL_LISTED_NAME=text only the items whose path holds text count (the order in which the
//                            temporary folder lists its folders is not fixed);
//   TANDREL_FAULT_SHORT=K    the K-th new file that the setup expands (1 for the first) loses its
//                            last byte once written, with no error, before the setup checks it.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lifecycle/fault_point.h"

namespace {

int point = 0;

std::string Variable(const char* name) {
    char value[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length == 0 || length >= sizeof value ? std::string() : std::string(value);
}

void Append(const std::string& file, const std::string& line) {
    const HANDLE log = ::CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        ::WriteFile(log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        ::CloseHandle(log);
    }
}

void Fill(const std::string& file) {
    const HANDLE filler =
        ::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (filler == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::vector<char> block(64 * 1024, 'f');
    for (size_t size = block.size(); size > 0;) {
        DWORD written = 0;
        if (!::WriteFile(filler, block.data(), static_cast<DWORD>(size), &written, nullptr) ||
            written < size) {
            size /= 2;  // the last few bytes too
        }
    }
    ::FlushFileBuffers(filler);
    ::CloseHandle(filler);
}

// Waits (at most two minutes) until the file wait exists.
void WaitFor(const std::string& wait) {
    for (int tick = 0; tick < 1200 && ::GetFileAttributesA(wait.c_str()) == INVALID_FILE_ATTRIBUTES; ++tick) {
        ::Sleep(100);
    }
}

// Counts the points of one kind, logs each to the file that logVariable names, and waits at the
// one that atVariable names.
void WaitingPoint(int& count, const char* logVariable, const char* atVariable, const char* what) {
    ++count;
    const std::string log = Variable(logVariable);
    if (!log.empty()) {
        Append(log, std::to_string(count) + " " + what);
    }
    if (count == std::atoi(Variable(atVariable).c_str())) {
        WaitFor(Variable("TANDREL_FAULT_WAIT"));
    }
}

int opening = 0;
int listed = 0;

void Opening(const char* what) {
    WaitingPoint(opening, "TANDREL_OPEN_LOG", "TANDREL_OPEN_AT", what);
}

void Listed(const char* path) {
    const std::string only = Variable("TANDREL_LISTED_NAME");
    if (!only.empty() && std::string(path).find(only) == std::string::npos) {
        return;
    }
    WaitingPoint(listed, "TANDREL_LISTED_LOG", "TANDREL_LISTED_AT", path);
}

void Stop(const char* what) {
    ++point;
    const std::string log = Variable("TANDREL_FAULT_LOG");
    if (!log.empty()) {
        Append(log, std::to_string(point) + " " + what);
    }
    if (point != std::atoi(Variable("TANDREL_FAULT_AT").c_str())) {
        return;
    }
    const std::string fill = Variable("TANDREL_FAULT_FILL");
    const std::string wait = Variable("TANDREL_FAULT_WAIT");
    if (!fill.empty()) {
        Fill(fill);
    } else if (!wait.empty()) {
        WaitFor(wait);
    } else {
        ::TerminateProcess(::GetCurrentProcess(), 99);
    }
}

int written = 0;

void Shorten(void* file) {
    ++written;
    if (written != std::atoi(Variable("TANDREL_FAULT_SHORT").c_str())) {
        return;
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        size.QuadPart -= 1;
        ::SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file);
    }
}

const bool installed = [] {
    FaultHook = Stop;
    WrittenHook = Shorten;
    OpenHook = Opening;
    ListedHook = Listed;
    return true;
}();

}  // namespace
