// Placement (equality only, unhashable, not subclassable), PlacedInstance (a subclass of
// NetlistInstance) and PlacedNetlist (a subclass of Netlist); neither subclass can be
// subclassed from Python.
#include "placement.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>
#include <string>

#include "args.h"
#include "flatten.h"
#include "helpers.h"
#include "pycarrier.h"
#include "quartet.h"
#include "vondrel/error.h"

namespace vondrel::py {

bool arg_placement(PyObject* obj, const char* param, Placement& out) {
  if (!arg_instance(obj, PlacementClass::type, "Placement", param)) return false;
  Shared guard(obj);
  if (!guard) return false;
  out = PlacementClass::value(obj);
  return true;
}

namespace {

// `v` as the shortest decimal that reads back to it, in plain positional notation: 1, -0,
// 2.5, 100000000000000000000, 0.0000001, NaN, inf, -inf. The shortest digits are laid out
// with zeros, so 1e23 is 1 and 23 zeros (not the double's exact value 99999999999999991611392).
void append_plain_double(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "inf";
    return;
  }
  // d.ddde[+-]x: at most 17 digits and a three-digit exponent.
  char buf[32];
  const char* end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific).ptr;
  const char* q = buf;
  if (*q == '-') {
    out += '-';
    ++q;
  }
  const char* e = static_cast<const char*>(std::memchr(q, 'e', static_cast<std::size_t>(end - q)));
  std::string digits;
  for (; q < e; ++q)
    if (*q != '.') digits += *q;
  int exp = 0;
  std::from_chars(e + 1 + (e[1] == '+'), end, exp);
  const int nd = static_cast<int>(digits.size());
  if (exp < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp - 1), '0');
    out += digits;
  } else if (exp + 1 >= nd) {
    out += digits;
    out.append(static_cast<std::size_t>(exp + 1 - nd), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(exp + 1));
    out += '.';
    out.append(digits, static_cast<std::size_t>(exp + 1));
  }
}

// "Placement(x=1, y=-2.5, orientation=90, mirror=false)"; the box is not shown.
void append_placement_repr(std::string& out, const Placement& p) {
  out += "Placement(x=";
  append_plain_double(out, p.x);
  out += ", y=";
  append_plain_double(out, p.y);
  out += ", orientation=";
  append_plain_double(out, p.orientation);
  out += p.mirror ? ", mirror=true)" : ", mirror=false)";
}

// ---------------------------------------------------------------------------------------
// Placement.

Placement& placement_of(PyObject* self) { return PlacementClass::cast(self)->value; }

Ref placement_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig("Placement.__new__()", {"x", "y", "orientation", "mirror", "bbox"}, 5);
  PyObject* argv[5];
  Placement v;
  if (!sig.bind(args, kwargs, argv) || !arg_f64(argv[0], "x", v.x) || !arg_f64(argv[1], "y", v.y) ||
      !arg_f64(argv[2], "orientation", v.orientation) || !arg_bool(argv[3], "mirror", v.mirror) ||
      !from_py_any(argv[4], v.bbox))
    return {};
  return construct<PlacementClass>(type, v);
}

Ref get_bbox(PyObject* self) {
  return read_shared(self, [&] { return to_py_dict(placement_of(self).bbox); });
}
// Converted under the exclusive borrow, like the instance's info and settings.
bool set_bbox(PyObject* self, PyObject* value) {
  Exclusive guard(self);
  if (!guard) return false;
  BBox v;
  if (!from_py_any(value, v)) return false;
  placement_of(self).bbox = v;
  return true;
}

Ref placement_repr(PyObject* self) {
  return read_shared(self, [&] {
    std::string out;
    append_placement_repr(out, placement_of(self));
    return str(out);
  });
}

// ---------------------------------------------------------------------------------------
// PlacedInstance.

