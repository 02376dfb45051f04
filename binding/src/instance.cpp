// NetlistArray (hashable, equality only) and NetlistInstance (equality only, unhashable,
// subclassable from Python and by PlacedInstance).
#include "instance.h"

#include <cstdint>
#include <string>

#include "args.h"
#include "helpers.h"
#include "pycarrier.h"
#include "quartet.h"
#include "vondrel/error.h"
#include "vondrel/hash.h"
#include "vondrel/netlist.h"

namespace vondrel::py {

bool arg_array(PyObject* obj, const char* param, std::optional<NetlistArray>& out) {
  if (!obj || obj == Py_None) {
    out.reset();
    return true;
  }
  if (!arg_instance(obj, NetlistArrayClass::type, "NetlistArray", param)) return false;
  Shared guard(obj);
  if (!guard) return false;
  out = NetlistArrayClass::value(obj);
  return true;
}

bool arg_settings(PyObject* obj, JsonValue& out) {
  if (!obj || obj == Py_None) {
    out = JsonValue(JsonObject{});
    return true;
  }
  return from_py_any(obj, out);
}

bool arg_info(PyObject* obj, JsonObject& out) {
  if (!obj || obj == Py_None) {
    out = JsonObject{};
    return true;
  }
  return from_py_any(obj, out);
}

namespace {

// ---------------------------------------------------------------------------------------
// NetlistArray.

NetlistArray& array_of(PyObject* self) { return NetlistArrayClass::cast(self)->value; }

Ref array_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig("NetlistArray.__new__()", {"na", "nb"}, 2);
  PyObject* argv[2];
  NetlistArray v;
  if (!sig.bind(args, kwargs, argv) || !arg_i64(argv[0], "na", v.na) || !arg_i64(argv[1], "nb", v.nb)) return {};
  return construct<NetlistArrayClass>(type, v);
}

Py_hash_t array_hash(PyObject* self) {
  Shared guard(self);
  if (!guard) return -1;
  return hash_value(stable_hash(array_of(self)));
}

Ref array_repr(PyObject* self) {
  return read_shared(self, [&] {
    const NetlistArray& a = array_of(self);
    return str("NetlistArray(na=" + std::to_string(a.na) + ", nb=" + std::to_string(a.nb) + ")");
  });
}

// ---------------------------------------------------------------------------------------
// NetlistInstance.

NetlistInstance& instance_of(PyObject* self) { return NetlistInstanceClass::cast(self)->value; }

Ref instance_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig("NetlistInstance.__new__()", {"kcl", "component", "settings", "array", "name"}, 2,
                             {"info"});
  PyObject* argv[6];
  NetlistInstance v;
  if (!sig.bind(args, kwargs, argv) || !arg_string(argv[0], "kcl", v.kcl) ||
      !arg_string(argv[1], "component", v.component) || !arg_array(argv[3], "array", v.array) ||
      (argv[4] && !arg_string(argv[4], "name", v.name)) || !arg_settings(argv[2], v.settings) ||
      !arg_info(argv[5], v.info))
    return {};
  return construct<NetlistInstanceClass>(type, std::move(v));
}

Ref get_info(PyObject* self) {
  return read_shared(self, [&] { return to_py_dict(instance_of(self).info); });
}
Ref get_settings(PyObject* self) {
  return read_shared(self, [&] { return to_py_dict(instance_of(self).settings); });
}

// The conversion runs under the exclusive borrow: Python code it calls (a Mapping's keys(),
// say) cannot see or change the instance half-way.
template <class T, T NetlistInstance::*Field>
bool set_json(PyObject* self, PyObject* value) {
  Exclusive guard(self);
  if (!guard) return false;
  T v;
  if (!from_py_any(value, v)) return false;
  instance_of(self).*Field = std::move(v);
  return true;
}

Ref get_array(PyObject* self) {
  return read_shared(self, [&] {
    const auto& a = instance_of(self).array;
    return a ? wrap<NetlistArrayClass>(*a) : none();
  });
}
bool set_array(PyObject* self, PyObject* value) {
  return write_exclusive<std::optional<NetlistArray>>(
      self, [&](std::optional<NetlistArray>& v) { return arg_array(value, "value", v); },
      [&](std::optional<NetlistArray>&& v) { instance_of(self).array = v; });
}

