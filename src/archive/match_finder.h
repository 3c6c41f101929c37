// The LZH encoder's match finder and the steps that the serial and the threaded encoder share.
//
// The finder's operations, in the order the encoder performs them, fix every output bit: each
// window position is inserted once (AddNode, which also yields the match for its string) and
// removed once (RemoveNode), and every operation touches the one tree that the string's first
// three bytes select.
//
// Everything here is internal to each of the two encoders' files (an unnamed namespace): both
// take their steps from here, so that they cannot drift apart.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "archive/bit_io.h"
#include "archive/codec_io.h"
#include "archive/lzh_coding.h"
#include "archive/lzh_model.h"

namespace {

using namespace lzh;

// Marks a missing node in the match trees.
constexpr int kNil = kWindowSize;
// Parent links name a tree's root as kRootBase + tree: one tree per first byte and 4-bit hash of
// the second and third bytes.
constexpr int kRootBase = kNil + 1;
constexpr int kTreeCount = 4096;
// Bytes after the window's mirror that word-wise comparisons may read (and ignore).
constexpr int kComparePadding = 8;

static_assert(std::endian::native == std::endian::little, "CommonLength reads words little-endian");

// a if c, else b, preferably without a branch: for conditions that go either way at random.
template <class T>
inline T Choose(bool c, T a, T b) {
    return __builtin_expect_with_probability(c, true, 0.5) ? a : b;
}

// Eight bytes as a big-endian number, so that comparing two such numbers compares the bytes in
// order as unsigned values.
inline uint64_t LoadBigEndian(const uint8_t* p) {
    uint64_t x;
    std::memcpy(&x, p, sizeof x);
    return __builtin_bswap64(x);
}

// The first index from `from` on (up to kLookAhead) where the strings at a and b differ, or
// kLookAhead when they agree up to there; *order gets the sign of a's byte minus b's there. Compares
// eight bytes at a time and may read up to kLookAhead + 7 bytes of each string.
inline int CommonLength(const uint8_t* a, const uint8_t* b, int from, int* order = nullptr) {
    int i = from;
    while (i < kLookAhead) {
        uint64_t x;
        uint64_t y;
        std::memcpy(&x, a + i, sizeof x);
        std::memcpy(&y, b + i, sizeof y);
        if (const uint64_t differ = x ^ y; differ != 0) {
            const int shift = std::countr_zero(differ) & ~7;
            if (order != nullptr) {
                *order = static_cast<int>((x >> shift) & 0xFF) - static_cast<int>((y >> shift) & 0xFF);
            }
            i += shift >> 3;
            return std::min(i, kLookAhead);
        }
        i += 8;
    }
    return kLookAhead;
}

// The match finder and its window.
//
// Each window position p is a node standing for the kLookAhead-byte string at window[p]. The
// window carries a copy of its first kLookAhead - 1 bytes after its end, so that such a string
// never wraps. Within a tree, strings are ordered by their bytes from offset 1 on (offset 0 is the
// same throughout a tree); smaller strings lie to the left. A root has a single child. A node's
// prefix is how many leading bytes its string shares with its parent's (1 under a root): a search
// step compares bytes only where the prefix lengths leave the order open.
//
// What a search reads of a node (both children and the prefix) is packed into 32 bits, so that the
// links of all nodes take 16 KB and stay in the first-level cache with the window. Parent links
// name a node (0-4095), a root (kRootBase + tree) or kNil.
class MatchFinder {
  public:
    std::array<uint8_t, kWindowSize + kLookAhead + kComparePadding> window;

    int matchLength = 0;
    int matchOffset = 0;  // distance to the match source minus one

    void InitTrees() {
        roots_.fill(kNil);
        std::fill_n(parent_.begin(), kWindowSize, static_cast<uint16_t>(kNil));
    }

    // Empty trees, and the window as coding starts: the fill before the start position, and
    // kUnfilledByte where the data has not reached yet.
    void Init() {
        InitTrees();
        uint8_t* const bytes = window.data();
        std::fill_n(bytes, kStartPosition, kFillByte);
        std::fill(bytes + kStartPosition, bytes + window.size(), kUnfilledByte);
    }

    // The tree (0 to kTreeCount - 1) of the string at key: its first byte and a 4-bit hash of the
    // next two.
    static int TreeOf(const uint8_t* key) { return RootOf(key) - kRootBase; }

