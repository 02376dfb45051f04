// The NetlistArray and NetlistInstance classes, and the argument conversions that the
// classes building on NetlistInstance share.
//
// A NetlistInstance object keeps the whole core instance on its base layer; a subclass of
// the module (PlacedInstance) adds its own layer behind it with SubObj<Obj<NetlistInstance>,
// Own>, so the getters, setters, normalize and the comparison defined here serve it as is.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <utility>

#include "object.h"
#include "py.h"
#include "types.h"
#include "vondrel/instance.h"
#include "vondrel/json_value.h"

namespace vondrel::py {

struct NetlistArrayClass : Class<NetlistArrayClass, Obj<NetlistArray>> {
  static constexpr const char* kName = "NetlistArray";
  using Record = NetlistArray;
  static const NetlistArray& record(PyObject* o) { return value(o); }
  static NetlistArray from_record(NetlistArray&& r) { return r; }
};

struct NetlistInstanceClass : Class<NetlistInstanceClass, Obj<NetlistInstance>> {
  static constexpr const char* kName = "NetlistInstance";
  // The instance describes its own record (all fields but the name): read straight into a
  // new object and written from the object, without a wire struct in between.
  using Record = NetlistInstance;
  static const NetlistInstance& record(PyObject* o) { return value(o); }
};

// `array` arguments: None (or absent) gives no array, a NetlistArray a copy of its numbers;
// anything else raises TypeError "argument '<param>': '<type>' object cannot be converted to
// 'NetlistArray'".
bool arg_array(PyObject* obj, const char* param, std::optional<NetlistArray>& out);

// `settings` and `info` arguments of constructors: None (or absent) gives the empty object;
// otherwise the value is read as a JSON value / object (ValueError "from_dict: ...").
bool arg_settings(PyObject* obj, JsonValue& out);
bool arg_info(PyObject* obj, JsonObject& out);

extern const ClassSpec kNetlistArraySpec;
extern const ClassSpec kNetlistInstanceSpec;

}  // namespace vondrel::py
