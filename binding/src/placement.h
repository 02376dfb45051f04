// The placement classes: Placement, PlacedInstance (a NetlistInstance with its placed cell and
// placement on its own layer) and PlacedNetlist (a Netlist with the extras map on its own
// layer).
#pragma once

#include <Python.h>

#include <memory>
#include <string>
#include <utility>

#include "instance.h"
#include "netlist.h"
#include "object.h"
#include "py.h"
#include "types.h"
#include "vondrel/instance.h"
#include "vondrel/placement.h"
#include "vondrel/wire.h"

namespace vondrel::py {

struct PlacementClass : Class<PlacementClass, Obj<Placement>> {
  static constexpr const char* kName = "Placement";
  using Record = Placement;
  static const Placement& record(PyObject* o) { return value(o); }
  static Placement from_record(Placement&& r) { return r; }
};

// PlacedInstance keeps the whole NetlistInstance on the base layer (so the inherited
// attributes, normalize and comparison serve it unchanged) and its cell and placement on
// its own.
struct PlacedInstanceClass : Class<PlacedInstanceClass, SubObj<Obj<NetlistInstance>, PlacedExtra>> {
  static constexpr const char* kName = "PlacedInstance";
  using Value = PlacedInstance;
  using Record = PlacedInstanceWire;
  static void emplace(Object* o, PlacedInstance&& v) {
    std::construct_at(&o->value, std::move(v.instance));
    std::construct_at(&o->own, PlacedExtra{std::move(v.cell), v.placement});
  }
  static const NetlistInstance& instance(PyObject* self) { return cast(self)->value; }
  static PlacedExtra& extra(PyObject* self) { return cast(self)->own; }
  // Written straight from the two layers.
  static PlacedInstanceView record(PyObject* self) { return PlacedInstanceView{&instance(self), &extra(self)}; }
  static PlacedInstance from_record(PlacedInstanceWire&& r, std::string name) {
    return PlacedInstance{NetlistInstance{std::move(r.kcl), std::move(r.component), std::move(r.settings),
                                          std::move(r.info), r.array, std::move(name)},
                          std::move(r.cell), r.placement};
  }
};

// PlacedNetlist keeps the whole Netlist on the base layer (so every Netlist method it does not
// redefine works on the connectivity alone) and the extras map on its own.
struct PlacedNetlistClass : Class<PlacedNetlistClass, SubObj<NetlistClass::Object, ExtrasMap>> {
  static constexpr const char* kName = "PlacedNetlist";
  using Value = PlacedNetlist;
  using Record = PlacedNetlistWire;
  static void emplace(Object* o, PlacedNetlist&& v) {
    std::construct_at(&o->value, std::move(v.netlist));
    std::construct_at(&o->own, std::move(v.extras));
  }
  static ExtrasMap& extras(PyObject* self) { return cast(self)->own; }
  // Written straight from the two layers.
  static PlacedNetlistView record(PyObject* self) { return PlacedNetlistView::of(netlist_of(self), extras(self)); }
  static PlacedNetlist from_record(PlacedNetlistWire&& r) { return PlacedNetlist::from_wire(std::move(r)); }
  // A copy of both layers.
  static PlacedNetlist copy(PyObject* self) { return PlacedNetlist{netlist_of(self), extras(self)}; }
};

// `placement` arguments and setters: a Placement object, its value copied under a shared
// borrow; anything else (None included) raises TypeError "argument '<param>': '<type>'
// object cannot be converted to 'Placement'".
bool arg_placement(PyObject* obj, const char* param, Placement& out);

extern const ClassSpec kPlacementSpec;
extern const ClassSpec kPlacedInstanceSpec;
extern const ClassSpec kPlacedNetlistSpec;

}  // namespace vondrel::py
