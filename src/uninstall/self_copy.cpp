#include "uninstall/self_copy.h"

#include <windows.h>

#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/install_record.h"
#include "lifecycle/removal_plan.h"
#include "uninstall/removal.h"

namespace {

constexpr const char kFolderPrefix[] = "Tandrel-Uninstall-";

std::string TemporaryFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof path, path);
    if (length == 0 || length >= sizeof path) {
        throw ESelfCopyFailed("The temporary folder is not known");
    }
    return WithoutTrailingBackslash(path);
}

// A new folder of this run's own: CreateDirectory fails for a name that exists, so a folder
// somebody else made (or prepared) is never used.
std::string MakeOwnFolder(const std::string& temporary) {
    const uint64_t tick = ::GetTickCount64();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string folder =
            AddTrailingBackslash(temporary) + kFolderPrefix +
            Format("%lx-%llx-%u", ::GetCurrentProcessId(), static_cast<unsigned long long>(tick), attempt);
        if (::CreateDirectoryA(folder.c_str(), nullptr)) {
            return folder;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            throw ESelfCopyFailed(
                Format("Cannot create the folder %s (error %lu)", folder.c_str(), ::GetLastError()));
        }
    }
    throw ESelfCopyFailed("Cannot create a folder of its own in " + temporary);
}

// Deletes path, retrying briefly: a program's file can be deleted only once the system has let go
// of its image, which may take a moment after the process ended.
bool DeleteSoon(const std::string& path) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (::DeleteFileA(path.c_str()) || ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        ::Sleep(50);
    }
    return false;
}

// Removes what the copy's folder holds (the copy and, moved there by it, this program's own file,
// which cannot go while this program runs) and the folder; what cannot go now goes at the next
// restart, files before the folder.
void RemoveOwnFolder(const std::string& folder) {
    const std::string copy = AddTrailingBackslash(folder) + kUninstallerName;
    const std::string parked = AddTrailingBackslash(folder) + kParkedUninstallerName;
    bool empty = true;
    if (!DeleteSoon(copy)) {
        ::MoveFileExA(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        empty = false;
    }
    // This program's own file, while it runs: no waiting for it.
    if (!::DeleteFileA(parked.c_str()) && ::GetFileAttributesA(parked.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ::MoveFileExA(parked.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        empty = false;
    }
    if (!empty || !::RemoveDirectoryA(folder.c_str())) {
        ::MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

}  // namespace

std::string OwnProgramPath() {
    std::string path(MAX_PATH, '\0');
    while (true) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            throw ESelfCopyFailed("The program's own path is not known");
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) {
            throw ESelfCopyFailed("The program's own path is too long");
        }
        path.resize(path.size() * 2);
    }
}

bool IsTemporaryCopyFolder(const std::string& folder) {
    std::string temporary;
    try {
        temporary = TemporaryFolder();
    } catch (const ESelfCopyFailed&) {
        return false;
    }
    const std::string own = WithoutTrailingBackslash(folder);
    const size_t cut = own.rfind('\\');
    return cut != std::string::npos && SameFolder(own.substr(0, cut), temporary) &&
           SameTextAscii(own.substr(cut + 1, sizeof kFolderPrefix - 1), kFolderPrefix);
}

int RunFromTemporaryCopy(const TUninstallOptions& options, const std::string& originalFolder) {
    const std::string temporary = TemporaryFolder();
    const std::string folder = MakeOwnFolder(temporary);
    const std::string copy = AddTrailingBackslash(folder) + kUninstallerName;
    if (!::CopyFileA(OwnProgramPath().c_str(), copy.c_str(), TRUE)) {
        const DWORD error = ::GetLastError();
        RemoveOwnFolder(folder);
        throw ESelfCopyFailed(Format("Cannot copy the uninstaller to %s (error %lu)", copy.c_str(), error));
    }
    std::string commandLine = QuoteArgument(copy) + " " + CopyArguments(options, originalFolder);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Both programs run in the temporary folder, so that no folder of the installation is the
    // current folder of either (a current folder cannot be removed).
    ::SetCurrentDirectoryA(temporary.c_str());
    if (!::CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          temporary.c_str(), &startup, &process)) {
        const DWORD error = ::GetLastError();
        RemoveOwnFolder(folder);
        throw ESelfCopyFailed(Format("Cannot start %s (error %lu)", copy.c_str(), error));
    }
    const UniqueKernelHandle processHandle(process.hProcess);
    const UniqueKernelHandle threadHandle(process.hThread);
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = kExitRemoveFailed;
    if (!::GetExitCodeProcess(processHandle.get(), &exitCode)) {
        exitCode = kExitRemoveFailed;
    }
    RemoveOwnFolder(folder);
    // A copy that ended any other way (killed, crashed) failed.
    const bool known = exitCode == kExitRemoved || exitCode == kExitBadRecord || exitCode == kExitDeclined ||
                       exitCode == kExitRemoveFailed || exitCode == kExitRemoveInUse || exitCode == kExitRemoveBusy;
    return known ? static_cast<int>(exitCode) : kExitRemoveFailed;
}
