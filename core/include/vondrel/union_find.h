// Disjoint sets over the indices 0..n-1: path halving and union by rank.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vondrel {

class UnionFind {
 public:
  explicit UnionFind(std::size_t n) : parent_(n), rank_(n, 0) {
    for (std::size_t i = 0; i < n; ++i) parent_[i] = i;
  }

  std::size_t size() const { return parent_.size(); }

  // Root of x's set; every element visited on the way is re-linked to its grandparent.
  // An index out of range is a caller's mistake: it is returned as it is and nothing is
  // read or written.
  std::size_t find(std::size_t x) {
    if (x >= parent_.size()) return x;
    while (parent_[x] != x) {
      const std::size_t grandparent = parent_[parent_[x]];
      parent_[x] = grandparent;
      x = grandparent;
    }
    return x;
  }

  // Joins the sets of a and b; between roots of equal rank, a's root stays the root.
  // Out-of-range indices change nothing.
  void unite(std::size_t a, std::size_t b) {
    if (a >= parent_.size() || b >= parent_.size()) return;
    const std::size_t ra = find(a);
    const std::size_t rb = find(b);
    if (ra == rb) return;
    if (rank_[ra] == rank_[rb]) {
      parent_[rb] = ra;
      ++rank_[ra];
    } else if (rank_[ra] > rank_[rb]) {
      parent_[rb] = ra;
    } else {
      parent_[ra] = rb;
    }
  }

  // Read access for checks and tests; out-of-range indices read as themselves / 0.
  std::size_t parent(std::size_t x) const { return x < parent_.size() ? parent_[x] : x; }
  std::uint8_t rank(std::size_t x) const { return x < rank_.size() ? rank_[x] : 0; }

 private:
  std::vector<std::size_t> parent_;
  std::vector<std::uint8_t> rank_;
};

}  // namespace vondrel
