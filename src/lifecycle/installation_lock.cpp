#include "lifecycle/installation_lock.h"

#include "framework/file_stream.h"

namespace {

// Adding a file is the right the lock asks for: a second opening that asks for it, or that does not
// share it, fails while the lock is held. Deleting stays shared, so that the run itself can hold
// the folder for its removal; reading stays shared for everybody.
constexpr DWORD kLockAccess = FILE_ADD_FILE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kLockShare = FILE_SHARE_READ | FILE_SHARE_DELETE;
constexpr DWORD kFolderFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

bool ReadIdentity(HANDLE item, BY_HANDLE_FILE_INFORMATION& information) {
    return ::GetFileType(item) == FILE_TYPE_DISK && ::GetFileInformationByHandle(item, &information);
}

// The rights that a handle of this process was opened with; 0 when the system cannot say.
ACCESS_MASK GrantedAccess(HANDLE handle) {
    struct {
        ULONG Attributes;
        ACCESS_MASK GrantedAccess;
        ULONG HandleCount;
        ULONG PointerCount;
        ULONG Reserved[10];
    } basic{};
    using TQueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto query = ntdll == nullptr ? nullptr
                                        : reinterpret_cast<TQueryObject>(reinterpret_cast<void*>(
                                              ::GetProcAddress(ntdll, "NtQueryObject")));
    ULONG size = 0;
    constexpr int kObjectBasicInformation = 0;
    if (query == nullptr || query(handle, kObjectBasicInformation, &basic, sizeof basic, &size) < 0) {
        return 0;
    }
    return basic.GrantedAccess;
}

// Whether handle, inherited from the program that started this one, is the lock of the folder at
// path: a handle of that very folder (volume and file number), opened with the lock's rights.
bool IsLockOf(HANDLE handle, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION handed{};
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !ReadIdentity(handle, handed) ||
        (GrantedAccess(handle) & FILE_ADD_FILE) == 0) {
        return false;
    }
    const UniqueFileHandle folder(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, kFolderFlags, nullptr));
    BY_HANDLE_FILE_INFORMATION named{};
    return folder && ReadIdentity(folder.get(), named) &&
           (named.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY &&
           named.dwVolumeSerialNumber == handed.dwVolumeSerialNumber &&
           named.nFileIndexHigh == handed.nFileIndexHigh && named.nFileIndexLow == handed.nFileIndexLow;
}

}  // namespace

TInstallationLock::TInstallationLock(const std::string& destination) : destination_(destination) {
    Take();
}

TInstallationLock::TInstallationLock(const std::string& destination, uint64_t handedOver)
    : destination_(destination) {
    const auto handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handedOver));
    if (handedOver != 0 && IsLockOf(handle, destination)) {
        folder_.reset(handle);
        return;
    }
    Take();
}

void TInstallationLock::Take() {
    folder_.reset(::CreateFileA(destination_.c_str(), kLockAccess, kLockShare, nullptr, OPEN_EXISTING,
                                kFolderFlags, nullptr));
    if (folder_) {
        return;
    }
    error_ = ::GetLastError();
    if (error_ != ERROR_SHARING_VIOLATION) {
        return;
    }
    // Refused for sharing: by a run that holds the lock, which may write into the folder, or by a
    // program that only reads it but lets nobody write meanwhile. Only the first refuses a
    // listing that lets nobody else write.
    const UniqueFileHandle reader(::CreateFileA(destination_.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                                kLockShare, nullptr, OPEN_EXISTING, kFolderFlags, nullptr));
    squatted_ = static_cast<bool>(reader);
}

std::string TInstallationLock::Failure() const {
    if (Held()) {
        return {};
    }
    if (squatted_) {
        return destination_ + " is held open by another program that lets nobody write into it";
    }
    if (Busy()) {
        return std::string(kAnotherRunMessage) + ".";
    }
    return "Cannot open " + destination_ + " (" + SystemErrorText(error_) + ")";
}

HANDLE TInstallationLock::Inheritable() {
    if (!inheritable_ && folder_) {
        HANDLE copy = nullptr;
        if (::DuplicateHandle(::GetCurrentProcess(), folder_.get(), ::GetCurrentProcess(), &copy, 0, TRUE,
                              DUPLICATE_SAME_ACCESS)) {
            inheritable_.reset(copy);
        }
    }
    return inheritable_ ? inheritable_.get() : nullptr;
}

void TInstallationLock::Release() noexcept {
    inheritable_.reset();
    folder_.reset();
}
