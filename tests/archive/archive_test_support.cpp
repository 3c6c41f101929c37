#include "archive_test_support.h"

#include <algorithm>

#include "archive/codec_driver.h"
#include "archive/format.h"
#include "framework/unique_handle.h"

namespace archive_test {

namespace {

// A file stream that takes no more than a fixed number of bytes, as a full disk would.
class ShortFileStream : public TFileStream {
  public:
    ShortFileStream(const std::string& path, int32_t limit) : TFileStream(path, fmCreate), room_(limit) {}
    int32_t Write(const void* buffer, int32_t count) override {
        const int32_t n = TFileStream::Write(buffer, std::min(count, room_));
        room_ -= n;
        return n;
    }

  private:
    int32_t room_;
};

}  // namespace

Bytes MakeArchive(const std::vector<Entry>& entries,
                  const std::string& methodId,
                  std::optional<int32_t> totalSize) {
    TMemoryStream out;
    TArchiveHeader header = InitArchiveHeader(cmNone, 0);
    std::copy_n(methodId.begin(), std::min<size_t>(3, methodId.size()), header.MethodID.begin());
    int32_t sum = 0;
    for (const Entry& entry : entries) {
        sum += static_cast<int32_t>(entry.data.size());
    }
    header.TotalSize = totalSize.value_or(sum);
    uint8_t headerBytes[kArchiveHeaderSize];
    EncodeArchiveHeader(header, headerBytes);
    out.WriteBuffer(headerBytes, kArchiveHeaderSize);

    for (const Entry& entry : entries) {
        Bytes coded;
        if (entry.method == cmRLE || entry.method == cmLZH) {
            TCustomMemoryStream source(entry.data.data(), static_cast<int64_t>(entry.data.size()));
            TMemoryStream dest;
            uint32_t ignored = 0;
            RunCodec(nullptr, dest, source, static_cast<int32_t>(entry.data.size()),
                     static_cast<int32_t>(entry.data.size()), entry.method, ignored, false);
            coded = dest.Bytes();
        } else if (entry.method == cmCustom) {
            coded = XorCoded(entry.data);
        } else {
            coded = entry.data;
        }
        TFileHeader file;
        file.NameLength = static_cast<int16_t>(entry.name.size());
        file.FileDate = entry.fileDate;
        file.Attributes = entry.attributes;
        file.FullSize = static_cast<int32_t>(entry.data.size());
        file.CompressedSize = entry.compressedSize.value_or(static_cast<int32_t>(coded.size()));
        file.Method = entry.method;
        file.Checksum = entry.checksum.value_or(ByteSum(entry.data.data(), entry.data.size()) +
                                                (entry.lockFlag > 0 ? static_cast<uint32_t>(entry.key) : 0));
        file.LockFlag = entry.lockFlag;
        uint8_t fileBytes[kFileHeaderSize];
        EncodeFileHeader(file, fileBytes);
        out.WriteBuffer(fileBytes, kFileHeaderSize);
        out.WriteBuffer(entry.name.data(), static_cast<int32_t>(entry.name.size()));
        out.WriteBuffer(coded.data(), static_cast<int32_t>(coded.size()));
    }
    return out.Bytes();
}

Bytes XorCoded(const Bytes& data) {
    Bytes coded(data);
    for (uint8_t& b : coded) {
        b ^= 0x5A;
    }
    return coded;
}

Bytes TextBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes NoiseBytes(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t state = seed;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

Bytes ReadFileBytes(const std::string& path) {
    TFileStream file(path, fmOpenRead | fmShareDenyNone);
    Bytes bytes(static_cast<size_t>(file.Size()));
    file.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    return bytes;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    TFileStream file(path, fmCreate);
    file.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

DWORD Attributes(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

DWORD DosBits(const std::string& path) {
    return Attributes(path) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

uint32_t LocalDosTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    SYSTEMTIME universal;
    SYSTEMTIME local;
    FILETIME localFile;
    WORD date = 0;
    WORD time = 0;
    ::FileTimeToSystemTime(&data.ftLastWriteTime, &universal);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
    ::SystemTimeToFileTime(&local, &localFile);
    ::FileTimeToDosDateTime(&localFile, &date, &time);
    return (static_cast<uint32_t>(date) << 16) | time;
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    UniqueFindHandle find(::FindFirstFileA((path + "*").c_str(), &found));
    if (find) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        } while (::FindNextFileA(find.get(), &found));
    }
    std::sort(names.begin(), names.end());
    return names;
}

int64_t TestCompress::DiskFreeBytes(int drive) {
    drivesAsked.push_back(drive);
    return fakeDiskFree ? *fakeDiskFree : TCompress::DiskFreeBytes(drive);
}

std::unique_ptr<TFileStream> TestCompress::CreateOutputFile(const std::string& path) {
    if (writeLimit) {
        return std::make_unique<ShortFileStream>(path, *writeLimit);
    }
    return TCompress::CreateOutputFile(path);
}

}  // namespace archive_test
