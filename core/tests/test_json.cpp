#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "vondrel/json.h"
#include "vondrel/wire.h"

namespace vondrel {
namespace {

// The reader's message (without the "deserialize: " of the error display), or "ok".
template <class T>
std::string read_error(std::string_view text) {
  T value{};
  Status s = read_json(text, value);
  if (s.ok()) return "ok";
  EXPECT_EQ(s.error().kind(), Error::Kind::Deserialize);
  std::string m = s.error().message();
  const std::string prefix = "deserialize: ";
  EXPECT_EQ(m.compare(0, prefix.size(), prefix), 0) << m;
  return m.substr(prefix.size());
}

template <class T>
T read_ok(std::string_view text) {
  T value{};
  Status s = read_json(text, value);
  EXPECT_TRUE(s.ok()) << text << ": " << (s.ok() ? "" : s.error().message());
  return value;
}

template <class T>
std::string to_json(const T& value) {
  std::string out;
  Status s = write_json(out, value);
  return s.ok() ? out : "error: " + s.error().message();
}

// --- syntax ---------------------------------------------------------------------------

struct SyntaxCase {
  const char* text;
  const char* message;
};

TEST(JsonReader, SyntaxMessagesAndPositions) {
  // Read as a netlist record; settings give room for any value.
  const SyntaxCase cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"[{},[", "EOF while parsing a list at line 1 column 5"},
      {"{\"instances\":{\"a\"", "EOF while parsing an object at line 1 column 17"},
      {"{\"instances\"", "EOF while parsing an object at line 1 column 12"},
      {"{\"instances\":{\"a", "EOF while parsing a string at line 1 column 16"},
      {"{\"instances\":", "EOF while parsing a value at line 1 column 13"},
      {"{\"instances\" {}", "expected `:` at line 1 column 14"},
      {"[{},[] []]", "expected `,` or `]` at line 1 column 8"},
      {"{\"instances\":{} \"nets\":[]}", "expected `,` or `}` at line 1 column 17"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":nul}}}",
       "expected ident at line 1 column 60"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":tru", "EOF while parsing a value at line 1 column 59"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":+1}}}",
       "expected value at line 1 column 57"},
      {"{\"instances\":{\"a\\q\":{}}}", "invalid escape at line 1 column 18"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":01}}}",
       "invalid number at line 1 column 58"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":-x}}}",
       "invalid number at line 1 column 58"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":1.e5}}}",
       "invalid number at line 1 column 59"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":1e+}}}",
       "invalid number at line 1 column 60"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":1e400}}}",
       "number out of range at line 1 column 61"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":\"\\ud800x\"}}}",
       "unexpected end of hex escape at line 1 column 64"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":\"\\udc00\"}}}",
       "lone leading surrogate in hex escape at line 1 column 63"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":\"\\ud800\\u0041\"}}}",
       "lone leading surrogate in hex escape at line 1 column 69"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":\"\xff\"}}}",
       "invalid unicode code point at line 1 column 59"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":\"\\u12\"}}}",
       "invalid escape at line 1 column 63"},
      {"{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":\"\\u12", "EOF while parsing a string at line 1 column 61"},
      {"{\"instances\":{\"a\x01\":{}}}", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 17"},
      {"{\"instances\":{1:{}}}", "key must be a string at line 1 column 15"},
      {"{\"instances\":{},}", "trailing comma at line 1 column 17"},
      {"[{},[],]", "trailing comma at line 1 column 8"},
      {"{} x", "trailing characters at line 1 column 4"},
      {"{}\n\t\r ", "ok"},
      {"[{},[],[],[]]", "trailing characters at line 1 column 11"},
      {"[{},[],[],]", "trailing comma at line 1 column 11"},
      {"{\n  \"instances\": {},\n  \"nets\": [],\n  \"ports\": [x]\n}", "expected value at line 4 column 13"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_error<NetlistWire>(c.text), c.message) << c.text;
}

TEST(JsonReader, NestingLimit) {
  auto nested = [](int levels) {
    std::string s = "{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":";
    // The record, instances and the instance record are three levels already.
    for (int i = 3; i < levels; ++i) s += '[';
    for (int i = 3; i < levels; ++i) s += ']';
    s += "}}}";
    return s;
  };
  EXPECT_EQ(read_error<NetlistWire>(nested(127)), "ok");
  EXPECT_EQ(read_error<NetlistWire>(nested(128)), "recursion limit exceeded at line 1 column 181");
  // Deep input never recurses past the limit, whatever the shape.
  for (const char* open : {"[", "{\"a\":", "[{\"a\":"}) {
    std::string deep = "{\"instances\":{\"a\":{\"kcl\":\"k\",\"component\":\"c\",\"settings\":";
    for (int i = 0; i < 100000; ++i) deep += open;
    EXPECT_NE(read_error<NetlistWire>(deep).find("recursion limit exceeded"), std::string::npos);
  }
  std::string members = "[[";
  for (int i = 0; i < 200; ++i) members += '[';
  EXPECT_NE(read_error<Net>(members).find("recursion limit exceeded"), std::string::npos);
}

// The writer refuses what the reader would: settings nested so that the document passes the
// limit are not written, whether they are held in arrays or objects.
TEST(JsonWriter, NestingLimit) {
  auto settings = [](int levels, bool objects) {
    JsonValue v = JsonValue::integer(1);
    for (int i = 0; i < levels; ++i) {
      JsonObject o;
      if (objects) o.insert_or_assign("k", std::move(v));
      v = objects ? JsonValue(std::move(o)) : JsonValue(JsonArray{std::move(v)});
    }
    return v;
  };
  for (bool objects : {false, true}) {
    NetlistInstanceWire inst{{}, "k", "c", settings(126, objects), std::nullopt};
    EXPECT_EQ(read_error<NetlistInstanceWire>(to_json(inst)), "ok");
    inst.settings = settings(127, objects);
    EXPECT_EQ(to_json(inst), "error: serialize: recursion limit exceeded");
    // Inside a netlist the instance record sits two levels deeper.
    NetlistWire n;
    n.instances.insert_or_assign("a", NetlistInstanceWire{{}, "k", "c", settings(124, objects), std::nullopt});
    EXPECT_EQ(read_error<NetlistWire>(to_json(n)), "ok");
    n.instances.insert_or_assign("a", NetlistInstanceWire{{}, "k", "c", settings(125, objects), std::nullopt});
    EXPECT_EQ(to_json(n), "error: serialize: recursion limit exceeded");
  }
}

TEST(JsonReader, NumbersInSettings) {
  auto settings = [](const std::string& literal) {
    auto w = read_ok<NetlistInstanceWire>("{\"kcl\":\"k\",\"component\":\"c\",\"settings\":" + literal + "}");
    return w.settings;
  };
  EXPECT_EQ(settings("18446744073709551615"), JsonValue::uinteger(18446744073709551615ull));
  EXPECT_EQ(settings("18446744073709551616"), JsonValue(18446744073709551616.0));
  EXPECT_EQ(settings("-9223372036854775808"), JsonValue::integer(std::numeric_limits<std::int64_t>::min()));
  EXPECT_EQ(settings("-9223372036854775809"), JsonValue(-9223372036854775808.0));
  EXPECT_EQ(settings("1"), JsonValue::uinteger(1));
  EXPECT_EQ(settings("1.0"), JsonValue(1.0));
  EXPECT_EQ(settings("1E2"), JsonValue(100.0));
  EXPECT_EQ(settings("0.1"), JsonValue(0.1));
  EXPECT_EQ(settings("1e-400"), JsonValue(0.0));
  EXPECT_TRUE(std::signbit(std::get<double>(settings("-1e-400").v)));
  EXPECT_EQ(settings("-0"), JsonValue::uinteger(0));
  EXPECT_TRUE(std::signbit(std::get<double>(settings("-0.0").v)));
  EXPECT_EQ(read_ok<NetlistArray>("[-0,1]"), (NetlistArray{0, 1}));
  EXPECT_EQ(settings("0e999999999999999999"), JsonValue(0.0));
  // Correct rounding, also with many digits.
  EXPECT_EQ(settings("2.2250738585072011e-308"), JsonValue(2.2250738585072011e-308));
  EXPECT_EQ(settings("9007199254740993"), JsonValue::uinteger(9007199254740993ull));
  EXPECT_EQ(settings("9007199254740993.0"), JsonValue(9007199254740992.0));
  EXPECT_EQ(settings("0.30000000000000004440892098500626161694526672363281250000001"), JsonValue(0.30000000000000004));
  EXPECT_EQ(read_error<NetlistInstanceWire>("{\"kcl\":\"k\",\"component\":\"c\",\"settings\":-1e99999999999999999999}"),
            "number out of range at line 1 column 61");
  EXPECT_EQ(read_error<NetlistInstanceWire>("{\"kcl\":\"k\",\"component\":\"c\",\"settings\":123456789012345678901234567890e290}"),
            "number out of range at line 1 column 72");
}

TEST(JsonReader, StringsAndEscapes) {
  auto port = read_ok<NetlistPort>(R"({"name":"a\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00\u0000z"})");
  EXPECT_EQ(port.name, std::string("a\"\\/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80\0z", 17));
  EXPECT_EQ(read_ok<NetlistPort>("{\"name\":\"\xc3\xa9\xe2\x82\xac\"}").name, "\xc3\xa9\xe2\x82\xac");
}

// --- records --------------------------------------------------------------------------

TEST(JsonRecords, PortExamples) {
  EXPECT_EQ(read_ok<NetlistPort>("{\"name\":\"a\"}"), NetlistPort{"a"});
  EXPECT_EQ(read_ok<NetlistPort>("[\"a\"]"), NetlistPort{"a"});
  EXPECT_EQ(read_ok<NetlistPort>(" [ \"a\" ] "), NetlistPort{"a"});
  const SyntaxCase cases[] = {
      {"[]", "invalid length 0, expected struct NetlistPort with 1 element at line 1 column 2"},
      {"[\"a\",\"b\"]", "trailing characters at line 1 column 6"},
      {"[\"a\",]", "trailing comma at line 1 column 6"},
      {"{}", "missing field `name` at line 1 column 2"},
      {"{\"nme\":\"a\"}", "unknown field `nme`, expected `name` at line 1 column 6"},
      {"{\"name\":\"a\",\"name\":\"b\"}", "duplicate field `name` at line 1 column 18"},
      {"{\"name\":1}", "invalid type: integer `1`, expected a string at line 1 column 9"},
      {"{\"name\":[1]}", "invalid type: sequence, expected a string at line 1 column 8"},
      {"{\"name\":{}}", "invalid type: map, expected a string at line 1 column 8"},
      {"null", "invalid type: null, expected struct NetlistPort at line 1 column 4"},
      {"\"a\\tb\"", "invalid type: string \"a\\tb\", expected struct NetlistPort at line 1 column 6"},
      {"true", "invalid type: boolean `true`, expected struct NetlistPort at line 1 column 4"},
      {"-2.5", "invalid type: floating point `-2.5`, expected struct NetlistPort at line 1 column 4"},
      {"{\"name\":\"a\"", "EOF while parsing an object at line 1 column 11"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_error<NetlistPort>(c.text), c.message) << c.text;
}

TEST(JsonRecords, ReferencesAndArrays) {
  EXPECT_EQ(read_ok<PortRef>("{\"instance\":\"u1\",\"port\":\"a\"}"), (PortRef{"u1", "a"}));
  EXPECT_EQ(read_ok<PortArrayRef>("[\"u1\",\"a\",-1,2]"), (PortArrayRef{"u1", "a", -1, 2}));
  EXPECT_EQ(read_ok<NetlistArray>("{\"nb\":3,\"na\":2}"), (NetlistArray{2, 3}));
  const std::pair<std::string, std::string> cases[] = {
      {read_error<NetlistArray>("{\"na\":2,\"nb\":3,\"nc\":1}"), "unknown field `nc`, expected `na` or `nb` at line 1 column 19"},
      {read_error<NetlistArray>("{\"na\":1.0,\"nb\":3}"), "invalid type: floating point `1.0`, expected i64 at line 1 column 9"},
      {read_error<NetlistArray>("{\"na\":9223372036854775808,\"nb\":3}"),
       "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 25"},
      {read_error<NetlistArray>("{\"na\":-9223372036854775809,\"nb\":3}"),
       "invalid type: floating point `-9.223372036854776e+18`, expected i64 at line 1 column 26"},
      {read_error<NetlistArray>("{\"na\":\"1\",\"nb\":3}"), "invalid type: string \"1\", expected i64 at line 1 column 9"},
      {read_error<NetlistArray>("[1]"), "invalid length 1, expected struct NetlistArray with 2 elements at line 1 column 3"},
      {read_error<PortRef>("{\"instance\":\"u1\"}"), "missing field `port` at line 1 column 17"},
      {read_error<PortRef>("{\"port\":\"a\",\"x\":1}"), "unknown field `x`, expected `instance` or `port` at line 1 column 15"},
      {read_error<PortRef>("[\"u1\"]"), "invalid length 1, expected struct PortRef with 2 elements at line 1 column 6"},
      {read_error<PortArrayRef>("{\"instance\":\"u1\",\"port\":\"a\",\"ia\":1,\"ic\":2}"),
       "unknown field `ic`, expected one of `instance`, `port`, `ia`, `ib` at line 1 column 39"},
      {read_error<PortArrayRef>("[\"u1\",\"a\",1]"), "invalid length 3, expected struct PortArrayRef with 4 elements at line 1 column 12"},
      {read_error<PortArrayRef>("{\"instance\":\"u1\",\"port\":\"a\",\"ia\":1}"), "missing field `ib` at line 1 column 35"},
      {read_error<PortArrayRef>("5"), "invalid type: integer `5`, expected struct PortArrayRef at line 1 column 1"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  EXPECT_EQ(to_json(PortArrayRef{"u1", "a", 1, 2}), R"({"instance":"u1","port":"a","ia":1,"ib":2})");
  EXPECT_EQ(to_json(NetlistArray{-3, 4}), R"({"na":-3,"nb":4})");
}

TEST(JsonRecords, Instance) {
  const std::pair<const char*, const char*> errors[] = {
      {"{}", "missing field `kcl` at line 1 column 2"},
      {"{\"kcl\":\"k\"}", "missing field `component` at line 1 column 11"},
      {"[{},\"k\"]", "invalid length 2, expected struct NetlistInstanceWire with 5 elements at line 1 column 8"},
      {"[]", "invalid length 1, expected struct NetlistInstanceWire with 5 elements at line 1 column 2"},
      {"{\"kcl\":\"k\",\"component\":\"c\",\"info\":null}", "invalid type: null, expected a map at line 1 column 38"},
      {"{\"kcl\":\"k\",\"component\":\"c\",\"name\":\"u1\"}",
       "unknown field `name`, expected one of `info`, `kcl`, `component`, `settings`, `array` at line 1 column 33"},
      {"{\"kcl\":\"k\",\"component\":\"c\",\"array\":[1,2,3]}", "trailing characters at line 1 column 41"},
      {"{\"kcl\":\"k\",\"component\":\"c\",\"array\":7}", "invalid type: integer `7`, expected struct NetlistArray at line 1 column 36"},
      {"{\"kcl\":\"k\",\"component\":\"c\",\"kcl\":\"k\"}", "duplicate field `kcl` at line 1 column 32"},
      {"[{},\"k\",\"c\",null,null,1]", "trailing characters at line 1 column 23"},
  };
  for (auto [text, message] : errors) EXPECT_EQ(read_error<NetlistInstanceWire>(text), message) << text;

  auto w = read_ok<NetlistInstanceWire>("[{},\"k\",\"c\"]");
  EXPECT_EQ(w.kcl, "k");
  EXPECT_TRUE(w.settings.is_null());
  EXPECT_FALSE(w.array.has_value());
  EXPECT_EQ(to_json(w), R"({"kcl":"k","component":"c","settings":null})");

  w = read_ok<NetlistInstanceWire>(
      R"({"array":null,"settings":{"b":1,"a":[true,null,2.5]},"info":{"z":1,"y":2,"z":3},"component":"c","kcl":"k"})");
  EXPECT_FALSE(w.array.has_value());
  EXPECT_EQ(to_json(w), R"({"info":{"y":2,"z":3},"kcl":"k","component":"c","settings":{"a":[true,null,2.5],"b":1}})");

  w = read_ok<NetlistInstanceWire>(R"({"kcl":"k","component":"c","array":{"na":1,"nb":1}})");
  EXPECT_EQ(to_json(w), R"({"kcl":"k","component":"c","settings":null,"array":{"na":1,"nb":1}})");
}

TEST(JsonRecords, NetlistDocument) {
  auto w = read_ok<NetlistWire>(
      R"({"instances":{"a":{"kcl":"x","component":"c1"},"b":{"kcl":"x","component":"c2"},"a":{"kcl":"y","component":"c3"}}})");
  Netlist n = Netlist::from_wire(std::move(w));
  ASSERT_EQ(n.instances.size(), 2u);
  EXPECT_EQ(n.instances.at_index(0).first, "a");
  EXPECT_EQ(n.instances.at_index(0).second.kcl, "y");
  EXPECT_EQ(n.instances.at_index(0).second.component, "c3");
  EXPECT_EQ(n.instances.at_index(0).second.name, "a");
  EXPECT_EQ(n.instances.at_index(1).first, "b");

  // The later record replaces the earlier one whole: nothing of the first is left over.
  w = read_ok<NetlistWire>(
      R"({"instances":{"a":{"kcl":"x","component":"c","array":[1,2],"info":{"k":1},"settings":5},"a":{"kcl":"y","component":"d"}}})");
  EXPECT_EQ(to_json(w), R"({"instances":{"a":{"kcl":"y","component":"d","settings":null}},"nets":[],"ports":[]})");

  EXPECT_EQ(to_json(read_ok<NetlistWire>("{}")), R"({"instances":{},"nets":[],"ports":[]})");
  EXPECT_EQ(to_json(read_ok<NetlistWire>("[{},[[{\"name\":\"p\"}]]]")),
            R"({"instances":{},"nets":[[{"name":"p"}]],"ports":[]})");
  EXPECT_EQ(read_error<NetlistWire>("{\"instances\":[]}"), "invalid type: sequence, expected a map at line 1 column 13");
  EXPECT_EQ(read_error<NetlistWire>("{\"nets\":{}}"), "invalid type: map, expected a sequence at line 1 column 8");
  EXPECT_EQ(read_error<NetlistWire>("{\"nets\":[1]}"), "invalid type: integer `1`, expected a sequence at line 1 column 10");
  EXPECT_EQ(read_error<NetlistWire>("{\"nets\":[],\"nets\":[]}"), "duplicate field `nets` at line 1 column 17");
  EXPECT_EQ(read_error<NetlistWire>("{\"extras\":1}"),
            "unknown field `extras`, expected one of `instances`, `nets`, `ports` at line 1 column 9");
  EXPECT_EQ(read_error<NetlistWire>("7"), "invalid type: integer `7`, expected struct NetlistWire at line 1 column 1");

  // Round trip through the netlist: nets keep the order read, names come from the keys.
  const std::string doc =
      R"({"instances":{"u2":{"info":{"k":"v"},"kcl":"lib","component":"inv","settings":{"w":1.5},"array":{"na":2,"nb":1}},)"
      R"("u1":{"kcl":"lib","component":"nand","settings":null}},)"
      R"("nets":[[{"instance":"u2","port":"o","ia":2,"ib":1},{"instance":"u1","port":"a"},{"name":"out"}],[]],)"
      R"("ports":[{"name":"out"},{"name":"in"}]})";
  Netlist net = Netlist::from_wire(read_ok<NetlistWire>(doc));
  EXPECT_EQ(net.instances.find("u2")->name, "u2");
  EXPECT_EQ(net.nets[0].members[2], NetMember(NetlistPort{"out"}));
  EXPECT_EQ(to_json(net.to_wire()), doc);
}

TEST(JsonRecords, NetMembers) {
  Net net = read_ok<Net>(
      R"([{"name":"a"},["b"],{"port":"p","instance":"u1"},["u1","p"],{"instance":"u1","port":"a","ia":1,"ib":1},["u","p",3,-4]])");
  ASSERT_EQ(net.members.size(), 6u);
  EXPECT_EQ(net.members[0], NetMember(NetlistPort{"a"}));
  EXPECT_EQ(net.members[1], NetMember(NetlistPort{"b"}));
  EXPECT_EQ(net.members[2], NetMember(PortRef{"u1", "p"}));
  EXPECT_EQ(net.members[3], NetMember(PortRef{"u1", "p"}));
  EXPECT_EQ(net.members[4], NetMember(PortArrayRef{"u1", "a", 1, 1}));
  EXPECT_EQ(net.members[5], NetMember(PortArrayRef{"u", "p", 3, -4}));
  EXPECT_EQ(to_json(net),
            R"([{"name":"a"},{"name":"b"},{"instance":"u1","port":"p"},{"instance":"u1","port":"p"},)"
            R"({"instance":"u1","port":"a","ia":1,"ib":1},{"instance":"u","port":"p","ia":3,"ib":-4}])");

  // Shapes outside the direct path (escapes, non-ASCII, nesting) give the same outcome.
  Net buffered = read_ok<Net>("[{\"name\":\"a\\u0062\"},[\"\xc3\xa9\"],{\"instance\" : \"u\\n\", \"port\":\"p\"}]");
  EXPECT_EQ(buffered.members, (std::vector<NetMember>{NetlistPort{"ab"}, NetlistPort{"\xc3\xa9"}, PortRef{"u\n", "p"}}));

  const std::string no_variant = "data did not match any variant of untagged enum NetMember";
  const std::pair<const char*, const char*> errors[] = {
      {"[{\"name\":\"a\",\"x\":1}]", " at line 1 column 20"},
      {"[{\"name\":\"a\",\"x\":1},{\"name\":\"b\"}]", " at line 1 column 20"},
      {"[{\"name\":\"a\",\"x\":1} , {\"name\":\"b\"}]", " at line 1 column 22"},
      {"[[\"u1\",\"a\",1]]", " at line 1 column 14"},
      {"[[\"u1\",\"a\",1,2,3]]", " at line 1 column 18"},
      {"[{\"instance\":\"u1\",\"port\":\"a\",\"ia\":1.0,\"ib\":1}]", " at line 1 column 46"},
      {"[{\"instance\":\"u1\",\"port\":\"a\",\"ia\":true,\"ib\":1}]", " at line 1 column 47"},
      {"[{\"instance\":\"u1\",\"port\":\"a\",\"ia\":9223372036854775808,\"ib\":1}]", " at line 1 column 62"},
      {"[null]", " at line 1 column 6"},
      {"[5]", " at line 1 column 3"},
      {"[{\"name\":\"a\",\"name\":\"b\"}]", " at line 1 column 25"},
      {"[{\"name\":[\"a\"]}]", " at line 1 column 16"},
      {"[{\"name\":\"\\u0061\",\"x\":null}]", " at line 1 column 28"},
      {"[[\"a\",\"b\",\"c\"]]", " at line 1 column 15"},
  };
  for (auto [text, where] : errors) EXPECT_EQ(read_error<Net>(text), no_variant + where) << text;
  // A syntax error while buffering the member is reported as it is.
  EXPECT_EQ(read_error<Net>("[{\"name\":\"a\",}]"), "trailing comma at line 1 column 14");
  EXPECT_EQ(read_error<Net>("{}"), "invalid type: map, expected a sequence at line 1 column 0");
}

TEST(JsonRecords, Placement) {
  auto p = read_ok<Placement>(R"({"x":1,"y":2,"orientation":90,"mirror":false,"bbox":[0,0,1,1]})");
  EXPECT_EQ(p, (Placement{1, 2, 90, false, BBox{0, 0, 1, 1}}));
  EXPECT_EQ(read_ok<Placement>(R"([1,2,90,false,{"left":0,"bottom":0,"right":1,"top":1}])"), p);
  EXPECT_EQ(read_ok<BBox>(R"({"left":0,"bottom":0,"right":1,"top":1,"layer":[1,{"a":[null]}]})"), (BBox{0, 0, 1, 1}));
  EXPECT_EQ(to_json(p), R"({"x":1.0,"y":2.0,"orientation":90.0,"mirror":false,"bbox":{"left":0.0,"bottom":0.0,"right":1.0,"top":1.0}})");

  const std::pair<std::string, std::string> cases[] = {
      {read_error<BBox>(R"({"left":0,"bottom":0,"right":1,"top":1,"layer":[1,}])"), "expected value at line 1 column 51"},
      {read_error<BBox>(R"({"left":0,"bottom":0,"right":1})"), "missing field `top` at line 1 column 31"},
      {read_error<BBox>(R"({"left":0,"left":0})"), "duplicate field `left` at line 1 column 16"},
      {read_error<BBox>(R"([0,0,1])"), "invalid length 3, expected struct BBox with 4 elements at line 1 column 7"},
      {read_error<BBox>(R"([0,0,1,"1"])"), "invalid type: string \"1\", expected f64 at line 1 column 10"},
      {read_error<Placement>(R"({"x":1,"y":2,"orientation":90,"mirror":1,"bbox":[0,0,1,1]})"),
       "invalid type: integer `1`, expected a boolean at line 1 column 40"},
      {read_error<Placement>(R"({"x":1,"scale":2})"),
       "unknown field `scale`, expected one of `x`, `y`, `orientation`, `mirror`, `bbox` at line 1 column 14"},
      {read_error<Placement>(R"({"x":1,"y":2,"orientation":90})"), "missing field `mirror` at line 1 column 30"},
      {read_error<Placement>(R"({"x":null,"y":2,"orientation":90,"mirror":false,"bbox":[0,0,1,1]})"),
       "invalid type: null, expected f64 at line 1 column 9"},
      {read_error<PlacedInstanceWire>(R"({"kcl":"k","component":"c"})"), "missing field `placement` at line 1 column 27"},
      {read_error<PlacedInstanceWire>(R"({"kcl":"k","component":"c","placement":null})"),
       "invalid type: null, expected struct Placement at line 1 column 43"},
      {read_error<PlacedInstanceWire>(R"([{},"k","c"])"),
       "invalid length 6, expected struct PlacedInstanceWire with 7 elements at line 1 column 12"},
      {read_error<PlacedInstanceWire>(R"([])"), "invalid length 1, expected struct PlacedInstanceWire with 7 elements at line 1 column 2"},
      {read_error<PlacedNetlistWire>(R"({"extras":{}})"),
       "unknown field `extras`, expected one of `instances`, `nets`, `ports` at line 1 column 9"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);

  auto pi = read_ok<PlacedInstanceWire>(R"([{},"k","c",null,null,"C",[0,0,0,false,[0,0,0,0]]])");
  EXPECT_EQ(pi.cell, "C");
  EXPECT_EQ(pi.placement, Placement{});
  EXPECT_EQ(to_json(pi), R"({"kcl":"k","component":"c","settings":null,"cell":"C","placement":)"
                         R"({"x":0.0,"y":0.0,"orientation":0.0,"mirror":false,"bbox":{"left":0.0,"bottom":0.0,"right":0.0,"top":0.0}}})");
  pi = read_ok<PlacedInstanceWire>(R"({"kcl":"k","component":"c","placement":[0,0,0,true,[0,0,0,0]]})");
  EXPECT_EQ(pi.cell, "");
  EXPECT_NE(to_json(pi).find(R"("cell":"","placement")"), std::string::npos);
  EXPECT_EQ(to_json(read_ok<PlacedNetlistWire>("{}")), R"({"instances":{},"nets":[],"ports":[]})");

  Placement nan_x{};
  nan_x.x = std::nan("");
  std::string text = to_json(nan_x);
  EXPECT_EQ(text.substr(0, 9), R"({"x":null)");
  EXPECT_EQ(read_error<Placement>(text), "invalid type: null, expected f64 at line 1 column 9");
}

// --- writer ---------------------------------------------------------------------------

TEST(JsonWriter, StringEscapes) {
  EXPECT_EQ(to_json(NetlistPort{std::string("\t\x01", 2)}), "{\"name\":\"\\t\\u0001\"}");
  EXPECT_EQ(to_json(NetlistPort{std::string("\"\\\b\f\n\r\x1f\x7f\xc3\xa9/\0", 12)}),
            std::string("{\"name\":\"\\\"\\\\\\b\\f\\n\\r\\u001f\x7f\xc3\xa9/\\u0000\"}"));
  // Every byte below 0x20 reads back as it was written.
  std::string all;
  for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
  all += std::string("\0\xe2\x82\xac", 4);
  EXPECT_EQ(read_ok<NetlistPort>(to_json(NetlistPort{all})).name, all);
}

TEST(JsonReader, SpecialBytesAtEveryOffset) {
  // Strings are scanned in blocks: a special byte must be found wherever it sits.
  const std::string specials[] = {"\"", "\\", "\x01", "\x1f", "\xc3\xa9", "\x7f", " "};
  for (std::size_t n = 0; n < 20; ++n) {
    for (std::size_t k = 0; k <= n; ++k) {
      for (const auto& sp : specials) {
        std::string name(n, 'a');
        name.insert(k, sp);
        EXPECT_EQ(read_ok<NetlistPort>(to_json(NetlistPort{name})).name, name);
        EXPECT_EQ(read_ok<Net>(to_json(Net{{PortRef{name, name}}})).members[0], NetMember(PortRef{name, name}));
      }
      std::string raw = "[\"" + std::string(n, 'a');
      raw.insert(2 + k, "\n");
      EXPECT_NE(read_error<NetlistPort>(raw + "\"]").find("control character"), std::string::npos) << raw;
    }
  }
}

// Significant digits of a decimal text (leading zeros and the point left out, trailing zeros
// of an integral plain form too).
int significant_digits(std::string_view text) {
  std::string d;
  for (char c : text) {
    if (c == 'e') break;
    if (c >= '0' && c <= '9') d += c;
  }
  d.erase(0, d.find_first_not_of('0'));
  while (!d.empty() && d.back() == '0') d.pop_back();
  return static_cast<int>(d.size());
}

TEST(JsonWriter, DoublesAreShortestAndExact) {
  std::uint64_t state = 0x243F6A8885A308D3ull;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 200000; ++i) {
    double v;
    if (i % 2) {
      std::uint64_t bits = next();
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) continue;
    } else {
      // Short decimals across the plain range, where most written values lie.
      v = static_cast<double>(next() % 10000000) / std::pow(10.0, static_cast<int>(next() % 14)) *
          std::pow(10.0, static_cast<int>(next() % 8));
      if (next() % 2) v = -v;
    }
    std::string text = format_double(v);
    char shortest[40];
    auto r = std::to_chars(shortest, shortest + sizeof shortest, v, std::chars_format::scientific);
    EXPECT_EQ(significant_digits(text), significant_digits(std::string_view(shortest, r.ptr - shortest))) << text;
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
  }
}

TEST(JsonWriter, DoublesRoundTripBitExact) {
  const double values[] = {1e15,  1e16,   1e-5,    1e-6, 5e-324, 1.7976931348623157e308, -0.0, 0.0, 0.1,
                           1.0 / 3, -2.5e-7, 123456789.125, 2.2250738585072014e-308, 4.9406564584124654e-324,
                           9007199254740993.0, 1e22, 1e23, 5e-7};
  for (double v : values) {
    Placement p{};
    p.orientation = v;
    Placement back = read_ok<Placement>(to_json(p));
    EXPECT_EQ(std::memcmp(&back.orientation, &v, sizeof v), 0) << format_double(v);
  }
  JsonValue s = JsonValue::uinteger(18446744073709551615ull);
  NetlistInstanceWire w{{}, "k", "c", s, std::nullopt};
  EXPECT_EQ(to_json(w), R"({"kcl":"k","component":"c","settings":18446744073709551615})");
  w.settings = JsonValue(18446744073709551616.0);
  EXPECT_EQ(to_json(w), R"({"kcl":"k","component":"c","settings":1.8446744073709552e+19})");
  w.settings = JsonValue::integer(-5);
  EXPECT_EQ(to_json(w), R"({"kcl":"k","component":"c","settings":-5})");
}

TEST(JsonReader, DoublesMatchCorrectRounding) {
  // Random bit patterns written and read back; random short decimals read as from_chars does.
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 20000; ++i) {
    double v;
    std::uint64_t bits = next();
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    BBox b{v, 0, 0, 0};
    BBox back = read_ok<BBox>(to_json(b));
    EXPECT_EQ(std::memcmp(&back.left, &v, sizeof v), 0) << format_double(v);

    std::string lit = std::to_string(next() % 100000000000000ull);
    int frac = static_cast<int>(next() % 12);
    if (frac && lit.size() > static_cast<std::size_t>(frac)) lit.insert(lit.size() - frac, ".");
    lit += "e" + std::to_string(static_cast<int>(next() % 40) - 20);
    double want = 0;
    std::from_chars(lit.data(), lit.data() + lit.size(), want);
    BBox got = read_ok<BBox>("[" + lit + ",0,0,0]");
    EXPECT_EQ(std::memcmp(&got.left, &want, sizeof want), 0) << lit;
  }
}

// --- robustness -----------------------------------------------------------------------

TEST(JsonReader, EveryTruncationFails) {
  const std::string doc =
      "{\"instances\":{\"u1\":{\"info\":{\"note\":\"caf\xc3\xa9 \\u00e9\\ud83d\\ude00\"},\"kcl\":\"lib\",\"component\":\"inv\","
      "\"settings\":{\"w\":-1.5e-3,\"n\":[1,true,false,null,{}]},\"array\":{\"na\":2,\"nb\":1}}},"
      "\"nets\":[[{\"instance\":\"u1\",\"port\":\"a\",\"ia\":1,\"ib\":2},[\"u1\",\"b\"],{\"name\":\"p\"}]],"
      "\"ports\":[{\"name\":\"p\"}]}";
  ASSERT_EQ(read_error<NetlistWire>(doc), "ok");
  for (std::size_t n = 0; n < doc.size(); ++n) {
    // A copy of exactly n bytes, so that reading past the end is caught by the sanitizers.
    std::unique_ptr<char[]> cut(new char[n + 1]);
    std::memcpy(cut.get(), doc.data(), n);
    EXPECT_NE(read_error<NetlistWire>(std::string_view(cut.get(), n)), "ok") << n;
    EXPECT_NE(read_error<PlacedNetlistWire>(std::string_view(cut.get(), n)), "ok") << n;
  }
}

TEST(JsonReader, ArbitraryBytesNeverCrash) {
  // Every single-byte change of a valid document either reads or fails cleanly.
  const std::string doc =
      R"({"instances":{"a":{"kcl":"k","component":"c","settings":[1.5,"x\n",{"k":null}]}},"nets":[[["a","p"]]],"ports":[["p"]]})";
  const char replacements[] = {'\0', '"', '\\', '[', ']', '{', '}', ',', ':', '-', '0', 'e', '.', ' ', '\x80', '\xff'};
  for (std::size_t i = 0; i < doc.size(); ++i) {
    for (char r : replacements) {
      std::string d = doc;
      d[i] = r;
      NetlistWire w;
      (void)read_json(d, w);
    }
  }
}

}  // namespace
}  // namespace vondrel
