#include <gtest/gtest.h>

#include "vondrel/json_value.h"
#include "vondrel/net.h"
#include "vondrel/netlist.h"
#include "vondrel/ordered_map.h"
#include "vondrel/record.h"

using namespace vondrel;

TEST(JsonValue, IntegerAndDoubleDiffer) {
  EXPECT_NE(JsonValue::integer(1), JsonValue(1.0));
  EXPECT_EQ(JsonValue::integer(5), JsonValue::uinteger(5));
  EXPECT_EQ(JsonValue::integer(-1).kind(), JsonValue::Int);
  EXPECT_EQ(JsonValue::integer(0).kind(), JsonValue::UInt);
}

TEST(JsonObject, KeysSortedWhateverTheInsertionOrder) {
  JsonObject a, b;
  a.insert_or_assign("w", JsonValue::integer(1));
  a.insert_or_assign("a", JsonValue(true));
  b.insert_or_assign("a", JsonValue(true));
  b.insert_or_assign("w", JsonValue::integer(1));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.begin()->first, "a");
  auto c = JsonObject::from_unsorted({{"b", JsonValue::integer(1)}, {"a", JsonValue::integer(2)}, {"b", JsonValue::integer(3)}});
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(*c.find("b"), JsonValue::integer(3));
}

TEST(Order, MembersByKindThenFields) {
  NetMember port = NetlistPort{"zzz"};
  NetMember ref = PortRef{"x", "p"};
  NetMember arr = PortArrayRef{"a", "p", 1, 1};
  EXPECT_LT(port, ref);
  EXPECT_LT(ref, arr);
  EXPECT_LT((NetMember{PortArrayRef{"a", "p", -1, 0}}), (NetMember{PortArrayRef{"a", "p", 1, 0}}));
  EXPECT_LT(std::string("Z"), std::string("a"));
  EXPECT_LT(std::string("z"), std::string("\xc3\xa9"));
  Net a{{port}}, b{{port, ref}}, empty;
  EXPECT_LT(a, b);
  EXPECT_LT(empty, a);
}

TEST(OrderedMap, ReplaceInPlaceAndOrderKeepingRemoval) {
  OrderedMap<int> m;
  m.insert_or_assign("u1", 1);
  m.insert_or_assign("u3", 3);
  m.insert_or_assign("u2", 2);
  m.insert_or_assign("u1", 10);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m.at_index(0).first, "u1");
  EXPECT_EQ(m.at_index(0).second, 10);
  m.erase("u3");
  EXPECT_EQ(m.at_index(1).first, "u2");
  m.insert_or_assign("a", 0);
  m.sort_by_key();
  EXPECT_EQ(m.at_index(0).first, "a");
  EXPECT_EQ(m.at_index(2).first, "u2");
}

TEST(Record, DescriptionQueries) {
  EXPECT_EQ(record::field_index<PortRef>("port"), 1);
  EXPECT_EQ(record::field_index<PortRef>("nope"), -1);
  EXPECT_EQ(record::first_required_from<NetlistInstanceWire>(0), 1u);
  EXPECT_EQ(record::first_required_from<NetlistInstanceWire>(3), std::nullopt);
  EXPECT_EQ(record::first_required_from<PlacedInstanceWire>(3), 6u);
  EXPECT_EQ(record::field_key<Placement>(4), "bbox");
}
