#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>

#include "archive/bit_io.h"
#include "archive/codec_io.h"
#include "archive/lzh.h"
#include "archive/lzh_model.h"

namespace {

using namespace lzh;

// The output is expanded into one straight buffer: the last kWindowSize bytes before the write
// position are the window, so a match's source is just `distance` bytes back and never wraps.
// Before the first byte the window holds what the model starts with, in stream order: the
// positions after the start position (kUnfilledByte), then those before it (kFillByte). Whenever
// kChunkSize bytes have been added they go to the run's writer and the window moves to the front.
constexpr size_t kChunkSize = 16384;
// Room after the chunk for the match that crosses its end, and for the 8-byte stores that may
// write up to 7 bytes past a match's end.
constexpr size_t kSlack = 128;

// Codes stay far shorter than this: a node n levels deep has a count of at least the n-th Fibonacci
// number, and the root's stays below 2^15.
constexpr int kMaxCodeLength = 64;

// The top kTableBits levels of the code tree, for reading the first bits of a code at once and
// finding the nodes passed without following links one after the other.
//
// The entry of a kTableBits-bit value v names the node that v's bits lead to from the root,
// stopping early at a leaf, and how many bits that took. The node that the first i bits of v lead
// to (i up to the entry's bit count) is NodeAt(i, v). Both change only when a node on the way
// (not at its end) changes its children: an exchange of two subtrees redoes what lies below each of
// the two nodes that is less than kTableBits deep, and a rebuild redoes everything.
//
// Every node knows its own place in the top levels (its depth and code), or that it lies deeper:
// nearly every exchange is of two deep nodes, and then nothing is redone, without a walk up to the
// root to find out.
class CodeTable {
  public:
    static constexpr int kTableBits = 8;

    explicit CodeTable(const HuffmanModel& model) : model_(model) {}

    // The table is kept from Start on. Until then it takes no notice of the model's changes: while
    // the counts are young, nearly every symbol moves nodes near the root, and each such move
    // would redo a large part of the table.
    bool Started() const { return started_; }
    void Start() {
        started_ = true;
        Rebuilt();
    }

    // The entry of the kTableBits-bit value v, and what it holds: the node that v leads to, and
    // the bits it took.
    int Entry(unsigned v) const { return entries_[v]; }
    static int NodeOf(int entry) { return entry & kNodeMask; }
    static int BitsOf(int entry) { return entry >> kBitsShift; }

    // The node that the first i bits (0 to kTableBits) of the kTableBits-bit value v lead to, when
    // no leaf comes before it; otherwise some node (a valid index).
    int NodeAt(int i, unsigned v) const { return nodes_[(1u << i) | (v >> (kTableBits - i))]; }

    // The model's notices of its changes.
    void Rebuilt() {
        if (started_) {
            places_.fill(kDeep);
            Fill(kRootNode, 0, 0);
        }
    }
    void Exchanged(int x, int l) {
        if (started_) {
            Refill(x);
            Refill(l);
        }
    }

  private:
    static constexpr int kBitsShift = 12;
    static constexpr int kNodeMask = (1 << kBitsShift) - 1;
    static_assert(kTreeSize <= kNodeMask);

    // A node's place when it is at most kTableBits deep: its index in nodes_, 2^depth + code.
    static constexpr uint16_t kDeep = 0;

    // Redoes what lies below node n, which has just taken another subtree, when n is at most
    // kTableBits deep. A deeper n has nothing to redo: the node it traded with lies at most a level
    // apart, at least kTableBits deep, so no node of the subtree held a place.
    void Refill(int n) {
        const unsigned place = places_[n];
        if (place == kDeep) {
            return;
        }
        const int depth = std::bit_width(place) - 1;
        Fill(n, depth, place - (1u << depth));
    }

    // Sets what lies below node n, which the depth bits of code lead to.
    void Fill(int n, int depth, unsigned code) {
        const auto place = static_cast<uint16_t>((1u << depth) | code);
        nodes_[place] = static_cast<uint16_t>(n);
        places_[n] = place;
        const int first = model_.child[n];
        if (depth == kTableBits || first >= kTreeSize) {
            const int shift = kTableBits - depth;
            std::fill_n(entries_.begin() + (code << shift), 1u << shift,
                        static_cast<uint16_t>(n | depth << kBitsShift));
            ForgetPlacesBelowIfAny(n);
            return;
        }
        Fill(first, depth + 1, code << 1);
        Fill(first + 1, depth + 1, (code << 1) | 1);
    }

    // Marks the nodes below n, now deeper than kTableBits, as deep. The nodes of a subtree that
    // still have a place are the top of it (a node's parent was less deep than the node), so the
    // walk ends at the first one without; most often that is each child of n.
    void ForgetPlacesBelowIfAny(int n) {
        const int first = model_.child[n];
        if (first < kTreeSize && (places_[first] | places_[first + 1]) != kDeep) [[unlikely]] {
            ForgetPlacesBelow(first);
        }
    }
    // The same for the two children first and first + 1 and what lies below them.
    [[gnu::noinline]] void ForgetPlacesBelow(int first) {
        for (const int k : {first, first + 1}) {
            if (places_[k] != kDeep) {
                places_[k] = kDeep;
                ForgetPlacesBelowIfAny(k);
            }
        }
    }

