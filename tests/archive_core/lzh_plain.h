// A plain, slow LZH coder written in the tests straight from the coding rules, to hold the codec
// against: the adaptive Huffman model with its rebuild, the offset code as a table of code words,
// bits packed one at a time, and the match finder's trees as separate arrays, searched by comparing
// whole strings. It shares no code with the codec, not even its constants.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lzh_plain {

constexpr int kWindow = 4096;
constexpr int kLookAhead = 60;
constexpr int kSymbols = 314;
constexpr int kNodes = 2 * kSymbols - 1;  // 627; a child of kNodes or more is a leaf
constexpr int kRoot = kNodes - 1;
constexpr int kLimit = 0x8000;
constexpr int kStart = kWindow - kLookAhead;  // 4036
constexpr uint8_t kFill = 0x20;
constexpr int kNil = kWindow;

// The adaptive Huffman model, entry for entry as the rules state it.
struct Model {
    std::array<uint16_t, kNodes + 1> freq{};
    std::array<uint16_t, kNodes> child{};
    std::array<uint16_t, kNodes + kSymbols> parent{};

    // Every symbol's leaf with a count of 1, in symbol order, under internal nodes built as a
    // rebuild builds them.
    void Init() {
        std::vector<std::pair<int, int>> leaves;
        for (int s = 0; s < kSymbols; ++s) {
            leaves.emplace_back(1, s + kNodes);
        }
        Build(std::move(leaves));
        freq[kNodes] = 0xFFFF;
        parent[kRoot] = 0;
    }

    // Halves each leaf's count, rounding up, and builds the internal nodes anew.
    void Rebuild() {
        std::vector<std::pair<int, int>> leaves;
        for (int i = 0; i < kNodes; ++i) {
            if (child[i] >= kNodes) {
                leaves.emplace_back((freq[i] + 1) / 2, child[i]);
            }
        }
        Build(std::move(leaves));
    }

    // The tree over leaves (count and child, in index order): each pair of entries in turn, from the
    // first, makes a node that goes after every entry of equal or lower count.
    void Build(std::vector<std::pair<int, int>> nodes) {
        for (int i = 0; nodes.size() < kNodes; i += 2) {
            const int f = nodes[static_cast<size_t>(i)].first + nodes[static_cast<size_t>(i) + 1].first;
            const auto after =
                std::upper_bound(nodes.begin(), nodes.end(), f,
                                 [](int count, const auto& node) { return count < node.first; });
            nodes.insert(after, {f, i});
        }
        for (int i = 0; i < kNodes; ++i) {
            freq[i] = static_cast<uint16_t>(nodes[static_cast<size_t>(i)].first);
            child[i] = static_cast<uint16_t>(nodes[static_cast<size_t>(i)].second);
            Adopt(i);
        }
    }

    // Counts one more s: each node from its leaf up to the root gains one, and a node whose count
    // passes the next node's first changes places, subtree and all, with the last node of its old
    // count (the counts stay sorted).
    void Update(int s) {
        if (freq[kRoot] == kLimit) {
            Rebuild();
        }
        int x = parent[s + kNodes];
        do {
            const int f = ++freq[x];
            if (f > freq[x + 1]) {
                const auto l =
                    static_cast<int>(std::lower_bound(freq.begin() + x + 1, freq.end(), f) - freq.begin()) -
                    1;
                std::swap(freq[x], freq[l]);
                std::swap(child[x], child[l]);
                Adopt(x);
                Adopt(l);
                x = l;
            }
            x = parent[x];
        } while (x != 0);
    }

    // Points the parent links of node n's children (or its leaf's symbol) at n.
    void Adopt(int n) {
        const int c = child[n];
        parent[c] = static_cast<uint16_t>(n);
        if (c < kNodes) {
            parent[c + 1] = static_cast<uint16_t>(n);
        }
    }

    // Whether another model (the codec's) holds the same tree, entry for entry.
    template <typename OtherModel>
    bool SameAs(const OtherModel& other) const {
        return std::equal(freq.begin(), freq.end(), other.freq.begin()) &&
               std::equal(child.begin(), child.end(), other.child.begin()) &&
               std::equal(parent.begin(), parent.end(), other.parent.begin());
    }

