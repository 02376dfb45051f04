#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "vondrel/netlist.h"
#include "vondrel/union_find.h"
#include "members.h"

using namespace vondrel;
using namespace vondrel::test;

namespace {

// Cell TOP holding x (an INV) and y (a BUF); nets and ports are set by each test.
Netlist top(std::vector<Net> nets, std::vector<std::string> ports) {
  Netlist nl;
  (void)nl.create_inst_with_info("x", "k", "INV", JsonValue(), 1, 1, JsonObject());
  (void)nl.create_inst_with_info("y", "k", "BUF", JsonValue(), 1, 1, JsonObject());
  nl.nets = std::move(nets);
  for (auto& p : ports) nl.create_port(std::move(p));
  return nl;
}

std::vector<NetlistPort> port_list(std::vector<std::string> names) {
  std::vector<NetlistPort> out;
  for (auto& n : names) out.push_back(NetlistPort{std::move(n)});
  return out;
}

const EquivalentPorts kInv{{"INV", {{"A", "A2"}}}};

Netlist normalized(const Netlist& nl, std::optional<std::string> cell, std::optional<EquivalentPorts> eq,
                   std::optional<PortMapping> pm = std::nullopt) {
  auto r = nl.normalize(std::move(cell), std::move(eq), std::move(pm));
  EXPECT_TRUE(r.ok()) << r.error().message();
  return r.ok() ? r.value() : Netlist{};
}

}  // namespace

// ---------------------------------------------------------------------------------------
// normalize_value

struct ValueCase {
  JsonValue before, after;
  friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << "kind " << c.before.kind(); }
};

class NormalizeValue : public testing::TestWithParam<ValueCase> {};

TEST_P(NormalizeValue, Rewrites) {
  JsonValue v = GetParam().before;
  normalize_value(v);
  EXPECT_EQ(v, GetParam().after);
  EXPECT_EQ(v.kind(), GetParam().after.kind());
}

const double kTwo63 = std::ldexp(1.0, 63);
const double kTwo64 = std::ldexp(1.0, 64);

INSTANTIATE_TEST_SUITE_P(
    Numbers, NormalizeValue,
    testing::Values(
        ValueCase{JsonValue(1.0), JsonValue::integer(1)},
        ValueCase{JsonValue(-3.0), JsonValue::integer(-3)},
        ValueCase{JsonValue(-0.0), JsonValue::uinteger(0)},
        ValueCase{JsonValue(1.5), JsonValue(1.5)},
        ValueCase{JsonValue(-1.5), JsonValue(-1.5)},
        ValueCase{JsonValue::integer(-7), JsonValue::integer(-7)},
        ValueCase{JsonValue(9223372036854774784.0), JsonValue::uinteger(9223372036854774784ULL)},
        ValueCase{JsonValue(kTwo63), JsonValue::integer(INT64_MAX)},
        ValueCase{JsonValue(-kTwo63), JsonValue::integer(INT64_MIN)},
        ValueCase{JsonValue(kTwo63 + 2048), JsonValue::uinteger(9223372036854777856ULL)},
        ValueCase{JsonValue(kTwo64), JsonValue::uinteger(UINT64_MAX)},
        ValueCase{JsonValue(kTwo64 + 4096), JsonValue(kTwo64 + 4096)},
        ValueCase{JsonValue(-(kTwo63 + 2048)), JsonValue(-(kTwo63 + 2048))},
        ValueCase{JsonValue(1e300), JsonValue(1e300)},
        ValueCase{JsonValue("1.0"), JsonValue("1.0")},
        ValueCase{JsonValue(true), JsonValue(true)},
        ValueCase{JsonValue(JsonArray{JsonValue(1.0), JsonValue(JsonObject::from_unsorted(
                                                          {{"k", JsonValue(JsonArray{JsonValue(2.0), "x"})}}))}),
                  JsonValue(JsonArray{JsonValue::integer(1),
                                      JsonValue(JsonObject::from_unsorted(
                                          {{"k", JsonValue(JsonArray{JsonValue::integer(2), "x"})}}))})}));

TEST(NormalizeValue, NonFiniteDoublesStay) {
  // Not representable in the model, but must not be converted if they ever reach it.
  JsonValue inf(std::numeric_limits<double>::infinity());
  normalize_value(inf);
  EXPECT_EQ(inf.kind(), JsonValue::Double);
  JsonValue nan(std::nan(""));
  normalize_value(nan);
  EXPECT_EQ(nan.kind(), JsonValue::Double);
}

