// The Python-object carrier against an embedded interpreter: each case evaluates a Python
// expression, reads it as a record or value, and writes the result back (its repr) or
// reports the converter's message.
#include <Python.h>
#include <gtest/gtest.h>

#include <string>

#include "../src/py.h"
#include "embed.h"
#include "../src/pycarrier.h"
#include "vondrel/json_value.h"
#include "vondrel/wire.h"

namespace vondrel::py {
using namespace test;
namespace {

// repr of the value written back, or "error: " and the message.
template <class T>
std::string round_trip(const char* expr) {
  Ref obj = eval(expr);
  if (!obj) return "<eval failed>";
  T value{};
  std::string error;
  if (!read_py(obj.get(), value, error)) {
    EXPECT_FALSE(PyErr_Occurred()) << expr;
    PyErr_Clear();
    return "error: " + error;
  }
  Ref back = write_py(value, error);
  if (!back) return "<write failed: " + error + ">";
  return repr_of(back);
}

struct Case {
  const char* expr;
  const char* expected;
};

void check(std::string (*fn)(const char*), std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(fn(c.expr), c.expected) << c.expr;
}

TEST(PyCarrier, JsonValues) {
  check(&round_trip<JsonValue>,
        {
            {"None", "None"},
            {"True", "True"},
            {"-1", "-1"},
            {"2**64 - 1", "18446744073709551615"},
            {"-(2**63)", "-9223372036854775808"},
            {"2**64", "error: JSON number out of range"},
            {"-(2**63) - 1", "error: JSON number out of range"},
            {"2**200", "error: OverflowError: Python int too large to convert to C long"},
            {"1.5", "1.5"},
            {"1.0", "1.0"},
            {"float('nan')", "None"},
            {"-math.inf", "None"},
            {"[1, (2, 'x'), []]", "[1, [2, 'x'], []]"},
            {"{'b': 1, 'a': [True, None, 2.5]}", "{'a': [True, None, 2.5], 'b': 1}"},
            {"{'é': 1, 'z': 2, 'A': 3}", "{'A': 3, 'z': 2, 'é': 1}"},
            {"Dups(('a', 1), ('a', 2))", "{'a': 2}"},
            {"{1: 'x'}", "error: unexpected type: 'int' object cannot be converted to 'PyString'"},
            {"b'x'", "error: invalid type: byte array, expected any valid JSON value"},
            {"bytearray(b'x')", "error: unexpected type: 'bytearray' object cannot be converted to 'PyBytes'"},
            {"frozenset([7])", "[7]"},
            {"Seq(1, 'a')", "[1, 'a']"},
            {"collections.UserList([1])", "[1]"},
            {"types.MappingProxyType({'k': 1})", "{'k': 1}"},
            {"collections.OrderedDict(b=1, a=2)", "{'a': 2, 'b': 1}"},
            {"object()", "error: unsupported type object"},
            {"Outer.Inner()", "error: unsupported type Outer.Inner"},
            {"1j", "error: unsupported type complex"},
            {"Broken()", "error: RuntimeError: no keys"},
        });
  // A set reads in its iteration order.
  Ref order = eval("list({3, 1, 2})");
  EXPECT_EQ(round_trip<JsonValue>("{3, 1, 2}"), repr_of(order));
}

TEST(PyCarrier, DeepAndCyclicValuesFailCleanly) {
  // nested(n) nests n + 1 lists: 127 levels are read and written back, 128 are not.
  const std::string too_deep = std::string("error: ") + kNestingExceeded;
  EXPECT_EQ(round_trip<JsonValue>("nested(100000)"), too_deep);
  EXPECT_EQ(round_trip<JsonValue>("nested(127)"), too_deep);
  EXPECT_EQ(round_trip<NetMember>("loop"), too_deep);
  EXPECT_EQ(round_trip<JsonValue>("nested(126)"), repr_of(eval("nested(126)")));
}

TEST(PyCarrier, JsonObjects) {
  check(&round_trip<JsonObject>,
        {
            {"{'b': [1], 'a': None}", "{'a': None, 'b': [1]}"},
            {"{}", "{}"},
            {"{1: 'x'}", "error: unexpected type: 'int' object cannot be converted to 'PyString'"},
            {"[]", "error: unexpected type: 'list' object cannot be converted to 'Mapping'"},
            {"None", "error: unexpected type: 'NoneType' object cannot be converted to 'Mapping'"},
        });
}

TEST(PyCarrier, NetMembers) {
  constexpr const char* kNoVariant = "error: data did not match any variant of untagged enum NetMember";
  check(&round_trip<NetMember>,
        {
            {"{'name': 'a'}", "{'name': 'a'}"},
            {"{'instance': 'u1', 'port': 'a'}", "{'instance': 'u1', 'port': 'a'}"},
            {"('u1', 'a', 2, 1)", "{'instance': 'u1', 'port': 'a', 'ia': 2, 'ib': 1}"},
            {"['a']", "{'name': 'a'}"},
            {"{b'name': 'a'}", "{'name': 'a'}"},
            {"{0: 'a'}", "{'name': 'a'}"},
            {"{'name': b'a'}", "{'name': 'a'}"},
            {"{'instance': 'u1', 'port': 'a', 'ia': 1, 'ib': 1}", "{'instance': 'u1', 'port': 'a', 'ia': 1, 'ib': 1}"},
            {"{'port': 'a', 'instance': 'u1', 'ib': -(2**63), 'ia': 2**63 - 1}",
             "{'instance': 'u1', 'port': 'a', 'ia': 9223372036854775807, 'ib': -9223372036854775808}"},
            {"Seq('u', 'p')", "{'instance': 'u', 'port': 'p'}"},
            {"{'port': 'p', 'instance': 'u', 'ib': 1, 'ia': -1}", "{'instance': 'u', 'port': 'p', 'ia': -1, 'ib': 1}"},
            {"{'name': Text('a')}", "{'name': 'a'}"},
            {"{'instance': 'u', 'name': 'a'}", kNoVariant},
            {"{'instance': 'u', 'port': 'p', 'ia': 1, 'ic': 1}", kNoVariant},
            {"{'name': '\\ud800'}",
             "error: UnicodeEncodeError: 'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"},
            {"{'instance': 'u1', 'port': 'a', 'ia': True, 'ib': 1}", kNoVariant},
            {"{'instance': 'u1', 'port': 'a', 'ia': 1.0, 'ib': 1}", kNoVariant},
            {"{'instance': 'u1', 'port': 'a', 'ia': 2**63, 'ib': 1}", kNoVariant},
            {"{'name': b'\\xff'}", kNoVariant},
            {"{'name': 'a', 'extra': 1}", kNoVariant},
            {"{'name': 'a', 'name': 'b'}", "{'name': 'b'}"},
            {"{'instance': 'u1'}", kNoVariant},
            {"['u1', 'a', 1]", kNoVariant},
            {"['u1', 'a', 1, 2, 3]", kNoVariant},
            {"None", kNoVariant},
            {"5", kNoVariant},
            {"{4: 'a'}", kNoVariant},
            {"{'instance': 'u1', 'port': 'a', 'ia': 2**64, 'ib': 1}",
             "error: invalid type: integer `18446744073709551616` as u128, expected any value"},
            {"['u', 'p', -(2**64), 1]", "error: invalid type: integer `-18446744073709551616` as i128, expected any value"},
            {"['u', 'p', 2**130, 1]", "error: OverflowError: Python int too large to convert to C long"},
            {"[object()]", "error: unsupported type object"},
            {"[bytearray(b'a')]", "error: unexpected type: 'bytearray' object cannot be converted to 'PyBytes'"},
        });
}

TEST(PyCarrier, Records) {
  check(&round_trip<NetlistArray>,
        {
            {"{'na': True, 'nb': 2}", "{'na': 1, 'nb': 2}"},
            {"{'na': 1.5, 'nb': 2}", "error: TypeError: 'float' object cannot be interpreted as an integer"},
            {"{'na': 1, 'nb': 2**63}", "error: OverflowError: Python int too large to convert to C long"},
            {"{'na': 1}", "error: missing field `nb`"},
            {"{'na': 1, 'nb': 2, 'nc': 1}", "error: unknown field `nc`, expected `na` or `nb`"},
            {"Dups(('na', 1), ('na', 2), ('nb', 1))", "error: duplicate field `na`"},
            {"[1, 2]", "error: unexpected type: 'list' object cannot be converted to 'Mapping'"},
        });
  check(&round_trip<NetlistPort>, {
                                      {"{'name': 'a', 1: 'b'}", "error: dict keys must have type str"},
                                      {"{'name': 1}", "error: unexpected type: 'int' object cannot be converted to 'PyString'"},
                                      {"types.MappingProxyType({'name': 'm'})", "{'name': 'm'}"},
                                  });
}

TEST(PyCarrier, InstanceRecords) {
  check(&round_trip<NetlistInstanceWire>,
        {
            {"{'kcl': 'k', 'component': 'c'}", "{'kcl': 'k', 'component': 'c', 'settings': None}"},
            {"{'component': 'c', 'kcl': 'k', 'settings': {'b': 1, 'a': 2}, 'info': {'z': 1}, 'array': {'na': 2, 'nb': 1}}",
             "{'info': {'z': 1}, 'kcl': 'k', 'component': 'c', 'settings': {'a': 2, 'b': 1}, 'array': {'na': 2, 'nb': 1}}"},
            {"{'kcl': 'k', 'component': 'c', 'array': None, 'info': {}}", "{'kcl': 'k', 'component': 'c', 'settings': None}"},
            {"{'kcl': 'k', 'component': 'c', 'settings': float('nan')}", "{'kcl': 'k', 'component': 'c', 'settings': None}"},
            {"{'kcl': 'k', 'component': 'c', 'settings': 2**64}", "error: JSON number out of range"},
            {"{'kcl': 'k', 'component': 'c', 'info': {1: 'x'}}",
             "error: unexpected type: 'int' object cannot be converted to 'PyString'"},
            {"{'kcl': 'k', 'component': 'c', 'info': None}",
             "error: unexpected type: 'NoneType' object cannot be converted to 'Mapping'"},
            {"{}", "error: missing field `kcl`"},
            {"{'kcl': 'k', 'component': 'c', 'name': 'x'}",
             "error: unknown field `name`, expected one of `info`, `kcl`, `component`, `settings`, `array`"},
        });
}

TEST(PyCarrier, NetlistRecords) {
  check(&round_trip<NetlistWire>,
        {
            {"{}", "{'instances': {}, 'nets': [], 'ports': []}"},
            {"{'nets': {(('a',), ('u', 'p'))}}",
             "{'instances': {}, 'nets': [[{'name': 'a'}, {'instance': 'u', 'port': 'p'}]], 'ports': []}"},
            {"{'nets': [[{'name': 'b'}, {'name': 'a'}]]}",  // members keep the order they were read in
             "{'instances': {}, 'nets': [[{'name': 'b'}, {'name': 'a'}]], 'ports': []}"},
            {"{'ports': ({'name': 'p'},), 'nets': Seq(Seq(['a']))}",
             "{'instances': {}, 'nets': [[{'name': 'a'}]], 'ports': [{'name': 'p'}]}"},
            {"{'ports': 'ab'}", "error: unexpected type: 'str' object cannot be converted to 'Mapping'"},
            {"{'nets': 5}", "error: unexpected type: 'int' object cannot be converted to 'Sequence'"},
            {"{'nets': [5]}", "error: unexpected type: 'int' object cannot be converted to 'Sequence'"},
            {"{'nets': [[5]]}", "error: data did not match any variant of untagged enum NetMember"},
            {"{'instances': []}", "error: unexpected type: 'list' object cannot be converted to 'Mapping'"},
            {"{'instances': {1: {}}}", "error: unexpected type: 'int' object cannot be converted to 'PyString'"},
            {"{'instances': Dups(('a', {'kcl': 'x', 'component': 'c1'}), ('b', {'kcl': 'x', 'component': 'c2'}),"
             " ('a', {'kcl': 'y', 'component': 'c3'}))}",
             "{'instances': {'a': {'kcl': 'y', 'component': 'c3', 'settings': None}, "
             "'b': {'kcl': 'x', 'component': 'c2', 'settings': None}}, 'nets': [], 'ports': []}"},
            {"{'extras': {}}", "error: unknown field `extras`, expected one of `instances`, `nets`, `ports`"},
        });
  // A set of nets reads one net per element, in iteration order.
  std::string got = round_trip<NetlistWire>("{'nets': {(('a',),), (('b',),), (('c',),)}}");
  Ref order = eval("[[{'name': n[0][0]}] for n in {(('a',),), (('b',),), (('c',),)}]");
  EXPECT_EQ(got, "{'instances': {}, 'nets': " + repr_of(order) + ", 'ports': []}");
}

TEST(PyCarrier, PlacementRecords) {
  check(&round_trip<BBox>,
        {
            {"{'left': 0, 'bottom': 0, 'right': 1, 'top': 1, 'layer': object()}",
             "{'left': 0.0, 'bottom': 0.0, 'right': 1.0, 'top': 1.0}"},
            {"{'left': 0, 'bottom': 0, 'right': 1}", "error: missing field `top`"},
            {"{'top': 0, 'right': 0}", "error: missing field `left`"},
            {"{'left': Real(), 'bottom': True, 'right': 2**70, 'top': -0.0}",
             "{'left': 2.5, 'bottom': 1.0, 'right': 1.1805916207174113e+21, 'top': -0.0}"},
            {"{'left': 'a', 'bottom': 0, 'right': 1, 'top': 1}", "error: TypeError: must be real number, not str"},
        });
  check(&round_trip<Placement>,
        {
            {"{'x': 1, 'y': 2, 'orientation': 90, 'mirror': 1, 'bbox': {'left': 0, 'bottom': 0, 'right': 1, 'top': 1}}",
             "{'x': 1.0, 'y': 2.0, 'orientation': 90.0, 'mirror': True, "
             "'bbox': {'left': 0.0, 'bottom': 0.0, 'right': 1.0, 'top': 1.0}}"},
            {"{'x': float('nan'), 'y': math.inf, 'orientation': 0, 'mirror': '', 'bbox': {'left': 0, 'bottom': 0, "
             "'right': 0, 'top': 0}}",
             "{'x': nan, 'y': inf, 'orientation': 0.0, 'mirror': False, "
             "'bbox': {'left': 0.0, 'bottom': 0.0, 'right': 0.0, 'top': 0.0}}"},
            {"{'x': 0, 'y': 0, 'orientation': 0, 'mirror': Falsy(), 'bbox': {}}", "error: ValueError: no truth"},
            {"{'x': 0, 'y': 0, 'orientation': 0}", "error: missing field `mirror`"},
            {"{'x': 0, 'scale': 1}", "error: unknown field `scale`, expected one of `x`, `y`, `orientation`, `mirror`, `bbox`"},
            {"{'x': 0, 'y': 0, 'orientation': 0, 'mirror': 0, 'bbox': [0, 0, 1, 1]}",
             "error: unexpected type: 'list' object cannot be converted to 'Mapping'"},
        });
  check(&round_trip<PlacedInstanceWire>,
        {
            {"{'kcl': 'k', 'component': 'c', 'placement': {'x': 0, 'y': 0, 'orientation': 0, 'mirror': False, "
             "'bbox': {'left': 0, 'bottom': 0, 'right': 0, 'top': 0}}}",
             "{'kcl': 'k', 'component': 'c', 'settings': None, 'cell': '', 'placement': {'x': 0.0, 'y': 0.0, "
             "'orientation': 0.0, 'mirror': False, 'bbox': {'left': 0.0, 'bottom': 0.0, 'right': 0.0, 'top': 0.0}}}"},
            {"{'kcl': 'k', 'component': 'c'}", "error: missing field `placement`"},
            {"{'kcl': 'k', 'component': 'c', 'placement': None}",
             "error: unexpected type: 'NoneType' object cannot be converted to 'Mapping'"},
            {"{'kcl': 'k', 'component': 'c', 'cell': 3, 'placement': {}}",
             "error: unexpected type: 'int' object cannot be converted to 'PyString'"},
        });
  check(&round_trip<PlacedNetlistWire>,
        {
            {"{}", "{'instances': {}, 'nets': [], 'ports': []}"},
            {"{'extras': {}}", "error: unknown field `extras`, expected one of `instances`, `nets`, `ports`"},
        });
}

}  // namespace
}  // namespace vondrel::py