    const HuffmanModel& model_;
    bool started_ = false;
    std::array<uint16_t, 1u << kTableBits> entries_;
    // Node reached by the i bits c at index 2^i + c: a complete binary tree laid out by levels.
    std::array<uint16_t, 2u << kTableBits> nodes_{};
    // Each node's place in nodes_, or kDeep.
    std::array<uint16_t, kTreeSize> places_{};
};

struct DecoderState {
    HuffmanModel model;
    std::optional<CodeTable> table;
    std::array<uint8_t, kWindowSize + kChunkSize + kSlack> buffer;
};

// The decoder's reading of the two codes. After a Prepare that returned true, the bits of a code
// are taken without a check each, the first ones through the table once it has started. The nodes
// passed on the way down go to the model's update.
int ReadSymbol(HuffmanModel& model, CodeTable& table, BitReader& bits, bool prepared) {
    std::array<uint16_t, kMaxCodeLength> path;
    int depth = 0;
    int k;
    if (prepared && table.Started()) {
        const unsigned v = bits.PeekBits(CodeTable::kTableBits);
        const int entry = table.Entry(v);
        // Every level of the table, whether the code goes that deep or not: no branch per level.
        for (int i = 1; i <= CodeTable::kTableBits; ++i) {
            path[i - 1] = static_cast<uint16_t>(table.NodeAt(i, v));
        }
        depth = CodeTable::BitsOf(entry);
        bits.SkipBits(depth);
        k = model.child[CodeTable::NodeOf(entry)];
        while (k < kTreeSize) {
            const int node = k + static_cast<int>(bits.PeekBit());
            bits.SkipBit();
            path[depth++] = static_cast<uint16_t>(node);
            k = model.child[node];
        }
    } else if (prepared) {
        k = model.child[kRootNode];
        while (k < kTreeSize) {
            const int node = k + static_cast<int>(bits.PeekBit());
            bits.SkipBit();
            path[depth++] = static_cast<uint16_t>(node);
            k = model.child[node];
        }
    } else {
        k = model.child[kRootNode];
        while (k < kTreeSize) {
            const int node = k + static_cast<int>(bits.ReadBits(1));
            path[depth++] = static_cast<uint16_t>(node);
            k = model.child[node];
        }
    }
    const int symbol = k - kTreeSize;
    model.UpdateAlong(symbol, path.data(), depth, table);
    return symbol;
}

// The first 8 bits hold the upper bits' code word (3 to 8 bits) and the start of the lower 6 bits;
// length - 2 more bits complete them.
unsigned ReadOffset(BitReader& bits) {
    const unsigned first = bits.ReadBits(8);
    const unsigned upper = kOffsetTables.upperByByte[first];
    const int more = kOffsetTables.lengthByByte[first] - 2;
    const unsigned rest = bits.ReadBits(more);
    return (upper << 6) | (((first << more) | rest) & 63);
}

// Copies length bytes (1 to kLookAhead) from distance bytes back, with the result of a copy byte
// by byte in order: a source closer than length repeats the bytes being written. May write up to 7
// bytes past the end.
inline void CopyMatch(uint8_t* to, unsigned distance, int length) {
    const uint8_t* from = to - distance;
    if (distance >= 8) {
        // Each 8-byte load reads only bytes written before it.
        for (int k = 0; k < length; k += 8) {
            std::memcpy(to + k, from + k, 8);
        }
    } else if (distance == 1) {
        const uint64_t pattern = 0x0101010101010101u * *from;
        for (int k = 0; k < length; k += 8) {
            std::memcpy(to + k, &pattern, 8);
        }
    } else {
        for (int k = 0; k < length; ++k) {
            to[k] = from[k];
        }
    }
}

}  // namespace

void LZHDecode(CodecIo& io, int32_t destSize) {
    if (destSize <= 0) {
        return;
    }
    auto state = std::make_unique<DecoderState>();
    HuffmanModel& model = state->model;
    model.Init();
    CodeTable& table = state->table.emplace(model);
    uint8_t* const buffer = state->buffer.data();
    std::fill_n(buffer, kLookAhead, kUnfilledByte);
    std::fill_n(buffer + kLookAhead, kStartPosition, kFillByte);
    uint8_t* const chunkEnd = buffer + kWindowSize + kChunkSize;
    uint8_t* pos = buffer + kWindowSize;
    BitReader bits(io);

    int64_t produced = 0;  // may pass destSize by up to 59, which must not wrap
    while (produced < destSize) {
        if (pos >= chunkEnd) {
            io.WriteBytes(buffer + kWindowSize, static_cast<size_t>(pos - (buffer + kWindowSize)));
            std::memmove(buffer, pos - kWindowSize, kWindowSize);
            pos = buffer + kWindowSize;
            // After the first chunk the counts have settled enough for the table to pay.
            if (!table.Started()) {
                table.Start();
            }
        }
        const int symbol = ReadSymbol(model, table, bits, bits.Prepare());
        if (symbol < 256) {
            *pos++ = static_cast<uint8_t>(symbol);
            ++produced;
        } else {
            const unsigned distance = ReadOffset(bits) + 1;
            const int length = symbol - 256 + kThreshold + 1;
            CopyMatch(pos, distance, length);
            pos += length;
            produced += length;
        }
    }
    io.WriteBytes(buffer + kWindowSize, static_cast<size_t>(pos - (buffer + kWindowSize)));
}
