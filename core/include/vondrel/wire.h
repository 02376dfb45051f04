// The serialized shapes (wire records) of instances and netlists.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "vondrel/instance.h"
#include "vondrel/json_value.h"
#include "vondrel/net.h"
#include "vondrel/netlist.h"
#include "vondrel/ordered_map.h"
#include "vondrel/placement.h"
#include "vondrel/port.h"

namespace vondrel {

// An instance's name is never inside its record: it is the key of `instances`.
struct NetlistInstanceWire {
  JsonObject info;
  std::string kcl;
  std::string component;
  JsonValue settings;
  std::optional<NetlistArray> array;
  friend bool operator==(const NetlistInstanceWire&, const NetlistInstanceWire&) = default;
};

struct NetlistWire {
  OrderedMap<NetlistInstanceWire> instances;
  std::vector<Net> nets;
  std::vector<NetlistPort> ports;
  friend bool operator==(const NetlistWire&, const NetlistWire&) = default;
};

struct PlacedInstanceWire {
  JsonObject info;
  std::string kcl;
  std::string component;
  JsonValue settings;
  std::optional<NetlistArray> array;
  std::string cell;
  Placement placement;

  static PlacedInstanceWire from_parts(const NetlistInstance& instance, const PlacedExtra& extra);
  friend bool operator==(const PlacedInstanceWire&, const PlacedInstanceWire&) = default;
};

struct PlacedNetlistWire {
  OrderedMap<PlacedInstanceWire> instances;
  std::vector<Net> nets;
  std::vector<NetlistPort> ports;

  static PlacedNetlistWire from_parts(const Netlist& netlist, const ExtrasMap& extras);
  friend bool operator==(const PlacedNetlistWire&, const PlacedNetlistWire&) = default;
};

NetlistInstanceWire to_wire(const NetlistInstance& instance);

}  // namespace vondrel
