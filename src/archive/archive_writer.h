// Writes archives: the archive header, then one entry per Add, each coded by the writer's method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "format.h"
#include "stream.h"

class ArchiveWriter {
  public:
    // Writes the archive header at out's position. method is cmNone, cmRLE or cmLZH; a key > 0
    // locks every entry (its checksum is stored as byte sum + key) and sets the header's LockFlag.
    // Raises Exception for another method.
    ArchiveWriter(TStream& out, uint8_t method, int32_t key);

    // Appends one entry. name is stored byte for byte. Raises Exception when the name is longer
    // than 32767 bytes, or the data, its coded form or the archive's total size would not fit a
    // signed 32-bit size.
    void Add(const std::string& name,
             const uint8_t* data,
             size_t size,
             uint32_t fileDate,
             uint16_t attributes);

    // Stores TotalSize in the archive header and leaves out after the last entry.
    void Finish();

    int32_t TotalSize() const { return totalSize_; }

  private:
    TStream& out_;
    int64_t headerPos_;
    TArchiveHeader header_;
    uint8_t method_;
    int32_t key_;
    int32_t totalSize_ = 0;
};
