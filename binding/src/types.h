// Class tables and the one type builder. A class file ends with a ClassSpec listing its
// docstring, base, methods, attributes and slots; the entry adapters below turn plain
// functions returning Ref into interpreter entry points that never let a C++ exception out.
#pragma once

#include <Python.h>

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
    PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
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
