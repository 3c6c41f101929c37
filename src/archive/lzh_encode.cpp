#include <algorithm>
#include <memory>

#include "bit_io.h"
#include "codec_io.h"
#include "lzh.h"
#include "lzh_coding.h"
#include "lzh_model.h"

namespace {

using namespace lzh;

// Marks a missing node in the match trees.
constexpr int kNil = kWindowSize;
// The 4096 tree roots sit after kNil in right[]: one tree per first byte and 4-bit hash of the
// second and third bytes.
constexpr int kRootBase = kNil + 1;
constexpr int kTreeCount = 4096;

// The match finder and its window.
//
// Each window position p is a node standing for the kLookAhead-byte string at window[p]. The
// window carries a copy of its first kLookAhead - 1 bytes after its end, so that such a string
// never wraps. Within a tree, strings are ordered by their bytes from offset 1 on (offset 0 is the
// same throughout a tree); smaller strings lie to the left. A root has a single child, in right[].
// prefix[n] is how many leading bytes n's string shares with its parent's (1 under a root): a
// search step compares bytes only where the prefix lengths leave the order open.
class MatchFinder {
  public:
    std::array<uint8_t, kWindowSize + kLookAhead> window;

    int matchLength = 0;
    int matchOffset = 0;  // distance to the match source minus one

    void InitTrees() {
        std::fill(right_.begin() + kRootBase, right_.end(), static_cast<uint16_t>(kNil));
        std::fill_n(parent_.begin(), kWindowSize, static_cast<uint16_t>(kNil));
    }

    // Inserts position r and leaves the longest match for its string in matchLength and
    // matchOffset (the nearest one of equal length on the search path). A string equal to an
    // earlier one in all kLookAhead bytes takes the earlier node's place.
    void AddNode(int r) {
        const uint8_t* key = &window[r];
        left_[r] = right_[r] = kNil;
        int p = RootOf(key);
        int cmp = 1;
        int i = 1;  // length known to match
        matchLength = 0;
        for (;;) {
            uint16_t& link = cmp >= 0 ? right_[p] : left_[p];
            if (link == kNil) {
                link = static_cast<uint16_t>(r);
                parent_[r] = static_cast<uint16_t>(p);
                prefix_[r] = static_cast<uint8_t>(i);
                return;
            }
            p = link;
            const int t = prefix_[p];
            if (t < i) {
                // p parts from its parent at t, where r still agrees with the parent.
                i = t;
                cmp = key[i] - window[p + i];
            } else if (t == i) {
                const uint8_t* other = &window[p];
                while (i < kLookAhead) {
                    cmp = key[i] - other[i];
                    if (cmp != 0) {
                        break;
                    }
                    ++i;
                }
            }
            // t > i: r parts from p where it parted from the parent, the same way.
            if (i > kThreshold) {
                const int distance = ((r - p) & kWindowMask) - 1;
                if (i > matchLength) {
                    matchOffset = distance;
                    matchLength = i;
                    if (matchLength >= kLookAhead) {
                        break;
                    }
                } else if (i == matchLength && distance < matchOffset) {
                    matchOffset = distance;
                }
            }
        }
        // r and p are equal: r takes p's place.
        prefix_[r] = prefix_[p];
        parent_[r] = parent_[p];
        left_[r] = left_[p];
        right_[r] = right_[p];
        parent_[left_[p]] = static_cast<uint16_t>(r);  // entry kNil is scratch
        parent_[right_[p]] = static_cast<uint16_t>(r);
        ReplaceChild(parent_[p], p, r);
        parent_[p] = kNil;
    }

    // Takes position p out of its tree, if it is in one.
    void RemoveNode(int p) {
        if (parent_[p] == kNil) {
            return;
        }
        int q;
        if (right_[p] == kNil) {
            q = left_[p];
            if (q != kNil) {
                InheritPrefix(parent_[p], p, q);
            }
        } else if (left_[p] == kNil) {
            q = right_[p];
            InheritPrefix(parent_[p], p, q);
        } else {
            // p's place goes to the largest node of its left subtree.
            q = left_[p];
            if (right_[q] != kNil) {
                do {
                    q = right_[q];
                } while (right_[q] != kNil);
                // q's left child reads q's old prefix length before q's own is recomputed.
                if (left_[q] != kNil) {
                    InheritPrefix(parent_[q], q, left_[q]);
                }
                RecomputePrefix(1, q, left_[p]);
                right_[parent_[q]] = left_[q];
                parent_[left_[q]] = parent_[q];
                left_[q] = left_[p];
                parent_[left_[p]] = static_cast<uint16_t>(q);
            }
            RecomputePrefix(1, parent_[p], q);
            RecomputePrefix(1, q, right_[p]);
            right_[q] = right_[p];
            parent_[right_[p]] = static_cast<uint16_t>(q);
        }
        parent_[q] = parent_[p];  // q may be kNil: scratch
        ReplaceChild(parent_[p], p, q);
        parent_[p] = kNil;
    }

