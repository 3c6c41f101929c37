// Progress of a long command on the terminal: how much of the bytes it reads it has read, and how
// fast, on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>

#include "framework/stream.h"

// Whether the process's standard error is a terminal.
bool StandardErrorIsTerminal();

// Shows " 42%  12.3 MB/s" on err, redrawn in place at most ten times a second, while enabled
// (for a terminal that --quiet has not silenced); when not, it prints nothing at all. The line is
// erased again by Clear, before other output and at the end.
class ProgressMeter {
  public:
    ProgressMeter(std::ostream& err, int64_t total, bool enabled);
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;
    ~ProgressMeter();

    void Advance(int64_t bytes);
    void Clear();

  private:
    using Clock = std::chrono::steady_clock;

    std::ostream& err_;
    int64_t total_;
    bool enabled_;
    int64_t done_ = 0;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    bool shown_ = false;  // a line is on the terminal
    bool drawn_ = false;  // a line has ever been drawn
};

// Passes everything through to another stream and counts the bytes read on a meter.
class MeteredStream : public TStream {
  public:
    MeteredStream(TStream& inner, ProgressMeter& meter) : inner_(inner), meter_(meter) {}

    int32_t Read(void* buffer, int32_t count) override {
        const int32_t n = inner_.Read(buffer, count);
        meter_.Advance(n);
        return n;
    }
    int32_t Write(const void* buffer, int32_t count) override { return inner_.Write(buffer, count); }
    int64_t Seek(int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
    int64_t Size() override { return inner_.Size(); }

  private:
    TStream& inner_;
    ProgressMeter& meter_;
};
