// SHA-256 (FIPS 180-4), the digest that the build records of the embedded archive and that the
// installation record keeps of every file it wrote. Fed in pieces of any size; whole blocks go
// through the processor's SHA instructions where it has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
  public:
    Sha256();
    void Update(const void* data, size_t size);
    // The digest of everything fed so far. The object is spent afterwards: start a new one.
    Sha256Digest Final();

  private:
    void Compress(const uint8_t* data, size_t blocks);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> buffer_{};
    size_t buffered_ = 0;
    uint64_t length_ = 0;  // bytes fed, modulo 2^64
};

Sha256Digest Sha256Of(const void* data, size_t size);

// 64 lower-case hexadecimal digits.
std::string DigestToHex(const Sha256Digest& digest);
// The digest of 64 hexadecimal digits (either case); false for any other text.
bool DigestFromHex(std::string_view text, Sha256Digest& digest);