TEST(NormalizeValue, DeepNesting) {
  JsonValue v(2.0);
  for (int i = 0; i < 10000; ++i) {
    JsonArray wrap;
    wrap.push_back(std::move(v));
    v = JsonValue(std::move(wrap));
  }
  normalize_value(v);
  const JsonValue* p = &v;
  for (int i = 0; i < 10000; ++i) p = &std::get<JsonArray>(p->v)[0];
  EXPECT_EQ(*p, JsonValue::integer(2));
  // Tear the chain down without deep recursion in the destructors.
  while (v.kind() == JsonValue::Array) {
    JsonValue inner = std::move(std::get<JsonArray>(v.v)[0]);
    v = std::move(inner);
  }
}

// ---------------------------------------------------------------------------------------
// Netlist::normalize

TEST(Normalize, WithoutArgumentsSortsAndNormalisesSettingsOnly) {
  Netlist nl = top({Net{{R("x", "A2"), P("b")}}, Net{{R("x", "A"), R("x", "A")}}}, {"b", "a", "b"});
  nl.instances.find("x")->settings = JsonValue(JsonObject::from_unsorted({{"w", JsonValue(1.0)}}));
  nl.instances.find("x")->info = JsonObject::from_unsorted({{"w", JsonValue(1.0)}});
  const Netlist before = nl;
  for (auto [cell, eq] : {std::pair<bool, bool>{false, false}, {true, false}, {false, true}}) {
    Netlist out = normalized(nl, cell ? std::optional<std::string>("TOP") : std::nullopt,
                             eq ? std::optional<EquivalentPorts>(kInv) : std::nullopt,
                             PortMapping{{"INV", {{"A2", "A"}}}});
    EXPECT_EQ(out.ports, port_list({"a", "b", "b"}));
    EXPECT_EQ(out.nets, (std::vector<Net>{Net{{P("b"), R("x", "A2")}}, Net{{R("x", "A"), R("x", "A")}}}));
    EXPECT_EQ(out.instances.find("x")->settings,
              JsonValue(JsonObject::from_unsorted({{"w", JsonValue::integer(1)}})));
    EXPECT_EQ(*out.instances.find("x")->info.find("w"), JsonValue(1.0));
  }
  EXPECT_EQ(nl, before);
}

TEST(Normalize, EmptyEquivalentPortsStillDeduplicatesPorts) {
  Netlist nl = top({Net{{R("x", "A"), R("x", "A")}}}, {"b", "a", "b"});
  Netlist out = normalized(nl, "TOP", EquivalentPorts{});
  EXPECT_EQ(out.ports, port_list({"a", "b"}));
  EXPECT_EQ(out.nets, (std::vector<Net>{Net{{R("x", "A"), R("x", "A")}}}));
}

struct MergeCase {
  const char* what;
  std::vector<Net> nets;
  std::vector<std::string> ports;
  EquivalentPorts eq;
  std::optional<PortMapping> pm;
  std::vector<Net> expected;
  friend void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.what; }
};

class NormalizeMerge : public testing::TestWithParam<MergeCase> {};

