// Conversions between the netlist and its wire record.
#include "vondrel/wire.h"

#include <utility>

namespace vondrel {

NetlistInstanceWire to_wire(const NetlistInstance& instance) {
  return NetlistInstanceWire{instance.info, instance.kcl, instance.component, instance.settings, instance.array};
}

NetlistWire Netlist::to_wire() const {
  NetlistWire wire;
  wire.instances.reserve(instances.size());
  for (const auto& [name, instance] : instances) wire.instances.insert_or_assign(name, vondrel::to_wire(instance));
  wire.nets = nets;
  wire.ports = ports;
  return wire;
}

Netlist Netlist::from_wire(NetlistWire wire) {
  Netlist netlist;
  netlist.instances.reserve(wire.instances.size());
  for (auto it = wire.instances.begin(); it != wire.instances.end(); ++it) {
    NetlistInstanceWire& record = it.value();
    netlist.instances.insert_or_assign(
        it->first, NetlistInstance{std::move(record.kcl), std::move(record.component), std::move(record.settings),
                                   std::move(record.info), record.array, it->first});
  }
  netlist.nets = std::move(wire.nets);
  netlist.ports = std::move(wire.ports);
  return netlist;
}

}  // namespace vondrel
