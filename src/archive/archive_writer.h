// Writes archives: the archive header, then one entry per Add, each coded by the writer's method.
// Entries stream from their source to the archive: each entry's header is written first with
// room for its coded size and byte sum, and filled in once its data has been written, so that the
// output stream must be able to seek back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/format.h"
#include "framework/stream.h"

// Raises Exception when an entry named name holding size expanded bytes cannot follow entries
// that hold totalBefore bytes: a name longer than 32767 bytes, or a size or total beyond a signed
// 32-bit size. Reads and writes nothing, so a caller can refuse inputs before reading them.
void CheckEntryFits(const std::string& name, int64_t size, int64_t totalBefore);

class ArchiveWriter {
  public:
    // LZH entries smaller than this are coded on the calling thread alone, whatever the finder count:
    // for them, starting threads costs more than it saves.
    static constexpr int64_t kParallelMinimum = 64 * 1024;

    // Writes the archive header at out's position. method is cmNone, cmRLE or cmLZH; a key > 0
    // locks every entry (its checksum is stored as byte sum + key) and sets the header's LockFlag.
    // finders is the number of threads that search for matches in LZH entries (1 = the serial
    // encoder); the coded bytes are the same for every count. Raises Exception for another method.
    ArchiveWriter(TStream& out, uint8_t method, int32_t key, int finders = 1);

    // Appends one entry of size bytes read from source's position. name is stored byte for byte.
    // Raises as CheckEntryFits does before reading anything, Exception when source delivers fewer
    // than size bytes (no more than size are read), and Exception when the coded data would not fit a signed
    // 32-bit size. After an exception the archive is incomplete.
    void Add(const std::string& name, TStream& source, int64_t size, uint32_t fileDate, uint16_t attributes);
    void Add(const std::string& name,
             const uint8_t* data,
             size_t size,
             uint32_t fileDate,
             uint16_t attributes);

    // Stores TotalSize in the archive header and leaves out after the last entry.
    void Finish();

    int32_t TotalSize() const { return totalSize_; }

  private:
    // Codes size bytes from source to out_ at its position; returns their byte sum.
    uint32_t WriteData(TStream& source, int32_t size);

    TStream& out_;
    int64_t headerPos_;
    TArchiveHeader header_;
    uint8_t method_;
    int32_t key_;
    int finders_;
    int32_t totalSize_ = 0;
};
