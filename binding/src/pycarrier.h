// The Python-object carrier: every wire record, net and JSON value read from and written to
// plain Python objects (dicts, lists, str, int, float, bool, None), through the record
// descriptions shared with the JSON text carrier.
#pragma once

#include <Python.h>

#include <string>

#include "py.h"
#include "vondrel/net.h"

namespace vondrel::py {

// Reads `obj` as T. On failure returns false with the converter's message in `error` (an
// exception met on the way is rendered "ClassName: message" and cleared). No more than
// kMaxNesting mappings and sequences may be open at once, `obj` counted; deeper ones fail
// with kNestingExceeded, whatever the interpreter's recursion limit.
// T: NetlistPort, PortRef, PortArrayRef, NetlistArray, NetlistInstanceWire, NetlistWire,
// BBox, Placement, PlacedInstanceWire, PlacedNetlistWire, Net, NetMember, JsonValue,
// JsonObject, NetlistInstance (its instance record, without the name) and Netlist (the
// NetlistWire record; the instances' names are left empty, the keys hold them); also
// EquivalentPorts and PortMapping (the normalisation arguments: str-keyed mappings of
// lists or mappings of str).
template <class T>
bool read_py(PyObject* obj, T& out, std::string& error);

// Writes `value` as new Python objects. On failure returns a null Ref with the converter's
// message in `error`: kNestingExceeded when the objects would nest deeper than kMaxNesting
// levels counted from the one returned, else the exception met, rendered "ClassName: message"
// and cleared.
// T: the types read above (but EquivalentPorts and PortMapping), PlacedInstanceView and PlacedNetlistView (the placed records).
template <class T>
Ref write_py(const T& value, std::string& error);

// The two wrappers the classes use: ValueError "from_dict: {}" / "to_dict: {}".
template <class T>
bool from_py_any(PyObject* obj, T& out) {
  std::string error;
  if (read_py(obj, out, error)) return true;
  return raise_false(PyExc_ValueError, "from_dict: " + error);
}

template <class T>
Ref to_py_dict(const T& value) {
  std::string error;
  Ref out;
  {
    GcPause pause;
    out = write_py(value, error);
  }
  if (!out) return raise(PyExc_ValueError, "to_dict: " + error);
  return out;
}

}  // namespace vondrel::py
