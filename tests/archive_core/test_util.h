// Helpers of the archive core tests: codec runs on byte vectors, streams that misbehave in
// controlled ways, and deterministic test data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archive/codec_driver.h"
#include "framework/stream.h"

using Bytes = std::vector<uint8_t>;

struct CodecResult {
    Bytes output;
    uint32_t checksum = 0;
    int64_t consumed = 0;  // bytes the run took from its source
};

// One run of RunCodec over input (all of it as the source size unless sourceSize >= 0).
inline CodecResult RunOn(const Bytes& input,
                         uint8_t method,
                         bool expand,
                         int32_t destSize = 0,
                         const TShowProgressEvent& progress = nullptr,
                         int32_t sourceSize = -1) {
    TCustomMemoryStream source(input.data(), static_cast<int64_t>(input.size()));
    TMemoryStream dest;
    CodecResult result;
    RunCodec(progress, dest, source, sourceSize >= 0 ? sourceSize : static_cast<int32_t>(input.size()),
             destSize, method, result.checksum, expand);
    result.output = dest.Bytes();
    result.consumed = source.Position();
    return result;
}

// The bytes of a file; a file that cannot be opened fails the test.
inline Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline Bytes Encode(const Bytes& input, uint8_t method) {
    return RunOn(input, method, false).output;
}

inline Bytes Decode(const Bytes& coded, uint8_t method, int32_t destSize) {
    return RunOn(coded, method, true, destSize).output;
}

// Reads from memory at most `chunk` bytes per call.
class ChunkedStream : public TStream {
  public:
    ChunkedStream(const Bytes& bytes, int32_t chunk) : bytes_(bytes), chunk_(chunk) {}
    int32_t Read(void* buffer, int32_t count) override {
        const auto left = static_cast<int64_t>(bytes_.size()) - position_;
        const auto n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>({count, chunk_, left})));
        if (n > 0) {
            std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
            position_ += n;
        }
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek(int64_t offset, SeekOrigin origin) override {
        position_ = (origin == SeekOrigin::Beginning ? 0
                     : origin == SeekOrigin::Current ? position_
                                                     : Size()) +
                    offset;
        return position_;
    }
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

  private:
    const Bytes& bytes_;
    int32_t chunk_;
    int64_t position_ = 0;
};

// Writes into a fixed region of memory and takes no byte beyond it (a full disk).
class FixedStream : public TStream {
  public:
    FixedStream(uint8_t* memory, int64_t capacity) : memory_(memory), capacity_(capacity) {}
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        const auto n =
            static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(count, capacity_ - position_)));
        if (n > 0) {
            std::memcpy(memory_ + position_, buffer, static_cast<size_t>(n));
            position_ += n;
        }
        return n;
    }
    int64_t Seek(int64_t offset, SeekOrigin origin) override {
        position_ = (origin == SeekOrigin::Beginning ? 0
                     : origin == SeekOrigin::Current ? position_
                                                     : capacity_) +
                    offset;
        return position_;
    }

  private:
    uint8_t* memory_;
    int64_t capacity_;
    int64_t position_ = 0;
};

// Deterministic data of several kinds; seed is printed by the tests on failure.
inline Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes bytes(size);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(rng() >> 24);
    }
    return bytes;
}

// English-like text from a small vocabulary with skewed word frequencies.
inline Bytes TextBytes(size_t size, uint32_t seed) {
    static const char* const kWords[] = {
        "the",    "of",     "and",   "to",     "a",     "in",      "file",   "server", "transfer",
        "folder", "remote", "local", "site",   "is",    "for",     "with",   "that",   "connect",
        "upload", "you",    "can",   "on",     "setup", "program", "window", "select", "directory",
        "click",  "list",   "mode",  "binary", "ascii", "port",    "host",   "name",   "password"};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < size) {
        const size_t n = std::size(kWords);
        // Squaring a uniform index favours the first words, as in real text.
        const size_t r = rng() % n;
        text += kWords[r * r / n];
        text += (rng() % 11 == 0) ? ".\n" : " ";
    }
    return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

// Stretches of text, random bytes, runs and small repeating patterns, several kilobytes each.
inline Bytes VariedBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const size_t length = std::min<size_t>(size - bytes.size(), 1000 + rng() % 20000);
        Bytes part;
        switch (rng() % 4) {
            case 0:
                part = TextBytes(length, rng());
                break;
            case 1:
                part = RandomBytes(length, rng());
                break;
            case 2:
                part.assign(length, static_cast<uint8_t>(rng()));
                break;
            default: {
                const size_t period = 3 + rng() % 5;
                for (size_t i = 0; i < length; ++i) {
                    part.push_back(static_cast<uint8_t>((i % period) * 37));
                }
                break;
            }
        }
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}