    // Stores b at window position s, and in its copy after the window when s has one.
    void Put(int s, uint8_t b) {
        window[s] = b;
        if (s < kLookAhead - 1) {
            window[s + kWindowSize] = b;
        }
    }

    // Inserts position r and leaves the longest match for its string in matchLength and
    // matchOffset (the nearest one of equal length on the search path). A string equal to an
    // earlier one in all kLookAhead bytes takes the earlier node's place.
    void AddNode(int r) {
        const uint8_t* key = &window[r];
        matchLength = 0;
        const int root = RootOf(key);
        int p = roots_[root - kRootBase];
        if (p == kNil) {
            roots_[root - kRootBase] = static_cast<uint16_t>(r);
            Attach(r, root, 1);
            return;
        }
        int bestLength = 0;
        int bestOffset = matchOffset;
        int i = 1;     // length known to match
        int side = 1;  // the side of its parent that p hangs on (a root's child counts as right)
        for (;;) {
            const uint32_t node = links_[p];
            const uint8_t* const candidate = &window[p];
            // r and p both agree with p's parent on the first min(t, i) bytes, t = p's prefix.
            // Where t < i, p parts from the parent at t and r does not, so the strings differ at t
            // and r lies on the other side of p than p lies of its parent. Otherwise they agree up
            // to i and the bytes from i on decide; these are loaded before t is known.
            const int t = PrefixOf(node);
            const uint64_t x = LoadBigEndian(key + i);
            const uint64_t y = LoadBigEndian(candidate + i);
            if (t >= i && x == y) [[unlikely]] {
                int cmp = 0;
                i = CommonLength(key, candidate, i + 8, &cmp);
                side = cmp >= 0 ? 1 : 0;
            } else {
                const bool inherited = t < i;
                const int differing = i + (std::countl_zero(x ^ y) >> 3);
                side = Choose(inherited, side ^ 1, static_cast<int>(x > y));
                i = Choose(inherited, t, differing);
            }
            const int distance = ((r - p) & kWindowMask) - 1;
            if (i >= kLookAhead) [[unlikely]] {
                if (kLookAhead > bestLength) {
                    bestLength = kLookAhead;
                    bestOffset = distance;
                }
                break;
            }
            // Among equally long matches the nearest wins.
            const bool better =
                i > kThreshold && (i > bestLength || (i == bestLength && distance < bestOffset));
            bestLength = Choose(better, i, bestLength);
            bestOffset = Choose(better, distance, bestOffset);
            const int next = Choose(side != 0, ChildOf(node, 1), ChildOf(node, 0));
            if (next == kNil) {
                links_[p] = WithChild(node, side, r);
                Attach(r, p, i);
                matchLength = bestLength;
                matchOffset = bestOffset;
                return;
            }
            p = next;
        }
        matchLength = bestLength;
        matchOffset = bestOffset;
        // r and p are equal: r takes p's place.
        links_[r] = links_[p];
        parent_[r] = parent_[p];
        parent_[Left(p)] = static_cast<uint16_t>(r);  // entry kNil is scratch
        parent_[Right(p)] = static_cast<uint16_t>(r);
        ReplaceChild(parent_[p], p, r);
        parent_[p] = kNil;
    }

    // Takes position p out of its tree, if it is in one.
    void RemoveNode(int p) {
        if (parent_[p] == kNil) {
            return;
        }
        int q;
        if (Right(p) == kNil) {
            q = Left(p);
            if (q != kNil) {
                InheritPrefix(parent_[p], p, q);
            }
        } else if (Left(p) == kNil) {
            q = Right(p);
            InheritPrefix(parent_[p], p, q);
        } else {
            // p's place goes to the largest node of its left subtree.
            q = Left(p);
            if (Right(q) != kNil) {
                do {
                    q = Right(q);
                } while (Right(q) != kNil);
                // q's left child reads q's old prefix length before q's own is recomputed.
                if (Left(q) != kNil) {
                    InheritPrefix(parent_[q], q, Left(q));
                }
                RecomputePrefix(1, q, Left(p));
                SetChild(parent_[q], 1, Left(q));
                parent_[Left(q)] = parent_[q];
                SetChild(q, 0, Left(p));
                parent_[Left(p)] = static_cast<uint16_t>(q);
            }
            RecomputePrefix(1, parent_[p], q);
            RecomputePrefix(1, q, Right(p));
            SetChild(q, 1, Right(p));
            parent_[Right(p)] = static_cast<uint16_t>(q);
        }
        parent_[q] = parent_[p];  // q may be kNil: scratch
        ReplaceChild(parent_[p], p, q);
        parent_[p] = kNil;
    }

