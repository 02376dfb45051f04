// JSON text reader: one pass over the UTF-8 text, straight into the wire records.
//
// Positions. An error is positioned at a byte count `i` of the text: line = 1 + number of
// line feeds before i, column = i - start of that line, so the column names the last byte
// consumed. Syntax errors found while looking at a byte (not yet consumed) include it.
// Record errors (missing / unknown / repeated keys, bad length, unrecognised net member) are
// raised without a position; the innermost array or object being read positions them
// once it has consumed its closing bracket, or the comma after the failing element.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "utf8.h"
#include "vondrel/content.h"
#include "vondrel/json.h"
#include "vondrel/record.h"
#include "vondrel/wire.h"

namespace vondrel {

namespace {

using namespace record;

constexpr const char* kEofList = "EOF while parsing a list";
constexpr const char* kEofObject = "EOF while parsing an object";
constexpr const char* kEofString = "EOF while parsing a string";
constexpr const char* kEofValue = "EOF while parsing a value";
constexpr const char* kExpectedColon = "expected `:`";
constexpr const char* kExpectedListEnd = "expected `,` or `]`";
constexpr const char* kExpectedObjectEnd = "expected `,` or `}`";
constexpr const char* kExpectedIdent = "expected ident";
constexpr const char* kExpectedValue = "expected value";
constexpr const char* kInvalidEscape = "invalid escape";
constexpr const char* kInvalidNumber = "invalid number";
constexpr const char* kNumberOutOfRange = "number out of range";
constexpr const char* kInvalidCodePoint = "invalid unicode code point";
constexpr const char* kLoneSurrogate = "lone leading surrogate in hex escape";
constexpr const char* kEndOfHexEscape = "unexpected end of hex escape";
constexpr const char* kControlCharacter = "control character (\\u0000-\\u001F) found while parsing a string";
constexpr const char* kKeyMustBeString = "key must be a string";
constexpr const char* kTrailingComma = "trailing comma";
constexpr const char* kTrailingCharacters = "trailing characters";
constexpr const char* kRecursionLimit = kNestingExceeded;

// Open arrays and objects allowed at once: kMaxNesting.
constexpr int kDepthBudget = kMaxNesting + 1;

// Bytes that a string copies without a second look: printable ASCII except '"' and '\\'.
struct PlainTable {
  bool v[256] = {};
  constexpr PlainTable() {
    for (int c = 0x20; c < 0x80; ++c) v[c] = c != '"' && c != '\\';
  }
};
constexpr PlainTable kPlain;

inline bool is_ws(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }
inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

struct Number {
  enum Kind { U64, I64, F64 } kind = U64;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double d = 0.0;
};

std::string unexpected_number(const Number& n) {
  switch (n.kind) {
    case Number::U64: return unexpected_unsigned(n.u);
    case Number::I64: return unexpected_signed(n.i);
    default: return unexpected_float(n.d);
  }
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether a decimal literal that the double conversion reported out of range is too large
// (rather than too small): the decimal exponent of its first significant digit is positive.
bool literal_overflows(const char* p, const char* end) {
  if (p < end && *p == '-') ++p;
  std::int64_t lead = 0;  // exponent contributed by the mantissa
  bool found = false;
  std::int64_t int_digits = 0;
  while (p < end && is_digit(*p)) {
    if (!found && *p != '0') found = true;
    if (found) ++int_digits;
    ++p;
  }
  if (found) {
    lead = int_digits - 1;
  } else if (p < end && *p == '.') {
    std::int64_t zeros = 0;
    ++p;
    while (p < end && *p == '0') ++zeros, ++p;
    if (p == end || !is_digit(*p)) return false;  // zero
    lead = -zeros - 1;
  }
  while (p < end && (is_digit(*p) || *p == '.')) ++p;
  std::int64_t exp = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool neg = false;
    if (p < end && (*p == '+' || *p == '-')) neg = *p++ == '-';
    while (p < end && is_digit(*p)) {
      if (exp < (std::int64_t{1} << 40)) exp = exp * 10 + (*p - '0');
      ++p;
    }
    if (neg) exp = -exp;
  }
  return lead + exp > 0;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : b_(text.data()), p_(text.data()), e_(text.data() + text.size()) {}

  // --- errors ---------------------------------------------------------------------------
  bool error_at(std::size_t index, std::string message) {
    msg_ = std::move(message);
    pos_ = index;
    positioned_ = true;
    return false;
  }
  bool error(std::string message) { return error_at(index(), std::move(message)); }
  bool peek_error(std::string message) { return error_at(std::min(index() + 1, size()), std::move(message)); }
  // A record error: positioned later by the array or object that holds the failing value.
  bool fail(std::string message) {
    msg_ = std::move(message);
    positioned_ = false;
    return false;
  }

  std::string message() {
    if (!positioned_) error_at(index(), std::move(msg_));
    const char* at = b_ + pos_;
    std::size_t line = 1 + static_cast<std::size_t>(std::count(b_, at, '\n'));
    const char* line_start = at;
    while (line_start > b_ && line_start[-1] != '\n') --line_start;
    std::string out = std::move(msg_);
    out += " at line ";
    out += std::to_string(line);
    out += " column ";
    out += std::to_string(at - line_start);
    return out;
  }

  // --- bytes ----------------------------------------------------------------------------
  std::size_t index() const { return static_cast<std::size_t>(p_ - b_); }
  std::size_t size() const { return static_cast<std::size_t>(e_ - b_); }
  int peek() const { return p_ < e_ ? static_cast<unsigned char>(*p_) : -1; }
  int skip_ws() {
    while (p_ < e_ && is_ws(*p_)) ++p_;
    return peek();
  }

  // Only whitespace may follow the top-level value.
  bool end() {
    if (skip_ws() >= 0) return peek_error(kTrailingCharacters);
    return true;
  }

  // --- containers -----------------------------------------------------------------------
  bool enter() {
    if (--depth_ == 0) return peek_error(kRecursionLimit);
    ++p_;
    return true;
  }

  // 1: an element follows, 0: the array ended (its ']' not consumed), -1: failed.
  int next_element(bool& first) {
    int c = skip_ws();
    if (c < 0) return peek_error(kEofList), -1;
    if (c == ']') return 0;
    if (first) {
      first = false;
      return 1;
    }
    if (c != ',') return peek_error(kExpectedListEnd), -1;
    ++p_;
    c = skip_ws();
    if (c == ']') return peek_error(kTrailingComma), -1;
    if (c < 0) return peek_error(kEofValue), -1;
    return 1;
  }

  // 1: a key was read into `key` (valid until the next string is read), 0: the object
  // ended (its '}' not consumed), -1: failed.
  int next_key(bool& first, std::string_view& key) {
    int c = skip_ws();
    if (c < 0) return peek_error(kEofObject), -1;
    if (c == '}') return 0;
    if (first) {
      first = false;
      if (c != '"') return peek_error(kKeyMustBeString), -1;
    } else if (c == ',') {
      ++p_;
      c = skip_ws();
      if (c == '}') return peek_error(kTrailingComma), -1;
      if (c < 0) return peek_error(kEofValue), -1;
      if (c != '"') return peek_error(kKeyMustBeString), -1;
    } else {
      return peek_error(kExpectedObjectEnd), -1;
    }
    ++p_;
    return parse_str(key) ? 1 : -1;
  }

  bool colon() {
    int c = skip_ws();
    if (c == ':') {
      ++p_;
      return true;
    }
    if (c < 0) return peek_error(kEofObject);
    return peek_error(kExpectedColon);
  }

  // Closes an array whose reader finished: only ']' may come now.
  bool end_seq() {
    int c = skip_ws();
    if (c == ']') {
      ++p_;
      return true;
    }
    if (c == ',') {
      ++p_;
      return peek_error(skip_ws() == ']' ? kTrailingComma : kTrailingCharacters);
    }
    if (c < 0) return peek_error(kEofList);
    return peek_error(kTrailingCharacters);
  }

  bool end_map() {
    int c = skip_ws();
    if (c == '}') {
      ++p_;
      return true;
    }
    if (c == ',') return peek_error(kTrailingComma);
    if (c < 0) return peek_error(kEofObject);
    return peek_error(kTrailingCharacters);
  }

  // Runs body() inside the array at '['; positions a record error raised in it after the
  // array's closing bracket (or the comma that follows the failing element).
  template <class Body>
  bool in_seq(Body&& body) {
    if (!enter()) return false;
    bool ok = body();
    ++depth_;
    if (ok) return end_seq();
    if (!positioned_) {
      int c = skip_ws();
      if (c == ']') {
        ++p_;
      } else if (c == ',') {
        ++p_;
        skip_ws();
      }
      error(std::move(msg_));
    }
    return false;
  }

  template <class Body>
  bool in_map(Body&& body) {
    if (!enter()) return false;
    bool ok = body();
    ++depth_;
    if (ok) return end_map();
    if (!positioned_) {
      if (skip_ws() == '}') ++p_;
      error(std::move(msg_));
    }
    return false;
  }

  // --- scalars --------------------------------------------------------------------------
  bool parse_ident(const char* rest) {
    for (; *rest; ++rest) {
      if (p_ == e_) return error(kEofValue);
      if (*p_++ != *rest) return error(kExpectedIdent);
    }
    return true;
  }

  // Advances over bytes that a string copies as they are, eight at a time while it can.
  void skip_plain() {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    while (e_ - p_ >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p_, 8);
      // Flags (in the high bit of a byte) '"', '\\', bytes below 0x20 and from 0x80 on; the
      // lowest flagged byte is exact.
      const std::uint64_t q = w ^ (kOnes * '"');
      const std::uint64_t b = w ^ (kOnes * '\\');
      const std::uint64_t special =
          (((q - kOnes) & ~q) | ((b - kOnes) & ~b) | (w - kOnes * 0x20) | w) & kHigh;
      if (special) {
        p_ += __builtin_ctzll(special) / 8;
        return;
      }
      p_ += 8;
    }
    while (p_ < e_ && kPlain.v[static_cast<unsigned char>(*p_)]) ++p_;
  }

