// Class tables and the one type builder. A class file ends with a ClassSpec listing its
// docstring, base, methods, attributes and slots; the entry adapters below turn plain
// functions returning Ref into interpreter entry points that never let a C++ exception out.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "args.h"
#include "object.h"
#include "py.h"

namespace vondrel::py {

// ---------------------------------------------------------------------------------------
// Entry adapters.

using MethodFn = Ref (*)(PyObject* self, const FastArgs& a);
using GetterFn = Ref (*)(PyObject* self);
using SetterFn = bool (*)(PyObject* self, PyObject* value);  // value is never null
using UnaryFn = Ref (*)(PyObject* self);
using HashFn = Py_hash_t (*)(PyObject* self);               // -1 with an exception set
using CompareFn = Ref (*)(PyObject* self, PyObject* other, int op);
using NewFn = Ref (*)(PyTypeObject* type, PyObject* args, PyObject* kwargs);
using BinaryFn = Ref (*)(PyObject* self, PyObject* arg);   // item access
using LenFn = Py_ssize_t (*)(PyObject* self);              // -1 with an exception set
using ContainsFn = int (*)(PyObject* self, PyObject* item);  // 1, 0, or -1 with an exception set

// Runs `call` and hands back its result; a C++ exception escaping it becomes a Python
// exception and `failed` is returned instead.
template <class R, class Call>
R guarded(R failed, Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    set_error_from_exception();
    return failed;
  }
}

template <MethodFn F>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self, FastArgs{args, nargs, kwnames}).release(); });
}

template <GetterFn F>
PyObject* getter_entry(PyObject* self, void*) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self).release(); });
}

template <SetterFn F>
int setter_entry(PyObject* self, PyObject* value, void*) noexcept {
  if (!value) {
    raise_false(PyExc_AttributeError, "can't delete attribute");
    return -1;
  }
  return guarded(-1, [&] { return F(self, value) ? 0 : -1; });
}

template <UnaryFn F>
PyObject* unary_entry(PyObject* self) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self).release(); });
}

template <HashFn F>
Py_hash_t hash_entry(PyObject* self) noexcept {
  return guarded<Py_hash_t>(-1, [&] { return F(self); });
}

template <CompareFn F>
PyObject* compare_entry(PyObject* self, PyObject* other, int op) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self, other, op).release(); });
}

template <NewFn F>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(type, args, kwargs).release(); });
}

template <BinaryFn F>
PyObject* binary_entry(PyObject* self, PyObject* arg) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self, arg).release(); });
}

template <LenFn F>
Py_ssize_t len_entry(PyObject* self) noexcept {
  return guarded<Py_ssize_t>(-1, [&] { return F(self); });
}

template <ContainsFn F>
int contains_entry(PyObject* self, PyObject* item) noexcept {
  return guarded(-1, [&] { return F(self, item); });
}

// Table rows. `doc` of a method starts with its text signature: "to_json($self)\n--\n\n".
template <MethodFn F>
constexpr PyMethodDef method(const char* name, const char* doc) {
  return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_entry<F>)),
                     METH_FASTCALL | METH_KEYWORDS, doc};
}
template <MethodFn F>
constexpr PyMethodDef classmethod(const char* name, const char* doc) {
  return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_entry<F>)),
                     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, doc};
}
constexpr PyMethodDef kMethodsEnd{nullptr, nullptr, 0, nullptr};

// A read-only attribute: attribute<&get>("x"); a settable one: attribute<&get, &set>("x").
// An attribute without documentation has the empty docstring "".
template <GetterFn G>
constexpr PyGetSetDef attribute(const char* name, const char* doc = "") {
  return PyGetSetDef{name, &getter_entry<G>, nullptr, doc, nullptr};
}
template <GetterFn G, SetterFn S>
constexpr PyGetSetDef attribute(const char* name, const char* doc = "") {
  return PyGetSetDef{name, &getter_entry<G>, &setter_entry<S>, doc, nullptr};
}
constexpr PyGetSetDef kGetSetEnd{nullptr, nullptr, nullptr, nullptr, nullptr};

// A plain field of an object's value (a str, int, float or bool member of C::Value on the
// class's own first layer) as an attribute: read under a shared borrow; written after its
// new value is converted (the argument named "value" in messages), under an exclusive one.
inline Ref field_to_py(const std::string& v) { return str(v); }
inline Ref field_to_py(std::int64_t v) { return integer(v); }
inline Ref field_to_py(double v) { return real(v); }
inline Ref field_to_py(bool v) { return boolean(v); }
inline bool field_from_py(PyObject* o, std::string& v) { return arg_string(o, "value", v); }
inline bool field_from_py(PyObject* o, std::int64_t& v) { return arg_i64(o, "value", v); }
inline bool field_from_py(PyObject* o, double& v) { return arg_f64(o, "value", v); }
inline bool field_from_py(PyObject* o, bool& v) { return arg_bool(o, "value", v); }

template <class C, auto Field>
Ref get_field(PyObject* self) {
  return read_shared(self, [&] { return field_to_py(C::cast(self)->value.*Field); });
}
template <class C, auto Field>
bool set_field(PyObject* self, PyObject* value) {
  using T = std::remove_cvref_t<decltype(C::cast(self)->value.*Field)>;
  return write_exclusive<T>(
      self, [&](T& v) { return field_from_py(value, v); }, [&](T&& v) { C::cast(self)->value.*Field = std::move(v); });
}
// The row of a settable field: field<NetlistArrayClass, &NetlistArray::na>("na").
template <class C, auto Field>
constexpr PyGetSetDef field(const char* name, const char* doc = "") {
  return attribute<&get_field<C, Field>, &set_field<C, Field>>(name, doc);
}

template <class Fn>
void* slot_fn(Fn f) {
  return reinterpret_cast<void*>(f);
}

// ---------------------------------------------------------------------------------------
// The class table and its builder.

struct ClassSpec {
  const char* full_name;    // "vondrel._native.PortRef"
  const char* doc;          // "PortRef(instance, port)\n--\n\nReference to ..." (nullptr: no docstring)
  PyTypeObject** type;      // where the class object is kept (Class<...>::type)
  PyTypeObject** base;      // the base class of the module, or nullptr for object
  bool subclassable;
  int basicsize;
  void (*dealloc)(PyObject*);
  PyMethodDef* methods;     // ends with kMethodsEnd (nullptr: none)
  PyGetSetDef* getset;      // ends with kGetSetEnd (nullptr: none)
  std::vector<PyType_Slot> slots;  // constructor, hash, comparison, repr, ... (no terminator)
};

// Creates the class object the first time; later calls return the same one (borrowed).
PyTypeObject* build_class(const ClassSpec& spec);

// Builds the spec of class C from its parts.
template <class C>
ClassSpec class_spec(const char* full_name, const char* doc, PyTypeObject** base, bool subclassable,
                     PyMethodDef* methods, PyGetSetDef* getset, std::vector<PyType_Slot> slots) {
  return ClassSpec{full_name, doc, &C::type, base, subclassable, static_cast<int>(sizeof(typename C::Object)),
                   &dealloc<typename C::Object>, methods, getset, std::move(slots)};
}

}  // namespace vondrel::py
