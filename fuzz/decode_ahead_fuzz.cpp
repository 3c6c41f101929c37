// Any bytes as an archive, every entry expanded twice: on this thread, and by the worker that
// decodes ahead, with the buffer sizes and the entries taken that the first byte picks. Both must
// give the same bytes, byte sum, progress percentages and failure, and the worker must end when
// the pipeline goes, wherever it is.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/decode_ahead.h"
#include "framework/exceptions.h"
#include "fuzz_util.h"

namespace {

// The most bytes that an input's entries may expand to: the decoders fill whatever size a header
// gives, and the worker decodes every entry up to its buffers.
constexpr int64_t kMostExpanded = 256 * 1024;

class Collect : public TStream {
  public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        const auto* b = static_cast<const uint8_t*>(buffer);
        bytes.insert(bytes.end(), b, b + count);
        return count;
    }
    int64_t Seek(int64_t, SeekOrigin) override { return static_cast<int64_t>(bytes.size()); }
    std::vector<uint8_t> bytes;
};

struct Expanded {
    std::vector<uint8_t> bytes;
    std::vector<int32_t> percentages;
    uint32_t checksum = 0;
    std::optional<std::string> failure;
    bool operator==(const Expanded&) const = default;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t options = data[0];
    const uint8_t* archiveBytes = data + 1;
    const auto archiveSize = static_cast<int64_t>(size - 1);
    TCustomMemoryStream here(archiveBytes, archiveSize);
    const std::vector<ArchiveEntry> entries = ListEntries(here);
    int64_t expanded = 0;
    for (const ArchiveEntry& entry : entries) {
        expanded += std::max(entry.header.FullSize, 0);
        if (entry.header.Method == cmNone) {
            expanded += entry.header.CompressedSize;
        }
    }
    if (expanded > kMostExpanded) {
        return 0;
    }
    // Bits 0-2: the chunk size (1 to 2^14 bytes); bits 3-4: the chunk count; bit 5: leave the
    // pipeline after half the entries; bits 6-7: take every entry, every other, or every third.
    const DecodeAhead::Limits limits{size_t{1} << ((options & 7) * 2), 1 + ((options >> 3) & 3)};
    const size_t step = 1 + (options >> 6) % 3;
    const size_t end = (options & 32) != 0 ? entries.size() / 2 : entries.size();
    DecodeAhead ahead(std::make_unique<TCustomMemoryStream>(archiveBytes, archiveSize), limits);
    for (size_t i = 0; i < end; i += step) {
        const ArchiveEntry& entry = entries[i];
        if (entry.header.Method > cmLZH) {
            continue;
        }
        Expanded mine;
        Collect output;
        here.SetPosition(entry.dataPos);
        try {
            mine.checksum = ExpandEntryData(output, here, entry.header,
                                            [&mine](int32_t& p) { mine.percentages.push_back(p); });
        } catch (const Exception& e) {
            mine.failure = e.Message();
        }
        mine.bytes = std::move(output.bytes);

        Expanded its;
        Collect taken;
        bool found = false;
        try {
            found = ahead.TakeEntry(
                entry.dataPos, entry.header, taken, [&its](int32_t& p) { its.percentages.push_back(p); },
                its.checksum);
        } catch (const Exception& e) {
            found = true;
            its.failure = e.Message();
        }
        its.bytes = std::move(taken.bytes);
        // Entries at the same position (a name and data that overlap the next header cannot make
        // one) are the worker's in archive order: each is found.
        FUZZ_CHECK(found);
        FUZZ_CHECK(its == mine);
    }
    return 0;
}
