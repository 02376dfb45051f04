// The owning reference and the small helpers every binding file uses. Class code never
// touches reference counts by hand: it holds Refs and hands them back with release().
#pragma once

#include <Python.h>

#include <cstdint>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace vondrel::py {

// Owns one strong reference (or none). Move-only.
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  // Takes over a new reference (nullptr allowed: an error is pending).
  static Ref steal(PyObject* p) { return Ref(p); }
  // Adds a reference to a borrowed pointer.
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    return Ref(p);
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      PyObject* old = std::exchange(p_, std::exchange(o.p_, nullptr));
      Py_XDECREF(old);
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Gives the reference to the caller (the interpreter, a container that steals).
  PyObject* release() { return std::exchange(p_, nullptr); }
  Ref copy() const { return borrow(p_); }

 private:
  explicit Ref(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

inline Ref none() { return Ref::borrow(Py_None); }
inline Ref boolean(bool b) { return Ref::borrow(b ? Py_True : Py_False); }
inline Ref not_implemented() { return Ref::borrow(Py_NotImplemented); }

inline Ref str(std::string_view s) {
  return Ref::steal(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
inline Ref integer(std::int64_t v) { return Ref::steal(PyLong_FromLongLong(v)); }
inline Ref uinteger(std::uint64_t v) { return Ref::steal(PyLong_FromUnsignedLongLong(v)); }
inline Ref real(double v) { return Ref::steal(PyFloat_FromDouble(v)); }

// A new list holding make(item) for each item, in order (make returns a Ref; a null one ends
// the list with its exception pending).
template <class Items, class Make>
Ref list_of(const Items& items, Make&& make) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
  if (!list) return {};
  Py_ssize_t i = 0;
  for (const auto& item : items) {
    Ref value = make(item);
    if (!value) return {};
    PyList_SetItem(list.get(), i++, value.release());  // steals
  }
  return list;
}

// A new dict holding str(key) -> make(entry) for each entry of a map keyed by string, in order.
template <class Map, class Make>
Ref dict_of(const Map& map, Make&& make) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return {};
  for (const auto& entry : map) {
    Ref key = str(entry.first);
    if (!key) return {};
    Ref value = make(entry);
    if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return {};
  }
  return dict;
}

// Sets a Python exception whose message is the whole of `message` (NULs included: names
// may hold them); returns false so callers can `return raise_false(...)`. Every message
// the module hands to the interpreter goes through here.
bool raise_false(PyObject* type, std::string_view message);
// The same, returning a null Ref.
inline Ref raise(PyObject* type, std::string_view message) {
  raise_false(type, message);
  return {};
}

// Visits the entries of a dict (or subclass) in place, fn(key, value) each, and stops at the
// first false. Both are held while fn runs (it may run Python code that changes the dict) and
// released before the next step. A dict changed meanwhile fails as Python's own iteration of it
// does: its size differs from the start before any step or after the last, or the walk meets
// more entries than it held at the start (refilled to its size, it would yield new keys).
// Returns 1 done, 0 stopped by fn, -1 with RuntimeError pending.
template <class Fn>
int for_each_dict_item(PyObject* dict, Fn&& fn) {
  const Py_ssize_t size = PyDict_Size(dict);
  Py_ssize_t pos = 0, left = size;
  PyObject *k, *v;
  for (;;) {
    if (PyDict_Size(dict) != size) [[unlikely]] {
      raise_false(PyExc_RuntimeError, "dictionary changed size during iteration");
      return -1;
    }
    if (!PyDict_Next(dict, &pos, &k, &v)) return 1;
    if (left-- == 0) [[unlikely]] {
      raise_false(PyExc_RuntimeError, "dictionary keys changed during iteration");
      return -1;
    }
    Ref key = Ref::borrow(k), value = Ref::borrow(v);
    if (!fn(key.get(), value.get())) return 0;
  }
}

// The qualified name of an object's class ("int", "PortRef").
std::string type_name(PyObject* obj);

// The UTF-8 text of a str (the interpreter's UnicodeEncodeError for lone surrogates is left
// pending and false returned). The view lives as long as the str.
inline bool utf8(PyObject* s, std::string_view& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(s, &size);
  if (!data) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

// Whether `obj` is a str, checked by pointer for the exact type before the flag lookup
// (a call under the limited API).
inline bool is_str(PyObject* obj) { return Py_TYPE(obj) == &PyUnicode_Type || PyUnicode_Check(obj); }

// The pending exception rendered "ClassName: message" and cleared.
std::string take_error_text();
// The pending exception's message alone (its str()), cleared.
std::string take_error_message();
// Whether the pending exception's class is exactly `type`.
bool pending_error_is(PyObject* type);

// Turns a C++ exception escaping a binding entry point into a Python exception.
void set_error_from_exception() noexcept;

// How many elements to reserve room for before reading the items of `obj`. The length of
// an exact list, tuple, dict, set or frozenset is true; any other object's len() is only a
// claim (its __len__ may say anything), taken up to kLengthHintCap: what lies beyond grows
// as the items arrive. A failing len() gives 0 and is cleared.
inline constexpr Py_ssize_t kLengthHintCap = 4096;
inline std::size_t length_hint(PyObject* obj) {
  Py_ssize_t n = PyObject_Size(obj);
  if (n < 0) {
    PyErr_Clear();
    return 0;
  }
  PyTypeObject* tp = Py_TYPE(obj);
  bool exact = tp == &PyList_Type || tp == &PyTuple_Type || tp == &PyDict_Type || tp == &PySet_Type ||
               tp == &PyFrozenSet_Type;
  return static_cast<std::size_t>(exact || n < kLengthHintCap ? n : kLengthHintCap);
}

// Pauses the cyclic garbage collector while a large tree of new dicts and lists is built:
// the objects cannot form cycles, yet every few hundred allocations would otherwise trigger
// a collection that walks all of them. The collector's previous state is restored.
class GcPause {
 public:
  GcPause() : was_enabled_(PyGC_Disable() == 1) {}
  ~GcPause() {
    if (was_enabled_) PyGC_Enable();
  }
  GcPause(const GcPause&) = delete;
  GcPause& operator=(const GcPause&) = delete;

 private:
  bool was_enabled_;
};

}  // namespace vondrel::py
