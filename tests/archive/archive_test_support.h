// Helpers of the archive component's tests: archives built in memory, a private temporary folder
// and small file-system probes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../common/folder_tree.h"
#include "archive/compress.h"
#include "framework/file_stream.h"

namespace archive_test {

using Bytes = std::vector<uint8_t>;

// 1997-12-07 14:37:20 as a DOS date-time.
inline constexpr uint32_t kSampleDate = 0x238774AA;

// One entry of a test archive. The data is coded with the entry's method (custom entries are
// XOR-ed with 0x5A); the header fields can be overridden to make damaged entries.
struct Entry {
    std::string name;
    Bytes data = {};
    uint8_t method = cmLZH;
    uint32_t fileDate = kSampleDate;
    uint16_t attributes = FILE_ATTRIBUTE_ARCHIVE;
    int32_t lockFlag = 0;
    int32_t key = 0;  // added to the checksum of a locked entry
    std::optional<uint32_t> checksum = std::nullopt;
    std::optional<int32_t> compressedSize = std::nullopt;
};

// An archive with the given method identifier; TotalSize is the sum of the entries' sizes unless
// given.
Bytes MakeArchive(const std::vector<Entry>& entries,
                  const std::string& methodId = "LZH",
                  std::optional<int32_t> totalSize = std::nullopt);

// The custom coding of the tests: every byte XOR 0x5A.
Bytes XorCoded(const Bytes& data);

Bytes TextBytes(const std::string& text);
// Deterministic bytes of little redundancy (a linear congruential sequence with a fixed seed).
Bytes NoiseBytes(size_t size, uint32_t seed);

// A fresh folder under the system's temporary folder, removed with everything in it (read-only
// files included) when the object goes.
class TempFolder {
  public:
    const std::string& Path() const { return path_; }  // ends in "\"

  private:
    FolderTree tree_{"tandrel-ar"};
    std::string path_ = tree_.root() + "\\";
};

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
DWORD Attributes(const std::string& path);
// The read-only, hidden and system bits of a file (Wine adds the archive bit of its own accord).
DWORD DosBits(const std::string& path);
// The file's last-write time as a local DOS date-time (the time zone's rule for that date).
uint32_t LocalDosTime(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& path);

// A component whose free-space figure and output files the tests can control.
class TestCompress : public TCompress {
  public:
    TestCompress() : TCompress(nullptr) {}

    std::optional<int64_t> fakeDiskFree;  // reported for every drive when set
    std::optional<int32_t> writeLimit;    // output files take at most this many bytes when set
    std::vector<int> drivesAsked;

  protected:
    int64_t DiskFreeBytes(int drive) override;
    std::unique_ptr<TFileStream> CreateOutputFile(const std::string& path) override;
};

}  // namespace archive_test
