// NetlistPort, PortRef and PortArrayRef: one family, hashable and totally ordered across the
// three kinds (NetlistPort < PortRef < PortArrayRef, then by fields in declared order).
#include "port.h"

#include <compare>
#include <string>
#include <tuple>

#include "args.h"
#include "helpers.h"
#include "quartet.h"
#include "vondrel/hash.h"

namespace vondrel::py {

PortKind kind_of(PyObject* obj) {
  if (NetlistPortClass::check(obj)) return kNetlistPort;
  if (PortArrayRefClass::check(obj)) return kPortArrayRef;
  if (PortRefClass::check(obj)) return kPortRef;
  return kNotAPort;
}

Ref into_py(PortArrayRef value) { return wrap<PortArrayRefClass>(std::move(value)); }

NetMember member_of(PyObject* obj, PortKind kind) {
  switch (kind) {
    case kNetlistPort: return NetlistPortClass::value(obj);
    case kPortRef: return PortRefClass::value(obj);
    default: return PortArrayRefClass::value(obj);
  }
}

Ref member_to_py(NetMember member) {
  switch (member.index()) {
    case 0: return wrap<NetlistPortClass>(std::get<NetlistPort>(std::move(member)));
    case 1: return wrap<PortRefClass>(std::get<PortRef>(std::move(member)));
    default: return into_py(std::get<PortArrayRef>(std::move(member)));
  }
}

void append_member_repr(std::string& out, const NetMember& member) {
  switch (member.index()) {
    case 0:
      out += "NetlistPort(name=";
      append_py_repr(out, std::get<NetlistPort>(member).name);
      break;
    case 1: {
      const auto& r = std::get<PortRef>(member);
      out += "PortRef(instance=";
      append_py_repr(out, r.instance);
      out += ", port=";
      append_py_repr(out, r.port);
      break;
    }
    default: {
      const auto& r = std::get<PortArrayRef>(member);
      out += "PortArrayRef(instance=";
      append_py_repr(out, r.instance);
      out += ", port=";
      append_py_repr(out, r.port);
      out += ", ia=" + std::to_string(r.ia) + ", ib=" + std::to_string(r.ib);
      break;
    }
  }
  out += ')';
}

namespace {

const PortRef& ref_layer(PyObject* o) { return PortRefClass::value(o); }
const ArrayIndex& index_layer(PyObject* o) { return PortArrayRefClass::cast(o)->own; }

// ---------------------------------------------------------------------------------------
// Constructors.

Ref netlist_port_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig("NetlistPort.__new__()", {"name"}, 1);
  PyObject* argv[1];
  NetlistPort v;
  if (!sig.bind(args, kwargs, argv) || !arg_string(argv[0], "name", v.name)) return {};
  return construct<NetlistPortClass>(type, std::move(v));
}

Ref port_ref_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig("PortRef.__new__()", {"instance", "port"}, 2);
  PyObject* argv[2];
  PortRef v;
  if (!sig.bind(args, kwargs, argv) || !arg_string(argv[0], "instance", v.instance) ||
      !arg_string(argv[1], "port", v.port))
    return {};
  return construct<PortRefClass>(type, std::move(v));
}

Ref port_array_ref_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig("PortArrayRef.__new__()", {"instance", "port", "ia", "ib"}, 4);
  PyObject* argv[4];
  PortArrayRef v;
  if (!sig.bind(args, kwargs, argv) || !arg_string(argv[0], "instance", v.instance) ||
      !arg_string(argv[1], "port", v.port) || !arg_i64(argv[2], "ia", v.ia) || !arg_i64(argv[3], "ib", v.ib))
    return {};
  return construct<PortArrayRefClass>(type, std::move(v));
}

// ---------------------------------------------------------------------------------------
// Attributes.

Ref get_ia(PyObject* self) {
  return read_shared(self, [&] { return integer(index_layer(self).ia); });
}
bool set_ia(PyObject* self, PyObject* value) {
  return write_exclusive<std::int64_t>(
      self, [&](std::int64_t& v) { return arg_i64(value, "ia", v); },
      [&](std::int64_t v) { PortArrayRefClass::cast(self)->own.ia = v; });
}

