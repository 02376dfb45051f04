#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "vondrel/hash.h"

using namespace vondrel;

namespace {

std::uint64_t digest(const std::string& bytes, std::uint64_t k0 = 0, std::uint64_t k1 = 0) {
  SipHasher13 h(k0, k1);
  h.write(bytes.data(), bytes.size());
  return h.finish();
}

std::string iota(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(i));
  return s;
}

}  // namespace

// Reference digests: CPython's bytes hash with PYTHONHASHSEED=0, and an independent
// implementation of the same function for the keyed and structured cases.
TEST(SipHasher13, ZeroKeyDigests) {
  EXPECT_EQ(digest("abc"), 0xc03bc3a0042630f2ULL);
  EXPECT_EQ(digest("abcdefgh"), 0x3f7b849c0b8e35eaULL);
  EXPECT_EQ(digest("abcdefghijklmnopq"), 0x61c47e6da27eacccULL);
  EXPECT_EQ(digest(""), 0xd1fba762150c532cULL);
  EXPECT_EQ(digest(iota(40)), 0x95bc321ab41d8206ULL);
  EXPECT_EQ(digest(iota(64)), 0x75e05fd5bbc870c6ULL);
  EXPECT_EQ(digest(iota(15), 0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL), 0xd320d86d2a519956ULL);
}

TEST(SipHasher13, DigestDoesNotDependOnHowTheStreamIsCut) {
  const std::string data = iota(64);
  const std::uint64_t whole = digest(data);
  for (std::size_t piece : {1u, 3u, 7u, 8u, 9u, 13u}) {
    SipHasher13 h;
    for (std::size_t i = 0; i < data.size(); i += piece) h.write(data.data() + i, std::min(piece, data.size() - i));
    EXPECT_EQ(h.finish(), whole) << "piece " << piece;
  }
  SipHasher13 h;
  h.write(data.data(), 5);
  h.write(nullptr, 0);
  h.write(data.data() + 5, 59);
  EXPECT_EQ(h.finish(), whole);
}

TEST(HashFeed, StableDigestsOfTheModelTypes) {
  // A PortRef member a/b feeds 01 00.. 00, 61 FF, 62 FF.
  EXPECT_EQ(stable_hash(NetMember{PortRef{"a", "b"}}), 0xcdee9ae918b09110ULL);
  EXPECT_EQ(stable_hash(NetMember{PortRef{"a", "b"}}), digest(std::string("\x01\0\0\0\0\0\0\0a\xff" "b\xff", 12)));
  EXPECT_EQ(stable_hash(NetlistPort{"VDD"}), 0x83c4cf0e8cdba44cULL);
  EXPECT_EQ(stable_hash(PortRef{"u1", "a"}), 0x2897d33e6e49e056ULL);
  EXPECT_EQ(stable_hash(PortArrayRef{"arr", "p", -1, 2}), 0x1e50738c066cc35fULL);
  EXPECT_EQ(stable_hash(Net{{NetlistPort{"IN"}, PortArrayRef{"x", "A", 3, 4}}}), 0x4f108b46eeb8c033ULL);
  EXPECT_EQ(stable_hash(Net{}), 0xbd60acb658c79e45ULL);
  EXPECT_EQ(stable_hash(NetlistArray{4, 2}), 0x2434540c336f245dULL);
}

TEST(HashFeed, FieldBoundariesAreKept) {
  EXPECT_NE(stable_hash(PortRef{"ab", "c"}), stable_hash(PortRef{"a", "bc"}));
  EXPECT_NE(stable_hash(NetMember{NetlistPort{"a"}}), stable_hash(NetlistPort{"a"}));
  EXPECT_NE(stable_hash(Net{{NetlistPort{"a"}}}), stable_hash(Net{{NetlistPort{"a"}, NetlistPort{"a"}}}));
}

TEST(ProcessHash, KeyedOnceAndConsistentWithEquality) {
  EXPECT_EQ(process_hash_key0(), process_hash_key0());
  EXPECT_EQ(process_hash_key1(), process_hash_key1());
  const NetMember m = PortArrayRef{"x", "A", 1, 2};
  EXPECT_EQ(MemberHash{}(m), MemberHash{}(NetMember{PortArrayRef{"x", "A", 1, 2}}));
  const Net n{{NetlistPort{"a"}, PortRef{"b", "c"}}};
  EXPECT_EQ(NetHash{}(n), NetHash{}(Net{n}));
  std::unordered_set<Net, NetHash> set{n, Net{}, n};
  EXPECT_EQ(set.size(), 2u);
}