  private:
    // A node's packed links: bits 0-12 the left child, 13-25 the right child (kNil fits in 13
    // bits), 26-31 the prefix length.
    static constexpr int kChildBits = 13;
    static constexpr uint32_t kChildMask = (1u << kChildBits) - 1;
    static constexpr int kPrefixShift = 2 * kChildBits;
    static_assert(kNil <= kChildMask && kLookAhead < (1 << (32 - kPrefixShift)));

    static int ChildOf(uint32_t node, int side) {
        return static_cast<int>((node >> (side * kChildBits)) & kChildMask);
    }
    static int PrefixOf(uint32_t node) { return static_cast<int>(node >> kPrefixShift); }
    static uint32_t WithChild(uint32_t node, int side, int child) {
        const int shift = side * kChildBits;
        return (node & ~(kChildMask << shift)) | (static_cast<uint32_t>(child) << shift);
    }

    int Left(int p) const { return ChildOf(links_[p], 0); }
    int Right(int p) const { return ChildOf(links_[p], 1); }
    int Prefix(int p) const { return PrefixOf(links_[p]); }
    void SetChild(int p, int side, int child) { links_[p] = WithChild(links_[p], side, child); }
    void SetPrefix(int p, int prefix) {
        links_[p] = (links_[p] & ~(~0u << kPrefixShift)) | (static_cast<uint32_t>(prefix) << kPrefixShift);
    }

    // A new leaf r under parent with the given prefix length.
    void Attach(int r, int parent, int prefix) {
        links_[r] = kNil | (kNil << kChildBits) | (static_cast<uint32_t>(prefix) << kPrefixShift);
        parent_[r] = static_cast<uint16_t>(parent);
    }

    static int RootOf(const uint8_t* key) {
        const int x = key[1] ^ key[2];
        return kRootBase + key[0] + 256 * ((x ^ (x >> 4)) & 15);
    }

    // In parent, the link that pointed to child now points to replacement.
    void ReplaceChild(int parent, int child, int replacement) {
        if (parent >= kRootBase) {
            roots_[parent - kRootBase] = static_cast<uint16_t>(replacement);
        } else {
            SetChild(parent, Right(parent) == child ? 1 : 0, replacement);
        }
    }

    // n's prefix length under its parent par, knowing that the first `from` bytes agree.
    void RecomputePrefix(int from, int par, int n) {
        SetPrefix(n, par >= kWindowSize ? 1 : CommonLength(&window[par], &window[n], from));
    }

    // n moves from under old to under newParent, old's former parent.
    void InheritPrefix(int newParent, int old, int n) {
        const int a = Prefix(old);
        const int b = Prefix(n);
        if (a < b) {
            SetPrefix(n, a);
        } else if (a == b) {
            RecomputePrefix(a, newParent, n);
        }
    }

    std::array<uint32_t, kWindowSize> links_;
    std::array<uint16_t, kWindowSize + 1> parent_;  // entry kNil is scratch
    std::array<uint16_t, kTreeCount> roots_;        // the single child of each root
};

// Reads the first look-ahead into dest (up to kLookAhead bytes, ending at the first read that
// reports the end of input) and returns its length.
inline int ReadLookAhead(CodecIo& io, uint8_t* dest) {
    int len = 0;
    while (len < kLookAhead) {
        const uint8_t b = io.ReadByte();
        if (io.EndOfInput()) {
            break;
        }
        dest[len++] = b;
    }
    return len;
}

// Codes the symbol at the current position: the match found there, shortened to the len bytes of
// look-ahead, or the literal when that leaves kThreshold bytes or fewer. Returns the number of
// positions the symbol covers.
inline int EncodeNextSymbol(HuffmanModel& model,
                            BitWriter& bits,
                            int length,
                            int offset,
                            uint8_t literal,
                            int len) {
    length = std::min(length, len);
    if (length <= kThreshold) {
        EncodeSymbol(model, bits, literal);
        return 1;
    }
    EncodeSymbol(model, bits, length + 253);
    EncodeOffset(bits, offset);
    return length;
}

}  // namespace
