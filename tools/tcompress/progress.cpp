#include "progress.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kLineWidth = 20;
}  // namespace

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

ProgressMeter::ProgressMeter(std::ostream& err, int64_t total, bool enabled)
    : err_(err), total_(total), enabled_(enabled), start_(Clock::now()), lastDraw_(start_) {}

ProgressMeter::~ProgressMeter() {
    Clear();
}

void ProgressMeter::Advance(int64_t bytes) {
    if (!enabled_ || bytes <= 0) {
        return;
    }
    done_ += bytes;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - lastDraw_ < kRedrawInterval) {
        return;
    }
    lastDraw_ = now;
    drawn_ = true;
    const int percent = total_ > 0 ? static_cast<int>(std::min<int64_t>(done_ * 100 / total_, 100)) : 100;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    char line[64];
    if (seconds > 0) {
        std::snprintf(line, sizeof line, "\r%3d%%  %.1f MB/s", percent,
                      static_cast<double>(done_) / seconds / 1e6);
    } else {
        std::snprintf(line, sizeof line, "\r%3d%%", percent);
    }
    err_ << line << std::flush;
    shown_ = true;
}

void ProgressMeter::Clear() {
    if (shown_) {
        err_ << '\r' << std::string(kLineWidth, ' ') << '\r' << std::flush;
        shown_ = false;
    }
}
