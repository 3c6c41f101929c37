#include "app/destination_access.h"

#include <windows.h>

#include <algorithm>

#include "framework/file_stream.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/command_line_win32.h"
#include "widgets/folders.h"

namespace {

// A name that no other run uses at the same moment.
std::string ProbeName() {
    return Format("~tandrel-write-check-%lu-%lu.tmp", ::GetCurrentProcessId(), ::GetTickCount());
}

// The full form of folder, or folder as it stands when the system cannot make one.
std::string FullPath(const std::string& folder) {
    std::string full(32768, '\0');  // the longest path the system takes
    const DWORD length = ::GetFullPathNameA(folder.empty() ? "." : folder.c_str(),
                                            static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        return folder;
    }
    full.resize(length);
    return full;
}

// The folder above path: everything before its last "\", or nothing at a root.
std::optional<std::string> Parent(const std::string& path) {
    const std::string trimmed =
        path.size() > 3 && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
    const size_t cut = trimmed.find_last_of('\\');
    if (cut == std::string::npos || cut + 1 >= trimmed.size()) {
        return std::nullopt;
    }
    // C:\a gives C:\, keeping the root's backslash.
    return trimmed.substr(0, cut > 2 || trimmed[1] != ':' ? cut : cut + 1);
}

}  // namespace

std::optional<std::string> ExactWindowText(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::u16string text(static_cast<size_t>(std::max(length, 0)) + 1, u'\0');
    const int copied = ::GetWindowTextW(window, reinterpret_cast<wchar_t*>(text.data()), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return ToAnsiExact(text);
}

size_t FullFolderLength(const std::string& folder) {
    const std::string full = FullPath(folder);
    return full.size() > 3 && full.back() == '\\' ? full.size() - 1 : full.size();
}

std::optional<std::string> DestinationWriteProblem(const std::string& folder) {
    const std::string full = FullPath(folder);
    std::optional<std::string> existing = full;
    while (existing && !FolderExists(*existing)) {
        existing = Parent(*existing);
    }
    if (!existing) {
        return std::nullopt;  // no folder of it exists: the installation says what it cannot make
    }
    const std::string probe = AddTrailingBackslash(*existing) + ProbeName();
    DWORD error = ERROR_SUCCESS;
    if (*existing == full) {
        const UniqueFileHandle file(::CreateFileA(
            probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        error = file ? ERROR_SUCCESS : ::GetLastError();
    } else if (::CreateDirectoryA(probe.c_str(), nullptr)) {
        ::RemoveDirectoryA(probe.c_str());
    } else {
        error = ::GetLastError();
    }
    if (error == ERROR_SUCCESS) {
        return std::nullopt;
    }
    return Format(kDestinationNotWritable, full.c_str(), SystemErrorText(error).c_str());
}
