// The helpers every class uses: core errors, deprecation warnings, the pydantic hook,
// Python-style string literals, hashes and the comparison families.
#pragma once

#include <Python.h>

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "py.h"
#include "vondrel/error.h"

namespace vondrel::py {

// Raises the Python exception for a core error (KeyError with the bare text for
// KeyNotFound, ValueError with the display text otherwise); returns a null Ref.
Ref core_error(Error e);
bool core_error_false(Error e);

// warnings.warn(message, category, 1): a method of the module has no frame of its own, so
// stack level 1 attributes the warning to the line that called the method.
// False with the exception pending (a filter may turn the warning into an error).
bool warn(PyObject* category, std::string_view message);
// warn(DeprecationWarning, message).
bool warn_deprecated(std::string_view message);

// The object __get_pydantic_core_schema__ returns for class `cls`.
Ref pydantic_core_schema(PyObject* cls);

// `s` as a Python string literal: 'a', "it's", '\t'.
std::string py_repr(std::string_view s);
void append_py_repr(std::string& out, std::string_view s);

// A 64-bit digest as a Python hash (-1 is reserved for errors and becomes -2).
inline Py_hash_t hash_value(std::uint64_t digest) {
  auto h = static_cast<Py_hash_t>(static_cast<std::int64_t>(digest));
  return h == -1 ? -2 : h;
}

// The answer of a total order for operator `op`.
Ref ordering_result(std::strong_ordering ord, int op);
// The equality-only family: < False, <= e, == e, != not e, > not e, >= True.
Ref equality_result(bool equal, int op);
// Whether `op` is one of the six comparison operators.
inline bool is_compare_op(int op) { return op >= Py_LT && op <= Py_GE; }

}  // namespace vondrel::py