Ref get_ib(PyObject* self) {
  return read_shared(self, [&] { return integer(index_layer(self).ib); });
}
bool set_ib(PyObject* self, PyObject* value) {
  return write_exclusive<std::int64_t>(
      self, [&](std::int64_t& v) { return arg_i64(value, "ib", v); },
      [&](std::int64_t v) { PortArrayRefClass::cast(self)->own.ib = v; });
}

// ---------------------------------------------------------------------------------------
// Text forms.

// inst['port'] or inst['port', ia, ib]; `inst` replaces the instance name when given.
std::string python_str(PyObject* self, const std::string* inst) {
  const PortRef& r = ref_layer(self);
  std::string out = inst ? *inst : r.instance;
  out += '[';
  append_py_repr(out, r.port);
  if (kind_of(self) == kPortArrayRef) {
    const ArrayIndex& i = index_layer(self);
    out += ", " + std::to_string(i.ia) + ", " + std::to_string(i.ib);
  }
  out += ']';
  return out;
}

template <class C>
Ref as_python_str(PyObject* self, const FastArgs& a) {
  static const std::string fname = qualified<C>("as_python_str");
  static const Signature sig(fname.c_str(), {"inst_name"}, 0);
  PyObject* argv[1];
  std::optional<std::string> inst;
  if (!sig.bind(a, argv) || !arg_opt_string(argv[0], "inst_name", inst)) return {};
  return read_shared(self, [&] { return str(python_str(self, inst ? &*inst : nullptr)); });
}

Ref port_ref_str(PyObject* self) {
  return read_shared(self, [&] { return str(python_str(self, nullptr)); });
}

Ref port_repr(PyObject* self) {
  return read_shared(self, [&] {
    std::string out;
    append_member_repr(out, member_of(self, kind_of(self)));
    return str(out);
  });
}

// ---------------------------------------------------------------------------------------
// Hash and order.

Py_hash_t port_hash(PyObject* self) {
  Shared guard(self);
  if (!guard) return -1;
  SipHasher13 h;
  switch (kind_of(self)) {
    case kNetlistPort: hash_feed(h, NetlistPortClass::value(self)); break;
    case kPortRef: hash_feed(h, ref_layer(self)); break;
    default:
      // The feed of an array reference is the feed of its PortRef layer, then ia and ib.
      hash_feed(h, ref_layer(self));
      hash_feed(h, index_layer(self).ia);
      hash_feed(h, index_layer(self).ib);
      break;
  }
  return hash_value(h.finish());
}

std::strong_ordering compare_same_kind(PyObject* a, PyObject* b, PortKind kind) {
  if (kind == kNetlistPort) return NetlistPortClass::value(a) <=> NetlistPortClass::value(b);
  if (auto c = ref_layer(a) <=> ref_layer(b); c != 0 || kind == kPortRef) return c;
  const ArrayIndex& x = index_layer(a);
  const ArrayIndex& y = index_layer(b);
  return std::tie(x.ia, x.ib) <=> std::tie(y.ia, y.ib);
}

Ref port_compare(PyObject* self, PyObject* other, int op) {
  if (!is_compare_op(op)) return not_implemented();
  PortKind k = kind_of(other);
  if (k == kNotAPort) return not_implemented();
  PortKind s = kind_of(self);
  if (k != s) return ordering_result(s <=> k, op);
  Shared mine(self);
  if (!mine) return {};
  Shared theirs(other);
  if (!theirs) return {};
  return ordering_result(compare_same_kind(self, other, s), op);
}

// ---------------------------------------------------------------------------------------
// Tables.

PyMethodDef netlist_port_methods[] = {
    pydantic_row<NetlistPortClass>(), to_json_row<NetlistPortClass>(), from_json_row<NetlistPortClass>(),
    to_dict_row<NetlistPortClass>(),  from_dict_row<NetlistPortClass>(), kMethodsEnd,
};

