// The Net class and its iterator NetIter, and the conversion of port objects into net
// members that other class files use.
#pragma once

#include <Python.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "object.h"
#include "py.h"
#include "types.h"
#include "vondrel/net.h"

namespace vondrel::py {

struct NetClass : Class<NetClass, Obj<Net>> {
  static constexpr const char* kName = "Net";
  using Record = Net;
  static const Net& record(PyObject* o) { return value(o); }
  // Members read from a dict or JSON text are put in member order.
  static Net from_record(Net&& n) {
    sort_members(n.members);
    return std::move(n);
  }
};

// The snapshot an iterator hands out, one object at a time.
struct NetIterState {
  std::vector<Ref> items;
  std::size_t next = 0;
};

struct NetIterClass : Class<NetIterClass, Obj<NetIterState>> {
  static constexpr const char* kName = "NetIter";
};

// The member a port object stands for (NetlistPort, PortRef, PortArrayRef or a subclass),
// copied under a shared borrow. Anything else: TypeError "expected NetlistPort, PortRef, or
// PortArrayRef".
bool from_py(PyObject* obj, NetMember& out);

extern const ClassSpec kNetSpec;
extern const ClassSpec kNetIterSpec;

}  // namespace vondrel::py
