#include "args.h"

#include <cstring>

namespace vondrel::py {

Signature::Signature(const char* fname, std::initializer_list<const char*> positional, int required,
                     std::initializer_list<const char*> keyword_only, int kw_required)
    : fname_(fname), required_(required), kw_required_(kw_required) {
  for (const char* p : positional) names_[n_++] = p;
  n_positional_ = n_;
  for (const char* p : keyword_only) names_[n_++] = p;
}

namespace {

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string name_list(const char* const* names, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    if (i != 0) {
      if (n > 2) out += ',';
      out += (i == n - 1) ? " and " : " ";
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

}  // namespace

bool Signature::too_many_positional(Py_ssize_t given) const {
  const char* was = given == 1 ? "was" : "were";
  std::string msg = fname_;
  if (required_ != n_positional_) {
    msg += " takes from " + std::to_string(required_) + " to " + std::to_string(n_positional_);
  } else {
    msg += " takes " + std::to_string(n_positional_);
  }
  msg += " positional arguments but " + std::to_string(given) + " " + was + " given";
  return raise_false(PyExc_TypeError, msg);
}

bool Signature::place_keyword(PyObject* key, PyObject* value, PyObject** out) const {
  auto is = [&](int i) { return PyUnicode_CompareWithASCIIString(key, names_[i]) == 0; };
  // Keyword-only parameters first, then the positional ones.
  int slot = -1;
  for (int i = n_positional_; i < n_ && slot < 0; ++i)
    if (is(i)) slot = i;
  for (int i = 0; i < n_positional_ && slot < 0; ++i)
    if (is(i)) slot = i;
  if (slot < 0) {
    std::string_view text;
    if (!utf8(key, text)) return false;
    return raise_false(PyExc_TypeError,
                       std::string(fname_) + " got an unexpected keyword argument '" + std::string(text) + "'");
  }
  if (out[slot])
    return raise_false(PyExc_TypeError, std::string(fname_) + " got multiple values for argument '" + names_[slot] + "'");
  out[slot] = value;
  return true;
}

bool Signature::report_missing(int first, int last, const char* kind, PyObject** out) const {
  const char* missing[kMax];
  int m = 0;
  for (int i = first; i < last; ++i)
    if (!out[i]) missing[m++] = names_[i];
  if (m == 0) return true;
  return raise_false(PyExc_TypeError, std::string(fname_) + " missing " + std::to_string(m) + " required " + kind +
                                          (m == 1 ? " argument: " : " arguments: ") + name_list(missing, m));
}

bool Signature::check_missing(Py_ssize_t nargs, PyObject** out) const {
  // A call that gives the required positional parameters by position misses none of them.
  if (nargs < required_ && !report_missing(0, required_, "positional", out)) return false;
  return report_missing(n_positional_, n_positional_ + kw_required_, "keyword", out);
}

bool Signature::bind(const FastArgs& a, PyObject** out) const {
  for (int i = 0; i < n_; ++i) out[i] = nullptr;
  if (a.nargs > n_positional_) return too_many_positional(a.nargs);
  for (Py_ssize_t i = 0; i < a.nargs; ++i) out[i] = a.args[i];
  if (a.kwnames) {
    Py_ssize_t nk = PyTuple_Size(a.kwnames);
    for (Py_ssize_t k = 0; k < nk; ++k) {
      if (!place_keyword(PyTuple_GetItem(a.kwnames, k), a.args[a.nargs + k], out)) return false;
    }
  }
  return check_missing(a.nargs, out);
}

bool Signature::bind(PyObject* args, PyObject* kwargs, PyObject** out) const {
  for (int i = 0; i < n_; ++i) out[i] = nullptr;
  Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
  if (nargs > n_positional_) return too_many_positional(nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place_keyword(key, value, out)) return false;
    }
  }
  return check_missing(nargs, out);
}

// ---------------------------------------------------------------------------------------

std::string cannot_convert(PyObject* obj, std::string_view target) {
  std::string out = "'";
  out += type_name(obj);
  out += "' object cannot be converted to '";
  out += target;
  out += "'";
  return out;
}

namespace {
bool argument_error(const char* param, const std::string& message) {
  return raise_false(PyExc_TypeError, std::string("argument '") + param + "': " + message);
}
}  // namespace

bool arg_str(PyObject* obj, const char* param, std::string_view& out) {
  if (!is_str(obj)) return argument_error(param, cannot_convert(obj, "PyString"));
  return utf8(obj, out);
}

bool arg_string(PyObject* obj, const char* param, std::string& out) {
  std::string_view v;
  if (!arg_str(obj, param, v)) return false;
  out.assign(v);
  return true;
}

bool arg_opt_string(PyObject* obj, const char* param, std::optional<std::string>& out) {
  if (!obj || obj == Py_None) {
    out.reset();
    return true;
  }
  std::string_view v;
  if (!arg_str(obj, param, v)) return false;
  out.emplace(v);
  return true;
}

bool arg_i64(PyObject* obj, const char* param, std::int64_t& out) {
  long v = PyLong_AsLong(obj);
  if (v == -1 && PyErr_Occurred()) {
    if (pending_error_is(PyExc_TypeError)) {
      return argument_error(param, take_error_message());
    }
    return false;
  }
  out = static_cast<std::int64_t>(v);
  return true;
}

bool arg_string_list(PyObject* obj, const char* param, std::vector<std::string>& out) {
  if (is_str(obj)) return argument_error(param, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(obj)) return argument_error(param, cannot_convert(obj, "Sequence"));
  out.clear();
  out.reserve(length_hint(obj));
  Ref it = Ref::steal(PyObject_GetIter(obj));
  if (it) {
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
      if (!is_str(item.get())) return argument_error(param, cannot_convert(item.get(), "PyString"));
      std::string_view text;
      if (!utf8(item.get(), text)) return false;
      out.emplace_back(text);
    }
    if (!PyErr_Occurred()) return true;
  }
  // A TypeError of the sequence's own iteration is reported against the argument as well.
  if (PyErr_ExceptionMatches(PyExc_TypeError)) return argument_error(param, take_error_message());
  return false;
}

