// Files on disk as streams, for tcompress: inputs and archives are read and written in blocks, so
// that no command holds a whole file in memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "file_info.h"
#include "framework/stream.h"

// A TStream over a file through the C library, with 64-bit positions. A failure of the system
// raises EToolError naming the file and the reason; a write never comes back short.
class DiskFile : public TStream {
  public:
    enum class Mode { Read, Create };

    // Read opens a regular file; Create makes a new file or empties an existing one.
    DiskFile(const std::string& path, Mode mode);
    ~DiskFile() override;

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;

    // Writes out what the library still holds and closes the file.
    void Close();

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::FILE* file_;
};

// A new file written under path + ".tmp" and renamed to path by Commit, so that a failure never
// leaves a half-written file at path; without Commit the temporary file is removed. Without
// replace, an existing path raises EToolError before anything is written.
class OutputFile {
  public:
    OutputFile(const std::string& path, bool replace);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    TStream& Stream() { return file_; }
    void Commit();

  private:
    std::string path_;
    [[maybe_unused]] bool replace_;  // read where rename does not replace
    DiskFile file_;
    bool committed_ = false;
};

// The size of the regular file at path; EToolError when it is missing or not a regular file.
int64_t InputFileSize(const std::string& path);
