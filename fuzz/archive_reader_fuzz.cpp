// Any bytes as an archive: the header check, the walk over the entries, and testing each entry
// must end without a crash, a hang or unbounded memory, whatever the bytes say.
#include <cstddef>
#include <cstdint>

#include "archive_reader.h"
#include "format.h"
#include "fuzz_util.h"

namespace {
// Larger expanded sizes only cost time: the decoder makes them from nothing.
constexpr int32_t kMaxFullSize = 1 << 16;
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
    for (const ArchiveEntry& entry : entries) {
        FUZZ_CHECK(entry.headerPos >= kArchiveHeaderSize && entry.headerPos > previous - 1);
        FUZZ_CHECK(entry.header.NameLength >= 0 && entry.header.CompressedSize >= 0);
        FUZZ_CHECK(entry.dataPos == entry.headerPos + kFileHeaderSize + entry.header.NameLength);
        previous = entry.dataPos;
        if (entry.header.FullSize > kMaxFullSize) {
            continue;
        }
        try {
            const EntryTestResult result = TestEntry(stream, entry, 1);
            FUZZ_CHECK(result.consumed >= 0 && result.consumed <= entry.header.CompressedSize);
        } catch (const EReadError&) {
            // Stored data running past the end of the stream.
        }
    }
    return 0;
}
