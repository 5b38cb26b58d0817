// -lh1- and -lh2-: adaptive Huffman codes whose trees change after every
// symbol. The encoder makes the same changes, so the order of the nodes, the
// groups of equal weight and the rebuild rule must be followed exactly.
//
// Nodes stand in order of non-increasing weight from the root. An internal
// node's link k names its children k and k - 1; a leaf's link is the
// complement of its symbol. Adjacent nodes of equal weight form a group with
// a leader (its lowest index); free group numbers wait on a stack.
#include <array>
#include <memory>

#include "lzh/huffman_table.h"
#include "lzh/window_loop.h"

namespace quindo::lzh {

namespace {

constexpr int kCharLeaves = 314;           // the full -lh1- alphabet
constexpr int kCharRoot = 0;
constexpr int kDistRoot = 2 * kCharLeaves;  // 628
constexpr int kNodes = kDistRoot + 256;     // 884
constexpr int kDistLeaves = 128;

struct Trees {
  std::array<uint16_t, kNodes> weight{};
  std::array<int16_t, kNodes> link{};
  std::array<int16_t, kNodes> up{};
  std::array<int16_t, kNodes> group{};
  std::array<int16_t, kNodes> leader{};
  std::array<int16_t, kNodes> spare{};
  std::array<int16_t, kCharLeaves + kDistLeaves> leafOf{};
  int spareTop = 0;

  int NewGroup() { return spare[spareTop++]; }
  void FreeGroup(int g) { spare[--spareTop] = static_cast<int16_t>(g); }

  void SetChildPlace(int child, int place) {
    if (child >= 0) {
      up[child] = up[child - 1] = static_cast<int16_t>(place);
    } else {
      leafOf[~child] = static_cast<int16_t>(place);
    }
  }

  void StartCharTree(int n) {
    for (int i = 0; i < kNodes; ++i) {
      spare[i] = static_cast<int16_t>(i);
      group[i] = 0;
    }
    for (int s = 0, i = 2 * n - 2; s < n; ++s, --i) {
      weight[i] = 1;
      link[i] = static_cast<int16_t>(~s);
      leafOf[s] = static_cast<int16_t>(i);
      group[i] = 1;
    }
    spareTop = 2;
    leader[1] = static_cast<int16_t>(n - 1);
    for (int i = n - 2, j = 2 * n - 2; i >= 0; --i, j -= 2) {
      weight[i] = static_cast<uint16_t>(weight[j] + weight[j - 1]);
      link[i] = static_cast<int16_t>(j);
      up[j] = up[j - 1] = static_cast<int16_t>(i);
      if (weight[i] == weight[i + 1]) {
        group[i] = group[i + 1];
      } else {
        group[i] = static_cast<int16_t>(NewGroup());
      }
      leader[group[i]] = static_cast<int16_t>(i);
    }
  }

  // One step of the update: moves p to the front of its group, adds one to
  // its weight and regroups it. Answers the parent to go on with.
  int Increment(int p) {
    int b = group[p];
    int q = leader[b];
    bool regroup;
    if (q != p) {
      int r = link[p], s = link[q];
      link[p] = static_cast<int16_t>(s);
      link[q] = static_cast<int16_t>(r);
      SetChildPlace(r, q);
      SetChildPlace(s, p);
      p = q;
      regroup = true;
    } else {
      regroup = b == group[p + 1];
    }
    if (regroup) {
      ++leader[b];
      if (++weight[p] == weight[p - 1]) {
        group[p] = group[p - 1];
      } else {
        group[p] = static_cast<int16_t>(NewGroup());
        leader[group[p]] = static_cast<int16_t>(p);
      }
    } else if (++weight[p] == weight[p - 1]) {
      FreeGroup(b);
      group[p] = group[p - 1];
    }
    return up[p];
  }

