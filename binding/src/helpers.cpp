#include "helpers.h"

namespace vondrel::py {

Ref core_error(Error e) {
  if (e.kind() == Error::Kind::KeyNotFound) {
    Ref key = str(e.text1());
    if (!key) return {};
    PyErr_SetObject(PyExc_KeyError, key.get());
    return {};
  }
  return raise(PyExc_ValueError, e.message());
}

bool core_error_false(Error e) {
  core_error(std::move(e));
  return false;
}

bool warn(PyObject* category, std::string_view message) {
  Ref warnings = Ref::steal(PyImport_ImportModule("warnings"));
  if (!warnings) return false;
  Ref warn_fn = Ref::steal(PyObject_GetAttrString(warnings.get(), "warn"));
  if (!warn_fn) return false;
  Ref text = str(message);
  if (!text) return false;
  Ref result = Ref::steal(PyObject_CallFunction(warn_fn.get(), "OOi", text.get(), category, 1));
  return static_cast<bool>(result);
}

bool warn_deprecated(std::string_view message) { return warn(PyExc_DeprecationWarning, message); }

namespace {

// Defines _validate and _schema in the namespace that holds `cls` and `cs`.
constexpr const char kPydanticSource[] =
    "def _validate(v):\n"
    "    if isinstance(v, cls):\n"
    "        return v\n"
    "    if isinstance(v, dict):\n"
    "        return cls.from_dict(v)\n"
    "    raise ValueError(f\"Cannot convert {type(v).__name__} to {cls.__name__}\")\n"
    "\n"
    "\n"
    "_schema = cs.no_info_plain_validator_function(\n"
    "    _validate,\n"
    "    serialization=cs.plain_serializer_function_ser_schema(\n"
    "        lambda v: v.to_dict(), info_arg=False\n"
    "    ),\n"
    ")";
static_assert(sizeof(kPydanticSource) - 1 == 376);

}  // namespace

Ref pydantic_core_schema(PyObject* cls) {
  Ref ns = Ref::steal(PyDict_New());
  if (!ns) return {};
  if (PyDict_SetItemString(ns.get(), "cls", cls) < 0) return {};
  Ref pc = Ref::steal(PyImport_ImportModule("pydantic_core"));
  if (!pc) return {};
  Ref cs = Ref::steal(PyObject_GetAttrString(pc.get(), "core_schema"));
  if (!cs) return {};
  if (PyDict_SetItemString(ns.get(), "cs", cs.get()) < 0) return {};
  if (!PyDict_GetItemString(ns.get(), "__builtins__")) {
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins) return {};
    if (PyDict_SetItemString(ns.get(), "__builtins__", builtins.get()) < 0) return {};
  }
  Ref code = Ref::steal(Py_CompileString(kPydanticSource, "<string>", Py_file_input));
  if (!code) return {};
  Ref result = Ref::steal(PyEval_EvalCode(code.get(), ns.get(), ns.get()));
  if (!result) return {};
  PyObject* schema = PyDict_GetItemString(ns.get(), "_schema");  // borrowed
  if (!schema) return raise(PyExc_KeyError, "_schema");
  return Ref::borrow(schema);
}

void append_py_repr(std::string& out, std::string_view s) {
  bool has_single = s.find('\'') != std::string_view::npos;
  bool has_double = s.find('"') != std::string_view::npos;
  char quote = (has_single && !has_double) ? '"' : '\'';
  static constexpr char kHex[] = "0123456789abcdef";
  out.reserve(out.size() + s.size() + 2);
  out += quote;
  // Bytes of multi-byte UTF-8 sequences are >= 0x80 and are copied unchanged.
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (c == quote) {
      out += '\\';
      out += c;
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (u < 0x20) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  out += quote;
}

std::string py_repr(std::string_view s) {
  std::string out;
  append_py_repr(out, s);
  return out;
}

Ref ordering_result(std::strong_ordering ord, int op) {
  bool r;
  switch (op) {
    case Py_LT: r = ord < 0; break;
    case Py_LE: r = ord <= 0; break;
    case Py_EQ: r = ord == 0; break;
    case Py_NE: r = ord != 0; break;
    case Py_GT: r = ord > 0; break;
    case Py_GE: r = ord >= 0; break;
    default: return not_implemented();
  }
  return boolean(r);
}

Ref equality_result(bool equal, int op) {
  switch (op) {
    case Py_LT: return boolean(false);
    case Py_LE: return boolean(equal);
    case Py_EQ: return boolean(equal);
    case Py_NE: return boolean(!equal);
    case Py_GT: return boolean(!equal);
    case Py_GE: return boolean(true);
    default: return not_implemented();
  }
}

}  // namespace vondrel::py
