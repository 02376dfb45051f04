// The Netlist class.
//
// A Netlist object keeps the whole core netlist on its base layer. PlacedNetlist adds its
// extras map on a layer of its own behind it (SubObj<NetlistClass::Object, Extras>), so every
// method defined here serves it as is and sees the netlist layer only.
#pragma once

#include <Python.h>

#include <string>
#include <utility>
#include <vector>

#include "args.h"
#include "object.h"
#include "py.h"
#include "types.h"
#include "vondrel/netlist.h"

namespace vondrel::py {

struct NetlistClass : Class<NetlistClass, Obj<Netlist>> {
  static constexpr const char* kName = "Netlist";
  // The netlist is its own record (NetlistWire's keys and shapes), read and written without
  // a wire struct in between; the instances read back take their names from the keys.
  using Record = Netlist;
  static const Netlist& record(PyObject* o) { return value(o); }
  static Netlist from_record(Netlist&& n) {
    for (auto it = n.instances.begin(); it != n.instances.end(); ++it) it.value().name = it->first;
    return std::move(n);
  }
};

// The netlist layer of a Netlist object or of an object of any subclass.
inline Netlist& netlist_of(PyObject* self) { return NetlistClass::cast(self)->value; }

// remove_instances and its deprecated alias, for Netlist and PlacedNetlist: binds `names`
// (a sequence of str), takes `self` exclusively, issues `deprecation` when given (a warning
// that raises ends the call before anything is removed), then runs remove(self, names).
using RemoveFn = Status (*)(PyObject* self, std::vector<std::string> names);
Ref remove_named(PyObject* self, const FastArgs& a, const Signature& sig, const char* deprecation, RemoveFn remove);

// "<class_name>(instances=N, nets=N, ports=N)" over the netlist layer.
Ref netlist_repr(PyObject* self, const char* class_name);

extern const ClassSpec kNetlistSpec;

}  // namespace vondrel::py
