// Net: a list of port members kept in member order by its own constructor and methods,
// hashable and totally ordered over the list as it stands. NetIter: the iterator over a
// snapshot of the members taken when iteration starts.
#include "net.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "args.h"
#include "helpers.h"
#include "port.h"
#include "quartet.h"
#include "vondrel/hash.h"

namespace vondrel::py {

bool from_py(PyObject* obj, NetMember& out) {
  PortKind kind = kind_of(obj);
  if (kind == kNotAPort) return raise_false(PyExc_TypeError, "expected NetlistPort, PortRef, or PortArrayRef");
  Shared guard(obj);
  if (!guard) return false;
  out = member_of(obj, kind);
  return true;
}

namespace {

std::vector<NetMember>& members_of(PyObject* self) { return NetClass::cast(self)->value.members; }
const std::vector<NetMember>& members(PyObject* self) { return NetClass::value(self).members; }

// Converts the items of `iterable` one by one onto the end of `out`; stops at the first
// item that is not a port or when the iterator raises (the items before it stay in `out`).
bool append_items(PyObject* iterable, std::vector<NetMember>& out) {
  Ref it = Ref::steal(PyObject_GetIter(iterable));
  if (!it) return false;
  if (PyList_Check(iterable)) out.reserve(out.size() + static_cast<std::size_t>(PyList_Size(iterable)));
  if (PyTuple_Check(iterable)) out.reserve(out.size() + static_cast<std::size_t>(PyTuple_Size(iterable)));
  while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
    NetMember m;
    if (!from_py(item.get(), m)) return false;
    out.push_back(std::move(m));
  }
  return !PyErr_Occurred();
}

// ---------------------------------------------------------------------------------------
// Constructor and editing.

Ref net_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig("Net.__new__()", {"members"}, 0);
  PyObject* argv[1];
  if (!sig.bind(args, kwargs, argv)) return {};
  Net net;
  if (argv[0] && argv[0] != Py_None) {
    if (!append_items(argv[0], net.members)) return {};
    sort_members(net.members);
  }
  return construct<NetClass>(type, std::move(net));
}