Ref placed_instance_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig("PlacedInstance.__new__()",
                             {"kcl", "component", "settings", "array", "name", "cell", "placement"}, 2, {"info"});
  PyObject* argv[8];
  PlacedInstance v;
  NetlistInstance& inst = v.instance;
  if (!sig.bind(args, kwargs, argv) || !arg_string(argv[0], "kcl", inst.kcl) ||
      !arg_string(argv[1], "component", inst.component) || !arg_array(argv[3], "array", inst.array) ||
      (argv[4] && !arg_string(argv[4], "name", inst.name)) || (argv[5] && !arg_string(argv[5], "cell", v.cell)) ||
      (argv[6] && argv[6] != Py_None && !arg_placement(argv[6], "placement", v.placement)) ||
      !arg_settings(argv[2], inst.settings) || !arg_info(argv[7], inst.info))
    return {};
  return construct<PlacedInstanceClass>(type, std::move(v));
}

Ref get_cell(PyObject* self) {
  return read_shared(self, [&] { return str(PlacedInstanceClass::extra(self).cell); });
}
bool set_cell(PyObject* self, PyObject* value) {
  return write_exclusive<std::string>(
      self, [&](std::string& v) { return arg_string(value, "value", v); },
      [&](std::string&& v) { PlacedInstanceClass::extra(self).cell = std::move(v); });
}

Ref get_placement(PyObject* self) {
  return read_shared(self, [&] { return wrap<PlacementClass>(PlacedInstanceClass::extra(self).placement); });
}
bool set_placement(PyObject* self, PyObject* value) {
  return write_exclusive<Placement>(
      self, [&](Placement& v) { return arg_placement(value, "value", v); },
      [&](Placement v) { PlacedInstanceClass::extra(self).placement = v; });
}

Ref placed_instance_repr(PyObject* self) {
  return read_shared(self, [&] {
    const NetlistInstance& inst = PlacedInstanceClass::instance(self);
    const PlacedExtra& extra = PlacedInstanceClass::extra(self);
    std::string out = "PlacedInstance(name=" + quoted(inst.name) + ", cell=" + quoted(extra.cell) +
                      ", component=" + quoted(inst.component) + ", placement=";
    append_placement_repr(out, extra.placement);
    out += ')';
    return str(out);
  });
}

// ---------------------------------------------------------------------------------------
// PlacedNetlist.

ExtrasMap& extras_of(PyObject* self) { return PlacedNetlistClass::extras(self); }

// The two layers moved into one core PlacedNetlist for an operation, and moved back into the
// object when it ends, whatever the outcome.
class Layers {
 public:
  explicit Layers(PyObject* self)
      : self_(self), pn_{std::move(netlist_of(self)), std::move(extras_of(self))} {}
  ~Layers() {
    netlist_of(self_) = std::move(pn_.netlist);
    extras_of(self_) = std::move(pn_.extras);
  }
  Layers(const Layers&) = delete;
  Layers& operator=(const Layers&) = delete;
  PlacedNetlist* operator->() { return &pn_; }

 private:
  PyObject* self_;
  PlacedNetlist pn_;
};

Ref from_netlist(PyObject*, const FastArgs& a) {
  static const Signature sig("PlacedNetlist.from_netlist()", {"netlist", "placements", "cells"}, 1);
  PyObject* argv[3];
  if (!sig.bind(a, argv) || !arg_instance(argv[0], NetlistClass::type, "Netlist", "netlist")) return {};
  std::optional<std::unordered_map<std::string, Placement>> placements;
  std::optional<std::unordered_map<std::string, std::string>> cells;
  if (argv[1] && argv[1] != Py_None && !arg_dict(argv[1], "placements", placements.emplace(), arg_placement))
    return {};
  if (argv[2] && argv[2] != Py_None && !arg_dict(argv[2], "cells", cells.emplace(), arg_string)) return {};
  ExtrasMap extras = merge_extras(std::move(placements), std::move(cells));
  Shared guard(argv[0]);
  if (!guard) return {};
  // The netlist layer only: a placed netlist given here leaves its own extras behind.
  return wrap<PlacedNetlistClass>(PlacedNetlist::make(netlist_of(argv[0]), std::move(extras)));
}

Ref get_placed_instances(PyObject* self) {
  return read_shared(self, [&] {
    static const PlacedExtra kNone{};
    const ExtrasMap& extras = extras_of(self);
    return dict_of(netlist_of(self).instances, [&](const auto& entry) {
      const PlacedExtra* extra = extras.find(entry.first);
      if (!extra) extra = &kNone;
      return wrap<PlacedInstanceClass>(PlacedInstance{entry.second, extra->cell, extra->placement});
    });
  });
}

