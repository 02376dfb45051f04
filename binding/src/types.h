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

template <MethodFn F>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  try {
    return F(self, FastArgs{args, nargs, kwnames}).release();
  } catch (...) {
    set_error_from_exception();
    return nullptr;
  }
}

template <GetterFn F>
PyObject* getter_entry(PyObject* self, void*) noexcept {
  try {
    return F(self).release();
  } catch (...) {
    set_error_from_exception();
    return nullptr;
  }
}

template <SetterFn F>
int setter_entry(PyObject* self, PyObject* value, void*) noexcept {
  if (!value) {
    PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
    return -1;
  }
  try {
    return F(self, value) ? 0 : -1;
  } catch (...) {
    set_error_from_exception();
    return -1;
  }
}

template <UnaryFn F>
PyObject* unary_entry(PyObject* self) noexcept {
  try {
    return F(self).release();
  } catch (...) {
    set_error_from_exception();
    return nullptr;
  }
}

template <HashFn F>
Py_hash_t hash_entry(PyObject* self) noexcept {
  try {
    return F(self);
  } catch (...) {
    set_error_from_exception();
    return -1;
  }
}

template <CompareFn F>
PyObject* compare_entry(PyObject* self, PyObject* other, int op) noexcept {
  try {
    return F(self, other, op).release();
  } catch (...) {
    set_error_from_exception();
    return nullptr;
  }
}

template <NewFn F>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  try {
    return F(type, args, kwargs).release();
  } catch (...) {
    set_error_from_exception();
    return nullptr;
  }
}

template <BinaryFn F>
PyObject* binary_entry(PyObject* self, PyObject* arg) noexcept {
  try {
    return F(self, arg).release();
  } catch (...) {
    set_error_from_exception();
    return nullptr;
  }
}

template <LenFn F>
Py_ssize_t len_entry(PyObject* self) noexcept {
  try {
    return F(self);
  } catch (...) {
    set_error_from_exception();
    return -1;
  }
}

template <ContainsFn F>
int contains_entry(PyObject* self, PyObject* item) noexcept {
  try {
    return F(self, item);
  } catch (...) {
    set_error_from_exception();
    return -1;
  }
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
