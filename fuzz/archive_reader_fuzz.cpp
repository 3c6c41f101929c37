// Any bytes as an archive: the header check, the walk over the entries, and testing each entry
// must end without a crash, a hang or unbounded memory, whatever the bytes say.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"
#include "archive/format.h"
#include "fuzz_util.h"

namespace {

// Bytes that testing the entries of one input may expand in all; the decoders make large sizes
// from nothing, which only costs time.
constexpr int64_t kMaxExpanded = 16 * 1024;

// The most bytes that testing the entry can expand: an LZH stream stops at most 59 bytes after
// FullSize, an RLE stream repeats each coded byte at most 254 times, stored data is copied.
int64_t MostExpanded(const TFileHeader& header, int64_t codedBytes) {
    switch (header.Method) {
        case cmLZH:
            return std::max<int64_t>(header.FullSize, 0) + 59;
        case cmRLE:
            return codedBytes * 254;
        default:
            return codedBytes;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    try {
        ReadCheckedArchiveHeader(stream);
    } catch (const Exception&) {
        // Not an archive: the walk must still be safe.
    }
    const auto entries = ListEntries(stream);
    FUZZ_CHECK(entries.size() <= size / kFileHeaderSize);
    int64_t previous = 0;
    int64_t budget = kMaxExpanded;
    for (const ArchiveEntry& entry : entries) {
        FUZZ_CHECK(entry.headerPos >= kArchiveHeaderSize && entry.headerPos > previous - 1);
        FUZZ_CHECK(entry.header.NameLength >= 0 && entry.header.CompressedSize >= 0);
        FUZZ_CHECK(entry.dataPos == entry.headerPos + kFileHeaderSize + entry.header.NameLength);
        previous = entry.dataPos;
        const int64_t codedBytes =
            std::min<int64_t>(entry.header.CompressedSize, static_cast<int64_t>(size) - entry.dataPos);
        const int64_t most = MostExpanded(entry.header, std::max<int64_t>(codedBytes, 0));
        if (most > budget) {
            continue;
        }
        budget -= most;
        try {
            const EntryTestResult result = TestEntry(stream, entry, 1);
            FUZZ_CHECK(result.consumed >= 0 && result.consumed <= entry.header.CompressedSize);
            FUZZ_CHECK(result.expandedSize <= most);
        } catch (const EReadError&) {
            // Stored data running past the end of the stream.
        }
    }
    return 0;
}
