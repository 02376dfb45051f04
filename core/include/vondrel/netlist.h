// The netlist: instances keyed by name (insertion-ordered), nets and top-level ports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "vondrel/error.h"
#include "vondrel/instance.h"
#include "vondrel/json_value.h"
#include "vondrel/net.h"
#include "vondrel/ordered_map.h"
#include "vondrel/port.h"

namespace vondrel {

struct NetlistWire;

// Per cell, groups of port names that are one port electrically.
using EquivalentPorts = std::unordered_map<std::string, std::vector<std::vector<std::string>>>;
// Per cell, port name -> canonical port name.
using PortMapping = std::unordered_map<std::string, std::unordered_map<std::string, std::string>>;

struct Netlist {
  OrderedMap<NetlistInstance> instances;
  std::vector<Net> nets;
  std::vector<NetlistPort> ports;

  // Editing.
  NetlistPort create_port(std::string name);
  Result<NetlistInstance> create_inst_with_info(std::string name, std::string kcl, std::string component,
                                                JsonValue settings, std::int64_t na, std::int64_t nb,
                                                JsonObject info);
  Status add_net(const Net& net);
  // The same, taking the members over (a net built for the call).
  Status add_net(Net&& net);
  Status remove_instances(std::vector<std::string> names);
  void sort();

  // Queries.
  // (unconnected port names, sorted; singleton nets in net order)
  std::pair<std::vector<std::string>, std::vector<Net>> detect_opens() const;
  // (missing: reference nets not here; extra: nets here not in the reference)
  std::pair<std::vector<Net>, std::vector<Net>> find_net_difference(const Netlist& reference) const;

  // Normalised deep copy; the receiver is never changed.
  Result<Netlist> normalize(std::optional<std::string> cell_name, std::optional<EquivalentPorts> equivalent_ports,
                            std::optional<PortMapping> port_mapping) const;

  // Wire form.
  NetlistWire to_wire() const;
  static Netlist from_wire(NetlistWire wire);

  // Order-sensitive equality.
  friend bool operator==(const Netlist&, const Netlist&) = default;
};

// Puts the parts of a netlist in canonical order: instances by name, the members of each net,
// the nets, the ports by name (repeated names keep their order).
void sort_canonical(OrderedMap<NetlistInstance>& instances, std::vector<Net>& nets, std::vector<NetlistPort>& ports);

// Rewrites every finite whole-number double of `value` into an integer, in place.
void normalize_value(JsonValue& value);

}  // namespace vondrel
