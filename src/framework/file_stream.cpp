#include "framework/file_stream.h"

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace {

DWORD DesiredAccess(uint16_t mode) {
    switch (mode & 0x0003) {
        case fmOpenWrite:
            return GENERIC_WRITE;
        case fmOpenReadWrite:
            return GENERIC_READ | GENERIC_WRITE;
        default:
            return GENERIC_READ;
    }
}

// The sharing value names what is denied to others; CreateFileA wants what is allowed.
DWORD ShareMode(uint16_t mode) {
    switch (mode & 0x00F0) {
        case fmShareDenyWrite:
            return FILE_SHARE_READ;
        case fmShareDenyRead:
            return FILE_SHARE_WRITE;
        case fmShareDenyNone:
            return FILE_SHARE_READ | FILE_SHARE_WRITE;
        default:  // fmShareCompat and fmShareExclusive
            return 0;
    }
}

}  // namespace

namespace {

DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

}  // namespace

bool FileExists(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string SystemErrorText(DWORD code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr) {
        ::LocalFree(text);
    }
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == '.' || result.back() == ' ')) {
        result.pop_back();
    }
    if (result.empty()) {
        result = Format("Error %lu", static_cast<unsigned long>(code));
    }
    return result;
}

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : fileName_(fileName) {
    if (mode == fmCreate) {
        handle_.reset(::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle_) {
            throw EFCreateError(Format(msg::kCreateError, fileName.c_str()));
        }
        return;
    }
    handle_.reset(::CreateFileA(fileName.c_str(), DesiredAccess(mode), ShareMode(mode), nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle_) {
        const DWORD code = ::GetLastError();
        throw EInOutError(Format(msg::kOpenError, fileName.c_str()) + " (" + SystemErrorText(code) + ")",
                          code);
    }
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
    DWORD done = 0;
    if (count <= 0 || !::ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &done, nullptr)) {
        return 0;
    }
    return static_cast<int32_t>(done);
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
    DWORD done = 0;
    if (count <= 0 || !::WriteFile(handle_.get(), buffer, static_cast<DWORD>(count), &done, nullptr)) {
        return 0;
    }
    return static_cast<int32_t>(done);
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
    DWORD method = FILE_BEGIN;
    if (origin == SeekOrigin::Current) {
        method = FILE_CURRENT;
    } else if (origin == SeekOrigin::End) {
        method = FILE_END;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER result;
    if (!::SetFilePointerEx(handle_.get(), distance, &result, method)) {
        throw EStreamError("Invalid stream position");
    }
    return result.QuadPart;
}

int64_t TFileStream::Size() {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_.get(), &size)) {
        const DWORD code = ::GetLastError();
        throw EInOutError(SystemErrorText(code), code);
    }
    return size.QuadPart;
}