  private:
    int RootOf(const uint8_t* key) const {
        const int x = key[1] ^ key[2];
        return kRootBase + key[0] + 256 * ((x ^ (x >> 4)) & 15);
    }

    // In parent, the link that pointed to child now points to replacement. A root's only link is
    // its right one.
    void ReplaceChild(int parent, int child, int replacement) {
        if (right_[parent] == child) {
            right_[parent] = static_cast<uint16_t>(replacement);
        } else {
            left_[parent] = static_cast<uint16_t>(replacement);
        }
    }

    // n's prefix length under its parent par, knowing that the first `from` bytes agree.
    void RecomputePrefix(int from, int par, int n) {
        if (par >= kWindowSize) {
            prefix_[n] = 1;
            return;
        }
        int k = from;
        const uint8_t* a = &window[par];
        const uint8_t* b = &window[n];
        while (k < kLookAhead && a[k] == b[k]) {
            ++k;
        }
        prefix_[n] = static_cast<uint8_t>(k);
    }

    // n moves from under old to under newParent, old's former parent.
    void InheritPrefix(int newParent, int old, int n) {
        const int a = prefix_[old];
        const int b = prefix_[n];
        if (a < b) {
            prefix_[n] = static_cast<uint8_t>(a);
        } else if (a == b) {
            RecomputePrefix(a, newParent, n);
        }
    }

    std::array<uint16_t, kWindowSize + 1> left_;
    std::array<uint16_t, kRootBase + kTreeCount> right_;
    std::array<uint16_t, kWindowSize + 1> parent_;
    std::array<uint8_t, kWindowSize + 1> prefix_;
};

struct EncoderState {
    MatchFinder finder;
    HuffmanModel model;
};

}  // namespace

void LZHEncode(CodecIo& io) {
    auto state = std::make_unique<EncoderState>();
    MatchFinder& finder = state->finder;
    HuffmanModel& model = state->model;
    uint8_t* const window = finder.window.data();
    model.Init();
    finder.InitTrees();
    std::fill_n(window, kStartPosition, kFillByte);
    std::fill(window + kStartPosition, window + finder.window.size(), kUnfilledByte);

    int s = 0;  // the oldest position, next to be overwritten; always kLookAhead ahead of r
    int r = kStartPosition;
    int len = 0;  // bytes of look-ahead
    while (len < kLookAhead) {
        const uint8_t b = io.ReadByte();
        if (io.EndOfInput()) {
            break;
        }
        window[r + len] = b;
        ++len;
    }
    if (len == 0) {
        return;
    }
    // The strings that begin in the fill and reach into the data.
    for (int k = 1; k <= kLookAhead; ++k) {
        finder.AddNode(r - k);
    }
    finder.AddNode(r);

    BitWriter bits(io);
    while (len > 0) {
        if (finder.matchLength > len) {
            finder.matchLength = len;
        }
        if (finder.matchLength <= kThreshold) {
            finder.matchLength = 1;
            EncodeSymbol(model, bits, window[r]);
        } else {
            EncodeSymbol(model, bits, finder.matchLength + 253);
            EncodeOffset(bits, finder.matchOffset);
        }
        const int last = finder.matchLength;
        int i = 0;
        for (; i < last; ++i) {
            const uint8_t b = io.ReadByte();
            if (io.EndOfInput()) {
                break;
            }
            finder.RemoveNode(s);
            window[s] = b;
            if (s < kLookAhead - 1) {
                window[s + kWindowSize] = b;
            }
            s = (s + 1) & kWindowMask;
            r = (r + 1) & kWindowMask;
            finder.AddNode(r);
        }
        // Past the end of input the look-ahead shrinks.
        for (; i < last; ++i) {
            finder.RemoveNode(s);
            s = (s + 1) & kWindowMask;
            r = (r + 1) & kWindowMask;
            --len;
            if (len > 0) {
                finder.AddNode(r);
            }
        }
    }
    bits.Flush();
}