TEST_P(NormalizeMerge, Nets) {
  const auto& c = GetParam();
  Netlist out = normalized(top(c.nets, c.ports), "TOP", c.eq, c.pm);
  EXPECT_EQ(out.nets, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NormalizeMerge,
    testing::Values(
        MergeCase{"shared canonical port merges",
                  {Net{{P("IN"), R("x", "A")}}, Net{{R("x", "A2"), P("OUT")}}}, {"IN", "OUT"}, kInv, std::nullopt,
                  {Net{{P("IN"), P("OUT"), R("x", "A")}}}},
        MergeCase{"mapped alone",
                  {Net{{R("x", "A"), R("x", "A2")}}}, {}, kInv, std::nullopt, {Net{{R("x", "A")}}}},
        MergeCase{"both reach x.A",
                  {Net{{R("x", "A2"), R("y", "B")}}, Net{{R("x", "A"), R("x", "A2")}}}, {}, kInv, std::nullopt,
                  {Net{{R("x", "A"), R("y", "B")}}}},
        MergeCase{"mapped alone, nothing shared",
                  {Net{{R("x", "A2"), R("y", "B")}}}, {}, kInv, std::nullopt,
                  {Net{{R("x", "A"), R("y", "B")}}}},
        MergeCase{"same element merges",
                  {Net{{A("x", "A2", 1, 2), P("P")}}, Net{{A("x", "A", 1, 2), P("Q")}}}, {"P", "Q"}, kInv,
                  std::nullopt, {Net{{P("P"), P("Q"), A("x", "A", 1, 2)}}}},
        MergeCase{"other elements stay apart",
                  {Net{{A("x", "A", 1, 1), P("P")}}, Net{{A("x", "A", 2, 1), P("Q")}}}, {"P", "Q"}, kInv,
                  std::nullopt, {Net{{P("P"), A("x", "A", 1, 1)}}, Net{{P("Q"), A("x", "A", 2, 1)}}}},
        MergeCase{"reference and element (1, 1) stay apart",
                  {Net{{R("x", "A"), P("P")}}, Net{{A("x", "A", 1, 1), P("Q")}}}, {"P", "Q"}, kInv,
                  std::nullopt, {Net{{P("P"), R("x", "A")}}, Net{{P("Q"), A("x", "A", 1, 1)}}}},
        MergeCase{"mapping applied once, later group wins",
                  {Net{{R("x", "b"), P("P")}}, Net{{R("x", "a"), P("Q")}}, Net{{R("x", "c"), P("R")}}},
                  {"P", "Q", "R"}, EquivalentPorts{{"INV", {{"a", "b"}, {}, {"c", "a"}}}}, std::nullopt,
                  {Net{{P("P"), R("x", "a")}}, Net{{P("Q"), P("R"), R("x", "c")}}}},
        MergeCase{"chain of keys merges three nets",
                  {Net{{R("x", "A"), R("x", "B2"), P("P")}}, Net{{R("x", "A2"), R("x", "C")}},
                   Net{{P("Z")}}, Net{{R("x", "B"), P("Q")}}},
                  {"P", "Q", "Z"}, EquivalentPorts{{"INV", {{"A", "A2"}, {"B", "B2"}, {"C"}}}}, std::nullopt,
                  {Net{{P("P"), P("Q"), R("x", "A"), R("x", "B"), R("x", "C")}}, Net{{P("Z")}}}},
        MergeCase{"given port mapping lacks the identity",
                  {Net{{R("x", "A"), P("P")}}, Net{{R("x", "A2"), P("Q")}}}, {"P", "Q"}, kInv,
                  PortMapping{{"INV", {{"A2", "A"}}}},
                  {Net{{P("P"), R("x", "A")}}, Net{{P("Q"), R("x", "A")}}}},
        MergeCase{"port mapping for a cell without equivalent ports is not used",
                  {Net{{R("x", "A2"), P("P")}}}, {"P"}, EquivalentPorts{}, PortMapping{{"INV", {{"A2", "A"}}}},
                  {Net{{P("P"), R("x", "A2")}}}},
        MergeCase{"empty port mapping replaces the derived one",
                  {Net{{R("x", "A2"), P("P")}}, Net{{R("x", "A"), P("Q")}}}, {"P", "Q"}, kInv, PortMapping{},
                  {Net{{P("P"), R("x", "A2")}}, Net{{P("Q"), R("x", "A")}}}},
        MergeCase{"other cells keep their port names",
                  {Net{{R("y", "A2"), P("P")}}, Net{{R("y", "A"), P("Q")}}}, {"P", "Q"},
                  EquivalentPorts{{"INV", {{"A", "A2"}}}, {"BUF", {}}}, std::nullopt,
                  {Net{{P("P"), R("y", "A2")}}, Net{{P("Q"), R("y", "A")}}}},
        MergeCase{"unknown instances are never mapped",
                  {Net{{R("ghost", "A2"), P("P")}}, Net{{R("ghost", "A"), P("Q")}}}, {"P", "Q"}, kInv,
                  std::nullopt, {Net{{P("P"), R("ghost", "A2")}}, Net{{P("Q"), R("ghost", "A")}}}},
        MergeCase{"single-name group makes its port canonical",
                  {Net{{R("x", "A"), R("x", "A"), P("P")}}, Net{{R("x", "A"), P("Q")}}}, {"P", "Q"},
                  EquivalentPorts{{"INV", {{"A"}}}}, std::nullopt, {Net{{P("P"), P("Q"), R("x", "A")}}}},
        MergeCase{"repeats kept in nets that are not involved",
                  {Net{{R("x", "A"), R("x", "A")}}, Net{{R("x", "Z"), R("x", "Z")}}}, {},
                  EquivalentPorts{{"INV", {{"A"}}}}, std::nullopt,
                  {Net{{R("x", "A")}}, Net{{R("x", "Z"), R("x", "Z")}}}}));

TEST(Normalize, OwnCellTopLevelPortsMappedInsideInvolvedNetsOnly) {
  const EquivalentPorts eq{{"INV", {{"A", "A2"}}}, {"TOP", {{"VDD", "VDD2"}}}};
  Netlist nl = top({Net{{P("VDD2"), R("x", "A2")}}, Net{{P("VDD2"), P("OUT")}}}, {"VDD", "VDD2", "OUT"});
  Netlist out = normalized(nl, "TOP", eq);
  EXPECT_EQ(out.nets, (std::vector<Net>{Net{{P("OUT"), P("VDD2")}}, Net{{P("VDD"), R("x", "A")}}}));
  EXPECT_EQ(out.ports, port_list({"OUT", "VDD", "VDD2"}));

  // Another cell name: top-level members are never mapped.
  Netlist other = normalized(top({Net{{P("VDD2"), R("x", "A2")}}}, {"VDD2"}), "ELSE", eq);
  EXPECT_EQ(other.nets, (std::vector<Net>{Net{{P("VDD2"), R("x", "A")}}}));
}

TEST(Normalize, CanonicalPortMissing) {
  const EquivalentPorts eq{{"INV", {{"A", "A2"}}}, {"TOP", {{"VDD", "VDD2"}}}};
  Netlist nl = top({Net{{P("VDD2"), R("x", "A2")}}}, {"VDD2"});
  const Netlist before = nl;
  auto r = nl.normalize("TOP", eq, std::nullopt);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), Error::canonical_port_missing("VDD"));
  EXPECT_EQ(r.error().message(), "normalize: canonical port \"VDD\" not present in netlist ports");
  EXPECT_EQ(nl, before);

  // A net that is not involved never fails.
  Netlist quiet = top({Net{{P("VDD2"), P("OUT")}}}, {"VDD2", "OUT"});
  EXPECT_TRUE(quiet.normalize("TOP", eq, std::nullopt).ok());
}