Ref net_sort(PyObject* self, const FastArgs& a) {
  if (!no_arguments("Net.sort()", a)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  sort_members(members_of(self));
  return none();
}

Ref net_append(PyObject* self, const FastArgs& a) {
  static const Signature sig("Net.append()", {"item"}, 1);
  PyObject* argv[1];
  if (!sig.bind(a, argv)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  NetMember m;
  if (!from_py(argv[0], m)) return {};
  std::vector<NetMember>& ms = members_of(self);
  // Members in order (all but after a failed extend) take the new one in place, after its
  // equals: what sorting them all again would give, without the sort.
  if (std::is_sorted(ms.begin(), ms.end())) {
    ms.insert(std::upper_bound(ms.begin(), ms.end(), m), std::move(m));
  } else {
    ms.push_back(std::move(m));
    sort_members(ms);
  }
  return none();
}

// Holds the exclusive borrow while the iterator runs: Python code it runs cannot read or
// change this net. A failure leaves the members added so far at the end, unsorted.
Ref net_extend(PyObject* self, const FastArgs& a) {
  static const Signature sig("Net.extend()", {"items"}, 1);
  PyObject* argv[1];
  if (!sig.bind(a, argv)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  if (!append_items(argv[0], members_of(self))) return {};
  sort_members(members_of(self));
  return none();
}

// ---------------------------------------------------------------------------------------
// Reading.

Ref net_members(PyObject* self, const FastArgs& a) {
  if (!no_arguments("Net.members()", a)) return {};
  return read_shared(self, [&] { return list_of(members(self), [](const NetMember& m) { return member_to_py(m); }); });
}

Py_ssize_t net_len(PyObject* self) {
  Shared guard(self);
  if (!guard) return -1;
  return static_cast<Py_ssize_t>(members(self).size());
}

Ref net_getitem(PyObject* self, PyObject* key) {
  Shared guard(self);
  if (!guard) return {};
  std::int64_t idx;
  if (!arg_i64(key, "idx", idx)) return {};
  const auto& ms = members(self);
  auto n = static_cast<std::int64_t>(ms.size());
  if (idx < 0) idx += n;
  if (idx < 0 || idx >= n) return raise(PyExc_IndexError, "net index out of range");
  return member_to_py(ms[static_cast<std::size_t>(idx)]);
}

int net_contains(PyObject* self, PyObject* item) {
  Shared guard(self);
  if (!guard) return -1;
  NetMember m;
  if (!from_py(item, m)) return -1;
  for (const NetMember& x : members(self))
    if (x == m) return 1;
  return 0;
}

Ref net_iter(PyObject* self) {
  Shared guard(self);
  if (!guard) return {};
  NetIterState state;
  state.items.reserve(members(self).size());
  for (const NetMember& m : members(self)) {
    Ref item = member_to_py(m);
    if (!item) return {};
    state.items.push_back(std::move(item));
  }
  return wrap<NetIterClass>(std::move(state));
}

Py_hash_t net_hash(PyObject* self) {
  Shared guard(self);
  if (!guard) return -1;
  return hash_value(stable_hash(NetClass::value(self)));
}

Ref net_compare(PyObject* self, PyObject* other, int op) {
  if (!is_compare_op(op) || !NetClass::check(other)) return not_implemented();
  Shared mine(self);
  if (!mine) return {};
  Shared theirs(other);
  if (!theirs) return {};
  return ordering_result(NetClass::value(self) <=> NetClass::value(other), op);
}

Ref net_repr(PyObject* self) {
  return read_shared(self, [&] {
    std::string out = "Net([";
    bool first = true;
    for (const NetMember& m : members(self)) {
      if (!first) out += ", ";
      first = false;
      append_member_repr(out, m);
    }
    out += "])";
    return str(out);
  });
}

// ---------------------------------------------------------------------------------------
// NetIter.

Ref net_iter_new(PyTypeObject*, PyObject*, PyObject*) {
  return raise(PyExc_TypeError, "No constructor defined for NetIter");
}

Ref net_iter_self(PyObject* self) { return Ref::borrow(self); }

// A null result without an exception ends the iteration.
Ref net_iter_next(PyObject* self) {
  Exclusive guard(self);
  if (!guard) return {};
  NetIterState& s = NetIterClass::cast(self)->value;
  if (s.next >= s.items.size()) {
    s.items.clear();
    return {};
  }
  return std::move(s.items[s.next++]);
}

// ---------------------------------------------------------------------------------------
// Tables.

PyMethodDef net_methods[] = {
    method<&net_sort>("sort", "sort($self)\n--\n\n"),
    method<&net_append>("append", "append($self, item)\n--\n\n"),
    method<&net_extend>("extend", "extend($self, items)\n--\n\n"),
    method<&net_members>("members", "members($self)\n--\n\nReturn a fresh Python list containing the members."),
    pydantic_row<NetClass>(),
    to_json_row<NetClass>(),
    from_json_row<NetClass>(),
    to_dict_row<NetClass>(),
    from_dict_row<NetClass>(),
    kMethodsEnd,
};

}  // namespace

const ClassSpec kNetSpec = class_spec<NetClass>(
    "vondrel._native.Net",
    "Net(members=None)\n--\n\n"
    "A net: an unordered collection of port members that share electrical\n"
    "connectivity. Internally stored sorted by (kind, fields) for stable\n"
    "equality and hashing.",
    nullptr, false, net_methods, nullptr,
    {
        {Py_tp_new, slot_fn(&new_entry<&net_new>)},
        {Py_mp_length, slot_fn(&len_entry<&net_len>)},
        {Py_mp_subscript, slot_fn(&binary_entry<&net_getitem>)},
        {Py_sq_contains, slot_fn(&contains_entry<&net_contains>)},
        {Py_tp_iter, slot_fn(&unary_entry<&net_iter>)},
        {Py_tp_hash, slot_fn(&hash_entry<&net_hash>)},
        {Py_tp_richcompare, slot_fn(&compare_entry<&net_compare>)},
        {Py_tp_repr, slot_fn(&unary_entry<&net_repr>)},
    });

const ClassSpec kNetIterSpec = class_spec<NetIterClass>(
    "vondrel._native.NetIter", nullptr, nullptr, false, nullptr, nullptr,
    {
        {Py_tp_new, slot_fn(&new_entry<&net_iter_new>)},
        {Py_tp_iter, slot_fn(&unary_entry<&net_iter_self>)},
        {Py_tp_iternext, slot_fn(&unary_entry<&net_iter_next>)},
    });

}  // namespace vondrel::py
