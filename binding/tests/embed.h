// Helpers of the binding's C++ tests: evaluate Python source in a shared namespace that
// holds a few test classes (see embed.cpp), and render objects.
#pragma once

#include <Python.h>

#include <string>

#include "../src/py.h"

namespace vondrel::py::test {

// Runs `source` (Py_file_input or Py_eval_input) in namespace `ns`.
Ref run(const char* source, int mode, PyObject* ns);
// The shared namespace (borrowed).
PyObject* globals();
// Evaluates an expression in the shared namespace (prints and clears a failure).
Ref eval(const char* expr);
std::string repr_of(const Ref& obj);

}  // namespace vondrel::py::test
