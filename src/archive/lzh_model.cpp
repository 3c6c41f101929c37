#include "archive/lzh_model.h"

#include <algorithm>

namespace lzh {

static_assert(kOffsetTables.code[0] == 0x00 && kOffsetTables.code[1] == 0x20 &&
              kOffsetTables.code[4] == 0x50 && kOffsetTables.code[12] == 0x90 &&
              kOffsetTables.code[24] == 0xC0 && kOffsetTables.code[48] == 0xF0 &&
              kOffsetTables.code[63] == 0xFF);

void HuffmanModel::Init() {
    for (int s = 0; s < kSymbolCount; ++s) {
        freq[s] = 1;
        child[s] = static_cast<uint16_t>(s + kTreeSize);
        parent[s + kTreeSize] = static_cast<uint16_t>(s);
    }
    int i = 0;
    for (int j = kSymbolCount; j < kTreeSize; ++j, i += 2) {
        freq[j] = static_cast<uint16_t>(freq[i] + freq[i + 1]);
        child[j] = static_cast<uint16_t>(i);
        parent[i] = parent[i + 1] = static_cast<uint16_t>(j);
    }
    std::fill(freq.begin() + kTreeSize, freq.end(), static_cast<uint16_t>(0xFFFF));
    parent[kRootNode] = 0;
}

void HuffmanModel::Rebuild() {
    // The leaves, in their order, to entries 0 to kSymbolCount - 1 with halved counts.
    int j = 0;
    for (int i = 0; i < kTreeSize; ++i) {
        if (child[i] >= kTreeSize) {
            freq[j] = static_cast<uint16_t>((freq[i] + 1) / 2);
            child[j] = child[i];
            ++j;
        }
    }
    // Each new internal node goes after every node of equal or lower count.
    int i = 0;
    for (j = kSymbolCount; j < kTreeSize; ++j, i += 2) {
        const auto f = static_cast<uint16_t>(freq[i] + freq[i + 1]);
        int k = j - 1;
        while (f < freq[k]) {
            --k;
        }
        ++k;
        std::copy_backward(freq.begin() + k, freq.begin() + j, freq.begin() + j + 1);
        std::copy_backward(child.begin() + k, child.begin() + j, child.begin() + j + 1);
        freq[k] = f;
        child[k] = static_cast<uint16_t>(i);
    }
    for (i = 0; i < kTreeSize; ++i) {
        const int k = child[i];
        parent[k] = static_cast<uint16_t>(i);
        if (k < kTreeSize) {
            parent[k + 1] = static_cast<uint16_t>(i);
        }
    }
}

int HuffmanModel::CodeLength(int s) const {
    int length = 0;
    for (int k = parent[kTreeSize + s]; k != kRootNode; k = parent[k]) {
        ++length;
    }
    return length;
}

}  // namespace lzh
