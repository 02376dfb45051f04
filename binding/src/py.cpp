#include "py.h"

#include <exception>

namespace vondrel::py {

std::string type_name(PyObject* obj) {
  Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
  std::string_view text;
  if (!name || !utf8(name.get(), text)) {
    PyErr_Clear();
    return "<unknown>";
  }
  return std::string(text);
}

namespace {

struct Fetched {
  Ref type, value, traceback;
  Fetched() {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    type = Ref::steal(t);
    value = Ref::steal(v);
    traceback = Ref::steal(tb);
  }
  std::string message() const {
    if (!value) return {};
    Ref s = Ref::steal(PyObject_Str(value.get()));
    std::string_view text;
    if (!s || !utf8(s.get(), text)) {
      PyErr_Clear();
      return "<exception str() failed>";
    }
    return std::string(text);
  }
};

}  // namespace

std::string take_error_text() {
  Fetched e;
  std::string out = e.type ? type_name(e.value ? e.value.get() : e.type.get()) : std::string("SystemError");
  out += ": ";
  out += e.message();
  return out;
}

std::string take_error_message() {
  Fetched e;
  return e.message();
}

bool raise_false(PyObject* type, std::string_view message) {
  Ref text = str(message);
  // The message travels as the exception's single argument, as PyErr_SetString gives it.
  if (text) PyErr_SetObject(type, text.get());
  return false;
}

bool pending_error_is(PyObject* type) {
  PyObject* t = PyErr_Occurred();
  return t == type;
}

void set_error_from_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_false(PyExc_SystemError, e.what());
  } catch (...) {
    raise_false(PyExc_SystemError, "unexpected internal error");
  }
}

}  // namespace vondrel::py
