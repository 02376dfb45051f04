// Hierarchical flattening: selection, renaming, placements and net rewiring.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vondrel/flatten.h"
#include "members.h"

namespace vondrel {
namespace {

using test::A;
using test::P;
using test::R;

// A small builder for the engine's records.
struct Cell {
  NetlistData d;
  Cell& inst(const std::string& name, std::optional<NetlistArray> array = std::nullopt) {
    d.instances.insert_or_assign(name, NetlistInstance{"k", "comp_" + name, JsonValue(), {}, array, name});
    return *this;
  }
  // An instance whose placed cell (and placement) is recorded in the extras.
  Cell& placed(const std::string& name, std::string cell, Placement placement = {}) {
    inst(name);
    d.extras.insert_or_assign(name, PlacedExtra{std::move(cell), placement});
    return *this;
  }
  Cell& net(std::vector<NetMember> members) {
    d.nets.push_back(Net{std::move(members)});
    return *this;
  }
  Cell& port(std::string name) {
    d.ports.push_back(NetlistPort{std::move(name)});
    return *this;
  }
};

std::vector<std::string> names(const NetlistData& d) {
  std::vector<std::string> out;
  for (const auto& [k, v] : d.instances) out.push_back(k);
  return out;
}

std::vector<std::string> extra_names(const NetlistData& d) {
  std::vector<std::string> out;
  for (const auto& [k, v] : d.extras) out.push_back(k);
  return out;
}

using Nets = std::vector<Net>;

struct Flat {
  Cell top;
  NetlistDataMap netlists;
  CellNameMap instance_cells;
  SubInstanceCellMaps sub_cells;
  FlattenOptions options = FlattenOptions::make(std::nullopt, std::nullopt, true, false, true, ".");

  std::size_t runaway_factor = kFlattenRunawayFactor;
  std::size_t live_floor = kFlattenLiveFloor;
  std::size_t work_floor = kFlattenWorkFloor;