    // The code of symbol s, first bit first: a node at an odd index is a second child, a 1.
    std::string Code(int s) const {
        std::string bits;
        for (int k = parent[s + kNodes]; k != kRoot; k = parent[k]) {
            bits.insert(bits.begin(), (k & 1) != 0 ? '1' : '0');
        }
        return bits;
    }
};

// The code word of the upper 6 bits u of a back offset, worked out by hand from the code's groups:
// u 0 takes 3 bits, 1-3 four, 4-11 five, 12-23 six, 24-47 seven and 48-63 eight, each group
// counting up from where the one before ends.
inline const std::array<const char*, 64> kOffsetCodes = {
    "000",                                                                   // 0
    "0010",     "0011",     "0100",                                          // 1-3
    "01010",    "01011",    "01100",    "01101",    "01110",    "01111",     // 4-9
    "10000",    "10001",                                                     // 10-11
    "100100",   "100101",   "100110",   "100111",   "101000",   "101001",    // 12-17
    "101010",   "101011",   "101100",   "101101",   "101110",   "101111",    // 18-23
    "1100000",  "1100001",  "1100010",  "1100011",  "1100100",  "1100101",   // 24-29
    "1100110",  "1100111",  "1101000",  "1101001",  "1101010",  "1101011",   // 30-35
    "1101100",  "1101101",  "1101110",  "1101111",  "1110000",  "1110001",   // 36-41
    "1110010",  "1110011",  "1110100",  "1110101",  "1110110",  "1110111",   // 42-47
    "11110000", "11110001", "11110010", "11110011", "11110100", "11110101",  // 48-53
    "11110110", "11110111", "11111000", "11111001", "11111010", "11111011",  // 54-59
    "11111100", "11111101", "11111110", "11111111",                          // 60-63
};

// The bits of a back offset: the code word of its upper 6 bits, then its lower 6 bits.
inline std::string OffsetBits(int offset) {
    std::string bits = kOffsetCodes[static_cast<size_t>(offset >> 6)];
    for (int b = 5; b >= 0; --b) {
        bits += ((offset >> b) & 1) != 0 ? '1' : '0';
    }
    return bits;
}

// Bits as bytes, the first bit in bit 7 of the first byte, the last byte padded with zero bits.
inline std::vector<uint8_t> PackBits(const std::string& bits) {
    std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') {
            bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        }
    }
    return bytes;
}

// One coded symbol: a literal byte (length 0), or a match of length 3-60 at a back offset.
struct Token {
    int literal = 0;
    int length = 0;
    int offset = 0;
    bool operator==(const Token&) const = default;
};

// Codes tokens with a fresh model.
inline std::vector<uint8_t> CodeTokens(const std::vector<Token>& tokens) {
    Model model;
    model.Init();
    std::string bits;
    for (const Token& t : tokens) {
        const int symbol = t.length == 0 ? t.literal : t.length + 253;
        bits += model.Code(symbol);
        model.Update(symbol);
        if (t.length != 0) {
            bits += OffsetBits(t.offset);
        }
    }
    return PackBits(bits);
}

// Which of the 4096 trees a string starting with b0, b1, b2 belongs to (0-4095).
using TreeSelection = std::function<int(uint8_t b0, uint8_t b1, uint8_t b2)>;

// The first byte and a 4-bit hash of the second and third, folded: x = b1 XOR b2, then
// (x XOR x >> 4) AND 15.
inline int FoldedTree(uint8_t b0, uint8_t b1, uint8_t b2) {
    const int x = b1 ^ b2;
    return b0 + 256 * ((x ^ (x >> 4)) & 15);
}

// The match finder: one binary tree of window positions per tree selection, ordered by the strings'
// bytes from offset 1, searched and pruned by the steps of the rules. The prefix lengths that the
// rules keep only spare comparisons, so this version compares whole strings instead.
class MatchFinder {
  public:
    explicit MatchFinder(TreeSelection select) : select_(std::move(select)) {
        right_.assign(kNil + 1 + 4096, kNil);
        left_.assign(kNil + 1, kNil);
        parent_.assign(kNil + 1, kNil);
    }

    // The window, with copies of its first 59 bytes after its end; positions past the data that
    // has been read are never compared for inputs of 119 bytes or more.
    std::vector<uint8_t> ring = std::vector<uint8_t>(kWindow + kLookAhead, 0);
    int matchLength = 0;
    int matchOffset = 0;

