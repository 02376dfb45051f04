// Placement composition and the placed netlist.

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "vondrel/json.h"
#include "vondrel/placement.h"
#include "vondrel/wire.h"

namespace vondrel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Placement at(double x, double y, double orientation = 0.0, bool mirror = false, BBox box = {}) {
  return Placement{x, y, orientation, mirror, box};
}

// Bitwise comparison so that -0.0 and 0.0 differ and NaN equals NaN.
void expect_same(double expected, double actual) {
  EXPECT_EQ(std::signbit(expected), std::signbit(actual)) << expected << " vs " << actual;
  if (std::isnan(expected)) EXPECT_TRUE(std::isnan(actual)) << actual;
  else EXPECT_EQ(expected, actual);
}

TEST(ComposePlacement, ZeroParentKeepsChildAndOrdersItsBox) {
  const Placement r = compose_placement(Placement{}, at(3, 4, 450, true, BBox{5, 6, 1, 2}));
  expect_same(3, r.x);
  expect_same(4, r.y);
  expect_same(90, r.orientation);
  EXPECT_TRUE(r.mirror);
  expect_same(1, r.bbox.left);
  expect_same(2, r.bbox.bottom);
  expect_same(5, r.bbox.right);
  expect_same(6, r.bbox.top);
}

struct QuarterTurn {
  double orientation;
  double x, y;
};

class ComposeQuarterTurns : public ::testing::TestWithParam<QuarterTurn> {};

TEST_P(ComposeQuarterTurns, AreExact) {
  const QuarterTurn q = GetParam();
  const Placement r = compose_placement(at(10, 0, q.orientation), at(1, 0, 15, false, BBox{0, 0, 2, 1}));
  expect_same(q.x, r.x);
  expect_same(q.y, r.y);
  // The result angle comes from the stored (unreduced) parent angle.
  expect_same(std::fmod(q.orientation + 15 + 3600, 360.0), r.orientation);
}

INSTANTIATE_TEST_SUITE_P(Turns, ComposeQuarterTurns,
                         ::testing::Values(QuarterTurn{0, 11, 0}, QuarterTurn{90, 10, 1}, QuarterTurn{-90, 10, -1},
                                           QuarterTurn{450, 10, 1}, QuarterTurn{180, 9, 0},
                                           QuarterTurn{270, 10, -1}, QuarterTurn{-360, 11, 0}),
                         [](const auto& info) {
                           const double o = info.param.orientation;
                           return (o < 0 ? "minus" : "") + std::to_string(static_cast<int>(o < 0 ? -o : o));
                         });

TEST(ComposePlacement, QuarterTurnBoxIsExact) {
  const Placement r = compose_placement(at(10, 0, 90), at(0, 0, 0, false, BBox{0, 0, 2, 1}));
  expect_same(9, r.bbox.left);
  expect_same(0, r.bbox.bottom);
  expect_same(10, r.bbox.right);
  expect_same(2, r.bbox.top);
}

TEST(ComposePlacement, ParentMirrorReflectsChild) {
  const Placement r = compose_placement(at(0, 0, 0, true), at(1, 2, 30, false, BBox{0, 1, 2, 3}));
  expect_same(1, r.x);
  expect_same(-2, r.y);
  expect_same(330, r.orientation);
  EXPECT_TRUE(r.mirror);
  expect_same(-3, r.bbox.bottom);
  expect_same(-1, r.bbox.top);
  EXPECT_FALSE(compose_placement(at(0, 0, 0, true), at(1, 2, 30, true)).mirror);
  // A mirrored child under an unmirrored parent is not reflected.
  const Placement k = compose_placement(Placement{}, at(1, 2, 30, true));
  expect_same(2, k.y);
  EXPECT_TRUE(k.mirror);
}

TEST(ComposePlacement, OtherAnglesGoThroughSineAndCosine) {
  const double a = 45 * 0.017453292519943295;
  const Placement r = compose_placement(at(1, 2, 45), at(3, 0));
  expect_same((1 + 3 * std::cos(a)) - 0 * std::sin(a), r.x);
  expect_same((2 + 3 * std::sin(a)) + 0 * std::cos(a), r.y);
  expect_same(45, r.orientation);
}

TEST(ComposePlacement, ResultAngleReduction) {
  expect_same(-0.0, compose_placement(at(0, 0, -90), at(0, 0, -270)).orientation);
  expect_same(360.0, compose_placement(Placement{}, at(0, 0, -1e-14)).orientation);
  expect_same(0.0, compose_placement(at(0, 0, 720), Placement{}).orientation);
}

