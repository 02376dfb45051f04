// An embedded interpreter for the binding's C++ tests, and a namespace of test classes.
#include "embed.h"

#include <gtest/gtest.h>

namespace vondrel::py::test {

namespace {
class Interpreter : public ::testing::Environment {
 public:
  void SetUp() override { Py_InitializeEx(0); }
  void TearDown() override { Py_FinalizeEx(); }
};

[[maybe_unused]] const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new Interpreter);

constexpr const char* kPrelude =
    "import collections, collections.abc, types, math\n"
    "class Seq(collections.abc.Sequence):\n"
    "    def __init__(self, *items): self.items = items\n"
    "    def __getitem__(self, i): return self.items[i]\n"
    "    def __len__(self): return len(self.items)\n"
    "class Dups(collections.abc.Mapping):\n"
    "    '''A mapping whose keys() repeats keys.'''\n"
    "    def __init__(self, *pairs): self.pairs = pairs\n"
    "    def __getitem__(self, k): return dict(self.pairs)[k]\n"
    "    def __iter__(self): return iter(k for k, _ in self.pairs)\n"
    "    def __len__(self): return len(self.pairs)\n"
    "    def keys(self): return [k for k, _ in self.pairs]\n"
    "    def values(self): return [v for _, v in self.pairs]\n"
    "class Broken(collections.abc.Mapping):\n"
    "    def __getitem__(self, k): raise KeyError(k)\n"
    "    def __iter__(self): return iter(())\n"
    "    def __len__(self): return 0\n"
    "    def keys(self): raise RuntimeError('no keys')\n"
    "class Text(str): pass\n"
    "class Outer:\n"
    "    class Inner: pass\n"
    "class Real:\n"
    "    def __float__(self): return 2.5\n"
    "class Falsy:\n"
    "    def __bool__(self): raise ValueError('no truth')\n"
    "def nested(depth):\n"
    "    v = []\n"
    "    for _ in range(depth): v = [v]\n"
    "    return v\n"
    "loop = []\n"
    "loop.append(loop)\n";

}  // namespace

Ref run(const char* source, int mode, PyObject* ns) {
  Ref code = Ref::steal(Py_CompileString(source, "<test>", mode));
  if (!code) return {};
  return Ref::steal(PyEval_EvalCode(code.get(), ns, ns));
}

PyObject* globals() {
  static PyObject* g = [] {
    PyObject* d = PyDict_New();
    PyDict_SetItemString(d, "__builtins__", PyEval_GetBuiltins());
    Ref r = run(kPrelude, Py_file_input, d);
    if (!r) PyErr_Print();
    return d;
  }();
  return g;
}

Ref eval(const char* expr) {
  Ref r = run(expr, Py_eval_input, globals());
  if (!r) PyErr_Print();
  return r;
}

std::string repr_of(const Ref& obj) {
  Ref s = Ref::steal(PyObject_Repr(obj.get()));
  std::string_view text;
  if (!s || !utf8(s.get(), text)) return "<repr failed>";
  return std::string(text);
}


}  // namespace vondrel::py::test