TEST(Normalize, MergedNetsLandInCanonicalOrder) {
  // Many nets chained pairwise through shared keys collapse into one; unrelated nets stay.
  Netlist nl;
  EquivalentPorts eq;
  auto& groups = eq["CELL"];
  const int n = 200;
  for (int i = 0; i < n; ++i) {
    const std::string name = "i" + std::to_string(i);
    (void)nl.create_inst_with_info(name, "k", "CELL", JsonValue(), 1, 1, JsonObject());
  }
  groups.push_back({"a", "a2"});
  for (int i = n - 1; i >= 0; --i) {
    const std::string cur = "i" + std::to_string(i);
    const std::string next = "i" + std::to_string((i + 1) % n);
    nl.nets.push_back(Net{{R(cur, "a2"), R(next, "a")}});
    nl.nets.push_back(Net{{R(cur, "z"), R(next, "z")}});
  }
  Netlist out = normalized(nl, "TOP", eq);
  ASSERT_EQ(out.nets.size(), static_cast<std::size_t>(n + 1));
  EXPECT_EQ(std::count_if(out.nets.begin(), out.nets.end(),
                          [n](const Net& net) { return net.members.size() == static_cast<std::size_t>(n); }),
            1);
  EXPECT_TRUE(std::is_sorted(out.nets.begin(), out.nets.end()));
}

// ---------------------------------------------------------------------------------------
// Cross-check against a literal, quadratic rendering of the canonical step on random
// netlists: lists of positions per key, a union of each list's first position with the
// rest, member sets by linear search.

