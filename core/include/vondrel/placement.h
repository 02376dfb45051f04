// Geometry of placed instances and the placed netlist layered on a netlist.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "vondrel/error.h"
#include "vondrel/instance.h"
#include "vondrel/netlist.h"
#include "vondrel/ordered_map.h"

namespace vondrel {

struct BBox {
  double left = 0.0;
  double bottom = 0.0;
  double right = 0.0;
  double top = 0.0;
  // IEEE equality: NaN equals nothing.
  friend bool operator==(const BBox&, const BBox&) = default;
};

struct Placement {
  double x = 0.0;
  double y = 0.0;
  double orientation = 0.0;  // degrees, never reduced when stored
  bool mirror = false;       // reflection across the x axis, before the rotation
  BBox bbox;
  friend bool operator==(const Placement&, const Placement&) = default;
};

struct PlacedExtra {
  std::string cell;  // empty: no placed cell recorded
  Placement placement;
  friend bool operator==(const PlacedExtra&, const PlacedExtra&) = default;
};

using ExtrasMap = OrderedMap<PlacedExtra>;

struct PlacedInstanceWire;
struct PlacedNetlistWire;

// Success value of placed instance creation.
struct PlacedInstance {
  NetlistInstance instance;
  std::string cell;
  Placement placement;
};

struct PlacedNetlist {
  Netlist netlist;
  ExtrasMap extras;  // keys are always instance names of `netlist`

  // Drops extras entries whose key is not an instance name; the rest keep their order.
  static PlacedNetlist make(Netlist netlist, ExtrasMap extras);
  static PlacedNetlist from_wire(PlacedNetlistWire wire);
  Result<PlacedInstance> create_inst_with_info(std::string name, std::string kcl, std::string component,
                                               JsonValue settings, std::int64_t na, std::int64_t nb,
                                               JsonObject info, PlacedExtra extra);
  Status remove_instances(std::vector<std::string> names);
};

// Re-expresses `child` (a placement inside an inlined cell, in that cell's coordinates) in
// the coordinates of the cell that `parent` places the inlined instance in.
Placement compose_placement(const Placement& parent, const Placement& child);

// Pairs the two name-keyed maps: every `placements` name first, then names only in `cells`.
ExtrasMap merge_extras(std::optional<std::unordered_map<std::string, Placement>> placements,
                       std::optional<std::unordered_map<std::string, std::string>> cells);

}  // namespace vondrel