PyGetSetDef netlist_port_getset[] = {
    field<NetlistPortClass, &NetlistPort::name>("name"),
    kGetSetEnd,
};

PyMethodDef port_ref_methods[] = {
    method<&as_python_str<PortRefClass>>("as_python_str", "as_python_str($self, inst_name=None)\n--\n\n"),
    pydantic_row<PortRefClass>(),
    to_json_row<PortRefClass>(),
    from_json_row<PortRefClass>(),
    to_dict_row<PortRefClass>(),
    from_dict_row<PortRefClass>(),
    kMethodsEnd,
};

// Every port attribute but PortRef.name carries the empty docstring.
PyGetSetDef port_ref_getset[] = {
    field<PortRefClass, &PortRef::instance>("instance"),
    field<PortRefClass, &PortRef::port>("port"),
    attribute<&get_field<PortRefClass, &PortRef::port>>("name",
                                                        "Alias for `port`, preserving the historical `.name` accessor from\n"
                                                        "the pre-spinout pydantic `PortRef`. Inherited by `PortArrayRef`."),
    kGetSetEnd,
};

PyMethodDef port_array_ref_methods[] = {
    method<&as_python_str<PortArrayRefClass>>("as_python_str", "as_python_str($self, inst_name=None)\n--\n\n"),
    pydantic_row<PortArrayRefClass>(),
    to_json_row<PortArrayRefClass>(),
    from_json_row<PortArrayRefClass>(),
    to_dict_row<PortArrayRefClass>(),
    from_dict_row<PortArrayRefClass>(),
    kMethodsEnd,
};

PyGetSetDef port_array_ref_getset[] = {
    attribute<&get_ia, &set_ia>("ia"),
    attribute<&get_ib, &set_ib>("ib"),
    kGetSetEnd,
};

}  // namespace

const ClassSpec kNetlistPortSpec = class_spec<NetlistPortClass>(
    "vondrel._native.NetlistPort",
    "NetlistPort(name)\n--\n\n"
    "Cell-level port of a netlist (top-level pin).",
    nullptr, false, netlist_port_methods, netlist_port_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&netlist_port_new>)},
        {Py_tp_hash, slot_fn(&hash_entry<&port_hash>)},
        {Py_tp_richcompare, slot_fn(&compare_entry<&port_compare>)},
        {Py_tp_repr, slot_fn(&unary_entry<&port_repr>)},
    });

const ClassSpec kPortRefSpec = class_spec<PortRefClass>(
    "vondrel._native.PortRef",
    "PortRef(instance, port)\n--\n\n"
    "Reference to a port on an instance.\n"
    "\n"
    "`PortArrayRef` extends this class, so `isinstance(x, PortRef)` is true\n"
    "for both plain and array references.",
    nullptr, true, port_ref_methods, port_ref_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&port_ref_new>)},
        {Py_tp_hash, slot_fn(&hash_entry<&port_hash>)},
        {Py_tp_richcompare, slot_fn(&compare_entry<&port_compare>)},
        {Py_tp_repr, slot_fn(&unary_entry<&port_repr>)},
        {Py_tp_str, slot_fn(&unary_entry<&port_ref_str>)},
    });

const ClassSpec kPortArrayRefSpec = class_spec<PortArrayRefClass>(
    "vondrel._native.PortArrayRef",
    "PortArrayRef(instance, port, ia, ib)\n--\n\n"
    "Reference to a port on an array instance.\n"
    "\n"
    "Subclass of [`PortRef`]. The `instance` and `port` fields live on the\n"
    "parent layer; only the array indices are stored on the child.",
    &PortRefClass::type, false, port_array_ref_methods, port_array_ref_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&port_array_ref_new>)},
        {Py_tp_hash, slot_fn(&hash_entry<&port_hash>)},
        {Py_tp_richcompare, slot_fn(&compare_entry<&port_compare>)},
        {Py_tp_repr, slot_fn(&unary_entry<&port_repr>)},
        {Py_tp_str, slot_fn(&unary_entry<&port_ref_str>)},
    });

}  // namespace vondrel::py
