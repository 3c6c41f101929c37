// The archive container.
//
// An archive is a 21-byte archive header followed by its entries back to back; each entry is a
// 25-byte file header, the entry's name (NameLength bytes, no terminator) and its stored data
// (CompressedSize bytes). All integers are little-endian two's complement; there is no padding,
// index, trailer or end marker.
//
//   archive header                         file header
//   0  u8[5] Signature "ZORV" 0x1A         0  i16 NameLength
//   5  u8[3] MethodID  "NON"/"RLE"/...     2  u32 FileDate (DOS date-time, local time)
//   8  i32   TotalSize (sum of FullSize)   6  u16 Attributes
//   12 u8    ArchiveType (1 = caMulti)     8  i32 FullSize
//   13 u32   Reserved (0)                  12 i32 CompressedSize
//   17 u32   LockFlag                      16 u8  Method (0 stored, 1 RLE, 2 LZH, 3 custom)
//                                          17 u32 Checksum (byte sum, + key when locked)
//                                          21 i32 LockFlag (> 0: locked)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/exceptions.h"

inline constexpr int32_t kArchiveHeaderSize = 21;
inline constexpr int32_t kFileHeaderSize = 25;
inline constexpr std::array<uint8_t, 5> kArchiveSignature = {'Z', 'O', 'R', 'V', 0x1A};
inline constexpr uint8_t caMulti = 1;

enum TCompressMethod : uint8_t { cmNone = 0, cmRLE = 1, cmLZH = 2, cmCustom = 3 };

struct TArchiveHeader {
    std::array<uint8_t, 5> Signature{};
    std::array<char, 3> MethodID{};
    int32_t TotalSize = 0;
    uint8_t ArchiveType = 0;
    uint32_t Reserved = 0;
    uint32_t LockFlag = 0;
};

struct TFileHeader {
    int16_t NameLength = 0;
    uint32_t FileDate = 0;
    uint16_t Attributes = 0;
    int32_t FullSize = 0;
    int32_t CompressedSize = 0;
    uint8_t Method = 0;
    uint32_t Checksum = 0;
    int32_t LockFlag = 0;

    bool operator==(const TFileHeader&) const = default;
};

TArchiveHeader DecodeArchiveHeader(const uint8_t* bytes);  // reads kArchiveHeaderSize bytes
void EncodeArchiveHeader(const TArchiveHeader& header, uint8_t* bytes);
TFileHeader DecodeFileHeader(const uint8_t* bytes);  // reads kFileHeaderSize bytes
void EncodeFileHeader(const TFileHeader& header, uint8_t* bytes);

bool HasArchiveSignature(const TArchiveHeader& header);
std::string MethodIdentifier(const TArchiveHeader& header);  // the three MethodID characters

// The identifier of a method number ("NON", "RLE", "LZH", "CUS"); empty for other numbers.
const char* MethodName(uint8_t method);

// The method number of an identifier "NON", "RLE", "LZH" or "CUS" (compared exactly); -1 for any
// other text.
int MethodFromName(std::string_view id);

// 32-bit wrapping sum of bytes taken as unsigned values, continued from start.
uint32_t ByteSum(const uint8_t* data, size_t size, uint32_t start = 0);

// A DOS date-time (FileDate) in its parts: year 1980-2107, month 1-12, day 1-31, hour, minute and
// second (stored halved, so odd seconds round down).
struct DosDateTime {
    int year = 1980;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const DosDateTime&) const = default;
};
// Packs the parts; a time before 1980 gives 1980-01-01 00:00:00, one after 2107 the last time of
// 2107, since the field cannot hold them.
uint32_t PackDosDateTime(const DosDateTime& t);
DosDateTime UnpackDosDateTime(uint32_t value);

// A header holding the signature, the identifier of method, TotalSize 0, ArchiveType caMulti,
// Reserved 0 and LockFlag 1 when key > 0, else 0.
TArchiveHeader InitArchiveHeader(uint8_t method, int32_t key);

// Reading errors of the archive, with the messages that the archive component shows.
TANDREL_DECLARE_EXCEPTION(EInvalidHeader, Exception);
TANDREL_DECLARE_EXCEPTION(EInvalidHeaderArchiveType, Exception);
TANDREL_DECLARE_EXCEPTION(EUnrecognizedCompressionMethod, Exception);
TANDREL_DECLARE_EXCEPTION(EBadChecksum, Exception);
TANDREL_DECLARE_EXCEPTION(EInvalidKey, Exception);

namespace msg {
inline constexpr const char kInvalidHeader[] = "Can't recognize compressed file header";
inline constexpr const char kInvalidArchiveType[] = "Archive type must be caMulti";
inline constexpr const char kUnrecognizedMethod[] = "Unrecognized compression method in header";
inline constexpr const char kBadChecksum[] = "Bad checksum during expansion -- data may be invalid";
inline constexpr const char kInvalidKey[] = "File locked -- valid key required";
}  // namespace msg

// Throws EInvalidHeader when the header lacks the signature, EInvalidHeaderArchiveType when its
// ArchiveType is not caMulti. The method identifier is left to the caller.
void CheckArchiveContainer(const TArchiveHeader& header);

// Whether a locked entry is asked for without a key: such an entry is refused before any of its
// data is read.
bool NeedsKey(const TFileHeader& header, int32_t key);

// Whether the byte sum computed over an entry's expanded data passes its stored checksum under key:
// an exact match, or for a locked entry read with a key, (sum + key) mod 2^32. A locked entry never
// passes without a key.
bool ChecksumMatches(const TFileHeader& header, uint32_t computed, int32_t key);

// Raises what a failed checksum means for the entry: EInvalidKey when it is locked, else
// EBadChecksum. Does nothing when ChecksumMatches.
void CheckEntryChecksum(const TFileHeader& header, uint32_t computed, int32_t key);
