// Any bytes as an archive, every entry expanded twice: on this thread, and by the workers that
// decode ahead, with the buffer sizes, the number of workers and the entries taken that the first
// byte picks. Both must give the same bytes, byte sum, progress percentages and failure, and the
// workers must end when the pipeline goes, wherever they are.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "../tests/common/expansion_runs.h"
#include "archive/archive_reader.h"
#include "archive/decode_ahead.h"
#include "fuzz_util.h"

namespace {

// The most bytes that an input's entries may expand to: the decoders fill whatever size a header
// gives, and the worker decodes every entry up to its buffers.
constexpr int64_t kMostExpanded = 256 * 1024;

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
    // pipeline after half the entries; bits 6-7: take every entry, every other, or every third. The
    // workers: 1, 2 or 3 by the whole byte modulo 3, so that each meets every other choice.
    const int workers = 1 + options % 3;
    const DecodeAhead::Limits limits{size_t{1} << ((options & 7) * 2), 1 + ((options >> 3) & 3), workers};
    const size_t step = 1 + (options >> 6) % 3;
    const size_t end = (options & 32) != 0 ? entries.size() / 2 : entries.size();
    DecodeAhead ahead([&] { return std::make_unique<TCustomMemoryStream>(archiveBytes, archiveSize); },
                      limits);
    for (size_t i = 0; i < end; i += step) {
        const ArchiveEntry& entry = entries[i];
        if (entry.header.Method > cmLZH) {
            continue;
        }
        const ExpansionRun mine = ExpandHere(here, entry);
        const std::optional<ExpansionRun> its = TakeAhead(ahead, entry);
        // Each entry of the walk is the worker's too, in the same order: each is found.
        FUZZ_CHECK(its.has_value());
        FUZZ_CHECK(*its == mine);
    }
    return 0;
}