  Result<FlattenResult> go() const {
    return flatten_netlist(top.d, instance_cells, netlists, sub_cells, options, runaway_factor, live_floor, work_floor);
  }
  FlattenResult ok() const {
    auto r = go();
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message());
    return r.ok() ? std::move(r).value() : FlattenResult{};
  }
  std::string error() const {
    auto r = go();
    EXPECT_FALSE(r.ok());
    return r.ok() ? "" : r.error().message();
  }
};

// Cell INV: instance m1, ports A and Y, net {A, m1.G}.
Cell inv() { return Cell().inst("m1").port("A").port("Y").net({P("A"), R("m1", "G")}); }

TEST(Flatten, OptionsFromLists) {
  // An absent list means no filter; an empty list is a filter that admits nothing.
  EXPECT_FALSE(FlattenOptions::make(std::nullopt, std::nullopt, true, false, false, ".").cells);
  EXPECT_TRUE(FlattenOptions::make(std::vector<std::string>{}, std::nullopt, true, false, false, ".").cells->empty());
}

TEST(Flatten, EmptyNetlist) {
  Flat run;
  const FlattenResult r = run.ok();
  EXPECT_EQ(r.data, NetlistData{});
  EXPECT_TRUE(r.warnings.empty());
}

TEST(Flatten, NothingToInlineGivesCanonicalOrder) {
  Flat run;
  run.top.inst("b").inst("a").port("z").port("y").port("z");
  run.top.d.extras.insert_or_assign("zz", PlacedExtra{});  // not an instance: survives a pass that inlines nothing
  run.top.d.extras.insert_or_assign("b", PlacedExtra{});
  run.top.net({R("b", "p"), R("a", "q"), R("a", "q")}).net({}).net({P("y"), R("a", "p")});
  run.options.warn_skipped = false;
  const FlattenResult r = run.ok();
  EXPECT_EQ(names(r.data), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(extra_names(r.data), (std::vector<std::string>{"b", "zz"}));
  EXPECT_EQ(r.data.nets, (Nets{Net{}, Net{{P("y"), R("a", "p")}}, Net{{R("a", "q"), R("a", "q"), R("b", "p")}}}));
  EXPECT_EQ(r.data.ports, (std::vector<NetlistPort>{{"y"}, {"z"}, {"z"}}));
}

// ---- selection -----------------------------------------------------------------------

// Instance u: its cell from the extras and/or instance_cell_map, an optional array, filters.
struct SkipCase {
  const char* what;
  std::optional<std::string> extras_cell, map_cell;
  std::optional<NetlistArray> array;
  std::optional<NameSet> cells;
  bool exclude_inv;
  std::string reason;  // empty: no message
  bool inlined;
};

void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.what; }

class FlattenSkip : public ::testing::TestWithParam<SkipCase> {};

TEST_P(FlattenSkip, ClassifiesAndWarns) {
  const SkipCase& c = GetParam();
  Flat run;
  // The inlined m1 is of an excluded cell, so inlining adds no message of its own.
  run.netlists["INV"] = Cell().placed("m1", "LEAF").port("A").net({P("A"), R("m1", "G")}).d;
  run.options.exclude.insert("LEAF");
  run.netlists["EMPTY"] = Cell().port("A").net({P("A")}).d;
  run.top.inst("u", c.array);
  if (c.extras_cell) run.top.d.extras.insert_or_assign("u", PlacedExtra{*c.extras_cell, {}});
  if (c.map_cell) run.instance_cells["u"] = *c.map_cell;
  run.options.cells = c.cells;
  if (c.exclude_inv) run.options.exclude.insert("INV");
  const FlattenResult r = run.ok();
  EXPECT_EQ(r.data.instances.contains("u.m1"), c.inlined);
  if (c.reason.empty()) EXPECT_EQ(r.warnings, std::vector<std::string>{});
  else EXPECT_EQ(r.warnings, std::vector<std::string>{"not flattening instance \"u\": " + c.reason});
}

const std::string kUnknown =
    "its cell name is unknown (pass instance_cell_map/sub_instance_cell_maps, or use a PlacedNetlist)";
const std::string kArray = "it is an array instance, which cannot be inlined";
const auto no = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Cases, FlattenSkip,
    ::testing::Values(
        SkipCase{"unknown", no, no, no, no, false, kUnknown, false},
        SkipCase{"extras_empty_cell_is_unknown", "", no, no, no, false, kUnknown, false},
        SkipCase{"empty_in_map_overrides_extras", "INV", "", no, no, false, kUnknown, false},
        SkipCase{"map_overrides_extras", "NOPE", "INV", no, no, false, "", true},
        SkipCase{"no_netlist", "NAND\"2", no, no, no, false, "no netlist given for its cell \"NAND\\\"2\"", false},
        SkipCase{"empty_cell", "EMPTY", no, no, no, false, "cell \"EMPTY\" has no instances of its own", false},
        SkipCase{"array_1x2", no, "INV", NetlistArray{1, 2}, no, false, kArray, false},
        SkipCase{"array_3x1", no, "INV", NetlistArray{3, 1}, no, false, kArray, false},
        SkipCase{"array_1x1_inlined", no, "INV", NetlistArray{1, 1}, no, false, "", true},
        SkipCase{"excluded", "INV", no, no, no, true, "", false},
        SkipCase{"filtered", "INV", no, no, NameSet{"OTHER"}, false, "", false},
        SkipCase{"exclude_wins_over_cells", "INV", no, no, NameSet{"INV"}, true, "", false},
        SkipCase{"empty_cells_filter_all", "INV", no, no, NameSet{}, false, "", false},
        SkipCase{"cells_admits", "INV", no, no, NameSet{"INV"}, false, "", true}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Flatten, EachInstanceWarnedOnceAcrossPasses) {
  Flat run;
  // `u` stays unknown while `a` takes two inlining passes (and a third that finds nothing).
  run.top.inst("u").placed("a", "MID");
  run.netlists["MID"] = Cell().placed("i", "INV").d;
  run.netlists["INV"] = inv().d;
  FlattenResult r = run.ok();
  EXPECT_EQ(names(r.data), (std::vector<std::string>{"a.i.m1", "u"}));
  ASSERT_EQ(r.warnings.size(), 2u);  // u once, a.i.m1 once
  EXPECT_NE(r.warnings[0].find("\"u\""), std::string::npos);
  EXPECT_NE(r.warnings[1].find("\"a.i.m1\""), std::string::npos);

  run.options.warn_skipped = false;
  EXPECT_TRUE(run.ok().warnings.empty());
}

TEST(Flatten, NonRecursiveRunsOnePass) {
  Flat run;
  run.top.placed("a", "MID");
  run.netlists["MID"] = Cell().placed("i", "INV").d;
  run.netlists["INV"] = inv().d;
  run.options.recursive = false;
  const FlattenResult r = run.ok();
  EXPECT_EQ(names(r.data), (std::vector<std::string>{"a.i"}));
  EXPECT_EQ(r.data.extras.find("a.i")->cell, "INV");
  EXPECT_EQ(r.data.instances.find("a.i")->name, "a.i");
  EXPECT_EQ(r.data.instances.find("a.i")->component, "comp_i");
}

// ---- renaming and clashes --------------------------------------------------------------

TEST(Flatten, SeparatorJoinsNames) {
  for (const auto& [sep, expect] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"/", {"top/a", "top/b"}}, {"", {"topa", "topb"}}, {"::", {"top::a", "top::b"}}}) {
    Flat run;
    run.top.placed("top", "C");
    run.netlists["C"] = Cell().inst("b").inst("a").d;
    run.options.separator = sep;
    run.options.warn_skipped = false;
    EXPECT_EQ(names(run.ok().data), expect) << sep;
  }
}

