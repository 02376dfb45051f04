// Object layout of the module's classes, the borrow flag and wrapping core values into new
// objects.
//
// Every class describes itself with a traits struct deriving from Class<...>:
//
//   struct PortRefClass : Class<PortRefClass, Obj<PortRef>> {
//     static constexpr const char* kName = "PortRef";
//   };
//
// Object is the C layout (PyBase first); Value is the core value the object stands for.
// A class whose object has layers (a module subclass) overrides emplace() and value().
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include "py.h"

namespace vondrel::py {

// The base layer of every object: the interpreter's header and the borrow flag, shared by
// all layers of the object.
struct PyBase {
  PyObject ob_base;
  std::int32_t borrow;  // 0 free, > 0 shared borrows, -1 borrowed exclusively
};

// A class without a base class of the module: one core value.
template <class V>
struct Obj : PyBase {
  using Value = V;
  V value;
};

// A subclass: the parent's whole layout, then its own fields.
template <class ParentObj, class Own>
struct SubObj : ParentObj {
  Own own;
};

template <class V>
void destroy_layers(Obj<V>* o) {
  std::destroy_at(&o->value);
}
template <class P, class Own>
void destroy_layers(SubObj<P, Own>* o) {
  std::destroy_at(&o->own);
  destroy_layers(static_cast<P*>(o));
}

// Borrow guards over the flag. A failed request sets RuntimeError; test the guard.
class Shared {
 public:
  explicit Shared(PyObject* obj) : b_(reinterpret_cast<PyBase*>(obj)) {
    if (b_->borrow < 0) {
      raise_false(PyExc_RuntimeError, "Already mutably borrowed");
      b_ = nullptr;
    } else {
      ++b_->borrow;
    }
  }
  ~Shared() {
    if (b_) --b_->borrow;
  }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  explicit operator bool() const { return b_ != nullptr; }

 private:
  PyBase* b_;
};

class Exclusive {
 public:
  explicit Exclusive(PyObject* obj) : b_(reinterpret_cast<PyBase*>(obj)) {
    if (b_->borrow != 0) {
      raise_false(PyExc_RuntimeError, "Already borrowed");
      b_ = nullptr;
    } else {
      b_->borrow = -1;
    }
  }
  ~Exclusive() {
    if (b_) b_->borrow = 0;
  }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  explicit operator bool() const { return b_ != nullptr; }

 private:
  PyBase* b_;
};

// Allocates an object of `type` (which may be a Python subclass) with a fresh borrow state;
// its value is not constructed yet.
PyBase* alloc_object(PyTypeObject* type);

// The generic deallocator: destroys the C++ layers of Object, frees the memory and drops the
// instance's reference to its heap type.
template <class Object>
void dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  destroy_layers(reinterpret_cast<Object*>(self));
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
  free_fn(self);
  Py_DECREF(reinterpret_cast<PyObject*>(tp));
}

template <class Self, class ObjectT>
struct Class {
  using Object = ObjectT;
  using Value = typename ObjectT::Value;

  // The class object, set when the class is registered.
  static inline PyTypeObject* type = nullptr;

  static Object* cast(PyObject* o) { return reinterpret_cast<Object*>(o); }
  // Instance of the class or of a subclass.
  static bool check(PyObject* o) { return PyObject_TypeCheck(o, type); }

  // Moves a core value into a freshly allocated object.
  static void emplace(Object* o, Value&& v) { std::construct_at(&o->value, std::move(v)); }
  // The core value of an object (a reference for single-layer classes).
  static const Value& value(PyObject* o) { return cast(o)->value; }
};

// A new object of `type` (the class called, possibly a Python subclass) holding `v`.
template <class C>
Ref construct(PyTypeObject* type, typename C::Value v) {
  PyBase* b = alloc_object(type);
  if (!b) return {};
  C::emplace(reinterpret_cast<typename C::Object*>(b), std::move(v));
  return Ref::steal(reinterpret_cast<PyObject*>(b));
}

// A new object of exactly class C holding `v` (null Ref with MemoryError on failure).
template <class C>
Ref wrap(typename C::Value v) {
  return construct<C>(C::type, std::move(v));
}

// A new object of exactly class C (a class of one layer) whose value is default-built and then
// filled in place by fill(Value&) -> bool; when fill fails the object is dropped and fill's
// exception stays pending. Nothing else sees the object before it is returned.
template <class C, class Fill>
Ref build(Fill&& fill) {
  static_assert(std::is_same_v<typename C::Object, Obj<typename C::Value>>);
  PyBase* b = alloc_object(C::type);
  if (!b) return {};
  auto* o = reinterpret_cast<typename C::Object*>(b);
  std::construct_at(&o->value);
  Ref obj = Ref::steal(reinterpret_cast<PyObject*>(b));
  if (!fill(o->value)) return {};
  return obj;
}

// Runs `f` (returning Ref) under a shared borrow of `self`.
template <class F>
Ref read_shared(PyObject* self, F&& f) {
  Shared guard(self);
  if (!guard) return {};
  return f();
}

// Converts first, then replaces the field under an exclusive borrow.
template <class T, class Convert, class Assign>
bool write_exclusive(PyObject* self, Convert&& convert, Assign&& assign) {
  T v{};
  if (!convert(v)) return false;
  Exclusive guard(self);
  if (!guard) return false;
  assign(std::move(v));
  return true;
}

}  // namespace vondrel::py
