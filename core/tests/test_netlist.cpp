#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "vondrel/netlist.h"
#include "members.h"

using namespace vondrel;
using namespace vondrel::test;

namespace {

NetlistInstance add_inst(Netlist& nl, const std::string& name, std::int64_t na = 1, std::int64_t nb = 1,
                         const std::string& component = "INV") {
  auto r = nl.create_inst_with_info(name, "kcl", component, JsonValue(), na, nb, JsonObject());
  EXPECT_TRUE(r.ok());
  return r.ok() ? r.value() : NetlistInstance{};
}

std::vector<std::string> instance_names(const Netlist& nl) {
  std::vector<std::string> out;
  for (const auto& e : nl.instances) out.push_back(e.first);
  return out;
}

}  // namespace

TEST(CreatePort, AppendsWithoutChecks) {
  Netlist nl;
  EXPECT_EQ(nl.create_port("b").name, "b");
  nl.create_port("");
  nl.create_port("b");
  EXPECT_EQ(nl.ports, (std::vector<NetlistPort>{{"b"}, {""}, {"b"}}));
}

struct ArrayRuleCase {
  std::int64_t na, nb;
  bool ok;
  std::optional<NetlistArray> array;
  friend void PrintTo(const ArrayRuleCase& c, std::ostream* os) { *os << c.na << "x" << c.nb; }
};

class CreateInstArrayRule : public testing::TestWithParam<ArrayRuleCase> {};

TEST_P(CreateInstArrayRule, DecidesTheArray) {
  const auto& c = GetParam();
  Netlist nl;
  auto r = nl.create_inst_with_info("u1", "k", "INV", JsonValue::integer(1), c.na, c.nb, JsonObject());
  ASSERT_EQ(r.ok(), c.ok);
  if (!c.ok) {
    EXPECT_EQ(r.error(), Error::invalid_array_size(c.na, c.nb));
    EXPECT_TRUE(nl.instances.empty());
    return;
  }
  EXPECT_EQ(r.value().array, c.array);
  EXPECT_EQ(r.value().name, "u1");
  EXPECT_EQ(*nl.instances.find("u1"), r.value());
}

INSTANTIATE_TEST_SUITE_P(Dimensions, CreateInstArrayRule,
                         testing::Values(ArrayRuleCase{0, -5, true, std::nullopt},
                                         ArrayRuleCase{-5, 0, true, std::nullopt},
                                         ArrayRuleCase{0, 0, true, std::nullopt},
                                         ArrayRuleCase{-1, 3, false, std::nullopt},
                                         ArrayRuleCase{3, -1, false, std::nullopt},
                                         ArrayRuleCase{1, 1, true, NetlistArray{1, 1}},
                                         ArrayRuleCase{2, 3, true, NetlistArray{2, 3}}));

TEST(CreateInst, ReplacingKeepsThePosition) {
  Netlist nl;
  add_inst(nl, "u1");
  add_inst(nl, "u3");
  add_inst(nl, "u2");
  add_inst(nl, "u1", 1, 1, "BUF");
  EXPECT_EQ(instance_names(nl), (std::vector<std::string>{"u1", "u3", "u2"}));
  EXPECT_EQ(nl.instances.find("u1")->component, "BUF");
  EXPECT_EQ(nl.instances.find("u1")->name, "u1");
}

class AddNetFixture : public testing::Test {
 protected:
  void SetUp() override {
    nl.create_port("IN");
    add_inst(nl, "u1", 0, 0);  // no array
    add_inst(nl, "arr", 4, 2);
  }
  Netlist nl;
};

TEST_F(AddNetFixture, SortsAndConvertsTheFirstElement) {
  ASSERT_TRUE(nl.add_net(Net{{A("u1", "a", 1, 1), P("IN"), A("arr", "p", 4, 2), R("arr", "q")}}).ok());
  ASSERT_EQ(nl.nets.size(), 1u);
  EXPECT_EQ(nl.nets[0], (Net{{P("IN"), R("arr", "q"), R("u1", "a"), A("arr", "p", 4, 2)}}));
  // Duplicates, repeats and the empty net are all kept as given.
  ASSERT_TRUE(nl.add_net(Net{{P("IN"), P("IN")}}).ok());
  ASSERT_TRUE(nl.add_net(Net{{P("IN"), P("IN")}}).ok());
  ASSERT_TRUE(nl.add_net(Net{}).ok());
  EXPECT_EQ(nl.nets.size(), 4u);
  EXPECT_EQ(nl.nets[3], Net{});
}