TEST(Flatten, NameClashes) {
  const std::string x_clash = "flatten: inlining instance \"x\" would create instance \"x.y\", which already exists";
  for (bool kept_first : {true, false}) {
    Flat run;
    if (kept_first) run.top.inst("x.y").placed("x", "C");
    else run.top.placed("x", "C").inst("x.y");
    run.netlists["C"] = Cell().inst("y").d;
    EXPECT_EQ(run.error(), x_clash) << kept_first;
  }
  for (bool a_first : {true, false}) {
    Flat run;
    if (a_first) run.top.placed("a", "CA").placed("a.b", "CB");
    else run.top.placed("a.b", "CB").placed("a", "CA");
    run.netlists["CA"] = Cell().inst("b.c").d;
    run.netlists["CB"] = Cell().inst("c").d;
    EXPECT_EQ(run.error(), a_first ? "flatten: inlining instance \"a.b\" would create instance \"a.b.c\", which "
                                     "already exists"
                                   : "flatten: inlining instance \"a\" would create instance \"a.b.c\", which "
                                     "already exists");
  }
}

TEST(Flatten, ChildMayTakeTheNameOfAnotherInlinedInstance) {
  Flat run;
  run.top.placed("a", "C").placed("ab", "C");
  run.netlists["C"] = Cell().inst("b").d;
  run.options.separator = "";
  run.options.warn_skipped = false;
  EXPECT_EQ(names(run.ok().data), (std::vector<std::string>{"ab", "abb"}));
}

TEST(Flatten, ClashIsReportedBeforeAnUnconnectedPort) {
  Flat run;
  run.top.inst("x.m1").placed("x", "INV").net({R("x", "Y")});
  run.netlists["INV"] = inv().d;
  EXPECT_NE(run.error().find("would create instance \"x.m1\""), std::string::npos);
}

// ---- placements and child cells --------------------------------------------------------

TEST(Flatten, PlacementsComposeAndChildCellsResolve) {
  Flat run;
  const Placement parent{10, 0, 90, false, BBox{}};
  run.top.placed("p", "C", parent).inst("bare");
  run.instance_cells["bare"] = "C";
  Cell c;
  c.placed("k1", "INV", Placement{1, 0, 0, false, BBox{0, 0, 1, 1}});  // cell from the extras
  c.placed("k2", "INV");                                             // overridden to "" below
  c.inst("k3");                                                      // no extras: unknown
  run.netlists["C"] = c.d;
  run.sub_cells["C"]["k2"] = "";
  run.netlists[""] = inv().d;  // the empty name is a cell name like any other
  run.netlists["INV"] = Cell().inst("leaf").d;
  run.options.warn_skipped = false;
  const FlattenResult r = run.ok();
  EXPECT_EQ(names(r.data), (std::vector<std::string>{"bare.k1.leaf", "bare.k2.m1", "bare.k3", "p.k1.leaf",
                                                     "p.k2.m1", "p.k3"}));
  EXPECT_EQ(extra_names(r.data), names(r.data));
  const Placement& k1 = r.data.extras.find("p.k1.leaf")->placement;  // child zero placement under p.k1
  EXPECT_EQ(k1, (Placement{10, 1, 90, false, BBox{10, 1, 10, 1}}));
  EXPECT_EQ(r.data.extras.find("p.k1.leaf")->cell, "");
  EXPECT_EQ(r.data.extras.find("p.k3")->cell, "");
  EXPECT_EQ(r.data.extras.find("bare.k3")->placement, Placement{});
}

