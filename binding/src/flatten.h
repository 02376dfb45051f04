// The flatten entry that Netlist and PlacedNetlist share: reading the `netlists` argument,
// the other arguments, running the engine and issuing its skip messages as warnings.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "py.h"
#include "vondrel/flatten.h"

namespace vondrel::py {

// Reads `netlists` (a dict, or a subclass of dict, from cell name to Netlist or PlacedNetlist)
// into the engine's input map, copying every value. TypeError otherwise:
//   "netlists must be a dict of {cell name: Netlist | PlacedNetlist}"
//   "netlists keys must be cell names (str)"
//   "netlists values must be Netlist or PlacedNetlist"
bool read_netlists(PyObject* obj, NetlistDataMap& out);

// warnings.warn(message, UserWarning, 2) for each message in order; false (the exception
// pending, the rest not issued) at the first that raises.
bool emit_warnings(std::vector<std::string> warnings);

// Argument conversions of the flatten entry; `param` names the parameter in the TypeError
// "argument '<param>': ...". Absent (nullptr) or None gives nullopt / the empty map.
// A sequence of str (a str itself refused: "Can't extract `str` to `Vec`").
bool arg_name_list(PyObject* obj, const char* param, std::optional<std::vector<std::string>>& out);
// A dict of str -> str.
bool arg_name_map(PyObject* obj, const char* param, CellNameMap& out);
// A dict of str -> (dict of str -> str).
bool arg_name_maps(PyObject* obj, const char* param, SubInstanceCellMaps& out);

// The methods, for the two classes' tables.
Ref netlist_flatten(PyObject* self, const FastArgs& a);
Ref placed_netlist_flatten(PyObject* self, const FastArgs& a);
extern const char kNetlistFlattenDoc[];
extern const char kPlacedNetlistFlattenDoc[];

}  // namespace vondrel::py