struct AddNetErrorCase {
  std::vector<NetMember> members;
  Error error;
  friend void PrintTo(const AddNetErrorCase& c, std::ostream* os) { *os << c.error.message(); }
};

class AddNetErrors : public AddNetFixture, public testing::WithParamInterface<AddNetErrorCase> {};

TEST_P(AddNetErrors, FirstFailingMemberDecides) {
  Net before{{P("IN")}};
  ASSERT_TRUE(nl.add_net(before).ok());
  auto r = nl.add_net(Net{GetParam().members});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), GetParam().error);
  EXPECT_EQ(nl.nets, std::vector<Net>{before});
}

INSTANTIATE_TEST_SUITE_P(
    Members, AddNetErrors,
    testing::Values(
        AddNetErrorCase{{P("x"), R("nope", "a")}, Error::undefined_port("x")},
        AddNetErrorCase{{R("nope", "a"), P("x")}, Error::unknown_instance("nope")},
        AddNetErrorCase{{A("nope", "a", 1, 1)}, Error::unknown_instance("nope")},
        AddNetErrorCase{{A("u1", "a", 1, 2)}, Error::not_an_array_instance("u1", "a", 1, 2)},
        AddNetErrorCase{{A("arr", "p", 5, 1)}, Error::array_index_out_of_range("arr", 4, false)},
        AddNetErrorCase{{A("arr", "p", 1, 3)}, Error::array_index_out_of_range("arr", 2, true)},
        AddNetErrorCase{{A("arr", "p", 5, 3)}, Error::array_index_out_of_range("arr", 4, false)},
        AddNetErrorCase{{A("arr", "p", 0, 0), A("arr", "p", -3, 1), P("IN"), P("OUT")}, Error::undefined_port("OUT")}));

TEST_F(AddNetFixture, NoLowerBoundOnIndices) {
  EXPECT_TRUE(nl.add_net(Net{{A("arr", "p", 0, 0), A("arr", "p", -3, 1)}}).ok());
}

TEST(AddNet, ManyTopLevelMembersAgainstManyPorts) {
  Netlist nl;
  Net net;
  for (int i = 0; i < 100; ++i) {
    nl.create_port("p" + std::to_string(i));
    net.members.push_back(P("p" + std::to_string(99 - i)));
  }
  ASSERT_TRUE(nl.add_net(net).ok());
  EXPECT_EQ(std::get<NetlistPort>(nl.nets[0].members[0]).name, "p0");
  net.members.insert(net.members.begin() + 50, P("q"));
  auto r = nl.add_net(net);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), Error::undefined_port("q"));
}

TEST(RemoveInstances, MergesTheTouchedNets) {
  Netlist nl;
  for (auto n : {"u1", "u2", "u3", "u4", "u5"}) add_inst(nl, n);
  nl.nets = {Net{{R("u1", "a"), R("u2", "b")}}, Net{{R("u1", "c"), R("u3", "d")}}, Net{{R("u4", "e"), R("u5", "f")}}};
  ASSERT_TRUE(nl.remove_instances({"u1"}).ok());
  EXPECT_EQ(instance_names(nl), (std::vector<std::string>{"u2", "u3", "u4", "u5"}));
  EXPECT_EQ(nl.nets, (std::vector<Net>{Net{{R("u4", "e"), R("u5", "f")}}, Net{{R("u2", "b"), R("u3", "d")}}}));
}

TEST(RemoveInstances, EachNameAppendsOneNetInOrder) {
  Netlist nl;
  for (auto n : {"a", "b", "c", "d"}) add_inst(nl, n, 2, 2);
  nl.create_port("P");
  nl.nets = {
      Net{{R("b", "x"), R("d", "y")}},                 // 0: touched by b
      Net{{P("P"), R("a", "x")}},                      // 1: touched by a
      Net{{R("c", "z"), R("c", "z")}},                 // 2: untouched; duplicates stay
      Net{{A("a", "x", 2, 1), R("b", "w"), P("P")}},   // 3: touched by a, then its merge by b
      Net{{P("Q")}},                                   // 4: untouched top-level only
  };
  ASSERT_TRUE(nl.remove_instances({"a", "missing", "b", "a"}).ok());
  EXPECT_EQ(instance_names(nl), (std::vector<std::string>{"c", "d"}));
  EXPECT_EQ(nl.nets, (std::vector<Net>{
                         Net{{R("c", "z"), R("c", "z")}},
                         Net{{P("Q")}},
                         Net{},                                   // "missing" touched nothing
                         Net{{P("P"), P("P"), R("d", "y")}},      // b merged net 0 and a's merge
                         Net{},                                   // "a" a second time
                     }));
}

