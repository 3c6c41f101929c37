#include "lifecycle/run_log.h"

#include <windows.h>

#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "lifecycle/command_line.h"

TRunLog::TRunLog(const std::string& path) {
    if (path.empty()) {
        return;
    }
    file_.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        throw EFCreateError(Format(msg::kCreateError, path.c_str()));
    }
}

void TRunLog::Line(const std::string& text) {
    if (!file_) {
        return;
    }
    const std::string line = EscapeControlCharacters(text) + "\r\n";
    DWORD written = 0;
    ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string LocalTimeText() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return Format("%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                  now.wSecond);
}

void WriteStandardError(const std::string& program, const std::string& text) {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string line = program + ": " + text + "\r\n";
    DWORD written = 0;
    ::WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int LogExitCode(TRunLog& log, int exitCode, std::initializer_list<TExitMeaning> meanings) {
    // The codes that the setup and the uninstaller share, for deployment tools.
    static constexpr TExitMeaning kShared[] = {
        {5, "a file is in use"}, {6, "not enough disk space"}, {7, "another setup or removal is running"}};
    const char* what = "failed";
    for (const TExitMeaning& meaning : kShared) {
        what = meaning.Code == exitCode ? meaning.What : what;
    }
    for (const TExitMeaning& meaning : meanings) {
        what = meaning.Code == exitCode ? meaning.What : what;
    }
    log.Line(Format("Result: %s (exit code %d)", what, exitCode));
    return exitCode;
}