  // After the opening quote; leaves `out` viewing the input (no escapes) or scratch_.
  bool parse_str(std::string_view& out) {
    const char* start = p_;
    bool escaped = false;
    bool bad_utf8 = false;
    for (;;) {
      skip_plain();
      if (p_ == e_) return error(kEofString);
      const unsigned char c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        if (escaped) {
          scratch_.append(start, p_);
          out = scratch_;
        } else {
          out = std::string_view(start, static_cast<std::size_t>(p_ - start));
        }
        ++p_;
        if (bad_utf8) return error(kInvalidCodePoint);
        return true;
      }
      if (c == '\\') {
        if (!escaped) {
          escaped = true;
          scratch_.clear();
        }
        scratch_.append(start, p_);
        ++p_;
        if (!parse_escape()) return false;
        start = p_;
      } else if (c >= 0x80) {
        std::size_t k = detail::utf8_sequence(std::string_view(b_, size()), index());
        if (k == 0) {
          bad_utf8 = true;
          ++p_;
        } else {
          p_ += k;
        }
      } else {
        ++p_;
        return error(kControlCharacter);
      }
    }
  }

  bool parse_escape() {
    if (p_ == e_) return error(kEofString);
    switch (*p_++) {
      case '"': scratch_ += '"'; return true;
      case '\\': scratch_ += '\\'; return true;
      case '/': scratch_ += '/'; return true;
      case 'b': scratch_ += '\b'; return true;
      case 'f': scratch_ += '\f'; return true;
      case 'n': scratch_ += '\n'; return true;
      case 'r': scratch_ += '\r'; return true;
      case 't': scratch_ += '\t'; return true;
      case 'u': return parse_unicode_escape();
      default: return error(kInvalidEscape);
    }
  }