TEST(Flatten, ExtrasAfterAnInliningPass) {
  Flat run;
  run.top.placed("x", "INV").inst("plain");
  run.top.d.extras.insert_or_assign("ghost", PlacedExtra{"G", {}});
  run.netlists["INV"] = inv().d;
  run.options.warn_skipped = false;
  const FlattenResult r = run.ok();
  EXPECT_EQ(names(r.data), (std::vector<std::string>{"plain", "x.m1"}));
  EXPECT_EQ(extra_names(r.data), (std::vector<std::string>{"x.m1"}));
}

// ---- nets ------------------------------------------------------------------------------

struct NetCase {
  const char* what;
  std::vector<Net> parent_nets;
  std::vector<Net> inv_nets;
  Nets expected;
};

void PrintTo(const NetCase& c, std::ostream* os) { *os << c.what; }

class FlattenNets : public ::testing::TestWithParam<NetCase> {};

TEST_P(FlattenNets, Rewire) {
  const NetCase& c = GetParam();
  Flat run;
  run.top.placed("x1", "INV").inst("y").port("IN").port("OUT");
  run.top.d.nets = c.parent_nets;
  Cell cell = Cell().inst("m1").port("A").port("Y");
  cell.d.nets = c.inv_nets;
  run.netlists["INV"] = cell.d;
  run.options.allow_unconnected_ports = true;
  run.options.warn_skipped = false;
  EXPECT_EQ(run.ok().data.nets, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlattenNets,
    ::testing::Values(
        NetCase{"through_port", {Net{{P("IN"), R("x1", "A")}}}, {Net{{P("A"), R("m1", "G")}}},
                {Net{{P("IN"), R("x1.m1", "G")}}}},
        NetCase{"two_parent_nets_same_port",
                {Net{{P("IN"), R("x1", "A")}}, Net{{R("x1", "A"), R("y", "B")}}},
                {Net{{P("A"), R("m1", "G")}}},
                {Net{{P("IN"), R("x1.m1", "G"), R("y", "B")}}}},
        NetCase{"array_element_counts_as_port", {Net{{P("IN"), A("x1", "A", 1, 1)}}}, {Net{{P("A"), R("m1", "G")}}},
                {Net{{P("IN"), R("x1.m1", "G")}}}},
        NetCase{"feed_through",
                {Net{{P("IN"), R("x1", "A")}}, Net{{R("x1", "Y"), P("OUT")}}},
                {Net{{P("A"), P("Y")}}},
                {Net{{P("IN"), P("OUT")}}}},
        NetCase{"inner_net_without_parent", {}, {Net{{P("Y"), R("m1", "D")}}}, {Net{{R("x1.m1", "D")}}}},
        NetCase{"ports_only_inner_net_vanishes", {}, {Net{{P("A"), P("Y")}}}, {}},
        NetCase{"inner_nets_on_one_port_merge",
                {Net{{P("IN"), R("x1", "A")}}},
                {Net{{P("A"), R("m1", "G")}}, Net{{R("m1", "S"), P("A")}}, Net{{R("m1", "D")}}},
                {Net{{P("IN"), R("x1.m1", "G"), R("x1.m1", "S")}}, Net{{R("x1.m1", "D")}}}},
        NetCase{"untouched_parent_net_deduplicated_empty_dropped",
                {Net{{R("y", "P"), R("y", "P")}}, Net{}},
                {},
                {Net{{R("y", "P")}}}},
        NetCase{"unconnected_allowed_cuts", {Net{{P("IN"), R("x1", "A"), R("y", "Q")}}}, {},
                {Net{{P("IN"), R("y", "Q")}}}},
        NetCase{"unconnected_ports_still_merge",
                {Net{{P("IN"), R("x1", "A")}}, Net{{R("x1", "A"), P("OUT")}}},
                {},
                {Net{{P("IN"), P("OUT")}}}},
        NetCase{"same_port_twice_in_one_net", {Net{{R("x1", "A"), P("IN"), R("x1", "A")}}},
                {Net{{P("A"), R("m1", "G")}}}, {Net{{P("IN"), R("x1.m1", "G")}}}},
        NetCase{"inner_refs_to_unknown_instances_are_joined",
                {},
                {Net{{R("ghost", "Z"), A("m1", "Q", 2, 3)}}},
                {Net{{R("x1.ghost", "Z"), A("x1.m1", "Q", 2, 3)}}}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Flatten, UnconnectedPortIsRefused) {
  Flat run;
  run.top.placed("x1", "INV").net({P("IN"), R("x1", "Y")}).net({R("x1", "A")});
  run.netlists["INV"] = inv().d;  // its nets reach A only
  EXPECT_EQ(run.error(),
            "flatten: instance \"x1\" is connected on port \"Y\", but that port is not part of any net inside cell "
            "\"INV\" \xe2\x80\x94 inlining would drop the connection. Pass allow_unconnected_ports=True to inline "
            "anyway.");
  // A port the cell lists but no net reaches counts as unconnected too.
  run.top.d.nets = {Net{{R("x1", "A")}}};
  run.netlists["INV"] = Cell().inst("m1").port("A").d;
  EXPECT_NE(run.error().find("port \"A\""), std::string::npos);
}

// Instances of one cell share its port numbering but each has its own ports; another cell
// with the same port names keeps its own too.
TEST(Flatten, EachInlinedInstanceHasItsOwnPorts) {
  Flat run;
  run.top.placed("x1", "INV").placed("x2", "INV").placed("b", "BUF").inst("y");
  run.top.net({P("IN"), R("x1", "A")}).net({R("x2", "A"), P("OUT")}).net({R("x1", "Y"), R("b", "A")});
  run.top.net({R("x2", "Y"), R("y", "Q")}).net({R("b", "Y"), R("y", "R")});
  run.netlists["INV"] = Cell().inst("m1").net({P("Y"), R("m1", "D")}).net({R("m1", "G"), P("A")}).d;
  run.netlists["BUF"] = Cell().inst("m1").net({P("A"), P("Y")}).d;
  EXPECT_EQ(run.ok().data.nets, (Nets{Net{{P("IN"), R("x1.m1", "G")}}, Net{{P("OUT"), R("x2.m1", "G")}},
                                      Net{{R("x1.m1", "D"), R("y", "R")}}, Net{{R("x2.m1", "D"), R("y", "Q")}}}));
}

TEST(Flatten, ThreeLevelsByHand) {
  // TOP: ports IN, OUT; u1 (BUF): IN -> u1.A, u1.Y -> OUT, and t (kept, unknown) on u1.Y.
  // BUF: ports A, Y; i1, i2 of INV: A -> i1.A, i1.Y -> i2.A (net n), i2.Y -> Y.
  // INV: ports A, Y; mp, mn: A -> mp.G, mn.G; Y -> mp.D, mn.D; mn.S alone.
  Flat run;
  run.top.placed("u1", "BUF").inst("t").port("OUT").port("IN");
  run.top.net({P("IN"), R("u1", "A")}).net({R("u1", "Y"), P("OUT"), R("t", "I")});
  run.netlists["BUF"] = Cell()
                            .placed("i1", "INV")
                            .placed("i2", "INV")
                            .port("A")
                            .port("Y")
                            .net({P("A"), R("i1", "A")})
                            .net({R("i1", "Y"), R("i2", "A")})
                            .net({R("i2", "Y"), P("Y")})
                            .d;
  run.netlists["INV"] = Cell()
                            .inst("mp")
                            .inst("mn")
                            .port("A")
                            .port("Y")
                            .net({P("A"), R("mp", "G"), R("mn", "G")})
                            .net({P("Y"), R("mp", "D"), R("mn", "D")})
                            .net({R("mn", "S")})
                            .d;
  run.options.warn_skipped = false;
  const FlattenResult r = run.ok();
  EXPECT_EQ(names(r.data), (std::vector<std::string>{"t", "u1.i1.mn", "u1.i1.mp", "u1.i2.mn", "u1.i2.mp"}));
  EXPECT_EQ(r.data.ports, (std::vector<NetlistPort>{{"IN"}, {"OUT"}}));
  EXPECT_EQ(r.data.nets, (Nets{
                             Net{{P("IN"), R("u1.i1.mn", "G"), R("u1.i1.mp", "G")}},
                             Net{{P("OUT"), R("t", "I"), R("u1.i2.mn", "D"), R("u1.i2.mp", "D")}},
                             Net{{R("u1.i1.mn", "D"), R("u1.i1.mp", "D"), R("u1.i2.mn", "G"), R("u1.i2.mp", "G")}},
                             Net{{R("u1.i1.mn", "S")}},
                             Net{{R("u1.i2.mn", "S")}},
                         }));
}

// ---- pass limit and depth --------------------------------------------------------------

TEST(Flatten, SelfContainingCellStopsAtThePassLimit) {
  Flat run;
  run.top.placed("x", "SELF");
  run.netlists["SELF"] = Cell().placed("x", "SELF").d;
  EXPECT_EQ(run.error(),
            "flatten: still inlining after 1000 passes \xe2\x80\x94 `netlists` describes a cell that contains itself");
  run.options.recursive = false;
  EXPECT_EQ(names(run.ok().data), (std::vector<std::string>{"x.x"}));
}

TEST(Flatten, CyclicRunKeepsTheErrorsOfItsPasses) {
  // Within the budget a run with a cycle runs its passes as ever: a clash or a dropped
  // connection in pass 1 or 2 of a doubling cell, a clash in pass 1000 of a cell holding
  // itself once.
  Flat clash;
  clash.top.placed("x", "TWICE").inst("x.a.b");
  clash.netlists["TWICE"] = Cell().placed("a", "TWICE").placed("b", "TWICE").d;
  EXPECT_EQ(clash.error(), "flatten: inlining instance \"x.a\" would create instance \"x.a.b\", which already exists");
  // The first pass always runs, even past the budget.
  clash.top.inst("x.b");
  clash.runaway_factor = clash.live_floor = clash.work_floor = 0;
  EXPECT_EQ(clash.error(), "flatten: inlining instance \"x\" would create instance \"x.b\", which already exists");
  Flat dropped;
  dropped.top.placed("x", "TWICE").net({P("IN"), R("x", "A")});
  dropped.netlists["TWICE"] = Cell().placed("a", "TWICE").placed("b", "TWICE").net({P("A"), R("a", "B")}).d;
  EXPECT_NE(dropped.error().find("instance \"x.a\" is connected on port \"B\""), std::string::npos);
  Flat last;
  std::string name = "x";
  for (int k = 0; k < 1000; ++k) name += ".x";
  last.top.placed("x", "SELF").inst(name);
  last.netlists["SELF"] = Cell().placed("x", "SELF").d;
  EXPECT_NE(last.error().find("would create instance \"" + name + "\""), std::string::npos);
  // Carrying 300 instances along, pass 600 still gets to its clash.
  Flat carried;
  for (int k = 0; k < 300; ++k) carried.top.inst("kept" + std::to_string(k));
  name = "t";
  for (int k = 0; k < 600; ++k) name += ".x";
  carried.top.placed("t", "SELF").inst(name);
  carried.netlists["SELF"] = last.netlists["SELF"];
  EXPECT_NE(carried.error().find("would create instance \"" + name + "\""), std::string::npos);
}

// A run that can never end fails as it would after its last pass, quickly and without
// building much: a cell holding itself twice would double every pass (2^1000 instances).
struct RunawayCase {
  const char* what;
  void (*build)(Flat&);
};

void PrintTo(const RunawayCase& c, std::ostream* os) { *os << c.what; }

class FlattenRunaway : public ::testing::TestWithParam<RunawayCase> {};

TEST_P(FlattenRunaway, FailsAtOnceWithThePassLimit) {
  Flat run;
  run.top.placed("x", "C");
  GetParam().build(run);
  EXPECT_EQ(run.error(),
            "flatten: still inlining after 1000 passes \xe2\x80\x94 `netlists` describes a cell that contains itself");
}

NetlistData holds_itself(const std::string& cell, int copies) {
  Cell c;
  for (int k = 0; k < copies; ++k) c.placed("i" + std::to_string(k), cell);
  return c.d;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlattenRunaway,
    ::testing::Values(
        RunawayCase{"holds_itself_twice", [](Flat& run) { run.netlists["C"] = holds_itself("C", 2); }},
        RunawayCase{"holds_itself_8_times", [](Flat& run) { run.netlists["C"] = holds_itself("C", 8); }},
        // C holds two instances that the sub-instance map puts in the cell named "", which
        // holds C.
        RunawayCase{"two_cells_through_the_empty_name",
                    [](Flat& run) {
                      run.netlists["C"] = Cell().inst("b1").inst("b2").d;
                      run.sub_cells["C"] = {{"b1", ""}, {"b2", ""}};
                      run.netlists[""] = Cell().placed("a", "C").d;
                    }},
        // Fifty levels C, L1, ..., L49 of two instances each, one of the next level, then a
        // cell holding itself twice.
        RunawayCase{"deep_below_a_chain",
                    [](Flat& run) {
                      for (int k = 0; k < 50; ++k)
                        run.netlists[k ? "L" + std::to_string(k) : "C"] =
                            Cell().inst("m").placed("n", "L" + std::to_string(k + 1)).d;
                      run.netlists["L50"] = holds_itself("L50", 2);
                    }}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Flatten, LargeRunWithoutCycleIsNotStopped) {
  // Past the budget, but every cell bottoms out: the flatten completes.
  Flat run;
  run.top.placed("x", "MID").placed("y", "MID");
  run.netlists["MID"] = Cell().placed("a", "LEAF").placed("b", "LEAF").inst("c").d;
  run.netlists["LEAF"] = Cell().inst("m").inst("n").d;
  run.runaway_factor = run.live_floor = run.work_floor = 0;
  EXPECT_EQ(run.ok().data.instances.size(), 10u);
  // A cycle MID -> LOOP -> MID counts only while the options let it be inlined.
  Flat loop;
  loop.top.placed("x", "MID");
  loop.netlists["MID"] = Cell().placed("a", "LOOP").inst("c").d;
  loop.netlists["LOOP"] = Cell().placed("m", "MID").d;
  loop.runaway_factor = loop.live_floor = loop.work_floor = 0;
  EXPECT_NE(loop.error().find("after 1000 passes"), std::string::npos);
  loop.options.exclude.insert("LOOP");
  EXPECT_EQ(names(loop.ok().data), (std::vector<std::string>{"x.a", "x.c"}));
}

// A chain TOP -> L0 -> L1 -> ... -> L(depth-1) -> leaf, with one net threaded through.
Flat chain(int depth) {
  Flat run;
  run.top.placed("i", "L0").port("IN").net({P("IN"), R("i", "A")});
  for (int k = 0; k < depth; ++k) {
    Cell c;
    if (k + 1 < depth) c.inst("i");
    else c.inst("leaf");
    c.port("A").net({P("A"), R(k + 1 < depth ? "i" : "leaf", "A")});
    run.netlists["L" + std::to_string(k)] = c.d;
    if (k + 1 < depth) run.sub_cells["L" + std::to_string(k)]["i"] = "L" + std::to_string(k + 1);
  }
  run.options.warn_skipped = false;
  return run;
}

TEST(Flatten, DeepHierarchyFlattensIteratively) {
  // 999 inlining passes, the 1000th finds nothing left.
  const FlattenResult r = chain(999).ok();
  std::string leaf;
  for (int k = 0; k < 999; ++k) leaf += "i.";
  leaf += "leaf";
  EXPECT_EQ(names(r.data), std::vector<std::string>{leaf});
  EXPECT_EQ(r.data.nets, (Nets{Net{{P("IN"), R(leaf, "A")}}}));
  // One level more needs a 1000th inlining pass.
  EXPECT_NE(chain(1000).error().find("after 1000 passes"), std::string::npos);
}

}  // namespace
}  // namespace vondrel
