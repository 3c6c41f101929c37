// One entry expanded on the calling thread and taken from a pipeline that decodes ahead, each with
// what came out of it, so that the two can be compared (the decode-ahead tests and fuzz target).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/decode_ahead.h"
#include "framework/exceptions.h"

// What one expansion gave: its bytes, its progress percentages, its byte sum or its failure.
struct ExpansionRun {
    std::vector<uint8_t> bytes;
    std::vector<int32_t> percentages;
    uint32_t checksum = 0;
    std::optional<std::string> failure;  // the exception's message

    bool operator==(const ExpansionRun&) const = default;
};

// Keeps what is written; with slow set, it pauses now and then, as a disk does.
class CollectingStream : public TStream {
  public:
    explicit CollectingStream(bool slow = false) : slow_(slow) {}
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        if (slow_ && ++writes_ % 16 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const auto* b = static_cast<const uint8_t*>(buffer);
        bytes.insert(bytes.end(), b, b + count);
        return count;
    }
    int64_t Seek(int64_t, SeekOrigin) override { return static_cast<int64_t>(bytes.size()); }
    std::vector<uint8_t> bytes;

  private:
    bool slow_;
    int writes_ = 0;
};

// Runs expand (which writes into the sink and raises the progress handler it is given) and keeps
// what it gave; false when expand says the entry is not there.
template <typename Expand>
bool Run(ExpansionRun& run, CollectingStream& sink, Expand expand) {
    try {
        if (!expand(TShowProgressEvent([&run](int32_t& p) { run.percentages.push_back(p); }))) {
            return false;
        }
    } catch (const Exception& e) {
        run.failure = e.Message();
    }
    run.bytes = std::move(sink.bytes);
    return true;
}

// The expansion on this thread, as the archive component does without the pipeline.
inline ExpansionRun ExpandHere(TStream& archive, const ArchiveEntry& entry) {
    ExpansionRun run;
    CollectingStream sink;
    archive.SetPosition(entry.dataPos);
    Run(run, sink, [&](const TShowProgressEvent& progress) {
        run.checksum = ExpandEntryData(sink, archive, entry.header, progress);
        return true;
    });
    return run;
}

// The same entry taken from the pipeline; nothing when the pipeline does not have it.
inline std::optional<ExpansionRun> TakeAhead(DecodeAhead& ahead,
                                             const ArchiveEntry& entry,
                                             bool slow = false) {
    ExpansionRun run;
    CollectingStream sink(slow);
    if (!Run(run, sink, [&](const TShowProgressEvent& progress) {
            return ahead.TakeEntry(entry.dataPos, entry.header, sink, progress, run.checksum);
        })) {
        return std::nullopt;
    }
    return run;
}
