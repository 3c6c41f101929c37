#include "archive/format.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr const char* kMethodNames[] = {"NON", "RLE", "LZH", "CUS"};

// Little-endian field access on a byte record.
uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

}  // namespace

TArchiveHeader DecodeArchiveHeader(const uint8_t* bytes) {
    TArchiveHeader header;
    std::copy_n(bytes, 5, header.Signature.begin());
    std::copy_n(bytes + 5, 3, header.MethodID.begin());
    header.TotalSize = static_cast<int32_t>(Get32(bytes + 8));
    header.ArchiveType = bytes[12];
    header.Reserved = Get32(bytes + 13);
    header.LockFlag = Get32(bytes + 17);
    return header;
}

void EncodeArchiveHeader(const TArchiveHeader& header, uint8_t* bytes) {
    std::copy_n(header.Signature.begin(), 5, bytes);
    std::copy_n(header.MethodID.begin(), 3, bytes + 5);
    Put32(bytes + 8, static_cast<uint32_t>(header.TotalSize));
    bytes[12] = header.ArchiveType;
    Put32(bytes + 13, header.Reserved);
    Put32(bytes + 17, header.LockFlag);
}

TFileHeader DecodeFileHeader(const uint8_t* bytes) {
    TFileHeader header;
    header.NameLength = static_cast<int16_t>(Get16(bytes));
    header.FileDate = Get32(bytes + 2);
    header.Attributes = Get16(bytes + 6);
    header.FullSize = static_cast<int32_t>(Get32(bytes + 8));
    header.CompressedSize = static_cast<int32_t>(Get32(bytes + 12));
    header.Method = bytes[16];
    header.Checksum = Get32(bytes + 17);
    header.LockFlag = static_cast<int32_t>(Get32(bytes + 21));
    return header;
}

void EncodeFileHeader(const TFileHeader& header, uint8_t* bytes) {
    Put16(bytes, static_cast<uint16_t>(header.NameLength));
    Put32(bytes + 2, header.FileDate);
    Put16(bytes + 6, header.Attributes);
    Put32(bytes + 8, static_cast<uint32_t>(header.FullSize));
    Put32(bytes + 12, static_cast<uint32_t>(header.CompressedSize));
    bytes[16] = header.Method;
    Put32(bytes + 17, header.Checksum);
    Put32(bytes + 21, static_cast<uint32_t>(header.LockFlag));
}

bool HasArchiveSignature(const TArchiveHeader& header) {
    return header.Signature == kArchiveSignature;
}

std::string MethodIdentifier(const TArchiveHeader& header) {
    return std::string(header.MethodID.begin(), header.MethodID.end());
}

const char* MethodName(uint8_t method) {
    return method < std::size(kMethodNames) ? kMethodNames[method] : "";
}

int MethodFromName(std::string_view id) {
    for (size_t i = 0; i < std::size(kMethodNames); ++i) {
        if (id == kMethodNames[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

uint32_t ByteSum(const uint8_t* data, size_t size, uint32_t start) {
    // Sums in 64 bits and folds once: the same result as the wrapping 32-bit sum.
    uint64_t sum = 0;
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a step: the sum of absolute differences from zero adds each half's eight
    // bytes into a 64-bit lane.
    __m128i lanes = _mm_setzero_si128();
    for (; size - i >= 16; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        lanes = _mm_add_epi64(lanes, _mm_sad_epu8(bytes, _mm_setzero_si128()));
    }
    sum = static_cast<uint64_t>(_mm_cvtsi128_si64(lanes)) +
          static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(lanes, lanes)));
#endif
    for (; i < size; ++i) {
        sum += data[i];
    }
    return start + static_cast<uint32_t>(sum);
}

uint32_t PackDosDateTime(const DosDateTime& t) {
    if (t.year < 1980) {
        return PackDosDateTime(DosDateTime{});
    }
    if (t.year > 2107) {
        return PackDosDateTime(DosDateTime{2107, 12, 31, 23, 59, 58});
    }
    const auto date = static_cast<uint32_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
    const auto time = static_cast<uint32_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
    return (date << 16) | time;
}

DosDateTime UnpackDosDateTime(uint32_t value) {
    DosDateTime t;
    t.year = 1980 + static_cast<int>(value >> 25);
    t.month = static_cast<int>((value >> 21) & 15);
    t.day = static_cast<int>((value >> 16) & 31);
    t.hour = static_cast<int>((value >> 11) & 31);
    t.minute = static_cast<int>((value >> 5) & 63);
    t.second = static_cast<int>(value & 31) * 2;
    return t;
}

TArchiveHeader InitArchiveHeader(uint8_t method, int32_t key) {
    TArchiveHeader header;
    header.Signature = kArchiveSignature;
    const char* name = MethodName(method);
    std::memcpy(header.MethodID.data(), name[0] != '\0' ? name : "   ", 3);
    header.TotalSize = 0;
    header.ArchiveType = caMulti;
    header.Reserved = 0;
    header.LockFlag = key > 0 ? 1 : 0;
    return header;
}

void CheckArchiveContainer(const TArchiveHeader& header) {
    if (!HasArchiveSignature(header)) {
        throw EInvalidHeader(msg::kInvalidHeader);
    }
    if (header.ArchiveType != caMulti) {
        throw EInvalidHeaderArchiveType(msg::kInvalidArchiveType);
    }
}

bool NeedsKey(const TFileHeader& header, int32_t key) {
    return header.LockFlag > 0 && key == 0;
}

bool ChecksumMatches(const TFileHeader& header, uint32_t computed, int32_t key) {
    if (NeedsKey(header, key)) {
        return false;
    }
    return computed == header.Checksum ||
           (header.LockFlag > 0 && computed + static_cast<uint32_t>(key) == header.Checksum);
}

void CheckEntryChecksum(const TFileHeader& header, uint32_t computed, int32_t key) {
    if (ChecksumMatches(header, computed, key)) {
        return;
    }
    if (header.LockFlag > 0) {
        throw EInvalidKey(msg::kInvalidKey);
    }
    throw EBadChecksum(msg::kBadChecksum);
}
