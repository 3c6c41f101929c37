// Method 2: the model shared by the LZH decoder and encoder.
//
// An LZSS coder over a 4096-byte window: literals (symbols 0-255) and match lengths 3-60
// (symbols 256-313, length + 253) share one adaptive Huffman code; a match's back offset (distance
// to its source minus one, 0-4095) follows as a fixed prefix code of its upper 6 bits and its lower
// 6 bits plain. Bits are packed most significant first. The stream has no header: the expanded
// size comes from the archive entry.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace lzh {

inline constexpr int kWindowSize = 4096;
inline constexpr int kWindowMask = kWindowSize - 1;
inline constexpr int kLookAhead = 60;  // longest match, and bytes of look-ahead
inline constexpr int kThreshold = 2;   // matches of this length or shorter go as literals
inline constexpr int kSymbolCount = 256 + kLookAhead - kThreshold;  // 314
inline constexpr int kTreeSize = 2 * kSymbolCount - 1;              // 627; children >= are leaves
inline constexpr int kRootNode = kTreeSize - 1;                     // 626
inline constexpr uint16_t kFreqLimit = 0x8000;
inline constexpr int kStartPosition = kWindowSize - kLookAhead;  // 4036
inline constexpr uint8_t kFillByte = 0x20;
// The content we give window positions that the data has not reached yet (the fill covers only
// positions before the start position).
inline constexpr uint8_t kUnfilledByte = 0;

// The adaptive Huffman model. Frequencies never decrease along the index; the children of an
// internal node stand at adjacent indexes; freq[kTreeSize] is a 0xFFFF sentinel. parent[kTreeSize
// + s] is the node of symbol s's leaf; the root's parent is 0, which ends every walk upwards.
struct HuffmanModel {
    // Entries kTreeSize and up hold 0xFFFF: the sentinel, and padding for reads four at a time.
    std::array<uint16_t, kTreeSize + 4> freq;
    std::array<uint16_t, kTreeSize> child;  // first child, or kTreeSize + symbol for a leaf
    std::array<uint16_t, kTreeSize + kSymbolCount> parent;

    void Init();

    // Counts one more occurrence of symbol s, first halving the counts when the root has reached
    // kFreqLimit. A node whose count passes the next node's moves up past every node of the old,
    // equal count, taking its subtree along.
    void Update(int s) {
        Unwatched none;
        Update(s, none);
    }

    // A watcher (below) that takes no notice.
    struct Unwatched {
        void Rebuilt() {}
        void Exchanged(int, int) {}
    };

    // The same, telling watcher of every change to the tree's shape: watcher.Rebuilt() after a
    // rebuild, watcher.Exchanged(x, l) after nodes x and l have traded their subtrees (each node
    // keeps its place under its parent).
    template <class Watcher>
    void Update(int s, Watcher& watcher) {
        if (freq[kRootNode] == kFreqLimit) [[unlikely]] {
            Rebuild();
            watcher.Rebuilt();
        }
        Climb(parent[kTreeSize + s], watcher);
    }

    // The same as Update(s) for the symbol whose leaf is path[depth - 1], given the nodes from the
    // root's child (path[0]) down to that leaf as they stand before the update. Until a node has to
    // move, the path gives each next node, so the counts on it are raised without waiting for a
    // chain of parent links; after a move (or a rebuild) the climb goes on by the links.
    template <class Watcher>
    void UpdateAlong(int s, const uint16_t* path, int depth, Watcher& watcher) {
        if (freq[kRootNode] == kFreqLimit) [[unlikely]] {
            Update(s, watcher);
            return;
        }
        for (int d = depth - 1; d >= 0; --d) {
            const int x = path[d];
            const uint16_t f = ++freq[x];
            if (f > freq[x + 1]) [[unlikely]] {
                --freq[x];
                Climb(x, watcher);
                return;
            }
        }
        ++freq[kRootNode];  // never passes the sentinel
    }

    // Halves every leaf's count (rounding up) and builds the internal nodes anew.
    void Rebuild();

    // The code length of symbol s: the number of nodes from its leaf up to the root, root excluded.
    int CodeLength(int s) const;

  private:
    // Raises the counts from node x up to the root.
    template <class Watcher>
    void Climb(int x, Watcher& watcher) {
        do {
            const uint16_t f = ++freq[x];
            if (f > freq[x + 1]) {
                const int l = LastBelow(x + 1, f);
                freq[x] = freq[l];
                freq[l] = f;
                const int i = child[x];
                const int j = child[l];
                parent[i] = static_cast<uint16_t>(l);
                if (i < kTreeSize) {
                    parent[i + 1] = static_cast<uint16_t>(l);
                }
                parent[j] = static_cast<uint16_t>(x);
                if (j < kTreeSize) {
                    parent[j + 1] = static_cast<uint16_t>(x);
                }
                child[l] = static_cast<uint16_t>(i);
                child[x] = static_cast<uint16_t>(j);
                watcher.Exchanged(x, l);
                x = l;
            }
            x = parent[x];
        } while (x != 0);
    }

    // The last index l >= from with freq[l] < f, given freq[from] < f, where some node before
    // from has just been raised from f - 1 to f. The counts are sorted, so those from `from` on
    // that are below f are a run equal to f - 1, which ends at the sentinel at the latest. Four
    // counts are compared at a time, as the lanes of a 64-bit word (lane k holds freq[l + 1 + k]
    // on a little-endian machine).
    int LastBelow(int from, uint16_t f) const {
        static_assert(std::endian::native == std::endian::little, "LastBelow reads counts as lanes");
        const uint64_t old = 0x0001000100010001u * static_cast<uint16_t>(f - 1);
        int l = from;
        for (;;) {
            uint64_t lanes;
            std::memcpy(&lanes, &freq[l + 1], sizeof lanes);
            if (const uint64_t differ = lanes ^ old; differ != 0) {
                return l + (std::countr_zero(differ) >> 4);
            }
            l += 4;
        }
    }
};

// The prefix code of an offset's upper 6 bits: the code word is the top kOffsetLength[u] bits of
// kOffsetCode[u].
struct OffsetTables {
    std::array<uint8_t, 64> length;
    std::array<uint8_t, 64> code;
    // By the first 8 bits read: the upper 6 bits that their leading code word stands for, and the
    // code word's length.
    std::array<uint8_t, 256> upperByByte;
    std::array<uint8_t, 256> lengthByByte;
};

constexpr OffsetTables MakeOffsetTables() {
    OffsetTables t{};
    // Code lengths 3 to 8 for the groups of 1, 3, 8, 12, 24 and 16 values of u, the code words
    // counting up from 0 in canonical order.
    constexpr int kGroupSizes[] = {1, 3, 8, 12, 24, 16};
    int u = 0;
    int code = 0;  // as an 8-bit left-aligned value
    for (int g = 0; g < 6; ++g) {
        const int length = 3 + g;
        const int step = 1 << (8 - length);
        for (int k = 0; k < kGroupSizes[g]; ++k, ++u) {
            t.length[u] = static_cast<uint8_t>(length);
            t.code[u] = static_cast<uint8_t>(code);
            for (int b = code; b < code + step; ++b) {
                t.upperByByte[b] = static_cast<uint8_t>(u);
                t.lengthByByte[b] = static_cast<uint8_t>(length);
            }
            code += step;
        }
    }
    return t;
}

inline constexpr OffsetTables kOffsetTables = MakeOffsetTables();

}  // namespace lzh