Ref get_placements(PyObject* self) {
  return read_shared(self, [&] {
    return dict_of(extras_of(self),
                   [](const auto& entry) { return wrap<PlacementClass>(entry.second.placement); });
  });
}

// Nothing changes before the core call: it checks the dimensions before it stores.
Ref placed_create_inst(PyObject* self, const FastArgs& a) {
  static const Signature sig("PlacedNetlist.create_inst()",
                             {"name", "kcl", "component", "settings", "na", "nb", "cell", "placement"}, 3, {"info"});
  PyObject* argv[9];
  if (!sig.bind(a, argv)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  std::string name, kcl, component;
  std::int64_t na = 1, nb = 1;
  PlacedExtra extra;
  JsonValue settings;
  JsonObject info;
  if (!arg_string(argv[0], "name", name) || !arg_string(argv[1], "kcl", kcl) ||
      !arg_string(argv[2], "component", component) || (argv[4] && !arg_i64(argv[4], "na", na)) ||
      (argv[5] && !arg_i64(argv[5], "nb", nb)) || (argv[6] && !arg_string(argv[6], "cell", extra.cell)) ||
      (argv[7] && argv[7] != Py_None && !arg_placement(argv[7], "placement", extra.placement)) ||
      !arg_settings(argv[3], settings) || !arg_info(argv[8], info))
    return {};
  Result<PlacedInstance> r = Layers(self)->create_inst_with_info(std::move(name), std::move(kcl), std::move(component),
                                                                 std::move(settings), na, nb, std::move(info),
                                                                 std::move(extra));
  if (!r) return core_error(std::move(r).error());
  return wrap<PlacedInstanceClass>(std::move(r).value());
}

Status remove_from_placed(PyObject* self, std::vector<std::string> names) {
  return Layers(self)->remove_instances(std::move(names));
}

Ref placed_remove_instances(PyObject* self, const FastArgs& a) {
  static const Signature sig("PlacedNetlist.remove_instances()", {"names"}, 1);
  return remove_named(self, a, sig, nullptr, &remove_from_placed);
}

Ref placed_flatten_instances(PyObject* self, const FastArgs& a) {
  static const Signature sig("PlacedNetlist.flatten_instances()", {"names"}, 1);
  return remove_named(self, a, sig,
                      "PlacedNetlist.flatten_instances() is deprecated, use remove_instances() instead "
                      "(PlacedNetlist.flatten() now inlines an instance's own netlist)",
                      &remove_from_placed);
}

Ref placed_netlist_repr(PyObject* self) { return netlist_repr(self, "PlacedNetlist"); }

// ---------------------------------------------------------------------------------------
// Tables.

PyMethodDef placement_methods[] = {
    pydantic_row<PlacementClass>(), to_json_row<PlacementClass>(),   from_json_row<PlacementClass>(),
    to_dict_row<PlacementClass>(),  from_dict_row<PlacementClass>(), kMethodsEnd,
};

PyGetSetDef placement_getset[] = {
    field<PlacementClass, &Placement::x>("x"),
    field<PlacementClass, &Placement::y>("y"),
    field<PlacementClass, &Placement::orientation>("orientation"),
    field<PlacementClass, &Placement::mirror>("mirror"),
    attribute<&get_bbox, &set_bbox>("bbox", "Bounding box as a dict (`{\"left\", \"bottom\", \"right\", \"top\"}`)."),
    kGetSetEnd,
};

PyMethodDef placed_instance_methods[] = {
    pydantic_row<PlacedInstanceClass>(),
    to_json_row<PlacedInstanceClass>(),
    from_json_named_row<PlacedInstanceClass>(),
    to_dict_row<PlacedInstanceClass>(),
    from_dict_named_row<PlacedInstanceClass>(),
    kMethodsEnd,
};

PyGetSetDef placed_instance_getset[] = {
    attribute<&get_cell, &set_cell>("cell"),
    attribute<&get_placement, &set_placement>("placement"),
    kGetSetEnd,
};

PyMethodDef placed_netlist_methods[] = {
    classmethod<&from_netlist>("from_netlist",
                               "from_netlist($cls, netlist, placements=None, cells=None)\n--\n\n"
                               "Upgrade a plain [`Netlist`] to a placed one by attaching, per instance\n"
                               "name, the placed `cell` name and `placement` geometry.\n"
                               "\n"
                               "Entries for instances absent from `netlist` are dropped; instances\n"
                               "without an entry get an empty cell name / default placement on access."),
    method<&placed_create_inst>(
        "create_inst",
        "create_inst($self, name, kcl, component, settings=None, na=1, nb=1, cell=..., placement=None, *, "
        "info=None)\n--\n\n"
        "Add an instance with its placed `cell` name and `placement`. Mirrors\n"
        "[`Netlist::create_inst`] with trailing optional `cell`/`placement`;\n"
        "keeping the base parameter order makes this a substitutable override."),
    method<&placed_remove_instances>("remove_instances",
                                     "remove_instances($self, names)\n--\n\n"
                                     "Remove the named instances and their physical attributes."),
    method<&placed_flatten_instances>("flatten_instances",
                                      "flatten_instances($self, names)\n--\n\n"
                                      "Deprecated alias for [`PlacedNetlist::remove_instances`]."),
    method<&placed_netlist_flatten>("flatten", kPlacedNetlistFlattenDoc),
    pydantic_row<PlacedNetlistClass>(),
    to_json_row<PlacedNetlistClass>(),
    from_json_row<PlacedNetlistClass>(),
    to_dict_row<PlacedNetlistClass>(),
    from_dict_row<PlacedNetlistClass>(),
    kMethodsEnd,
};

PyGetSetDef placed_netlist_getset[] = {
    attribute<&get_placed_instances>("instances",
                                     "Fresh dict of `{name: PlacedInstance}` (base instance + cell + placement)."),
    attribute<&get_placements>("placements", "Fresh dict of `{name: Placement}` for instances that have one."),
    kGetSetEnd,
};

}  // namespace