    void Add(int r) {
        left_[r] = right_[r] = kNil;
        int p = kNil + 1 + select_(ring[r], ring[r + 1], ring[r + 2]);
        int cmp = 1;
        matchLength = 0;
        for (;;) {
            std::vector<int>& side = cmp >= 0 ? right_ : left_;
            if (side[p] == kNil) {
                side[p] = r;
                parent_[r] = p;
                return;
            }
            p = side[p];
            int i = 1;
            cmp = 0;
            while (i < kLookAhead && (cmp = ring[r + i] - ring[p + i]) == 0) {
                ++i;
            }
            if (i > 2) {
                const int d = ((r - p) & (kWindow - 1)) - 1;
                if (i > matchLength) {
                    matchOffset = d;
                    matchLength = i;
                    if (matchLength >= kLookAhead) {
                        break;
                    }
                } else if (i == matchLength && d < matchOffset) {
                    matchOffset = d;
                }
            }
        }
        // r takes the place of the equal string p.
        parent_[r] = parent_[p];
        left_[r] = left_[p];
        right_[r] = right_[p];
        parent_[left_[p]] = r;
        parent_[right_[p]] = r;
        Relink(p, r);
        parent_[p] = kNil;
    }

    void Remove(int p) {
        if (parent_[p] == kNil) {
            return;
        }
        int q;
        if (right_[p] == kNil) {
            q = left_[p];
        } else if (left_[p] == kNil) {
            q = right_[p];
        } else {
            q = left_[p];
            if (right_[q] != kNil) {
                while (right_[q] != kNil) {
                    q = right_[q];
                }
                right_[parent_[q]] = left_[q];
                parent_[left_[q]] = parent_[q];
                left_[q] = left_[p];
                parent_[left_[p]] = q;
            }
            right_[q] = right_[p];
            parent_[right_[p]] = q;
        }
        parent_[q] = parent_[p];
        Relink(p, q);
        parent_[p] = kNil;
    }

  private:
    // In p's parent, the link that pointed to p now points to q.
    void Relink(int p, int q) {
        const int up = parent_[p];
        if (right_[up] == p) {
            right_[up] = q;
        } else {
            left_[up] = q;
        }
    }

    TreeSelection select_;
    std::vector<int> left_;
    std::vector<int> right_;  // children of nodes, then the single child of each tree's root
    std::vector<int> parent_;
};

struct Encoded {
    std::vector<Token> tokens;
    std::vector<uint8_t> bytes;
};

// Compresses input as the encoder's main loop does, with the trees chosen by select.
inline Encoded Encode(const std::vector<uint8_t>& input, TreeSelection select = FoldedTree) {
    Encoded out;
    if (input.empty()) {
        return out;
    }
    MatchFinder finder(std::move(select));
    std::vector<uint8_t>& ring = finder.ring;
    std::fill(ring.begin(), ring.begin() + kStart, kFill);
    size_t next = 0;  // next input byte
    int s = 0;
    int r = kStart;
    int len = 0;
    while (len < kLookAhead && next < input.size()) {
        ring[static_cast<size_t>(r + len)] = input[next++];
        ++len;
    }
    for (int k = 1; k <= kLookAhead; ++k) {
        finder.Add(r - k);
    }
    finder.Add(r);
    while (len > 0) {
        int length = std::min(finder.matchLength, len);
        if (length <= 2) {
            length = 1;
            out.tokens.push_back({ring[static_cast<size_t>(r)], 0, 0});
        } else {
            out.tokens.push_back({0, length, finder.matchOffset});
        }
        int i = 0;
        for (; i < length && next < input.size(); ++i) {
            const uint8_t b = input[next++];
            finder.Remove(s);
            ring[static_cast<size_t>(s)] = b;
            if (s < kLookAhead - 1) {
                ring[static_cast<size_t>(s + kWindow)] = b;
            }
            s = (s + 1) & (kWindow - 1);
            r = (r + 1) & (kWindow - 1);
            finder.Add(r);
        }
        for (; i < length; ++i) {
            finder.Remove(s);
            s = (s + 1) & (kWindow - 1);
            r = (r + 1) & (kWindow - 1);
            if (--len > 0) {
                finder.Add(r);
            }
        }
    }
    out.bytes = CodeTokens(out.tokens);
    return out;
}

}  // namespace lzh_plain
