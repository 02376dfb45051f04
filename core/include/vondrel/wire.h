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

// Views that write the placed records straight from a netlist and its extras, without
// building a PlacedInstanceWire or PlacedNetlistWire (both carriers write them; nothing
// reads them).

// One placed instance: the instance's record fields, then its extra's.
struct PlacedInstanceView {
  const NetlistInstance* instance;
  const PlacedExtra* extra;
};

// The instance records keyed by name, in instance order, each with its extras entry or the
// default one.
struct PlacedInstancesView {
  const OrderedMap<NetlistInstance>* instances;
  const ExtrasMap* extras;

  // Calls fn(name, PlacedInstanceView) for each instance; stops at the first false.
  template <class Fn>
  bool for_each(Fn&& fn) const {
    static const PlacedExtra kNone{};
    for (const auto& [name, instance] : *instances) {
      const PlacedExtra* extra = extras->find(name);
      if (!fn(name, PlacedInstanceView{&instance, extra ? extra : &kNone})) return false;
    }
    return true;
  }
};

// The whole placed netlist, as PlacedNetlistWire::from_parts would build it.
struct PlacedNetlistView {
  PlacedInstancesView instances;
  const std::vector<Net>* nets;
  const std::vector<NetlistPort>* ports;

  static PlacedNetlistView of(const Netlist& netlist, const ExtrasMap& extras) {
    return PlacedNetlistView{{&netlist.instances, &extras}, &netlist.nets, &netlist.ports};
  }
};

}  // namespace vondrel