TEST(ComposePlacement, NaNSideOfChildBoxIsIgnoredByTheFold) {
  const Placement r = compose_placement(Placement{}, at(0, 0, 0, false, BBox{kNaN, 0, 2, 3}));
  expect_same(2, r.bbox.left);
  expect_same(0, r.bbox.bottom);
  expect_same(2, r.bbox.right);
  expect_same(3, r.bbox.top);
  const Placement all = compose_placement(Placement{}, at(0, 0, 0, false, BBox{kNaN, kNaN, kNaN, kNaN}));
  expect_same(kNaN, all.bbox.left);
  expect_same(kNaN, all.bbox.top);
}

TEST(ComposePlacement, NonFiniteParentAngleGivesNaN) {
  for (double o : {kNaN, kInf, -kInf}) {
    const Placement r = compose_placement(at(1, 1, o), at(1, 1, 0, false, BBox{0, 0, 1, 1}));
    EXPECT_TRUE(std::isnan(r.x));
    EXPECT_TRUE(std::isnan(r.y));
    EXPECT_TRUE(std::isnan(r.orientation));
    EXPECT_TRUE(std::isnan(r.bbox.left));
    EXPECT_TRUE(std::isnan(r.bbox.top));
  }
}

// ---- placed netlist ----------------------------------------------------------------

PlacedExtra extra(std::string cell, double x = 0) { return PlacedExtra{std::move(cell), at(x, 0)}; }

std::vector<std::string> keys(const ExtrasMap& m) {
  std::vector<std::string> out;
  for (const auto& [k, v] : m) out.push_back(k);
  return out;
}

Netlist with_instances(std::initializer_list<const char*> names) {
  Netlist n;
  for (const char* name : names) EXPECT_TRUE(n.create_inst_with_info(name, "k", "c", JsonValue(), 1, 1, {}).ok());
  return n;
}

TEST(PlacedNetlist, MakeDropsExtrasOfUnknownInstances) {
  ExtrasMap e;
  e.insert_or_assign("a", extra("A"));
  e.insert_or_assign("x", extra("X"));
  e.insert_or_assign("b", extra("B"));
  const PlacedNetlist p = PlacedNetlist::make(with_instances({"b", "a"}), std::move(e));
  EXPECT_EQ(keys(p.extras), (std::vector<std::string>{"a", "b"}));
}

TEST(PlacedNetlist, CreateInstReplacesInPlaceOrAppends) {
  PlacedNetlist p = PlacedNetlist::make(with_instances({"u1", "u2"}), {});
  p.extras.insert_or_assign("u1", extra("OLD"));
  p.extras.insert_or_assign("u2", extra("U2"));
  auto r = p.create_inst_with_info("u1", "k", "new", JsonValue(), 0, 0, {}, extra("NEW", 3));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->instance.component, "new");
  EXPECT_EQ(r->instance.name, "u1");
  EXPECT_EQ(r->cell, "NEW");
  EXPECT_EQ(r->placement.x, 3);
  EXPECT_EQ(keys(p.extras), (std::vector<std::string>{"u1", "u2"}));
  EXPECT_EQ(p.extras.find("u1")->cell, "NEW");
  ASSERT_TRUE(p.create_inst_with_info("u3", "k", "c", JsonValue(), 1, 1, {}, extra("U3")).ok());
  EXPECT_EQ(keys(p.extras), (std::vector<std::string>{"u1", "u2", "u3"}));

  const PlacedNetlist before = p;
  auto bad = p.create_inst_with_info("u4", "k", "c", JsonValue(), -1, 3, {}, extra("U4"));
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().kind(), Error::Kind::InvalidArraySize);
  EXPECT_EQ(p.netlist, before.netlist);
  EXPECT_EQ(p.extras, before.extras);
}

TEST(PlacedNetlist, RemoveInstancesDropsTheirExtras) {
  PlacedNetlist p = PlacedNetlist::make(with_instances({"a", "b", "c"}), {});
  p.extras.insert_or_assign("c", extra("C"));
  p.extras.insert_or_assign("a", extra("A"));
  p.netlist.nets.push_back(Net{{PortRef{"b", "p"}, PortRef{"c", "q"}}});
  ASSERT_TRUE(p.remove_instances({"b", "zz"}).ok());
  // b had no extras entry, zz is nothing at all: the extras map is as it was.
  EXPECT_EQ(keys(p.extras), (std::vector<std::string>{"c", "a"}));
  EXPECT_FALSE(p.netlist.instances.contains("b"));
  ASSERT_TRUE(p.remove_instances({"c"}).ok());
  EXPECT_EQ(keys(p.extras), (std::vector<std::string>{"a"}));
}