  bool hex_escape(std::uint32_t& out) {
    if (e_ - p_ < 4) {
      p_ = e_;
      return error(kEofString);
    }
    int v = 0;
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
      int h = hex_value(p_[k]);
      if (h < 0) ok = false;
      v = v * 16 + h;
    }
    p_ += 4;
    if (!ok) return error(kInvalidEscape);
    out = static_cast<std::uint32_t>(v);
    return true;
  }

  bool parse_unicode_escape() {
    std::uint32_t n = 0;
    if (!hex_escape(n)) return false;
    if (n >= 0xDC00 && n <= 0xDFFF) return error(kLoneSurrogate);
    if (n < 0xD800 || n > 0xDBFF) {
      append_utf8(scratch_, n);
      return true;
    }
    // A leading surrogate: a trailing one must follow as another \u escape.
    for (char expect : {'\\', 'u'}) {
      if (p_ == e_) return error(kEofString);
      if (*p_++ != expect) return error(kEndOfHexEscape);
    }
    std::uint32_t n2 = 0;
    if (!hex_escape(n2)) return false;
    if (n2 < 0xDC00 || n2 > 0xDFFF) return error(kLoneSurrogate);
    append_utf8(scratch_, (((n - 0xD800) << 10) | (n2 - 0xDC00)) + 0x10000);
    return true;
  }

  // At the first digit (after '-' for a negative number). With `convert` false the literal
  // is only checked for syntax.
  bool parse_number(bool positive, Number& out, bool convert = true) {
    const char* lit = positive ? p_ : p_ - 1;
    if (p_ == e_) return error(kEofValue);
    const char c = *p_++;
    // Digits of the integer and fraction parts while they fit 64 bits.
    std::uint64_t sig = 0;
    bool overflow = false;
    int frac = 0;  // fraction digits taken into sig
    auto take = [&](char ch) {
      const auto d = static_cast<std::uint64_t>(ch - '0');
      if (!overflow && sig > (std::numeric_limits<std::uint64_t>::max() - d) / 10) overflow = true;
      if (!overflow) sig = sig * 10 + d;
      return !overflow;
    };
    if (c == '0') {
      if (p_ < e_ && is_digit(*p_)) return peek_error(kInvalidNumber);
    } else if (c >= '1' && c <= '9') {
      sig = static_cast<std::uint64_t>(c - '0');
      while (p_ < e_ && is_digit(*p_)) take(*p_++);
    } else {
      return error(kInvalidNumber);
    }
    bool is_double = overflow;
    if (p_ < e_ && *p_ == '.') {
      ++p_;
      const char* digits = p_;
      while (p_ < e_ && is_digit(*p_)) frac += take(*p_++) ? 1 : 0;
      if (p_ == digits) return peek_error(p_ < e_ ? kInvalidNumber : kEofValue);
      is_double = true;
    }
    int exp = 0;
    if (p_ < e_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      bool neg_exp = false;
      if (p_ < e_ && (*p_ == '+' || *p_ == '-')) neg_exp = *p_++ == '-';
      if (p_ == e_) return error(kEofValue);
      if (!is_digit(*p_)) {
        ++p_;
        return error(kInvalidNumber);
      }
      while (p_ < e_ && is_digit(*p_)) {
        if (exp < 100000) exp = exp * 10 + (*p_ - '0');
        ++p_;
      }
      if (neg_exp) exp = -exp;
      is_double = true;
    }
    if (!convert) return true;
    if (!is_double) {
      if (positive) {
        out.kind = Number::U64;
        out.u = sig;
        return true;
      }
      const auto neg = static_cast<std::int64_t>(std::uint64_t{0} - sig);
      if (neg < 0) {
        out.kind = Number::I64;
        out.i = neg;
      } else if (sig == 0) {  // -0 is the integer zero
        out.kind = Number::U64;
        out.u = 0;
      } else {  // below -2^63
        out.kind = Number::F64;
        out.d = -static_cast<double>(sig);
      }
      return true;
    }
    out.kind = Number::F64;
    // Exact digits and a small power of ten: one correctly rounded operation.
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const int e10 = exp - frac;
    if (!overflow && sig <= (std::uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
      double d = static_cast<double>(sig);
      d = e10 < 0 ? d / kPow10[-e10] : d * kPow10[e10];
      out.d = positive ? d : -d;
      return true;
    }
    auto r = std::from_chars(lit, p_, out.d);
    if (r.ec == std::errc::result_out_of_range) {
      if (literal_overflows(lit, p_)) return error(kNumberOutOfRange);
      out.d = positive ? 0.0 : -0.0;
    } else if (r.ec != std::errc() || r.ptr != p_ || !std::isfinite(out.d)) {
      return error(kNumberOutOfRange);
    }
    return true;
  }

  // Reads the number at the current byte ('-' or a digit); with `convert` false it is only
  // checked for syntax.
  bool number_here(Number& n, bool convert = true) {
    if (*p_ == '-') {
      ++p_;
      return parse_number(false, n, convert);
    }
    return parse_number(true, n, convert);
  }

  // The value at the current (non-whitespace) byte does not suit `expecting`: reads it for
  // the message, which is positioned after it (before it for arrays and objects).
  bool invalid_type_here(std::string_view expecting) {
    std::string u;
    const int c = peek();
    if (c == 'n') {
      ++p_;
      if (!parse_ident("ull")) return false;
      u = unexpected_null();
    } else if (c == 't') {
      ++p_;
      if (!parse_ident("rue")) return false;
      u = unexpected_bool(true);
    } else if (c == 'f') {
      ++p_;
      if (!parse_ident("alse")) return false;
      u = unexpected_bool(false);
    } else if (c == '-' || is_digit(c)) {
      Number n;
      if (!number_here(n)) return false;
      u = unexpected_number(n);
    } else if (c == '"') {
      ++p_;
      std::string_view s;
      if (!parse_str(s)) return false;
      u = unexpected_string(s);
    } else if (c == '[') {
      u = unexpected_sequence();
    } else if (c == '{') {
      u = unexpected_map();
    } else {
      return peek_error(kExpectedValue);
    }
    return error(invalid_type(u, expecting));
  }

  // --- typed reads ----------------------------------------------------------------------
  bool read(std::string& out) {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    if (c != '"') return invalid_type_here(kExpectString);
    ++p_;
    std::string_view s;
    if (!parse_str(s)) return false;
    out.assign(s);
    return true;
  }

  bool read(std::int64_t& out) {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    if (c != '-' && !is_digit(c)) return invalid_type_here(kExpectI64);
    Number n;
    if (!number_here(n)) return false;
    switch (n.kind) {
      case Number::U64:
        if (n.u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
          return error(invalid_value(unexpected_unsigned(n.u), kExpectI64));
        out = static_cast<std::int64_t>(n.u);
        return true;
      case Number::I64:
        out = n.i;
        return true;
      default:
        return error(invalid_type(unexpected_float(n.d), kExpectI64));
    }
  }

  bool read(double& out) {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    if (c != '-' && !is_digit(c)) return invalid_type_here(kExpectF64);
    Number n;
    if (!number_here(n)) return false;
    out = n.kind == Number::U64 ? static_cast<double>(n.u) : n.kind == Number::I64 ? static_cast<double>(n.i) : n.d;
    return true;
  }

  bool read(bool& out) {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    if (c == 't') {
      ++p_;
      out = true;
      return parse_ident("rue");
    }
    if (c == 'f') {
      ++p_;
      out = false;
      return parse_ident("alse");
    }
    return invalid_type_here(kExpectBool);
  }

  // A value of any shape: a JSON value (settings, values of info) or a buffered value (net
  // members). Both hold the scalars in the same variant alternatives.
  template <class V>
    requires std::is_same_v<V, JsonValue> || std::is_same_v<V, Content>
  bool read(V& out) {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    switch (c) {
      case 'n':
        ++p_;
        out.v.template emplace<std::monostate>();
        return parse_ident("ull");
      case 't':
        ++p_;
        out.v.template emplace<bool>(true);
        return parse_ident("rue");
      case 'f':
        ++p_;
        out.v.template emplace<bool>(false);
        return parse_ident("alse");
      case '"': {
        ++p_;
        std::string_view s;
        if (!parse_str(s)) return false;
        out.v.template emplace<std::string>(s);
        return true;
      }
      case '[': {
        auto& items = out.v.template emplace<std::vector<V>>();
        return in_seq([&] {
          bool first = true;
          for (;;) {
            int r = next_element(first);
            if (r <= 0) return r == 0;
            items.emplace_back();
            if (!read(items.back())) return false;
          }
        });
      }
      case '{':
        if constexpr (std::is_same_v<V, JsonValue>) {
          return read_object_body(out.v.template emplace<JsonObject>());
        } else {
          // Entries in input order, repeated keys kept.
          auto& entries = out.v.template emplace<Content::Map>();
          return in_map([&] {
            bool first = true;
            std::string_view key;
            for (;;) {
              int r = next_key(first, key);
              if (r <= 0) return r == 0;
              entries.emplace_back(Content(std::string(key)), Content());
              if (!colon() || !read(entries.back().second)) return false;
            }
          });
        }
      default:
        if (c == '-' || is_digit(c)) {
          Number n;
          if (!number_here(n)) return false;
          if (n.kind == Number::U64) out.v.template emplace<std::uint64_t>(n.u);
          else if (n.kind == Number::I64) out.v.template emplace<std::int64_t>(n.i);
          else out.v.template emplace<double>(n.d);
          return true;
        }
        return peek_error(kExpectedValue);
    }
  }

  // At '{': entries in any order, a repeated key keeps its last value.
  bool read_object_body(JsonObject& out) {
    std::vector<JsonObject::Entry> entries;
    if (!in_map([&] {
          bool first = true;
          std::string_view key;
          for (;;) {
            int r = next_key(first, key);
            if (r <= 0) return r == 0;
            if (entries.empty()) entries.reserve(4);
            entries.emplace_back(std::string(key), JsonValue());
            if (!colon() || !read(entries.back().second)) return false;
          }
        }))
      return false;
    out = JsonObject::from_unsorted(std::move(entries));
    return true;
  }

  bool read(JsonObject& out) {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    if (c != '{') return invalid_type_here(kExpectMap);
    return read_object_body(out);
  }

  // Reads and discards a well-formed value of any shape.
  bool skip() {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    switch (c) {
      case 'n': ++p_; return parse_ident("ull");
      case 't': ++p_; return parse_ident("rue");
      case 'f': ++p_; return parse_ident("alse");
      case '"': {
        ++p_;
        std::string_view s;
        return parse_str(s);
      }
      case '[':
        return in_seq([&] {
          bool first = true;
          for (;;) {
            int r = next_element(first);
            if (r <= 0) return r == 0;
            if (!skip()) return false;
          }
        });
      case '{':
        return in_map([&] {
          bool first = true;
          std::string_view key;
          for (;;) {
            int r = next_key(first, key);
            if (r <= 0) return r == 0;
            if (!colon() || !skip()) return false;
          }
        });
      default:
        if (c == '-' || is_digit(c)) {
          Number n;
          return number_here(n, false);
        }
        return peek_error(kExpectedValue);
    }
  }

  // Net members: the usual shapes (an object or array of at most four scalars, strings
  // without escapes) are taken straight from the text; anything else is buffered whole.
  bool read(NetMember& out) {
    const char* start = p_;
    FlatMember flat;
    if (read_flat_member(flat)) {
      if (!member_from_flat(flat, out)) return fail(std::string(kNoMemberVariant));
      return true;
    }
    p_ = start;
    Content c;
    if (!read(c)) return false;
    auto m = member_from_content(c);
    if (!m) return fail(std::string(kNoMemberVariant));
    out = std::move(*m);
    return true;
  }

  // A string without escapes, non-ASCII or control bytes, after its opening quote.
  bool plain_string(std::string_view& out) {
    const char* start = p_;
    skip_plain();
    if (p_ == e_ || *p_ != '"') return false;
    out = std::string_view(start, static_cast<std::size_t>(p_ - start));
    ++p_;
    return true;
  }

  bool flat_scalar(FlatScalar& f) {
    const int c = skip_ws();
    if (c == '"') {
      ++p_;
      std::string_view text;
      if (!plain_string(text)) return false;
      f.set_string(text);
      return true;
    }
    if (c != '-' && !is_digit(c)) return false;
    Number n;
    if (!number_here(n)) return false;
    if (n.kind == Number::U64) {
      f.kind = FlatScalar::UInt;
      f.u = n.u;
    } else if (n.kind == Number::I64) {
      f.kind = FlatScalar::Int;
      f.i = n.i;
    } else {
      f.kind = FlatScalar::Other;
    }
    return true;
  }

  // False when the member is not of the usual shape (or malformed): the caller then reads
  // it again from its start through the buffered value, which gives the exact outcome.
  bool read_flat_member(FlatMember& m) {
    const int open = skip_ws();
    if ((open != '{' && open != '[') || depth_ <= 1) return false;
    m.is_map = open == '{';
    const char close = m.is_map ? '}' : ']';
    ++p_;
    int c = skip_ws();
    if (c == close) {
      ++p_;
      return true;
    }
    for (;;) {
      if (m.n == FlatMember::kMax) return false;
      if (m.is_map) {
        if (c != '"') return false;
        ++p_;
        std::string_view key;
        if (!plain_string(key) || skip_ws() != ':') return false;
        m.keys[m.n].set_string(key);
        ++p_;
      }
      if (!flat_scalar(m.values[m.n++])) return false;
      c = skip_ws();
      if (c == close) {
        ++p_;
        return true;
      }
      if (c != ',') return false;
      ++p_;
      c = skip_ws();
    }
  }

  template <class T>
  bool read(std::vector<T>& out) {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    if (c != '[') return invalid_type_here(kExpectSequence);
    return in_seq([&] {
      bool first = true;
      for (;;) {
        int r = next_element(first);
        if (r <= 0) return r == 0;
        if (out.empty()) out.reserve(4);  // most nets hold a few members: one allocation
        out.emplace_back();
        if (!read(out.back())) return false;
      }
    });
  }

  bool read(Net& out) { return read(out.members); }

  bool read(std::optional<NetlistArray>& out) {
    if (skip_ws() == 'n') {
      ++p_;
      out.reset();
      return parse_ident("ull");
    }
    out.emplace();
    return read(*out);
  }

  // Instances keyed by name, in document order; a repeated name replaces the earlier record
  // in its position.
  template <class W>
  bool read(OrderedMap<W>& out) {
    const int c = skip_ws();
    if (c < 0) return peek_error(kEofValue);
    if (c != '{') return invalid_type_here(kExpectMap);
    return in_map([&] {
      bool first = true;
      std::string_view key;
      for (;;) {
        int r = next_key(first, key);
        if (r <= 0) return r == 0;
        // Read in place: a new name appends an empty record, a repeated one resets its own.
        W& record = out.insert_or_assign(std::string(key), W{});
        if (!colon() || !read(record)) return false;
      }
    });
  }

  template <class R>
    requires is_record_v<R>
  bool read(R& out);

 private:
  const char* b_;
  const char* p_;
  const char* e_;
  int depth_ = kDepthBudget;
  std::string scratch_;
  std::string msg_;
  std::size_t pos_ = 0;
  bool positioned_ = true;
};

// Object form of a record, for read_map_record.
struct MapAccess {
  Reader& r;
  bool first = true;
  int next_key(std::string_view& key) { return r.next_key(first, key); }
  template <class T>
  bool read_value(T& out) {
    return r.colon() && r.read(out);
  }
  bool skip_value() { return r.colon() && r.skip(); }
  bool fail(std::string message) { return r.fail(std::move(message)); }
};

// Positional form of a record, for read_seq_record.
struct SeqAccess {
  Reader& r;
  bool first = true;
  int has_next() { return r.next_element(first); }
  template <class T>
  bool read_value(T& out) {
    return r.read(out);
  }
  // Extra elements are refused when the array is closed.
  bool finish() { return true; }
  bool fail(std::string message) { return r.fail(std::move(message)); }
};

template <class R>
  requires is_record_v<R>
bool Reader::read(R& out) {
  const int c = skip_ws();
  if (c < 0) return peek_error(kEofValue);
  if (c == '{') {
    return in_map([&] {
      MapAccess m{*this};
      return read_map_record(m, out);
    });
  }
  if (c == '[') {
    return in_seq([&] {
      SeqAccess s{*this};
      return read_seq_record(s, out);
    });
  }
  return invalid_type_here(Describe<R>::expecting);
}

}  // namespace

template <class T>
Status read_json(std::string_view text, T& out) {
  Reader r(text);
  if (!r.read(out) || !r.end()) return Error::deserialize(r.message());
  return ok_status();
}

template Status read_json(std::string_view, NetlistPort&);
template Status read_json(std::string_view, PortRef&);
template Status read_json(std::string_view, PortArrayRef&);
template Status read_json(std::string_view, NetlistArray&);
template Status read_json(std::string_view, Net&);
template Status read_json(std::string_view, NetlistInstanceWire&);
template Status read_json(std::string_view, NetlistInstance&);
template Status read_json(std::string_view, NetlistWire&);
template Status read_json(std::string_view, Netlist&);
template Status read_json(std::string_view, BBox&);
template Status read_json(std::string_view, Placement&);
template Status read_json(std::string_view, PlacedInstanceWire&);
template Status read_json(std::string_view, PlacedNetlistWire&);

}  // namespace vondrel
