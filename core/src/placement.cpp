// Placement composition, the placed netlist and the placed wire records built from parts.
//
// The geometry below is plain double arithmetic: every product and sum is rounded on its
// own, in the association written (the library is built with -ffp-contract=off).

#include "vondrel/placement.h"

#include <cmath>
#include <unordered_set>
#include <utility>

#include "vondrel/wire.h"

namespace vondrel {

namespace {

// Running minimum / maximum of the box fold: a NaN operand is ignored unless both are NaN,
// and on equal operands the later one (q) is taken.
double fold_min(double p, double q) {
  if (std::isnan(p)) return q;
  if (std::isnan(q)) return p;
  return p < q ? p : q;
}

double fold_max(double p, double q) {
  if (std::isnan(p)) return q;
  if (std::isnan(q)) return p;
  return p > q ? p : q;
}

// Angle reduced into [0, 360) by fmod; NaN stays NaN, -0.0 stays -0.0, and a tiny negative
// remainder rounds up to 360.0 itself.
double reduce_degrees(double angle) {
  double r = std::fmod(angle, 360.0);
  if (r < 0.0) r = r + 360.0;
  return r;
}

}  // namespace

Placement compose_placement(const Placement& parent, const Placement& child) {
  const double r = reduce_degrees(parent.orientation);
  double c;
  double s;
  if (r == 0.0) {
    c = 1.0;
    s = 0.0;
  } else if (r == 90.0) {
    c = 0.0;
    s = 1.0;
  } else if (r == 180.0) {
    c = -1.0;
    s = 0.0;
  } else if (r == 270.0) {
    c = 0.0;
    s = -1.0;
  } else {
    const double angle = r * 0.017453292519943295;
    c = std::cos(angle);
    s = std::sin(angle);
  }

  // The parent's mirror reflects the child's y values before the rotation.
  const bool pm = parent.mirror;
  const double ym = pm ? -child.y : child.y;
  const double bm = pm ? -child.bbox.bottom : child.bbox.bottom;
  const double tm = pm ? -child.bbox.top : child.bbox.top;
  const double o = pm ? parent.orientation - child.orientation : parent.orientation + child.orientation;

  const auto map_x = [&](double u, double v) { return (parent.x + u * c) - v * s; };
  const auto map_y = [&](double u, double v) { return (parent.y + u * s) + v * c; };

  Placement out;
  out.x = map_x(child.x, ym);
  out.y = map_y(child.x, ym);
  out.orientation = reduce_degrees(o);
  out.mirror = pm != child.mirror;

  const double l = child.bbox.left;
  const double rt = child.bbox.right;
  // Corners in fold order: (l, bm), (rt, bm), (l, tm), (rt, tm).
  const double xa = map_x(l, bm), ya = map_y(l, bm);
  const double xb = map_x(rt, bm), yb = map_y(rt, bm);
  const double xc = map_x(l, tm), yc = map_y(l, tm);
  const double xd = map_x(rt, tm), yd = map_y(rt, tm);
  out.bbox.left = fold_min(fold_min(fold_min(xa, xb), xc), xd);
  out.bbox.bottom = fold_min(fold_min(fold_min(ya, yb), yc), yd);
  out.bbox.right = fold_max(fold_max(fold_max(xa, xb), xc), xd);
  out.bbox.top = fold_max(fold_max(fold_max(ya, yb), yc), yd);
  return out;
}

// ---- placed netlist ----------------------------------------------------------------

PlacedNetlist PlacedNetlist::make(Netlist netlist, ExtrasMap extras) {
  extras.erase_if([&](const std::string& name, const PlacedExtra&) { return !netlist.instances.contains(name); });
  return PlacedNetlist{std::move(netlist), std::move(extras)};
}

PlacedNetlist PlacedNetlist::from_wire(PlacedNetlistWire wire) {
  PlacedNetlist out;
  const std::size_t n = wire.instances.size();
  out.netlist.instances.reserve(n);
  out.extras.reserve(n);
  for (auto& [key, rec] : wire.instances.take_entries()) {
    NetlistInstance inst{std::move(rec.kcl), std::move(rec.component), std::move(rec.settings),
                         std::move(rec.info),  std::move(rec.array),    key};
    out.extras.insert_or_assign(key, PlacedExtra{std::move(rec.cell), rec.placement});
    out.netlist.instances.insert_or_assign(std::move(key), std::move(inst));
  }
  out.netlist.nets = std::move(wire.nets);
  out.netlist.ports = std::move(wire.ports);
  // Every extras key is an instance name by construction, so nothing is left to filter.
  return out;
}

Result<PlacedInstance> PlacedNetlist::create_inst_with_info(std::string name, std::string kcl,
                                                            std::string component, JsonValue settings,
                                                            std::int64_t na, std::int64_t nb, JsonObject info,
                                                            PlacedExtra extra) {
  Result<NetlistInstance> created = netlist.create_inst_with_info(name, std::move(kcl), std::move(component),
                                                                  std::move(settings), na, nb, std::move(info));
  if (!created) return std::move(created).error();
  PlacedInstance out{std::move(created).value(), extra.cell, extra.placement};
  extras.insert_or_assign(std::move(name), std::move(extra));
  return out;
}

Status PlacedNetlist::remove_instances(std::vector<std::string> names) {
  std::unordered_set<std::string_view> gone(names.begin(), names.end());
  Status removed = netlist.remove_instances(names);
  if (!removed) return removed;
  extras.erase_if([&](const std::string& name, const PlacedExtra&) { return gone.count(name) != 0; });
  return ok_status();
}

ExtrasMap merge_extras(std::optional<std::unordered_map<std::string, Placement>> placements,
                       std::optional<std::unordered_map<std::string, std::string>> cells) {
  ExtrasMap out;
  if (placements) {
    out.reserve(placements->size());
    for (auto& [name, placement] : *placements) {
      std::string cell;
      if (cells) {
        auto node = cells->extract(name);
        if (!node.empty()) cell = std::move(node.mapped());
      }
      out.insert_or_assign(name, PlacedExtra{std::move(cell), placement});
    }
  }
  if (cells) {
    for (auto& [name, cell] : *cells) out.insert_or_assign(name, PlacedExtra{std::move(cell), Placement{}});
  }
  return out;
}

// ---- wire records from parts ---------------------------------------------------------

PlacedInstanceWire PlacedInstanceWire::from_parts(const NetlistInstance& instance, const PlacedExtra& extra) {
  return PlacedInstanceWire{instance.info,  instance.kcl, instance.component, instance.settings,
                            instance.array, extra.cell,   extra.placement};
}

PlacedNetlistWire PlacedNetlistWire::from_parts(const Netlist& netlist, const ExtrasMap& extras) {
  static const PlacedExtra none{};
  PlacedNetlistWire out;
  out.instances.reserve(netlist.instances.size());
  for (const auto& [key, instance] : netlist.instances) {
    const PlacedExtra* extra = extras.find(key);
    out.instances.insert_or_assign(key, PlacedInstanceWire::from_parts(instance, extra ? *extra : none));
  }
  out.nets = netlist.nets;
  out.ports = netlist.ports;
  return out;
}

}  // namespace vondrel
