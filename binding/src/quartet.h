// The methods every data class shares: to_dict, from_dict, to_json, from_json and the
// pydantic hook, written once over a class's traits:
//
//   C::kName                      class name, for argument messages
//   C::Record                     the wire record (defaults to the core value)
//   C::record(self)               the record of an object, read under a shared borrow
//   C::from_record(Record&&)      the core value of a record read back
//   C::from_record(Record&&, std::string name)
//                                 the same for a class whose record lacks the name (the
//                                 instance classes: from_dict / from_json take it apart);
//                                 not needed when the record is the value (RecordInPlace)
//
// from_dict / from_json always answer an object of exactly the defining class C.
#pragma once

#include <string>
#include <type_traits>

#include "args.h"
#include "helpers.h"
#include "object.h"
#include "py.h"
#include "pycarrier.h"
#include "types.h"
#include "vondrel/json.h"

namespace vondrel::py {

// "PortRef.to_dict()": the method's name in argument messages.
template <class C>
std::string qualified(const char* method) {
  return std::string(C::kName) + "." + method + "()";
}

// A method without parameters: accepts no arguments (the name is only used for the message).
inline bool no_arguments(const char* fname, const FastArgs& a) {
  if (a.nargs == 0 && !a.kwnames) return true;
  PyObject* unused[1];
  return Signature(fname, {}, 0).bind(a, unused);
}

// A constructor without parameters (Netlist, PlacedNetlist): an empty value in a new object of
// the class called.
template <class C>
Ref new_empty(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const std::string fname = qualified<C>("__new__");
  static const Signature sig(fname.c_str(), {}, 0);
  PyObject* unused[1];
  if (!sig.bind(args, kwargs, unused)) return {};
  return construct<C>(type, typename C::Value{});
}

template <class C>
Ref to_dict_method(PyObject* self, const FastArgs& a) {
  static const std::string fname = qualified<C>("to_dict");
  if (!no_arguments(fname.c_str(), a)) return {};
  Shared guard(self);
  if (!guard) return {};
  return to_py_dict(C::record(self));
}

template <class C>
Ref to_json_method(PyObject* self, const FastArgs& a) {
  static const std::string fname = qualified<C>("to_json");
  if (!no_arguments(fname.c_str(), a)) return {};
  Shared guard(self);
  if (!guard) return {};
  std::string out;
  out.reserve(128);
  if (Status written = write_json(out, C::record(self)); !written) return core_error(std::move(written).error());
  return str(out);
}

template <class C>
Ref from_dict_method(PyObject*, const FastArgs& a) {
  static const std::string fname = qualified<C>("from_dict");
  static const Signature sig(fname.c_str(), {"obj"}, 1);
  PyObject* argv[1];
  if (!sig.bind(a, argv)) return {};
  typename C::Record rec{};
  if (!from_py_any(argv[0], rec)) return {};
  return wrap<C>(C::from_record(std::move(rec)));
}

template <class C>
Ref from_json_method(PyObject*, const FastArgs& a) {
  static const std::string fname = qualified<C>("from_json");
  static const Signature sig(fname.c_str(), {"data"}, 1);
  PyObject* argv[1];
  if (!sig.bind(a, argv)) return {};
  std::string_view text;
  if (!arg_str(argv[0], "data", text)) return {};
  typename C::Record rec{};
  Status st = read_json(text, rec);
  if (!st) return core_error(std::move(st).error());
  return wrap<C>(C::from_record(std::move(rec)));
}

// The variants for a record without the object's name: `name` (by position or keyword,
// default "") is converted in parameter order (after from_json's `data`) and before the
// record is read. A class of one layer whose value is its record (with a `name` field
// beside it) reads straight into the new object.
template <class C>
concept RecordInPlace = std::is_same_v<typename C::Record, typename C::Value> &&
                        std::is_same_v<typename C::Object, Obj<typename C::Value>>;

template <class C>
Ref from_dict_named_method(PyObject*, const FastArgs& a) {
  static const std::string fname = qualified<C>("from_dict");
  static const Signature sig(fname.c_str(), {"obj", "name"}, 1);
  PyObject* argv[2];
  std::string name;
  if (!sig.bind(a, argv) || (argv[1] && !arg_string(argv[1], "name", name))) return {};
  if constexpr (RecordInPlace<C>) {
    return build<C>([&](typename C::Value& v) {
      if (!from_py_any(argv[0], v)) return false;
      v.name = std::move(name);
      return true;
    });
  } else {
    typename C::Record rec{};
    if (!from_py_any(argv[0], rec)) return {};
    return wrap<C>(C::from_record(std::move(rec), std::move(name)));
  }
}

template <class C>
Ref from_json_named_method(PyObject*, const FastArgs& a) {
  static const std::string fname = qualified<C>("from_json");
  static const Signature sig(fname.c_str(), {"data", "name"}, 1);
  PyObject* argv[2];
  std::string_view text;
  std::string name;
  if (!sig.bind(a, argv) || !arg_str(argv[0], "data", text) || (argv[1] && !arg_string(argv[1], "name", name)))
    return {};
  if constexpr (RecordInPlace<C>) {
    return build<C>([&](typename C::Value& v) {
      if (Status st = read_json(text, v); !st) return core_error_false(std::move(st).error());
      v.name = std::move(name);
      return true;
    });
  } else {
    typename C::Record rec{};
    Status st = read_json(text, rec);
    if (!st) return core_error(std::move(st).error());
    return wrap<C>(C::from_record(std::move(rec), std::move(name)));
  }
}

template <class C>
Ref pydantic_method(PyObject* cls, const FastArgs& a) {
  static const std::string fname = qualified<C>("__get_pydantic_core_schema__");
  static const Signature sig(fname.c_str(), {"_source_type", "_handler"}, 2);
  PyObject* argv[2];
  if (!sig.bind(a, argv)) return {};
  return pydantic_core_schema(cls);
}

// The equality-only family over C::value (for a class with module subclasses: the base
// layer alone): NotImplemented unless `other` is a C (or a subclass), else the fixed answers
// of equality_result, both objects read under shared borrows.
template <class C>
Ref equality_compare(PyObject* self, PyObject* other, int op) {
  if (!is_compare_op(op) || !C::check(other)) return not_implemented();
  Shared mine(self);
  if (!mine) return {};
  Shared theirs(other);
  if (!theirs) return {};
  return equality_result(C::value(self) == C::value(other), op);
}

// The table rows, with their text signatures.
template <class C>
constexpr PyMethodDef pydantic_row() {
  return classmethod<&pydantic_method<C>>("__get_pydantic_core_schema__",
                                          "__get_pydantic_core_schema__($cls, _source_type, _handler)\n--\n\n");
}
template <class C>
constexpr PyMethodDef to_json_row() {
  return method<&to_json_method<C>>("to_json", "to_json($self)\n--\n\n");
}
template <class C>
constexpr PyMethodDef from_json_row() {
  return classmethod<&from_json_method<C>>("from_json", "from_json($cls, data)\n--\n\n");
}
template <class C>
constexpr PyMethodDef to_dict_row() {
  return method<&to_dict_method<C>>("to_dict", "to_dict($self)\n--\n\n");
}
template <class C>
constexpr PyMethodDef from_dict_row() {
  return classmethod<&from_dict_method<C>>("from_dict", "from_dict($cls, obj)\n--\n\n");
}

template <class C>
constexpr PyMethodDef from_json_named_row() {
  return classmethod<&from_json_named_method<C>>("from_json", "from_json($cls, data, name=...)\n--\n\n");
}
template <class C>
constexpr PyMethodDef from_dict_named_row() {
  return classmethod<&from_dict_named_method<C>>("from_dict", "from_dict($cls, obj, name=...)\n--\n\n");
}

}  // namespace vondrel::py
