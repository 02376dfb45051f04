// Argument binding and conversion for every method and constructor of the module.
#pragma once

#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "py.h"

namespace vondrel::py {

// The arguments of a METH_FASTCALL | METH_KEYWORDS call.
struct FastArgs {
  PyObject* const* args;
  Py_ssize_t nargs;
  PyObject* kwnames;  // tuple of str, or nullptr
};

// A parameter list: `n` names, the first `n_positional` may be given by position (the first
// `required` of them must be given), the rest are keyword-only (the first `kw_required` of
// those must be given).
class Signature {
 public:
  static constexpr int kMax = 16;

  // `fname` is the name used in messages, e.g. "PortRef.as_python_str()".
  Signature(const char* fname, std::initializer_list<const char*> positional, int required,
            std::initializer_list<const char*> keyword_only = {}, int kw_required = 0);

  // Binds into out[0..n): borrowed references, nullptr for parameters not given. On failure
  // a TypeError is set and false returned.
  bool bind(const FastArgs& a, PyObject** out) const;
  // The same for a constructor's tuple and dict.
  bool bind(PyObject* args, PyObject* kwargs, PyObject** out) const;

  int size() const { return n_; }

 private:
  bool place_keyword(PyObject* key, PyObject* value, PyObject** out) const;
  bool check_missing(Py_ssize_t nargs, PyObject** out) const;
  // TypeError "missing N required <kind> argument(s): ..." for the parameters of [first, last)
  // not given; true when none is missing.
  bool report_missing(int first, int last, const char* kind, PyObject** out) const;
  bool too_many_positional(Py_ssize_t given) const;

  const char* fname_;
  const char* names_[kMax];
  int n_ = 0;
  int n_positional_ = 0;
  int required_ = 0;
  int kw_required_ = 0;
};

// Conversions. `param` names the parameter in the error text "argument 'param': ...".

// A str (or subclass): its UTF-8 text, valid while `obj` lives.
bool arg_str(PyObject* obj, const char* param, std::string_view& out);
bool arg_string(PyObject* obj, const char* param, std::string& out);
// Absent or None gives nullopt.
bool arg_opt_string(PyObject* obj, const char* param, std::optional<std::string>& out);
// Whatever the interpreter converts to a C long; TypeError re-labelled, OverflowError as is.
bool arg_i64(PyObject* obj, const char* param, std::int64_t& out);
// A list of names: any object passing the interpreter's sequence check but a str (TypeError
// "Can't extract `str` to `Vec`"), iterated, each item a str; other objects give the
// cannot-be-converted message naming Sequence, a non-str item the one naming PyString.
bool arg_string_list(PyObject* obj, const char* param, std::vector<std::string>& out);
// A real bool, or a numpy boolean scalar (a type named `bool` or `bool_` of the module numpy),
// taken through its __bool__.
bool arg_bool(PyObject* obj, const char* param, bool& out);
// Whatever the interpreter converts to a double (float, int, __float__, __index__); TypeError
// re-labelled, any other error (OverflowError for a huge int) as is.
bool arg_f64(PyObject* obj, const char* param, double& out);
// An instance of `type` (or a subclass); `type_label` is the class name for the message.
bool arg_instance(PyObject* obj, PyTypeObject* type, const char* type_label, const char* param);

// "'int' object cannot be converted to 'PyString'"
std::string cannot_convert(PyObject* obj, std::string_view target);

// A dict (or subclass), walked in its order by for_each_dict_item: each key a str, each value
// converted by `convert(value, param, out)` (one of the conversions above) into a string-keyed
// map; any other object raises the cannot-be-converted message naming PyDict. A failure leaves
// `out` partly filled.
template <class Map, class Convert>
bool arg_dict(PyObject* obj, const char* param, Map& out, Convert&& convert) {
  if (!arg_instance(obj, &PyDict_Type, "PyDict", param)) return false;
  out.reserve(static_cast<std::size_t>(PyDict_Size(obj)));
  int rc = for_each_dict_item(obj, [&](PyObject* key, PyObject* value) {
    std::string name;
    typename Map::mapped_type converted{};
    if (!arg_string(key, param, name) || !convert(value, param, converted)) return false;
    out.insert_or_assign(std::move(name), std::move(converted));
    return true;
  });
  return rc > 0;
}

}  // namespace vondrel::py