TEST(RemoveInstances, EmptyListChangesNothing) {
  Netlist nl;
  add_inst(nl, "u1");
  nl.nets = {Net{{R("u1", "a")}}};
  Netlist before = nl;
  ASSERT_TRUE(nl.remove_instances({}).ok());
  EXPECT_EQ(nl, before);
}

TEST(Sort, OrdersEverythingAndKeepsDuplicates) {
  Netlist nl;
  for (auto n : {"u2", "U9", "u1"}) add_inst(nl, n);
  for (auto p : {"b", "a", "b"}) nl.create_port(p);
  nl.nets = {Net{{R("u2", "a"), P("z")}}, Net{{R("u1", "a")}}, Net{}, Net{{P("z")}}};
  nl.sort();
  EXPECT_EQ(instance_names(nl), (std::vector<std::string>{"U9", "u1", "u2"}));
  EXPECT_EQ(nl.ports, (std::vector<NetlistPort>{{"a"}, {"b"}, {"b"}}));
  EXPECT_EQ(nl.nets, (std::vector<Net>{Net{}, Net{{P("z")}}, Net{{P("z"), R("u2", "a")}}, Net{{R("u1", "a")}}}));
}

TEST(DetectOpens, UnconnectedPortsAndSingletons) {
  Netlist nl;
  for (auto p : {"c", "a", "b", "c"}) nl.create_port(p);
  nl.nets = {Net{{P("a")}}, Net{}, Net{{R("u", "c"), R("v", "c")}}, Net{{R("w", "x")}}};
  auto [unconnected, singletons] = nl.detect_opens();
  EXPECT_EQ(unconnected, (std::vector<std::string>{"b", "c", "c"}));
  EXPECT_EQ(singletons, (std::vector<Net>{Net{{P("a")}}, Net{{R("w", "x")}}}));
}

TEST(FindNetDifference, ExactOrderSensitiveSets) {
  Netlist mine, ref;
  const Net ab{{P("a"), P("b")}}, ba{{P("b"), P("a")}}, c{{P("c")}}, d{{R("d", "x")}};
  mine.nets = {ab, c, c, d};
  ref.nets = {ba, c, ba};
  auto [missing, extra] = mine.find_net_difference(ref);
  EXPECT_EQ(missing, (std::vector<Net>{ba, ba}));
  EXPECT_EQ(extra, (std::vector<Net>{ab, d}));

  auto self = mine.find_net_difference(mine);
  EXPECT_TRUE(self.first.empty());
  EXPECT_TRUE(self.second.empty());
  auto vs_empty = mine.find_net_difference(Netlist{});
  EXPECT_TRUE(vs_empty.first.empty());
  EXPECT_EQ(vs_empty.second, mine.nets);
}

TEST(NetlistEquality, OrderSensitive) {
  EXPECT_EQ(Netlist{}, Netlist{});
  Netlist a, b;
  add_inst(a, "u1");
  add_inst(a, "u2");
  add_inst(b, "u2");
  add_inst(b, "u1");
  EXPECT_NE(a, b);
  b = a;
  b.instances.find("u1")->name = "other";
  EXPECT_NE(a, b);
  b = a;
  b.instances.find("u1")->settings = JsonValue(1.0);
  a.instances.find("u1")->settings = JsonValue::integer(1);
  EXPECT_NE(a, b);
  b = a;
  a.nets = {Net{{P("x")}}, Net{}};
  b.nets = {Net{}, Net{{P("x")}}};
  EXPECT_NE(a, b);
}

// Names sharing long prefixes, lengths around the 14/15-byte boundary of the sort key,
// bytes above 0x7F and every member kind; with and without NUL bytes (which switch the key
// layout).
class SortNets : public testing::TestWithParam<bool> {};