  // Halves the leaf weights and rebuilds nodes start..end-1 from them.
  void Rebuild(int start, int end) {
    int j = start;
    int b = 0;
    for (int i = start; i < end; ++i) {
      if (link[i] < 0) {
        weight[j] = static_cast<uint16_t>((weight[i] + 1) / 2);
        link[j] = link[i];
        ++j;
      }
      b = group[i];
      if (leader[b] == i) FreeGroup(b);
    }
    --j;
    int i = end - 1;
    int l = end - 2;
    while (i >= start) {
      while (i >= l) {
        weight[i] = weight[j];
        link[i] = link[j];
        --i, --j;
      }
      unsigned f = static_cast<unsigned>(weight[l]) + weight[l + 1];
      int k = start;
      while (k < end && f < weight[k]) ++k;
      while (j >= k) {
        weight[i] = weight[j];
        link[i] = link[j];
        --i, --j;
      }
      weight[i] = static_cast<uint16_t>(f);
      link[i] = static_cast<int16_t>(l + 1);
      --i;
      l -= 2;
    }
    unsigned f = 0;
    for (i = start; i < end; ++i) {
      SetChildPlace(link[i], i);
      if (weight[i] == f) {
        group[i] = static_cast<int16_t>(b);
      } else {
        b = group[i] = static_cast<int16_t>(NewGroup());
        leader[b] = static_cast<int16_t>(i);
        f = weight[i];
      }
    }
  }
};

// Reads one symbol by walking from `root`, one bit per level. -1 when the
// walk does not reach a leaf within the tree's size.
int WalkTree(const Trees& t, int root, BitReader& bits) {
  int x = t.link[root];
  uint32_t w = bits.Window16();
  unsigned taken = 0;
  for (int steps = 0; x > 0; ++steps) {
    if (steps > kNodes) return -1;
    unsigned bit = (w >> (15 - taken)) & 1;
    x = t.link[x - static_cast<int>(bit)];
    if (++taken == 16) {
      bits.Consume(16);
      w = bits.Window16();
      taken = 0;
    }
  }
  bits.Consume(taken);
  return ~x;
}

class AdaptiveCodec {
 public:
  AdaptiveCodec(MemberInput& input, bool lh2)
      : bits_(input), trees_(std::make_unique<Trees>()), lh2_(lh2), fixedDistances_(64, 8) {
    symbolCount_ = lh2 ? 286 : 314;
    escape_ = lh2 ? symbolCount_ - 1 : 512;
    trees_->StartCharTree(symbolCount_);
    if (lh2) {
      Trees& t = *trees_;
      t.weight[kDistRoot] = 1;
      t.link[kDistRoot] = static_cast<int16_t>(~kCharLeaves);
      t.leafOf[kCharLeaves] = kDistRoot;
      int g = t.NewGroup();
      t.group[kDistRoot] = static_cast<int16_t>(g);
      t.leader[g] = kDistRoot;
      lastDistNode_ = kDistRoot;
    } else {
      static constexpr struct { unsigned last, length; } kRuns[] = {
          {0, 3}, {3, 4}, {11, 5}, {23, 6}, {47, 7}, {63, 8}};
      uint8_t* lengths = fixedDistances_.Lengths();
      unsigned s = 0;
      for (auto run : kRuns)
        for (; s <= run.last; ++s) lengths[s] = static_cast<uint8_t>(run.length);
      fixedDistances_.Build();
    }
  }

  int DecodeSymbol() {
    Trees& t = *trees_;
    int s = WalkTree(t, kCharRoot, bits_);
    if (s < 0 || s >= symbolCount_) return -1;
    if (t.weight[kCharRoot] == 0x8000) t.Rebuild(0, 2 * symbolCount_ - 1);
    ++t.weight[kCharRoot];
    int q = t.leafOf[s];
    do q = t.Increment(q);
    while (q != kCharRoot);
    if (s == escape_) s += static_cast<int>(bits_.Take(8));
    return s;
  }

  int DecodeDistance(uint32_t, uint64_t produced) {
    int d;
    if (!lh2_) {
      unsigned length;
      d = fixedDistances_.Decode(bits_.Window16(), length);
      if (d < 0) return -1;
      bits_.Consume(length);
    } else {
      while (produced > nextGrowth_) {
        AddDistance(static_cast<int>(nextGrowth_ / 64));
        nextGrowth_ += 64;
        if (nextGrowth_ >= kDistLimit) nextGrowth_ = 0xFFFFFFFFu;
      }
      int v = WalkTree(*trees_, kDistRoot, bits_);
      d = v - kCharLeaves;
      if (d < 0 || d >= kDistLeaves) return -1;
      UpdateDistance(d);
    }
    return d * 64 + static_cast<int>(bits_.Take(6));
  }

  bool Overrun() const { return bits_.Overrun(); }

 private:
  static constexpr uint32_t kDistLimit = 8192;

  void AddDistance(int d) {
    Trees& t = *trees_;
    int r = lastDistNode_ + 1, q = r + 1;
    t.link[r] = t.link[lastDistNode_];
    t.SetChildPlace(t.link[r], r);
    t.link[q] = static_cast<int16_t>(~(kCharLeaves + d));
    t.link[lastDistNode_] = static_cast<int16_t>(q);
    t.weight[r] = t.weight[lastDistNode_];
    t.weight[q] = 0;
    t.group[r] = t.group[lastDistNode_];
    if (lastDistNode_ == kDistRoot) {
      t.weight[kDistRoot] = 0xFFFF;
      ++t.leader[t.group[kDistRoot]];
    }
    t.up[r] = t.up[q] = static_cast<int16_t>(lastDistNode_);
    lastDistNode_ = q;
    t.leafOf[kCharLeaves + d] = static_cast<int16_t>(q);
    int g = t.NewGroup();
    t.group[q] = static_cast<int16_t>(g);
    t.leader[g] = static_cast<int16_t>(q);
    UpdateDistance(d);
  }

  void UpdateDistance(int d) {
    Trees& t = *trees_;
    if (distTotal_ == 0x8000) {
      t.Rebuild(kDistRoot, lastDistNode_ + 1);
      distTotal_ = t.weight[kDistRoot];
      t.weight[kDistRoot] = 0xFFFF;
    }
    for (int q = t.leafOf[kCharLeaves + d]; q != kDistRoot;) q = t.Increment(q);
    ++distTotal_;
  }

  BitReader bits_;
  std::unique_ptr<Trees> trees_;
  bool lh2_;
  int symbolCount_ = 0, escape_ = 0;
  HuffmanCode fixedDistances_;
  int lastDistNode_ = 0;
  uint32_t distTotal_ = 0;
  uint32_t nextGrowth_ = 64;
};

}  // namespace

DecodeStatus DecodeAdaptive(Method method, MemberInput& input, ByteSink& sink, uint32_t target) {
  if (target == 0) return DecodeStatus::Ok;
  bool lh2 = method == Method::Lh2;
  Window window(lh2 ? 13 : 12, sink);
  AdaptiveCodec codec(input, lh2);
  return window.Run(codec, target, 253, input.Control());
}

}  // namespace quindo::lzh
