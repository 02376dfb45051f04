#include <gtest/gtest.h>

#include <string>

#include "vondrel/error.h"

using namespace vondrel;

struct MessageCase {
  Error error;
  int index;
  std::string text;
  friend void PrintTo(const MessageCase& c, std::ostream* os) { *os << "variant " << c.index; }
};

class ErrorMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessage, RendersItsTemplate) {
  const MessageCase& c = GetParam();
  EXPECT_EQ(c.error.index(), c.index);
  EXPECT_EQ(c.error.message(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    AllVariants, ErrorMessage,
    testing::Values(
        MessageCase{Error::invalid_array_size(-1, 3), 0,
                    "An instance array must have at least one instance in the array. na=-1 and nb=3 must be >= 1"},
        MessageCase{Error::invalid_array_size(INT64_MIN, 0), 0,
                    "An instance array must have at least one instance in the array. na=-9223372036854775808 and "
                    "nb=0 must be >= 1"},
        MessageCase{Error::unknown_instance("u \"9\""), 1, "Unknown instance u \"9\""},
        MessageCase{Error::undefined_port("VDD"), 2, "Undefined netlist port VDD"},
        MessageCase{Error::not_an_array_instance("u1", "a", 2, 3), 3,
                    "Instance u1 is not an array instance. But an array portref was requested PortArrayRefData { "
                    "instance: \"u1\", port: \"a\", ia: 2, ib: 3 }"},
        MessageCase{Error::not_an_array_instance("q\"", "p\n", -1, 0), 3,
                    "Instance q\" is not an array instance. But an array portref was requested PortArrayRefData { "
                    "instance: \"q\\\"\", port: \"p\\n\", ia: -1, ib: 0 }"},
        MessageCase{Error::array_index_out_of_range("arr", 4, true), 4,
                    "Instance arr has only 4 elements in `nb` direction"},
        MessageCase{Error::array_index_out_of_range("arr", 2, false), 4,
                    "Instance arr has only 2 elements in `na` direction"},
        MessageCase{Error::canonical_port_missing("VDD"), 5,
                    "normalize: canonical port \"VDD\" not present in netlist ports"},
        MessageCase{Error::key_not_found("u7"), 6, "u7"},
        MessageCase{Error::key_not_found(""), 6, ""},
        MessageCase{Error::flatten_name_clash("a", "a.b"), 7,
                    "flatten: inlining instance \"a\" would create instance \"a.b\", which already exists"},
        MessageCase{Error::flatten_unconnected_port("u1", "A", "INV"), 8,
                    "flatten: instance \"u1\" is connected on port \"A\", but that port is not part of any net inside "
                    "cell \"INV\" \xE2\x80\x94 inlining would drop the connection. Pass allow_unconnected_ports=True "
                    "to inline anyway."},
        MessageCase{Error::flatten_pass_limit(1000), 9,
                    "flatten: still inlining after 1000 passes \xE2\x80\x94 `netlists` describes a cell that "
                    "contains itself"},
        MessageCase{Error::serialize("bad"), 10, "serialize: bad"},
        MessageCase{Error::deserialize("EOF while parsing at line 1 column 0"), 11,
                    "deserialize: EOF while parsing at line 1 column 0"}));

TEST(ErrorPayload, IsOwnedAndComparable) {
  std::string name = "x";
  Error e = Error::unknown_instance(name);
  name = "y";
  EXPECT_EQ(e.text1(), "x");
  EXPECT_EQ(e, Error::unknown_instance("x"));
  EXPECT_NE(e, Error::undefined_port("x"));
  EXPECT_NE(Error::flatten_pass_limit(UINT64_MAX).message().find(" after 18446744073709551615 passes "),
            std::string::npos);
}

struct QuoteCase {
  std::string in;
  std::string out;
  friend void PrintTo(const QuoteCase& c, std::ostream* os) { *os << c.in.size() << " bytes"; }
};

class Quoted : public testing::TestWithParam<QuoteCase> {};

TEST_P(Quoted, Renders) { EXPECT_EQ(vondrel::quoted(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Characters, Quoted,
    testing::Values(
        QuoteCase{"", "\"\""},
        QuoteCase{"plain name_1", "\"plain name_1\""},
        QuoteCase{"a\"b\\c\nd", "\"a\\\"b\\\\c\\nd\""},
        QuoteCase{"it's", "\"it's\""},
        QuoteCase{std::string("\0\t\r", 3), "\"\\0\\t\\r\""},
        QuoteCase{"\x01\x1f\x7f", "\"\\u{1}\\u{1f}\\u{7f}\""},
        QuoteCase{"\xC2\x80\xC2\x9F", "\"\\u{80}\\u{9f}\""},                 // C1 controls
        QuoteCase{"caf\xC3\xA9 \xCE\xA9\xE6\xBC\xA2", "\"caf\xC3\xA9 \xCE\xA9\xE6\xBC\xA2\""},  // printable letters
        QuoteCase{"e\xCC\x81", "\"e\\u{301}\""},                              // combining acute
        QuoteCase{"\xC2\xA0|\xE2\x80\x83|\xE3\x80\x80", "\"\\u{a0}|\\u{2003}|\\u{3000}\""},  // white space
        QuoteCase{"\xE2\x80\xA8", "\"\\u{2028}\""},                           // line separator
        QuoteCase{"\xE2\x80\x8B\xE2\x80\x8D", "\"\\u{200b}\\u{200d}\""},      // zero width (Cf)
        QuoteCase{"\xC2\xAD", "\"\\u{ad}\""},                                 // soft hyphen
        QuoteCase{"\xE1\x85\x9F", "\"\\u{115f}\""},                           // default ignorable letter
        QuoteCase{"\xEF\xBB\xBF", "\"\\u{feff}\""},
        QuoteCase{"\xEE\x80\x80\xF3\xB0\x80\x80", "\"\\u{e000}\\u{f0000}\""},  // private use
        QuoteCase{"\xCD\xB8", "\"\\u{378}\""},                                // unassigned
        QuoteCase{"\xEF\xBF\xBE", "\"\\u{fffe}\""},                           // noncharacter
        QuoteCase{"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},                // emoji, printable
        QuoteCase{"\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},                        // a real U+FFFD stays
        // Malformed input: each offending byte becomes one replacement escape.
        QuoteCase{"a\xFF" "b", "\"a\\u{fffd}b\""},
        QuoteCase{"\xC3", "\"\\u{fffd}\""},                                   // truncated at the end
        QuoteCase{"\xE6\xBC", "\"\\u{fffd}\\u{fffd}\""},
        QuoteCase{"\xC0\xAF", "\"\\u{fffd}\\u{fffd}\""},                      // overlong
        QuoteCase{"\xED\xA0\x80", "\"\\u{fffd}\\u{fffd}\\u{fffd}\""},         // surrogate
        QuoteCase{"\xF4\x90\x80\x80", "\"\\u{fffd}\\u{fffd}\\u{fffd}\\u{fffd}\""},  // above U+10FFFF
        QuoteCase{"\xE6" "a", "\"\\u{fffd}a\""}));
