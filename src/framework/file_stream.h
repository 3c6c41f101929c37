// A stream over a file of the Win32 file system.
//
// Modes are an access value or'ed with a sharing value, as the framework's file routines take them:
// fmOpenRead / fmOpenWrite / fmOpenReadWrite with fmShareExclusive / fmShareDenyWrite /
// fmShareDenyRead / fmShareDenyNone (no sharing value = share nothing). fmCreate makes a new file
// or truncates an existing one to zero length, opened for writing and shared with nobody.
//
// Failures: fmCreate that cannot create the file raises EFCreateError "Cannot create file <path>";
// an open mode that cannot open the file raises EInOutError with the system's error code and a
// message naming the file and the system's reason. Read and Write report short counts as TStream
// says; a failing system call counts as 0 bytes moved.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/stream.h"
#include "framework/unique_handle.h"

inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareCompat = 0x0000;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;
inline constexpr uint16_t fmCreate = 0xFF00;

class TFileStream : public TStream {
  public:
    TFileStream(const std::string& fileName, uint16_t mode);
    // A stream over a file that the caller has opened (fileName names it in messages).
    TFileStream(const std::string& fileName, UniqueFileHandle handle)
        : fileName_(fileName), handle_(std::move(handle)) {}

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override;

    const std::string& FileName() const { return fileName_; }
    HANDLE Handle() const { return handle_.get(); }

  private:
    std::string fileName_;
    UniqueFileHandle handle_;
};

// Whether a file, not a folder, exists at path.
bool FileExists(const std::string& path);
// Whether a folder exists at path; the path goes to the system unchanged, so "X:\\" names a root.
bool DirectoryExists(const std::string& path);

// The system's text for an error code, without its trailing line break and full stop
// ("Access denied"); "Error <code>" when the system has none.
std::string SystemErrorText(DWORD code);
