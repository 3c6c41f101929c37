// Reads archives for listing and testing: the archive header, the walk over the entries, and the
// expansion of one entry's data. The walk ends where the entries end (see ReadEntryHeader); an
// archive damaged in any way never makes these read outside the stream, loop, or allocate more
// than its own size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec_driver.h"
#include "format.h"
#include "stream.h"

struct ArchiveEntry {
    TFileHeader header;
    std::string name;
    int64_t headerPos = 0;  // stream offset of the entry's file header
    int64_t dataPos = 0;    // stream offset of its data
};

// Reads the archive header from offset 0 and checks it: EInvalidHeader for a stream shorter than
// the header or without the signature, EInvalidHeaderArchiveType when ArchiveType is not caMulti,
// EUnrecognizedCompressionMethod for a method identifier other than "NON", "RLE", "LZH", "CUS".
TArchiveHeader ReadCheckedArchiveHeader(TStream& archive);

// Every entry after the archive header, in archive order, up to the end of the entries.
std::vector<ArchiveEntry> ListEntries(TStream& archive);

// What testing one entry found.
struct EntryTestResult {
    enum class Status { Ok, BadChecksum, KeyRequired, WrongKey, SizeMismatch, DataMismatch, Unsupported };
    Status status = Status::Ok;
    uint32_t checksum = 0;  // byte sum of the expanded data
    int64_t expandedSize = 0;
    int64_t consumed = 0;  // bytes of coded data the codec took
};

// Expands the entry's data in memory, discarding the bytes, and checks its byte sum (also for
// stored entries), its expanded size, that the codec took exactly CompressedSize bytes and, for a
// locked entry, the key. Stored data that runs past the end of the stream raises EReadError.
// Custom entries are Unsupported.
EntryTestResult TestEntry(TStream& archive, const ArchiveEntry& entry, int32_t key);

const char* EntryStatusText(EntryTestResult::Status status);
