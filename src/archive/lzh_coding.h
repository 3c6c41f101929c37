// The coding steps of the LZH stream: symbols through the adaptive Huffman model, back offsets
// through the fixed prefix code, on the encoder's side (the decoder reads them in lzh_decode.cpp).
#pragma once

#include <cstdint>

#include "archive/bit_io.h"
#include "archive/lzh_model.h"

namespace lzh {

inline void EncodeSymbol(HuffmanModel& model, BitWriter& bits, int symbol) {
    // Walks from the leaf to the root; a second child (odd index) gives a 1. The bit next to the
    // root is sent first, so the code builds up from the top of a 32-bit word.
    uint32_t code = 0;
    int length = 0;
    int k = model.parent[kTreeSize + symbol];
    do {
        code >>= 1;
        if (k & 1) {
            code |= 0x80000000u;
        }
        ++length;
        k = model.parent[k];
    } while (k != kRootNode);
    if (length > 16) {
        bits.PutBits(16, code >> 16);
        bits.PutBits(length - 16, code & 0xFFFF);
    } else {
        bits.PutBits(length, code >> 16);
    }
    model.Update(symbol);
}

inline void EncodeOffset(BitWriter& bits, int offset) {
    const int upper = offset >> 6;
    bits.PutBits(kOffsetTables.length[upper], static_cast<unsigned>(kOffsetTables.code[upper]) << 8);
    bits.PutBits(6, static_cast<unsigned>(offset & 63) << 10);
}

}  // namespace lzh
