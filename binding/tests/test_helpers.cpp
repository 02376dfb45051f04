// The shared helpers and the argument binder, against an embedded interpreter.
#include <Python.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../src/args.h"
#include "../src/helpers.h"
#include "../src/object.h"
#include "embed.h"

namespace vondrel::py {
using namespace test;
namespace {

// The pending exception as "ClassName: message" (cleared), or "" when none is pending.
std::string pending() { return PyErr_Occurred() ? take_error_text() : std::string(); }

TEST(CoreError, KeyNotFoundIsAKeyErrorWithTheBareText) {
  EXPECT_FALSE(core_error(Error::key_not_found("u1")));
  PyObject *t, *v, *tb;
  PyErr_Fetch(&t, &v, &tb);
  PyErr_NormalizeException(&t, &v, &tb);
  Ref type = Ref::steal(t), value = Ref::steal(v), trace = Ref::steal(tb);
  EXPECT_EQ(type.get(), PyExc_KeyError);
  Ref args = Ref::steal(PyObject_GetAttrString(value.get(), "args"));
  EXPECT_EQ(repr_of(args), "('u1',)");
}

TEST(CoreError, OtherVariantsAreValueErrorsWithTheDisplayText) {
  Error e = Error::undefined_port("p");
  std::string text = e.message();
  EXPECT_FALSE(core_error(std::move(e)));
  EXPECT_EQ(pending(), "ValueError: " + text);
}

TEST(WarnDeprecated, IssuesOneDeprecationWarningPerCall) {
  Ref ns = Ref::steal(PyDict_New());
  PyDict_SetItemString(ns.get(), "__builtins__", PyEval_GetBuiltins());
  ASSERT_TRUE(run("import warnings\nctx = warnings.catch_warnings(record=True)\nlog = ctx.__enter__()\n"
                  "warnings.simplefilter('always')\n",
                  Py_file_input, ns.get()));
  EXPECT_TRUE(warn_deprecated("old name"));
  EXPECT_TRUE(warn_deprecated("old name"));
  Ref seen = run("[(w.category.__name__, str(w.message)) for w in log]", Py_eval_input, ns.get());
  EXPECT_EQ(repr_of(seen), "[('DeprecationWarning', 'old name'), ('DeprecationWarning', 'old name')]");

  EXPECT_TRUE(warn(PyExc_UserWarning, "skipped"));
  seen = run("[(w.category.__name__, str(w.message)) for w in log[2:]]", Py_eval_input, ns.get());
  EXPECT_EQ(repr_of(seen), "[('UserWarning', 'skipped')]");

  ASSERT_TRUE(run("warnings.simplefilter('error')\n", Py_file_input, ns.get()));
  EXPECT_FALSE(warn_deprecated("old name"));
  EXPECT_EQ(pending(), "DeprecationWarning: old name");
  ASSERT_TRUE(run("ctx.__exit__(None, None, None)\n", Py_file_input, ns.get()));
}

TEST(Comparison, EqualityOnlyFamily) {
  // op:          <      <=     ==     !=     >      >=
  const bool equal[] = {false, true, true, false, false, true};
  const bool differ[] = {false, false, false, true, true, true};
  for (int op = Py_LT; op <= Py_GE; ++op) {
    EXPECT_EQ(equality_result(true, op).get(), equal[op] ? Py_True : Py_False) << op;
    EXPECT_EQ(equality_result(false, op).get(), differ[op] ? Py_True : Py_False) << op;
  }
  EXPECT_EQ(equality_result(true, 6).get(), Py_NotImplemented);
  EXPECT_EQ(ordering_result(std::strong_ordering::less, 99).get(), Py_NotImplemented);
}

TEST(Borrow, SharedAndExclusiveExcludeEachOther) {
  PyBase obj{};
  auto* o = reinterpret_cast<PyObject*>(&obj);
  {
    Shared a(o), b(o);
    EXPECT_TRUE(a && b);
    Exclusive x(o);
    EXPECT_FALSE(x);
    EXPECT_EQ(pending(), "RuntimeError: Already borrowed");
  }
  {
    Exclusive x(o);
    EXPECT_TRUE(x);
    Shared a(o);
    EXPECT_FALSE(a);
    EXPECT_EQ(pending(), "RuntimeError: Already mutably borrowed");
    Exclusive y(o);
    EXPECT_FALSE(y);
    EXPECT_EQ(pending(), "RuntimeError: Already borrowed");
  }
  EXPECT_EQ(obj.borrow, 0);  // every guard released what it took, failed ones nothing
  Exclusive again(o);
  EXPECT_TRUE(again);
}

TEST(Hash, MinusOneIsReserved) {
  EXPECT_EQ(hash_value(~0ull), -2);
  EXPECT_EQ(hash_value(5), 5);
  EXPECT_EQ(hash_value(1ull << 63), static_cast<Py_hash_t>(INT64_MIN));
}

// Binds a call given as Python source "(args...), {kwargs...}" through the fastcall path
// and the tuple/dict path; both must agree. Returns "ok: a=.., b=.." or the TypeError text.
std::string bind_call(const Signature& sig, const char* call) {
  Ref parts = eval(call);
  PyObject* args = PyTuple_GetItem(parts.get(), 0);
  PyObject* kwargs = PyTuple_GetItem(parts.get(), 1);
  std::vector<PyObject*> flat;
  for (Py_ssize_t i = 0; i < PyTuple_Size(args); ++i) flat.push_back(PyTuple_GetItem(args, i));
  Ref names = Ref::steal(PyTuple_New(PyDict_Size(kwargs)));
  Py_ssize_t pos = 0, k = 0;
  PyObject *key, *value;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    PyTuple_SetItem(names.get(), k++, Ref::borrow(key).release());
    flat.push_back(value);
  }
  PyObject* out1[Signature::kMax];
  PyObject* out2[Signature::kMax];
  FastArgs fa{flat.data(), PyTuple_Size(args), k ? names.get() : nullptr};
  bool ok1 = sig.bind(fa, out1);
  std::string e1 = pending();
  bool ok2 = sig.bind(args, PyDict_Size(kwargs) ? kwargs : nullptr, out2);
  std::string e2 = pending();
  EXPECT_EQ(ok1, ok2) << call;
  EXPECT_EQ(e1, e2) << call;
  if (!ok1) return e1;
  std::string r = "ok:";
  for (int i = 0; i < sig.size(); ++i) {
    EXPECT_EQ(out1[i], out2[i]) << call;
    r += " " + (out1[i] ? repr_of(Ref::borrow(out1[i])) : std::string("-"));
  }
  return r;
}

TEST(Signature, BindsAndReportsLikeTheInterpreter) {
  Signature f("C.f()", {"a", "b"}, 1, {"k", "m"}, 1);
  struct {
    const char* call;
    const char* expected;
  } cases[] = {
      {"((1,), {'k': 2})", "ok: 1 - 2 -"},
      {"((1, 2), {'m': 4, 'k': 3})", "ok: 1 2 3 4"},
      {"((), {'b': 2, 'a': 1, 'k': 0})", "ok: 1 2 0 -"},
      {"((1, 2, 3), {})", "TypeError: C.f() takes from 1 to 2 positional arguments but 3 were given"},
      {"((), {'k': 1})", "TypeError: C.f() missing 1 required positional argument: 'a'"},
      {"((1,), {})", "TypeError: C.f() missing 1 required keyword argument: 'k'"},
      {"((1,), {'a': 1, 'k': 1})", "TypeError: C.f() got multiple values for argument 'a'"},
      {"((1,), {'k': 1, 'zz': 1})", "TypeError: C.f() got an unexpected keyword argument 'zz'"},
  };
  for (const auto& c : cases) EXPECT_EQ(bind_call(f, c.call), c.expected) << c.call;

  Signature g("g()", {"a", "b", "c"}, 3);
  EXPECT_EQ(bind_call(g, "((), {})"), "TypeError: g() missing 3 required positional arguments: 'a', 'b', and 'c'");
  EXPECT_EQ(bind_call(g, "((1,), {'c': 1})"), "TypeError: g() missing 1 required positional argument: 'b'");
  EXPECT_EQ(bind_call(g, "((1, 2, 3, 4), {})"), "TypeError: g() takes 3 positional arguments but 4 were given");
  Signature h("h()", {}, 0);
  EXPECT_EQ(bind_call(h, "((1,), {})"), "TypeError: h() takes 0 positional arguments but 1 was given");
}

TEST(Conversions, Messages) {
  Ref one = eval("1");
  Ref text = eval("'x'");
  bool b;
  EXPECT_FALSE(arg_bool(one.get(), "flag", b));
  EXPECT_EQ(pending(), "TypeError: argument 'flag': 'int' object cannot be converted to 'PyBool'");
  EXPECT_TRUE(arg_bool(eval("True").get(), "flag", b) && b);
  EXPECT_FALSE(arg_instance(text.get(), &PyLong_Type, "NetlistArray", "array"));
  EXPECT_EQ(pending(), "TypeError: argument 'array': 'str' object cannot be converted to 'NetlistArray'");
  std::optional<std::string> opt = "keep";
  EXPECT_TRUE(arg_opt_string(Py_None, "s", opt) && !opt);
  EXPECT_TRUE(arg_opt_string(nullptr, "s", opt) && !opt);
  EXPECT_TRUE(arg_opt_string(text.get(), "s", opt) && opt == "x");
}

}  // namespace
}  // namespace vondrel::py
