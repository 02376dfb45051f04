#include "types.h"

namespace vondrel::py {

PyBase* alloc_object(PyTypeObject* type) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* o = alloc(type, 0);  // zeroed, header set, a reference to a heap type taken
  if (!o) return nullptr;
  auto* b = reinterpret_cast<PyBase*>(o);
  b->borrow = 0;
  return b;
}

PyTypeObject* build_class(const ClassSpec& spec) {
  if (*spec.type) return *spec.type;

  std::vector<PyType_Slot> slots;
  slots.reserve(spec.slots.size() + 5);
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(spec.dealloc)});
  if (spec.doc) slots.push_back({Py_tp_doc, const_cast<char*>(spec.doc)});
  if (spec.methods) slots.push_back({Py_tp_methods, spec.methods});
  if (spec.getset) slots.push_back({Py_tp_getset, spec.getset});
  for (const PyType_Slot& s : spec.slots) slots.push_back(s);
  slots.push_back({0, nullptr});

  PyType_Spec ts{};
  ts.name = spec.full_name;
  ts.basicsize = spec.basicsize;
  ts.itemsize = 0;
  ts.flags = Py_TPFLAGS_DEFAULT | (spec.subclassable ? Py_TPFLAGS_BASETYPE : 0);
  ts.slots = slots.data();

  Ref bases;
  if (spec.base) {
    if (!*spec.base) {
      raise_false(PyExc_SystemError, "base class not registered");
      return nullptr;
    }
    bases = Ref::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(*spec.base)));
    if (!bases) return nullptr;
  }
  PyObject* type = PyType_FromSpecWithBases(&ts, bases.get());
  if (!type) return nullptr;
  // Kept for the life of the process.
  *spec.type = reinterpret_cast<PyTypeObject*>(type);
  return *spec.type;
}

}  // namespace vondrel::py
