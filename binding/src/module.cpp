// The module entry: one module object per process, the classes registered in order.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "instance.h"
#include "net.h"
#include "netlist.h"
#include "placement.h"
#include "port.h"
#include "py.h"
#include "types.h"

namespace vondrel::py {
namespace {

// Registration order; a class with a base class comes after its base.
const ClassSpec* const kClasses[] = {
    &kNetlistPortSpec,
    &kPortRefSpec,
    &kPortArrayRefSpec,
    &kNetlistArraySpec,
    &kNetlistInstanceSpec,
    &kNetSpec,
    &kNetIterSpec,
    &kNetlistSpec,
    &kPlacementSpec,
    &kPlacedInstanceSpec,
    &kPlacedNetlistSpec,
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "",       // __doc__
    0,        // no per-module state
    nullptr,  // no module-level functions
    nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> recorded_interpreter{-1};
PyObject* module_cell = nullptr;  // the one module object, kept for the life of the process

const char* short_name(const char* full_name) {
  const char* dot = full_name;
  for (const char* p = full_name; *p; ++p)
    if (*p == '.') dot = p + 1;
  return dot;
}

// Builds the class, names it in `all` (the module's __all__) and sets it on the module.
bool register_class(PyObject* module, PyObject* all, const ClassSpec& spec) {
  PyTypeObject* type = build_class(spec);
  if (!type) return false;
  const char* name = short_name(spec.full_name);
  Ref text = str(name);
  if (!text || PyList_Append(all, text.get()) < 0) return false;
  return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

PyObject* init() {
  std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return nullptr;
  std::int64_t expected = -1;
  if (!recorded_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    raise_false(PyExc_ImportError,
                    "vondrel._native does not support sub-interpreters: it is bound to the first interpreter that imported it");
    return nullptr;
  }
  if (module_cell) return Ref::borrow(module_cell).release();
  Ref module = Ref::steal(PyModule_Create(&module_def));
  if (!module) return nullptr;
  Ref all = Ref::steal(PyList_New(0));
  if (!all || PyObject_SetAttrString(module.get(), "__all__", all.get()) < 0) return nullptr;
  for (const ClassSpec* spec : kClasses) {
    if (!register_class(module.get(), all.get(), *spec)) return nullptr;
  }
  module_cell = Ref::borrow(module.get()).release();
  return module.release();
}

}  // namespace
}  // namespace vondrel::py

PyMODINIT_FUNC PyInit__native(void) {
  try {
    return vondrel::py::init();
  } catch (...) {
    vondrel::py::set_error_from_exception();
    return nullptr;
  }
}