namespace {

// Whether `obj` is a numpy boolean scalar: its type is named bool or bool_ and its module is
// numpy. Checked by name so numpy itself is never imported.
bool is_numpy_bool(PyObject* obj) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  if (PyUnicode_CompareWithASCIIString(name.get(), "bool_") != 0 &&
      PyUnicode_CompareWithASCIIString(name.get(), "bool") != 0)
    return false;
  Ref module = Ref::steal(PyObject_GetAttrString(type, "__module__"));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  return is_str(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0;
}

}  // namespace

bool arg_bool(PyObject* obj, const char* param, bool& out) {
  if (PyBool_Check(obj)) {
    out = obj == Py_True;
    return true;
  }
  if (!is_numpy_bool(obj)) return argument_error(param, cannot_convert(obj, "PyBool"));
  Ref method = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__bool__"));
  if (!method) {
    PyErr_Clear();
    // The type as str() shows it: "<class 'numpy.bool_'>".
    Ref shown = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(Py_TYPE(obj))));
    std::string_view text;
    if (!shown || !utf8(shown.get(), text)) return false;
    return raise_false(PyExc_TypeError,
                       "object of type '" + std::string(text) + "' does not define a '__bool__' conversion");
  }
  Ref result = Ref::steal(PyObject_CallFunctionObjArgs(method.get(), obj, nullptr));
  if (!result) return false;
  int truth = PyObject_IsTrue(result.get());
  if (truth < 0) return false;
  out = truth != 0;
  return true;
}

bool arg_f64(PyObject* obj, const char* param, double& out) {
  double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) {
    if (pending_error_is(PyExc_TypeError)) return argument_error(param, take_error_message());
    return false;
  }
  out = v;
  return true;
}

bool arg_instance(PyObject* obj, PyTypeObject* type, const char* type_label, const char* param) {
  if (PyObject_TypeCheck(obj, type)) return true;
  return argument_error(param, cannot_convert(obj, type_label));
}

}  // namespace vondrel::py
