#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "vondrel/content.h"
#include "vondrel/json.h"
#include "vondrel/record.h"

namespace vondrel {
namespace {

using Map = Content::Map;
using Seq = Content::Seq;

Content map(std::initializer_list<std::pair<Content, Content>> entries) { return Content(Map(entries)); }

TEST(MemberFromContent, RecognisesEachKind) {
  EXPECT_EQ(member_from_content(map({{"name", "a"}})), NetMember(NetlistPort{"a"}));
  EXPECT_EQ(member_from_content(map({{"instance", "u1"}, {"port", "a"}})), NetMember(PortRef{"u1", "a"}));
  EXPECT_EQ(member_from_content(Content(Seq{"u1", "a", std::uint64_t{2}, std::int64_t{-1}})),
            NetMember(PortArrayRef{"u1", "a", 2, -1}));
  EXPECT_EQ(member_from_content(Content(Seq{"a"})), NetMember(NetlistPort{"a"}));
  EXPECT_EQ(member_from_content(map({{ByteString{"name"}, "a"}})), NetMember(NetlistPort{"a"}));
  EXPECT_EQ(member_from_content(map({{std::uint64_t{0}, "a"}})), NetMember(NetlistPort{"a"}));
  EXPECT_EQ(member_from_content(map({{"name", ByteString{"a"}}})), NetMember(NetlistPort{"a"}));
  // ia = ib = 1 is still an array reference.
  EXPECT_EQ(member_from_content(map({{"instance", "u1"}, {"port", "a"}, {"ia", std::uint64_t{1}}, {"ib", std::uint64_t{1}}})),
            NetMember(PortArrayRef{"u1", "a", 1, 1}));
  // Integer keys select by position in the record that is being tried.
  EXPECT_EQ(member_from_content(map({{std::uint64_t{1}, "b"}, {std::uint64_t{0}, "a"}})), NetMember(PortRef{"a", "b"}));
}

TEST(MemberFromContent, RejectsEverythingElse) {
  const Content bad[] = {
      map({{"instance", "u1"}, {"port", "a"}, {"ia", true}, {"ib", std::uint64_t{1}}}),
      map({{"instance", "u1"}, {"port", "a"}, {"ia", 1.0}, {"ib", std::uint64_t{1}}}),
      map({{"instance", "u1"}, {"port", "a"}, {"ia", std::uint64_t{1} << 63}, {"ib", std::uint64_t{1}}}),
      map({{"name", "a"}, {"extra", std::uint64_t{1}}}),
      map({{"name", "a"}, {"name", "b"}}),
      map({{"instance", "u1"}}),
      map({{std::uint64_t{1}, "a"}}),
      map({{std::int64_t{-1}, "a"}}),
      map({{true, "a"}}),
      map({}),
      map({{"name", ByteString{"\xff"}}}),
      map({{"name", std::uint64_t{1}}}),
      Content(Seq{"u1", "a", std::uint64_t{1}}),
      Content(Seq{}),
      Content(Seq{"u1", "a", std::uint64_t{1}, std::uint64_t{1}, std::uint64_t{1}}),
      Content(nullptr),
      Content(std::uint64_t{5}),
      Content("name"),
  };
  for (const auto& c : bad) EXPECT_FALSE(member_from_content(c).has_value());
}

TEST(MemberFromContent, EachTrialSelectsAfresh) {
  // The port trial fails on key 1; the reference trial still sees both values.
  EXPECT_EQ(member_from_content(map({{std::uint64_t{0}, "a"}, {std::uint64_t{1}, "b"}})), NetMember(PortRef{"a", "b"}));
  // Byte-string keys compare byte for byte; byte-string values must be UTF-8.
  EXPECT_EQ(member_from_content(map({{ByteString{"instance"}, ByteString{"\xc3\xa9"}}, {"port", "p"}})),
            NetMember(PortRef{"\xc3\xa9", "p"}));
  EXPECT_FALSE(member_from_content(map({{ByteString{"name\xff"}, "a"}})).has_value());
  EXPECT_FALSE(member_from_content(map({{"name", "a"}, {"name", "a"}, {"name", "a"}, {"name", "a"}, {"name", "a"}})));
}

TEST(FormatDouble, Layout) {
  const std::pair<double, const char*> cases[] = {
      {1.0, "1.0"},
      {0.1, "0.1"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {0.00001, "0.00001"},
      {0.000001, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {123456789.125, "123456789.125"},
      {0.001234, "0.001234"},
      {12.34, "12.34"},
      {100.0, "100.0"},
      {1.5e300, "1.5e+300"},
      {2.5e-10, "2.5e-10"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {-2.5, "-2.5"},
      {18446744073709551616.0, "1.8446744073709552e+19"},
      {std::nan(""), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (auto [v, text] : cases) EXPECT_EQ(format_double(v), text) << text;
}

TEST(RecordMessages, Texts) {
  using namespace record;
  EXPECT_EQ(expected_keys<NetlistPort>(), "`name`");
  EXPECT_EQ(expected_keys<PortRef>(), "`instance` or `port`");
  EXPECT_EQ(expected_keys<PortArrayRef>(), "one of `instance`, `port`, `ia`, `ib`");
  EXPECT_EQ(unknown_field("nc", expected_keys<NetlistArray>()), "unknown field `nc`, expected `na` or `nb`");
  EXPECT_EQ(invalid_type(unexpected_float(1.0), kExpectI64), "invalid type: floating point `1.0`, expected i64");
  EXPECT_EQ(invalid_value(unexpected_unsigned(9223372036854775808ull), kExpectI64),
            "invalid value: integer `9223372036854775808`, expected i64");
  EXPECT_EQ(invalid_type(unexpected_null(), kExpectMap), "invalid type: null, expected a map");
  EXPECT_EQ(invalid_length(0, Describe<NetlistPort>::length_text),
            "invalid length 0, expected struct NetlistPort with 1 element");
  EXPECT_EQ(unexpected_string("a\"b\n"), "string \"a\\\"b\\n\"");
  EXPECT_EQ(unexpected_signed(-3), "integer `-3`");
  EXPECT_EQ(unexpected_bool(false), "boolean `false`");
  EXPECT_EQ(missing_field("kcl"), "missing field `kcl`");
  EXPECT_EQ(duplicate_field("left"), "duplicate field `left`");
}

}  // namespace
}  // namespace vondrel