TEST(MergeExtras, PlacementsFirstThenCellsOnly) {
  const Placement pa = at(1, 2, 90);
  auto m = merge_extras(std::unordered_map<std::string, Placement>{{"a", pa}},
                        std::unordered_map<std::string, std::string>{{"a", "CA"}, {"b", "CB"}});
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m.at_index(0).first, "a");
  EXPECT_EQ(m.at_index(0).second, (PlacedExtra{"CA", pa}));
  EXPECT_EQ(m.at_index(1).first, "b");
  EXPECT_EQ(m.at_index(1).second, (PlacedExtra{"CB", Placement{}}));
  EXPECT_TRUE(merge_extras(std::nullopt, std::nullopt).empty());
  auto only = merge_extras(std::unordered_map<std::string, Placement>{{"p", pa}}, std::nullopt);
  EXPECT_EQ(only.find("p")->cell, "");
}

TEST(PlacedWire, FromPartsFollowsInstanceOrderWithDefaults) {
  Netlist n = with_instances({"b", "a"});
  n.nets.push_back(Net{{PortRef{"a", "x"}}});
  n.create_port("P");
  ExtrasMap e;
  e.insert_or_assign("a", extra("A", 7));
  const PlacedNetlistWire w = PlacedNetlistWire::from_parts(n, e);
  ASSERT_EQ(w.instances.size(), 2u);
  EXPECT_EQ(w.instances.at_index(0).first, "b");
  EXPECT_EQ(w.instances.at_index(0).second.cell, "");
  EXPECT_EQ(w.instances.at_index(0).second.placement, Placement{});
  EXPECT_EQ(w.instances.at_index(1).first, "a");
  EXPECT_EQ(w.instances.at_index(1).second.cell, "A");
  EXPECT_EQ(w.instances.at_index(1).second.placement.x, 7);
  EXPECT_EQ(w.instances.at_index(1).second.array, (NetlistArray{1, 1}));
  EXPECT_EQ(w.nets, n.nets);
  EXPECT_EQ(w.ports, n.ports);
}

// The views write exactly what the built records write: info and array only when present,
// the default extra for an instance without an entry, non-finite doubles as null.
TEST(PlacedWire, ViewsWriteTheBuiltRecords) {
  Netlist n = with_instances({"b", "a", "c"});
  n.instances.find("b")->info.insert_or_assign("rev", JsonValue("r2"));
  n.instances.find("c")->array.reset();
  n.nets.push_back(Net{{PortRef{"a", "x"}, NetlistPort{"P"}}});
  n.create_port("P");
  ExtrasMap e;
  e.insert_or_assign("c", PlacedExtra{"C\"q\"", at(kNaN, -kInf, 450, true, BBox{-1, 2, 3, 4})});
  e.insert_or_assign("a", extra("A", 7));
  for (const auto& [name, instance] : n.instances) {
    const PlacedExtra* x = e.find(name);
    const PlacedExtra none;
    std::string built, viewed;
    EXPECT_TRUE(write_json(built, PlacedInstanceWire::from_parts(instance, x ? *x : none)).ok());
    EXPECT_TRUE(write_json(viewed, PlacedInstanceView{&instance, x ? x : &none}).ok());
    EXPECT_EQ(viewed, built);
  }
  std::string built, viewed;
  EXPECT_TRUE(write_json(built, PlacedNetlistWire::from_parts(n, e)).ok());
  EXPECT_TRUE(write_json(viewed, PlacedNetlistView::of(n, e)).ok());
  EXPECT_EQ(viewed, built);
  EXPECT_NE(viewed.find(R"("cell":"C\"q\"","placement":{"x":null,"y":null,"orientation":450.0,"mirror":true,)"),
            std::string::npos)
      << viewed;
}

TEST(PlacedWire, FromWireGivesEveryInstanceAnEntry) {
  PlacedNetlistWire w;
  PlacedInstanceWire rec;
  rec.kcl = "k";
  rec.component = "c";
  rec.placement = at(1, 2);
  w.instances.insert_or_assign("u2", rec);
  rec.cell = "C1";
  w.instances.insert_or_assign("u1", rec);
  w.nets.push_back(Net{{PortRef{"u2", "b"}, PortRef{"u1", "a"}}});  // not re-sorted
  const PlacedNetlist p = PlacedNetlist::from_wire(w);
  EXPECT_EQ(keys(p.extras), (std::vector<std::string>{"u2", "u1"}));
  EXPECT_EQ(p.extras.find("u2")->cell, "");
  EXPECT_EQ(p.extras.find("u1")->cell, "C1");
  EXPECT_EQ(p.netlist.instances.find("u1")->name, "u1");
  EXPECT_EQ(p.netlist.nets, w.nets);
  // And back: the record round-trips.
  EXPECT_EQ(PlacedNetlistWire::from_parts(p.netlist, p.extras), w);
}

}  // namespace
}  // namespace vondrel
