#include "lifecycle/safe_files.h"

#include <vector>

#include "framework/sysutils.h"
#include "lifecycle/install_record.h"
#include "lifecycle/removal_plan.h"

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

bool IsMissingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

bool IsReparsePoint(const std::string& path) {
    // The attributes of the item itself, a link's own, never its target's: those of its directory
    // entry first, since a link whose target is gone shows no attributes to GetFileAttributesA
    // under Wine, but is still a link.
    WIN32_FIND_DATAA found{};
    const UniqueFindHandle search(::FindFirstFileA(path.c_str(), &found));
    DWORD attributes = search ? found.dwFileAttributes : kNoAttributes;
    if (attributes == kNoAttributes) {
        attributes = ::GetFileAttributesA(path.c_str());
    }
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// ---- TRemovableFile --------------------------------------------------------------------------

void TRemovableFile::Close() {
    if (handle_ && restoreAttributes_ != 0) {
        SetReadOnly(restoreAttributes_, true);
    }
    restoreAttributes_ = 0;
    handle_.reset();
}

TOpenForRemoval TRemovableFile::Open(const std::string& path) {
    Close();
    path_ = path;
    // FILE_WRITE_ATTRIBUTES: a read-only file has its attribute cleared before it goes.
    handle_.reset(::CreateFileA(path.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
    if (!handle_ && ::GetLastError() == ERROR_ACCESS_DENIED) {
        // A read-only file may refuse an opening for deletion (the system maps the attribute to
        // permissions there): its attribute is cleared while it is held, and put back by Close.
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
            ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            handle_.reset(::CreateFileA(path.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, 0,
                                        nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            if (handle_) {
                restoreAttributes_ = attributes;
            } else {
                ::SetFileAttributesA(path.c_str(), attributes);
                ::SetLastError(ERROR_ACCESS_DENIED);
            }
        } else {
            ::SetLastError(ERROR_ACCESS_DENIED);
        }
    }
    if (handle_) {
        lastError_ = 0;
        return TOpenForRemoval::Opened;
    }
    lastError_ = ::GetLastError();
    if (IsMissingError(lastError_)) {
        return TOpenForRemoval::Missing;
    }
    if (lastError_ == ERROR_SHARING_VIOLATION || lastError_ == ERROR_LOCK_VIOLATION) {
        return TOpenForRemoval::InUse;
    }
    return TOpenForRemoval::Failed;
}

bool ReadSizeAndDigest(HANDLE file, int64_t& size, Sha256Digest& digest) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    Sha256 sha;
    std::vector<char> buffer(64 * 1024);
    int64_t total = 0;
    while (true) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        sha.Update(buffer.data(), read);
        total += read;
    }
    size = total;
    digest = sha.Final();
    return true;
}

bool TRemovableFile::Measure(int64_t& size, Sha256Digest& digest) {
    if (!handle_ || !ReadSizeAndDigest(handle_.get(), size, digest)) {
        lastError_ = ::GetLastError();
        return false;
    }
    return true;
}

bool TRemovableFile::SetDeletion(bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    if (!::SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        lastError_ = ::GetLastError();
        return false;
    }
    return true;
}

bool TRemovableFile::CanRemove() {
    if (!handle_) {
        return false;
    }
    // A read-only file cannot be marked: its attribute is cleared for the check and put back.
    BY_HANDLE_FILE_INFORMATION information{};
    const bool readOnly = ::GetFileInformationByHandle(handle_.get(), &information) &&
                          (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetReadOnly(information.dwFileAttributes, false)) {
        return false;
    }
    // Taken back at once: a check changes nothing.
    const bool removable = SetDeletion(true) && SetDeletion(false);
    if (readOnly) {
        SetReadOnly(information.dwFileAttributes, true);
    }
    return removable;
}

bool TRemovableFile::SetReadOnly(uint32_t attributes, bool readOnly) {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes =
        readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    if (!::SetFileInformationByHandle(handle_.get(), FileBasicInfo, &basic, sizeof basic)) {
        lastError_ = ::GetLastError();
        return false;
    }
    return true;
}

bool TRemovableFile::Remove() {
    if (!handle_) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileInformationByHandle(handle_.get(), &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetReadOnly(information.dwFileAttributes, false);
    }
    const bool marked = SetDeletion(true);
    if (!marked && restoreAttributes_ != 0) {
        SetReadOnly(restoreAttributes_, true);
    }
    restoreAttributes_ = 0;
    handle_.reset();  // a file marked for deletion goes when its last handle closes
    if (!marked) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesA(path_.c_str());
    if (attributes != kNoAttributes) {
        lastError_ = ERROR_ACCESS_DENIED;
        return false;
    }
    return true;
}

// ---- TSafeFolder -----------------------------------------------------------------------------

TSafeFolder::TSafeFolder(const std::string& root) : root_(WithoutTrailingBackslash(root)) {
    if (IsReparsePoint(root_)) {
        throw EUnsafePath(root_ + ": a link, not followed");
    }
}

std::string TSafeFolder::PathOf(std::string_view name) const {
    if (name == ".") {
        if (IsReparsePoint(root_)) {
            throw EUnsafePath(root_ + ": a link, not followed");
        }
        return root_;
    }
    if (!IsSafeRelativeName(name)) {
        throw EUnsafePath(std::string(name) + ": not a name inside " + root_);
    }
    // Every step from the root down to the item itself, the root included.
    std::string path = root_;
    if (IsReparsePoint(path)) {
        throw EUnsafePath(path + ": a link, not followed");
    }
    size_t start = 0;
    while (start <= name.size()) {
        const size_t cut = name.find('\\', start);
        const size_t end = cut == std::string_view::npos ? name.size() : cut;
        path = AddTrailingBackslash(path) + std::string(name.substr(start, end - start));
        if (IsReparsePoint(path)) {
            throw EUnsafePath(path + ": a link, not followed");
        }
        if (cut == std::string_view::npos) {
            break;
        }
        start = cut + 1;
    }
    return path;
}

TOpenForRemoval TSafeFolder::OpenForRemoval(std::string_view name, TRemovableFile& file) const {
    return file.Open(PathOf(name));
}

bool TSafeFolder::RemoveFile(std::string_view name) const {
    TRemovableFile file;
    const TOpenForRemoval opened = OpenForRemoval(name, file);
    return opened == TOpenForRemoval::Missing || (opened == TOpenForRemoval::Opened && file.Remove());
}

bool TSafeFolder::MoveOut(std::string_view name, const std::string& target) const {
    const std::string path = PathOf(name);
    // No MOVEFILE_COPY_ALLOWED: a copy to another drive would have to delete the original after all.
    return ::MoveFileExA(path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool TSafeFolder::RemoveAtRestart(std::string_view name) const {
    const std::string path = PathOf(name);
    return ::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool TSafeFolder::RemoveEmptyFolder(std::string_view name) const {
    const std::string path = PathOf(name);
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == kNoAttributes) {
        return IsMissingError(::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    // Fails for a folder that holds anything: nothing is ever removed with its contents.
    return ::RemoveDirectoryA(path.c_str()) != 0;
}

std::vector<std::string> TSafeFolder::List(std::string_view name) const {
    std::vector<std::string> names;
    const std::string pattern = AddTrailingBackslash(PathOf(name)) + "*";
    WIN32_FIND_DATAA data{};
    const UniqueFindHandle find(::FindFirstFileA(pattern.c_str(), &data));
    if (!find) {
        return names;
    }
    do {
        const std::string entry = data.cFileName;
        if (entry != "." && entry != "..") {
            names.push_back(entry);
        }
    } while (::FindNextFileA(find.get(), &data));
    return names;
}
