#include <gtest/gtest.h>

#include "vondrel/union_find.h"

using namespace vondrel;

namespace {
std::vector<std::size_t> parents(const UnionFind& uf) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < uf.size(); ++i) out.push_back(uf.parent(i));
  return out;
}
}  // namespace

TEST(UnionFind, EmptyAndSelfUnion) {
  UnionFind empty(0);
  EXPECT_EQ(empty.size(), 0u);
  UnionFind uf(3);
  uf.unite(1, 1);
  EXPECT_EQ(parents(uf), (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(uf.rank(1), 0);
}

TEST(UnionFind, FirstArgumentsRootWinsATie) {
  UnionFind uf(4);
  uf.unite(3, 1);
  EXPECT_EQ(uf.parent(1), 3u);
  EXPECT_EQ(uf.rank(3), 1);
  EXPECT_EQ(uf.rank(1), 0);
  uf.unite(1, 3);  // already joined: nothing changes
  EXPECT_EQ(parents(uf), (std::vector<std::size_t>{0, 3, 2, 3}));
  EXPECT_EQ(uf.rank(3), 1);
}

TEST(UnionFind, UnionByRankAndPathHalving) {
  UnionFind uf(4);
  uf.unite(0, 1);
  uf.unite(2, 3);
  uf.unite(0, 2);
  EXPECT_EQ(parents(uf), (std::vector<std::size_t>{0, 0, 0, 2}));
  EXPECT_EQ(uf.rank(0), 2);
  EXPECT_EQ(uf.rank(2), 1);
  EXPECT_EQ(uf.find(3), 0u);
  EXPECT_EQ(uf.parent(3), 0u);  // re-linked to its grandparent
}

TEST(UnionFind, HigherRankRootWinsWhateverTheArgumentOrder) {
  UnionFind uf(3);
  uf.unite(0, 1);
  uf.unite(2, 1);
  EXPECT_EQ(uf.parent(2), 0u);
  EXPECT_EQ(uf.rank(0), 1);
}

TEST(UnionFind, FindRelinksToTheGrandparent) {
  // 0 -> 1 -> 2 built through two ties; 4 stays alone.
  UnionFind uf(5);
  uf.unite(1, 0);  // 0 under 1, rank(1) = 1
  uf.unite(2, 3);  // 3 under 2
  uf.unite(2, 1);  // tie at rank 1: 1 under 2, rank(2) = 2
  EXPECT_EQ(uf.find(0), 2u);
  EXPECT_EQ(uf.parent(0), 2u);
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(uf.find(i) == 2u, i != 4);
}

TEST(UnionFind, OutOfRangeIndicesTouchNothing) {
  UnionFind uf(2);
  EXPECT_EQ(uf.find(7), 7u);
  uf.unite(0, 9);
  uf.unite(9, 1);
  EXPECT_EQ(parents(uf), (std::vector<std::size_t>{0, 1}));
  UnionFind none(0);
  EXPECT_EQ(none.find(0), 0u);
  none.unite(0, 0);
}