namespace {

Netlist reference_normalize(const Netlist& nl, const std::string& cell, const EquivalentPorts& eq) {
  Netlist copy = nl;
  PortMapping map;
  for (const auto& [c, groups] : eq) {
    auto& entry = map[c];
    for (const auto& g : groups)
      for (const auto& p : g) entry[p] = g.front();  // an empty group has no p
  }
  const std::size_t n = copy.nets.size();
  std::vector<bool> involved(n);
  std::vector<std::pair<NetMember, std::vector<std::size_t>>> keys;  // key as a member with the canonical port
  for (std::size_t i = 0; i < n; ++i)
    for (NetMember& m : copy.nets[i].members) {
      const std::string* inst = member_instance(m);
      if (!inst) continue;
      const NetlistInstance* x = copy.instances.find(*inst);
      if (!x || !eq.count(x->component) || !map.count(x->component)) continue;
      auto& entry = map.at(x->component);
      std::string& port = std::holds_alternative<PortRef>(m) ? std::get<PortRef>(m).port : std::get<PortArrayRef>(m).port;
      if (!entry.count(port)) continue;
      port = entry.at(port);
      involved[i] = true;
      auto it = std::find_if(keys.begin(), keys.end(), [&](const auto& k) { return k.first == m; });
      if (it == keys.end()) keys.push_back({m, {i}});
      else it->second.push_back(i);
    }
  UnionFind uf(n);
  for (const auto& [k, list] : keys)
    for (std::size_t j = 1; j < list.size(); ++j) uf.unite(list[0], list[j]);
  std::vector<std::vector<std::size_t>> groups;
  std::vector<std::size_t> roots;
  for (std::size_t i = 0; i < n; ++i) {
    if (!involved[i]) continue;
    auto r = std::find(roots.begin(), roots.end(), uf.find(i));
    if (r == roots.end()) {
      roots.push_back(uf.find(i));
      groups.push_back({i});
    } else {
      groups[r - roots.begin()].push_back(i);
    }
  }
  const auto own = map.count(cell) ? map.at(cell) : std::unordered_map<std::string, std::string>{};
  std::vector<Net> merged;
  for (const auto& g : groups) {
    Net net;
    for (std::size_t j : g)
      for (NetMember m : copy.nets[j].members) {
        if (auto* p = std::get_if<NetlistPort>(&m); p && own.count(p->name)) p->name = own.at(p->name);
        if (std::find(net.members.begin(), net.members.end(), m) == net.members.end()) net.members.push_back(m);
      }
    sort_members(net.members);
    merged.push_back(net);
  }
  std::vector<Net> nets;
  for (std::size_t i = 0; i < n; ++i)
    if (!involved[i]) nets.push_back(copy.nets[i]);
  nets.insert(nets.end(), merged.begin(), merged.end());
  copy.nets = nets;
  std::vector<NetlistPort> ports;
  for (const auto& p : copy.ports)
    if (std::find(ports.begin(), ports.end(), p) == ports.end()) ports.push_back(p);
  copy.ports = ports;
  for (auto it = copy.instances.begin(); it != copy.instances.end(); ++it) normalize_value(it.value().settings);
  copy.sort();
  return copy;
}

}  // namespace

TEST(Normalize, AgreesWithALiteralRenderingOnRandomNetlists) {
  std::mt19937 rng(11);
  const std::vector<std::string> cells = {"INV", "BUF", "TOP"};
  const std::vector<std::string> ports = {"A", "A2", "B", "Y", "Z"};
  for (int round = 0; round < 200; ++round) {
    Netlist nl;
    for (int i = 0; i < 8; ++i)
      (void)nl.create_inst_with_info("i" + std::to_string(i), "k", cells[rng() % 2], JsonValue(), 2, 2, JsonObject());
    for (const auto& p : ports) nl.create_port(p);  // every top-level name exists: no failure
    nl.create_port("A");
    for (int k = 0; k < 12; ++k) {
      Net net;
      for (int m = 0, count = 1 + static_cast<int>(rng() % 4); m < count; ++m) {
        const std::string inst = "i" + std::to_string(rng() % 9);  // i8 does not exist
        const std::string& port = ports[rng() % ports.size()];
        switch (rng() % 4) {
          case 0: net.members.push_back(P(port)); break;
          case 1: net.members.push_back(A(inst, port, 1 + rng() % 2, 1)); break;
          default: net.members.push_back(R(inst, port)); break;
        }
      }
      nl.nets.push_back(std::move(net));
    }
    EquivalentPorts eq;
    for (const auto& c : cells) {
      if (rng() % 3 == 0) continue;
      auto& groups = eq[c];
      for (int g = 0, count = static_cast<int>(rng() % 3); g < count; ++g) {
        std::vector<std::string> group;
        for (int q = 0, size = static_cast<int>(rng() % 3); q < size; ++q) group.push_back(ports[rng() % ports.size()]);
        groups.push_back(group);
      }
    }
    auto r = nl.normalize("TOP", eq, std::nullopt);
    ASSERT_TRUE(r.ok()) << r.error().message();
    EXPECT_EQ(r.value(), reference_normalize(nl, "TOP", eq)) << "round " << round;
  }
}
