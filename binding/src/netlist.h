// The Netlist class.
//
// A Netlist object keeps the whole core netlist on its base layer. PlacedNetlist adds its
// extras map on a layer of its own behind it (SubObj<NetlistClass::Object, Extras>), so every
// method defined here serves it as is and sees the netlist layer only.
#pragma once

#include <Python.h>

#include <utility>

#include "object.h"
#include "py.h"
#include "types.h"
#include "vondrel/netlist.h"
#include "vondrel/wire.h"

namespace vondrel::py {

struct NetlistClass : Class<NetlistClass, Obj<Netlist>> {
  static constexpr const char* kName = "Netlist";
  using Record = NetlistWire;
  // Written straight from the netlist; read back through the wire record, whose instances
  // take their names from the keys.
  static const Netlist& record(PyObject* o) { return value(o); }
  static Netlist from_record(NetlistWire&& r) { return Netlist::from_wire(std::move(r)); }
};

// The netlist layer of a Netlist object or of an object of any subclass.
inline Netlist& netlist_of(PyObject* self) { return NetlistClass::cast(self)->value; }

extern const ClassSpec kNetlistSpec;

}  // namespace vondrel::py