TEST_P(SortNets, AgreesWithNetOrder) {
  std::vector<std::string> names = {"", "a", "ab", "abcdefghijklmn", "abcdefghijklmno", "abcdefghijklmnop",
                                    "abcdefghijklmnoq", "abcdefghijklm", "\xC3\xA9", "Z", "zz", "\x01"};
  if (GetParam()) names.push_back(std::string("a\0", 2));
  std::mt19937 rng(7);
  std::vector<Net> nets;
  for (int n = 0; n < 3000; ++n) {
    Net net;
    const int count = static_cast<int>(rng() % 4);
    for (int m = 0; m < count; ++m) {
      const std::string& a = names[rng() % names.size()];
      const std::string& b = names[rng() % names.size()];
      switch (rng() % 3) {
        case 0: net.members.push_back(P(a)); break;
        case 1: net.members.push_back(R(a, b)); break;
        default: net.members.push_back(A(a, b, static_cast<int>(rng() % 3) - 1, 1)); break;
      }
    }
    nets.push_back(std::move(net));
  }
  std::vector<Net> expected = nets;
  std::stable_sort(expected.begin(), expected.end());
  sort_nets(nets);
  EXPECT_EQ(nets, expected);
}

INSTANTIATE_TEST_SUITE_P(Names, SortNets, testing::Bool());

TEST(SortByKey, AgreesWithStringOrderOnLongSharedPrefixes) {
  OrderedMap<int> m;
  std::vector<std::string> keys;
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    std::string k = (i % 3 == 0) ? "a_very_long_shared_prefix_" : "";
    const int len = static_cast<int>(rng() % 20);
    for (int c = 0; c < len; ++c) k.push_back("\0aAz\xC3\x7F"[rng() % 6]);
    if (m.contains(k)) continue;
    m.insert_or_assign(k, i);
    keys.push_back(k);
  }
  std::sort(keys.begin(), keys.end());
  m.sort_by_key();
  ASSERT_EQ(m.size(), keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(m.at_index(i).first, keys[i]);
    EXPECT_EQ(m.find(keys[i]), &m.at_index(i).second);
  }
}

// The literal rendering of instance removal: every name walks every net.
TEST(RemoveInstances, AgreesWithALiteralRenderingOnRandomNetlists) {
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    Netlist nl;
    for (int i = 0; i < 8; ++i) add_inst(nl, "u" + std::to_string(i), 2, 2);
    for (int k = 0, nets = static_cast<int>(rng() % 10); k < nets; ++k) {
      Net net;
      for (int m = 0, count = static_cast<int>(rng() % 4); m < count; ++m) {
        const std::string inst = "u" + std::to_string(rng() % 9);
        switch (rng() % 3) {
          case 0: net.members.push_back(P(inst)); break;  // a top-level port named like an instance
          case 1: net.members.push_back(A(inst, "p", 2, 1)); break;
          default: net.members.push_back(R(inst, std::string(1, static_cast<char>('a' + rng() % 3)))); break;
        }
      }
      nl.nets.push_back(std::move(net));
    }
    std::vector<std::string> names;
    for (int k = 0, count = static_cast<int>(rng() % 9); k < count; ++k) names.push_back("u" + std::to_string(rng() % 9));

    Netlist expected = nl;
    for (const std::string& n : names) {
      expected.instances.erase(n);
      std::vector<Net> kept;
      std::vector<NetMember> merged;
      for (Net& net : expected.nets) {
        const bool touched = std::any_of(net.members.begin(), net.members.end(), [&](const NetMember& m) {
          const std::string* inst = member_instance(m);
          return inst && *inst == n;
        });
        if (!touched) {
          kept.push_back(net);
          continue;
        }
        for (const NetMember& m : net.members) {
          const std::string* inst = member_instance(m);
          if (!inst || *inst != n) merged.push_back(m);
        }
      }
      std::stable_sort(merged.begin(), merged.end());
      kept.push_back(Net{merged});
      expected.nets = kept;
    }
    ASSERT_TRUE(nl.remove_instances(names).ok());
    EXPECT_EQ(nl, expected) << "round " << round;
  }
}

TEST(SortMembers, AgreesWithMemberOrderShortAndLong) {
  std::mt19937 rng(9);
  for (std::size_t size : {0u, 1u, 2u, 5u, 16u, 17u, 40u}) {
    std::vector<NetMember> members;
    for (std::size_t i = 0; i < size; ++i) {
      const std::string s(1, static_cast<char>('a' + rng() % 3));
      switch (rng() % 3) {
        case 0: members.push_back(P(s)); break;
        case 1: members.push_back(R(s, s)); break;
        default: members.push_back(A(s, "p", static_cast<int>(rng() % 3) - 1, 0)); break;
      }
    }
    std::vector<NetMember> expected = members;
    std::stable_sort(expected.begin(), expected.end());
    sort_members(members);
    EXPECT_EQ(members, expected) << size;
  }
}