const ClassSpec kPlacementSpec = class_spec<PlacementClass>(
    "vondrel._native.Placement",
    "Placement(x, y, orientation, mirror, bbox)\n--\n\n"
    "Physical placement of an instance: origin transform and bounding box.\n"
    "\n"
    "This is purely geometric. The placed cell's *name* is an intrinsic property\n"
    "of the instance and lives on [`PlacedInstance::cell`], not here.",
    nullptr, false, placement_methods, placement_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&placement_new>)},
        {Py_tp_hash, slot_fn(&PyObject_HashNotImplemented)},
        // IEEE equality field by field: a NaN anywhere makes a placement unequal to itself.
        {Py_tp_richcompare, slot_fn(&compare_entry<&equality_compare<PlacementClass>>)},
        {Py_tp_repr, slot_fn(&unary_entry<&placement_repr>)},
    });

// The comparison (and with it the absence of a hash) is NetlistInstance's, inherited.
const ClassSpec kPlacedInstanceSpec = class_spec<PlacedInstanceClass>(
    "vondrel._native.PlacedInstance",
    "PlacedInstance(kcl, component, settings=None, array=None, name=..., cell=..., placement=None, *, info=None)\n"
    "--\n\n"
    "Instance carrying placement geometry. Subclass of [`NetlistInstance`]: the\n"
    "connectivity fields (`kcl`, `component`, `settings`, `array`, `name`) live\n"
    "on the parent layer; the placed `cell` name and `placement` are stored here.",
    &NetlistInstanceClass::type, false, placed_instance_methods, placed_instance_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&placed_instance_new>)},
        {Py_tp_repr, slot_fn(&unary_entry<&placed_instance_repr>)},
    });

// The comparison (over the netlist layers alone) and the absence of a hash are Netlist's,
// inherited.
const ClassSpec kPlacedNetlistSpec = class_spec<PlacedNetlistClass>(
    "vondrel._native.PlacedNetlist",
    "PlacedNetlist()\n--\n\n"
    "Netlist carrying per-instance placement geometry. Subclass of [`Netlist`]:\n"
    "instances/nets/ports live on the parent layer, with a parallel `extras` map\n"
    "(placed cell name + placement) keyed by instance name layered on top.",
    &NetlistClass::type, false, placed_netlist_methods, placed_netlist_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&new_empty<PlacedNetlistClass>>)},
        {Py_tp_repr, slot_fn(&unary_entry<&placed_netlist_repr>)},
    });

}  // namespace vondrel::py
