// The port classes NetlistPort, PortRef and PortArrayRef, and the conversions other class
// files use to hand ports in and out.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <string>

#include "object.h"
#include "py.h"
#include "types.h"
#include "vondrel/net.h"
#include "vondrel/port.h"

namespace vondrel::py {

struct NetlistPortClass : Class<NetlistPortClass, Obj<NetlistPort>> {
  static constexpr const char* kName = "NetlistPort";
  using Record = NetlistPort;
  static const NetlistPort& record(PyObject* o) { return value(o); }
  static NetlistPort from_record(NetlistPort&& r) { return std::move(r); }
};

struct PortRefClass : Class<PortRefClass, Obj<PortRef>> {
  static constexpr const char* kName = "PortRef";
  using Record = PortRef;
  static const PortRef& record(PyObject* o) { return value(o); }
  static PortRef from_record(PortRef&& r) { return std::move(r); }
};

// PortArrayRef keeps instance and port on the PortRef layer, only the indices on its own.
struct ArrayIndex {
  std::int64_t ia = 0;
  std::int64_t ib = 0;
};

struct PortArrayRefClass : Class<PortArrayRefClass, SubObj<Obj<PortRef>, ArrayIndex>> {
  static constexpr const char* kName = "PortArrayRef";
  using Value = PortArrayRef;
  using Record = PortArrayRef;
  static void emplace(Object* o, PortArrayRef&& v) {
    std::construct_at(&o->value, PortRef{std::move(v.instance), std::move(v.port)});
    o->own = ArrayIndex{v.ia, v.ib};
  }
  // Assembled from both layers.
  static PortArrayRef value(PyObject* self) {
    const Object* o = cast(self);
    return PortArrayRef{o->value.instance, o->value.port, o->own.ia, o->own.ib};
  }
  static PortArrayRef record(PyObject* o) { return value(o); }
  static PortArrayRef from_record(PortArrayRef&& r) { return std::move(r); }
};

enum PortKind : int { kNotAPort = -1, kNetlistPort = 0, kPortRef = 1, kPortArrayRef = 2 };

// Classifies any object: NetlistPort, then PortArrayRef, then PortRef (subclasses included).
PortKind kind_of(PyObject* obj);

// A new PortArrayRef object of exactly that class.
Ref into_py(PortArrayRef value);

// The core member of a port object of kind `kind` (a copy; read it under a shared borrow).
NetMember member_of(PyObject* obj, PortKind kind);

// A new object of the member's class.
Ref member_to_py(NetMember member);

// Appends the member's repr: NetlistPort(name='a'), PortRef(instance='u', port='p'), ...
void append_member_repr(std::string& out, const NetMember& member);

extern const ClassSpec kNetlistPortSpec;
extern const ClassSpec kPortRefSpec;
extern const ClassSpec kPortArrayRefSpec;

}  // namespace vondrel::py