Ref instance_normalize(PyObject* self, const FastArgs& a) {
  if (!no_arguments("NetlistInstance.normalize()", a)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  normalize_value(instance_of(self).settings);
  return none();
}

Ref instance_repr(PyObject* self) {
  return read_shared(self, [&] {
    const NetlistInstance& v = instance_of(self);
    return str("NetlistInstance(name=" + quoted(v.name) + ", kcl=" + quoted(v.kcl) +
               ", component=" + quoted(v.component) + ")");
  });
}

// ---------------------------------------------------------------------------------------
// Tables.

PyMethodDef array_methods[] = {
    pydantic_row<NetlistArrayClass>(), to_json_row<NetlistArrayClass>(),   from_json_row<NetlistArrayClass>(),
    to_dict_row<NetlistArrayClass>(),  from_dict_row<NetlistArrayClass>(), kMethodsEnd,
};

PyGetSetDef array_getset[] = {
    field<NetlistArrayClass, &NetlistArray::na>("na"),
    field<NetlistArrayClass, &NetlistArray::nb>("nb"),
    kGetSetEnd,
};

PyMethodDef instance_methods[] = {
    method<&instance_normalize>("normalize",
                                "normalize($self)\n--\n\n"
                                "Normalize this instance's settings in place: integer-valued floats are\n"
                                "stored as integers (`1.0` -> `1`; `1.5` is left as-is)."),
    pydantic_row<NetlistInstanceClass>(),
    to_json_row<NetlistInstanceClass>(),
    from_json_named_row<NetlistInstanceClass>(),
    to_dict_row<NetlistInstanceClass>(),
    from_dict_named_row<NetlistInstanceClass>(),
    kMethodsEnd,
};

PyGetSetDef instance_getset[] = {
    field<NetlistInstanceClass, &NetlistInstance::kcl>("kcl"),
    field<NetlistInstanceClass, &NetlistInstance::component>("component"),
    field<NetlistInstanceClass, &NetlistInstance::name>("name"),
    attribute<&get_info, &set_json<JsonObject, &NetlistInstance::info>>(
        "info", "Fresh metadata snapshot; assign a whole dictionary to replace it."),
    attribute<&get_settings, &set_json<JsonValue, &NetlistInstance::settings>>("settings"),
    attribute<&get_array, &set_array>("array"),
    kGetSetEnd,
};

}  // namespace

const ClassSpec kNetlistArraySpec = class_spec<NetlistArrayClass>(
    "vondrel._native.NetlistArray",
    "NetlistArray(na, nb)\n--\n\n"
    "Array dimensions for an array instance (`na` \u00d7 `nb`).",
    nullptr, false, array_methods, array_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&array_new>)},
        {Py_tp_hash, slot_fn(&hash_entry<&array_hash>)},
        {Py_tp_richcompare, slot_fn(&compare_entry<&equality_compare<NetlistArrayClass>>)},
        {Py_tp_repr, slot_fn(&unary_entry<&array_repr>)},
    });

const ClassSpec kNetlistInstanceSpec = class_spec<NetlistInstanceClass>(
    "vondrel._native.NetlistInstance",
    "NetlistInstance(kcl, component, settings=None, array=None, name=..., *, info=None)\n--\n\n"
    "Instance of a sub-cell within a netlist.\n"
    "\n"
    "`name` is set by the parent `Netlist` from the dict key on deserialization\n"
    "and is intentionally excluded from the JSON wire format.\n"
    "\n"
    "Declared `subclass` so `PlacedInstance` (which adds placement geometry) can\n"
    "extend it; this adds no fields and does not change the wire format.",
    nullptr, true, instance_methods, instance_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&instance_new>)},
        {Py_tp_hash, slot_fn(&PyObject_HashNotImplemented)},
        // Over the base layer alone: a subclass (PlacedInstance) compares with its base class.
        {Py_tp_richcompare, slot_fn(&compare_entry<&equality_compare<NetlistInstanceClass>>)},
        {Py_tp_repr, slot_fn(&unary_entry<&instance_repr>)},
    });

}  // namespace vondrel::py
