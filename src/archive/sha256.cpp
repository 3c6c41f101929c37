#include "archive/sha256.h"

#include <algorithm>
#include <cstring>

#include "archive/sha256_blocks.h"
#include "framework/sysutils.h"

namespace {

using sha256::kRoundConstants;

constexpr std::array<uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

constexpr uint32_t RotateRight(uint32_t value, int count) {
    return (value >> count) | (value << (32 - count));
}

uint32_t LoadBigEndian(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

}  // namespace

Sha256::Sha256() : state_(kInitialState) {}

void sha256::PortableBlocks(std::array<uint32_t, 8>& state, const uint8_t* data, size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) {
        std::array<uint32_t, 64> w;
        for (int i = 0; i < 16; ++i) {
            w[i] = LoadBigEndian(data + 4 * i);
        }
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
            const uint32_t choice = (e & f) ^ (~e & g);
            const uint32_t t1 = h + s1 + choice + kRoundConstants[i] + w[i];
            const uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
            const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
            const uint32_t t2 = s0 + majority;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

void Sha256::Compress(const uint8_t* data, size_t blocks) {
    // Chosen once: the processor does not change under a running program.
    static const sha256::BlockFunction chosen = [] {
        const sha256::BlockFunction accelerated = sha256::AcceleratedBlocks();
        return accelerated != nullptr ? accelerated : &sha256::PortableBlocks;
    }();
    chosen(state_, data, blocks);
}

void Sha256::Update(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    length_ += size;
    if (buffered_ > 0) {
        const size_t take = std::min(size, buffer_.size() - buffered_);
        std::memcpy(buffer_.data() + buffered_, bytes, take);
        buffered_ += take;
        bytes += take;
        size -= take;
        if (buffered_ < buffer_.size()) {
            return;
        }
        Compress(buffer_.data(), 1);
        buffered_ = 0;
    }
    const size_t blocks = size / buffer_.size();
    Compress(bytes, blocks);
    bytes += blocks * buffer_.size();
    size -= blocks * buffer_.size();
    std::memcpy(buffer_.data(), bytes, size);
    buffered_ = size;
}

Sha256Digest Sha256::Final() {
    // The message, a 1 bit, zeros up to 56 bytes into the last block, then its length in bits.
    const uint64_t bits = length_ * 8;
    const uint8_t one = 0x80;
    Update(&one, 1);
    const uint8_t zeros[64] = {};
    Update(zeros, buffered_ <= 56 ? 56 - buffered_ : 64 + 56 - buffered_);
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i) {
        lengthBytes[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    }
    Update(lengthBytes, 8);
    Sha256Digest digest;
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
        digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
        digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
        digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
    }
    return digest;
}

Sha256Digest Sha256Of(const void* data, size_t size) {
    Sha256 sha;
    sha.Update(data, size);
    return sha.Final();
}

std::string DigestToHex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (const uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

bool DigestFromHex(std::string_view text, Sha256Digest& digest) {
    if (text.size() != 64) {
        return false;
    }
    for (size_t i = 0; i < 32; ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}
