#include "flatten.h"

#include <string_view>
#include <utility>

#include "helpers.h"
#include "netlist.h"
#include "placement.h"
#include "vondrel/netlist.h"
#include "vondrel/placement.h"

namespace vondrel::py {

bool arg_name_list(PyObject* obj, const char* param, std::optional<std::vector<std::string>>& out) {
  out.reset();
  if (!obj || obj == Py_None) return true;
  return arg_string_list(obj, param, out.emplace());
}

bool arg_name_map(PyObject* obj, const char* param, CellNameMap& out) {
  out.clear();
  if (!obj || obj == Py_None) return true;
  return arg_dict(obj, param, out, arg_string);
}

bool arg_name_maps(PyObject* obj, const char* param, SubInstanceCellMaps& out) {
  out.clear();
  if (!obj || obj == Py_None) return true;
  return arg_dict(obj, param, out, [](PyObject* value, const char* p, CellNameMap& inner) {
    return arg_dict(value, p, inner, arg_string);
  });
}

// ---------------------------------------------------------------------------------------

namespace {

// A copy of the netlist layer of `obj`, and of its extras when `placed` (a PlacedNetlist).
NetlistData data_of(PyObject* obj, bool placed) {
  const Netlist& netlist = netlist_of(obj);
  NetlistData data{netlist.instances, netlist.nets, netlist.ports, {}};
  if (placed) data.extras = PlacedNetlistClass::extras(obj);
  return data;
}

// A copy of a `netlists` value, taken under a shared borrow; false with TypeError for a value
// of another class, or with the borrow error.
bool copy_value(PyObject* value, NetlistData& out) {
  bool placed = PlacedNetlistClass::check(value);
  if (!placed && !NetlistClass::check(value))
    return raise_false(PyExc_TypeError, "netlists values must be Netlist or PlacedNetlist");
  Shared guard(value);
  if (!guard) return false;
  out = data_of(value, placed);
  return true;
}

}  // namespace

bool read_netlists(PyObject* obj, NetlistDataMap& out) {
  out.clear();
  if (!PyDict_Check(obj))
    return raise_false(PyExc_TypeError, "netlists must be a dict of {cell name: Netlist | PlacedNetlist}");
  NetlistDataMap result;
  result.reserve(static_cast<std::size_t>(PyDict_Size(obj)));
  int rc = for_each_dict_item(obj, [&](PyObject* key, PyObject* value) {
    std::string_view cell;
    if (!is_str(key) || !utf8(key, cell)) {
      PyErr_Clear();
      return raise_false(PyExc_TypeError, "netlists keys must be cell names (str)");
    }
    NetlistData data;
    if (!copy_value(value, data)) return false;
    result.insert_or_assign(std::string(cell), std::move(data));
    return true;
  });
  if (rc <= 0) return false;
  out = std::move(result);
  return true;
}

bool emit_warnings(std::vector<std::string> warnings) {
  for (const std::string& message : warnings) {
    if (!warn(PyExc_UserWarning, message)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------

namespace {

// The receiver's copy for the engine and the result's shape: the two ends of the one method.
struct Ends {
  const Signature& signature;
  NetlistData (*input)(PyObject* self);
  Ref (*output)(NetlistData&& result);
};

Ref run_flatten(PyObject* self, const FastArgs& a, const Ends& ends) {
  enum { kNetlists, kCells, kExclude, kInstanceCellMap, kSubMaps, kRecursive, kAllow, kWarn, kSeparator, kCount };
  PyObject* in[kCount];
  if (!ends.signature.bind(a, in)) return {};
  Shared guard(self);
  if (!guard) return {};

  std::optional<std::vector<std::string>> cells, exclude;
  CellNameMap instance_cell_map;
  SubInstanceCellMaps sub_instance_cell_maps;
  bool recursive = true, allow_unconnected_ports = false, warn_skipped = false;
  std::string separator = ".";
  if (!arg_name_list(in[kCells], "cells", cells) || !arg_name_list(in[kExclude], "exclude", exclude) ||
      !arg_name_map(in[kInstanceCellMap], "instance_cell_map", instance_cell_map) ||
      !arg_name_maps(in[kSubMaps], "sub_instance_cell_maps", sub_instance_cell_maps) ||
      (in[kRecursive] && !arg_bool(in[kRecursive], "recursive", recursive)) ||
      (in[kAllow] && !arg_bool(in[kAllow], "allow_unconnected_ports", allow_unconnected_ports)) ||
      (in[kWarn] && !arg_bool(in[kWarn], "warn_skipped", warn_skipped)) ||
      (in[kSeparator] && !arg_string(in[kSeparator], "separator", separator)))
    return {};

  NetlistDataMap netlists;
  if (!read_netlists(in[kNetlists], netlists)) return {};

  FlattenOptions options = FlattenOptions::make(std::move(cells), std::move(exclude), recursive,
                                                allow_unconnected_ports, warn_skipped, std::move(separator));
  Result<FlattenResult> result =
      flatten_netlist(ends.input(self), instance_cell_map, netlists, sub_instance_cell_maps, options);
  if (!result) return core_error(std::move(result).error());
  // The inputs are not needed while Python code runs in the warnings machinery.
  NetlistDataMap().swap(netlists);
  if (!emit_warnings(std::move(result->warnings))) return {};
  return ends.output(std::move(result->data));
}

Netlist into_netlist(NetlistData&& data) {
  return Netlist{std::move(data.instances), std::move(data.nets), std::move(data.ports)};
}

Signature flatten_signature(const char* fname) {
  return Signature(fname, {"netlists", "cells"}, 1,
                   {"exclude", "instance_cell_map", "sub_instance_cell_maps", "recursive", "allow_unconnected_ports",
                    "warn_skipped", "separator"});
}

// Netlist.flatten: the receiver's netlist layer in, a plain Netlist out (also for a subclass
// receiver, and for a PlacedNetlist called through Netlist).
NetlistData plain_input(PyObject* self) { return data_of(self, false); }
Ref plain_output(NetlistData&& result) { return wrap<NetlistClass>(into_netlist(std::move(result))); }

// PlacedNetlist.flatten: the extras go in and come back composed.
NetlistData placed_input(PyObject* self) { return data_of(self, true); }
Ref placed_output(NetlistData&& result) {
  ExtrasMap extras = std::move(result.extras);
  return wrap<PlacedNetlistClass>(PlacedNetlist::make(into_netlist(std::move(result)), std::move(extras)));
}

}  // namespace

Ref netlist_flatten(PyObject* self, const FastArgs& a) {
  static const Signature sig = flatten_signature("Netlist.flatten()");
  return run_flatten(self, a, Ends{sig, &plain_input, &plain_output});
}

Ref placed_netlist_flatten(PyObject* self, const FastArgs& a) {
  static const Signature sig = flatten_signature("PlacedNetlist.flatten()");
  return run_flatten(self, a, Ends{sig, &placed_input, &placed_output});
}

#define VONDREL_FLATTEN_SIGNATURE                                                                            \
  "flatten($self, netlists, cells=None, *, exclude=None, instance_cell_map=None, sub_instance_cell_maps=None, " \
  "recursive=True, allow_unconnected_ports=False, warn_skipped=False, separator=...)\n--\n\n"

const char kNetlistFlattenDoc[] = VONDREL_FLATTEN_SIGNATURE
    "Replace instances by the contents of their own cell's netlist.";

const char kPlacedNetlistFlattenDoc[] = VONDREL_FLATTEN_SIGNATURE
    "Replace instances by the contents of their own cell's netlist, composing\n"
    "each inlined instance's placement with the placement of the instance it\n"
    "came from (so the geometry stays in this cell's coordinates).\n"
    "\n"
    "Same arguments as [`Netlist::flatten`]; `instance_cell_map`/`sub_instance_cell_maps` are\n"
    "optional here because `PlacedInstance.cell` already names the cell.";

#undef VONDREL_FLATTEN_SIGNATURE

}  // namespace vondrel::py
