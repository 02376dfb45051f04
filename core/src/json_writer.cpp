// Compact JSON text writer: appends to one growing string.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <variant>

#include "vondrel/json.h"
#include "vondrel/record.h"
#include "vondrel/wire.h"

namespace vondrel {

namespace {

// The longest double text: sign, 17 digits, "0." and five zeros, or an exponent part.
constexpr std::size_t kMaxDouble = 32;

constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Short decimals, the usual values of settings and placements, without the general search for
// the shortest digits: for the smallest j whose m = round(a * 10^j) divides back to exactly a,
// m with j decimals is the shortest round-trip form (m < 2^40 keeps the rounding of the
// product exact enough; a shorter form at a smaller j would have been found there).
bool short_decimal(double a, std::uint64_t& m, int& j) {
  if (!(a >= 1e-5 && a < 1e12)) return false;
  for (j = 0; j <= 15; ++j) {
    const double scaled = a * kPow10[j];
    if (scaled >= 1099511627776.0) return false;
    const double r = std::nearbyint(scaled);
    if (r / kPow10[j] == a) {
      m = static_cast<std::uint64_t>(r);
      return true;
    }
  }
  return false;
}

// Writes `v` in the writer's layout at `p` (room for kMaxDouble bytes); returns the end.
char* put_double(char* p, double v) {
  if (!std::isfinite(v)) return std::copy_n("null", 4, p);
  if (v == 0.0) return std::signbit(v) ? std::copy_n("-0.0", 4, p) : std::copy_n("0.0", 3, p);
  std::uint64_t m;
  int j;
  if (short_decimal(std::fabs(v), m, j)) {
    if (v < 0) *p++ = '-';
    char digits[24];
    int nd = static_cast<int>(std::to_chars(digits, digits + sizeof digits, m).ptr - digits);
    if (j == 0) {
      p = std::copy_n(digits, nd, p);
      *p++ = '.';
      *p++ = '0';
      return p;
    }
    if (nd <= j) {  // below 1: "0.", zeros, digits
      *p++ = '0';
      *p++ = '.';
      p = std::fill_n(p, j - nd, '0');
      return std::copy_n(digits, nd, p);
    }
    p = std::copy_n(digits, nd - j, p);
    *p++ = '.';
    return std::copy_n(digits + nd - j, j, p);
  }
  char buf[40];
  // The shortest form first: when it is plain notation it is already the layout wanted (a
  // fraction: the decimal exponent lies in -5..15; an integer of at most 16 digits: ".0" added).
  const char* end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  bool point = false;
  bool exponent = false;
  for (const char* q = buf; q < end; ++q) {
    point |= *q == '.';
    exponent |= *q == 'e';
  }
  if (!exponent && (point || end - buf - (buf[0] == '-') <= 16)) {
    p = std::copy(static_cast<const char*>(buf), end, p);
    if (!point) {
      *p++ = '.';
      *p++ = '0';
    }
    return p;
  }
  // Otherwise lay out the shortest digits from the scientific form d.ddde[+-]xx.
  end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific).ptr;
  const char* q = buf;
  if (*q == '-') {
    *p++ = '-';
    ++q;
  }
  const char* e = static_cast<const char*>(std::memchr(q, 'e', static_cast<std::size_t>(end - q)));
  char digits[20];
  int nd = 0;
  for (; q < e; ++q)
    if (*q != '.') digits[nd++] = *q;
  int exp = 0;
  std::from_chars(e + 1 + (e[1] == '+'), end, exp);

  if (exp >= -5 && exp <= 15) {
    if (exp < 0) {
      *p++ = '0';
      *p++ = '.';
      p = std::fill_n(p, -exp - 1, '0');
      return std::copy_n(digits, nd, p);
    }
    if (nd <= exp + 1) {
      p = std::copy_n(digits, nd, p);
      p = std::fill_n(p, exp + 1 - nd, '0');
      *p++ = '.';
      *p++ = '0';
      return p;
    }
    p = std::copy_n(digits, exp + 1, p);
    *p++ = '.';
    return std::copy_n(digits + exp + 1, nd - exp - 1, p);
  }
  *p++ = digits[0];
  if (nd > 1) {
    *p++ = '.';
    p = std::copy_n(digits + 1, nd - 1, p);
  }
  *p++ = 'e';
  *p++ = exp < 0 ? '-' : '+';
  return std::to_chars(p, p + 8, exp < 0 ? -exp : exp).ptr;
}

// Writes through a raw pointer into the string's storage; the string is cut to the written
// size when the sink is done.
class Sink {
 public:
  explicit Sink(std::string& s) : s_(s), p_(s.data() + s.size()), end_(p_) {}
  ~Sink() { s_.resize(static_cast<std::size_t>(p_ - s_.data())); }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // Room for n more bytes at p().
  char* need(std::size_t n) {
    if (static_cast<std::size_t>(end_ - p_) < n) grow(n);
    return p_;
  }
  void advance_to(char* p) { p_ = p; }

  void put(char c) {
    need(1);
    *p_++ = c;
  }
  void put(std::string_view text) {
    need(text.size());
    std::memcpy(p_, text.data(), text.size());
    p_ += text.size();
  }

  // Opens an array or object with `c`. A document may nest kMaxNesting levels: what would
  // open one more is not written, and the whole text is refused (too_deep()).
  bool open(char c) {
    if (++depth_ > kMaxNesting) {
      too_deep_ = true;
      --depth_;
      return false;
    }
    put(c);
    return true;
  }
  void close(char c) {
    --depth_;
    put(c);
  }
  bool too_deep() const { return too_deep_; }

 private:
  // Capacity grows geometrically; the writable window (which resize fills with zeros) only
  // by what is about to be written, so untouched capacity is never written twice.
  void grow(std::size_t n) {
    constexpr std::size_t kWindow = 64 * 1024;
    const std::size_t used = static_cast<std::size_t>(p_ - s_.data());
    if (used + n > s_.capacity()) s_.reserve(std::max({s_.capacity() * 2, used + n, std::size_t{256}}));
    s_.resize(std::min(s_.capacity(), used + std::max(n, kWindow)));
    p_ = s_.data() + used;
    end_ = s_.data() + s_.size();
  }

  std::string& s_;
  char* p_;
  char* end_;
  int depth_ = 0;
  bool too_deep_ = false;
};

// Per byte: 0 copies it, 'u' writes \u00XX, any other letter writes a backslash and it.
struct EscapeTable {
  char v[256] = {};
  constexpr EscapeTable() {
    for (int c = 0; c < 0x20; ++c) v[c] = 'u';
    v[static_cast<unsigned char>('"')] = '"';
    v[static_cast<unsigned char>('\\')] = '\\';
    v[0x08] = 'b';
    v[0x09] = 't';
    v[0x0A] = 'n';
    v[0x0C] = 'f';
    v[0x0D] = 'r';
  }
};
constexpr EscapeTable kEscape;

// Every writer is declared first so that the templates below see all of them.
void write(Sink& out, std::string_view s);
void write_piece(Sink& out, std::string_view s);
void write(Sink& out, const std::string& s);
void write(Sink& out, std::int64_t v);
void write(Sink& out, std::uint64_t v);
void write(Sink& out, double v);
void write(Sink& out, bool b);
void write(Sink& out, const JsonValue& v);
void write(Sink& out, const JsonObject& obj);
void write(Sink& out, const NetMember& m);
void write(Sink& out, const Net& net);
void write(Sink& out, const std::optional<NetlistArray>& a);
template <class T>
void write(Sink& out, const std::vector<T>& items);
template <class W>
void write(Sink& out, const OrderedMap<W>& map);
void write(Sink& out, const PlacedInstancesView& map);
template <class R>
  requires record::is_record_v<R>
void write(Sink& out, const R& rec);

void write(Sink& out, std::string_view s) {
  out.put('"');
  // In pieces, each with room for every byte escaped as six.
  constexpr std::size_t kPiece = 4096;
  for (std::size_t at = 0; at < s.size(); at += kPiece) write_piece(out, s.substr(at, kPiece));
  out.put('"');
}

void write_piece(Sink& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  char* p = out.need(s.size() * 6);
  const char* q = s.data();
  const char* end = q + s.size();
  while (q < end) {
    const auto c = static_cast<unsigned char>(*q++);
    const char e = kEscape.v[c];
    if (!e) {
      *p++ = static_cast<char>(c);
      continue;
    }
    *p++ = '\\';
    if (e == 'u') {
      *p++ = 'u';
      *p++ = '0';
      *p++ = '0';
      *p++ = kHex[c >> 4];
      *p++ = kHex[c & 15];
    } else {
      *p++ = e;
    }
  }
  out.advance_to(p);
}

void write(Sink& out, const std::string& s) { write(out, std::string_view(s)); }

template <class Int>
void write_integer(Sink& out, Int v) {
  char* p = out.need(24);
  out.advance_to(std::to_chars(p, p + 24, v).ptr);
}

void write(Sink& out, std::int64_t v) { write_integer(out, v); }
void write(Sink& out, std::uint64_t v) { write_integer(out, v); }
void write(Sink& out, double v) { out.advance_to(put_double(out.need(kMaxDouble), v)); }
void write(Sink& out, bool b) { out.put(b ? std::string_view("true") : std::string_view("false")); }

// One entry of an object: a comma before every entry but the first, then "key":value.
template <class V>
void write_entry(Sink& out, bool& first, const std::string& key, const V& value) {
  if (!first) out.put(',');
  first = false;
  write(out, key);
  out.put(':');
  write(out, value);
}

// An object of the map's (key, value) entries, in the map's order.
template <class Map>
void write_entries(Sink& out, const Map& map) {
  if (!out.open('{')) return;
  bool first = true;
  for (const auto& [key, value] : map) write_entry(out, first, key, value);
  out.close('}');
}

void write(Sink& out, const JsonObject& obj) { write_entries(out, obj); }

void write(Sink& out, const JsonValue& v) {
  switch (v.kind()) {
    case JsonValue::Null: out.put("null"); break;
    case JsonValue::Bool: write(out, std::get<bool>(v.v)); break;
    case JsonValue::UInt: write(out, std::get<std::uint64_t>(v.v)); break;
    case JsonValue::Int: write(out, std::get<std::int64_t>(v.v)); break;
    case JsonValue::Double: write(out, std::get<double>(v.v)); break;
    case JsonValue::String: write(out, std::string_view(std::get<std::string>(v.v))); break;
    case JsonValue::Array: write(out, std::get<JsonArray>(v.v)); break;
    case JsonValue::Object: write(out, std::get<JsonObject>(v.v)); break;
  }
}

void write(Sink& out, const NetMember& m) {
  std::visit([&](const auto& held) { write(out, held); }, m);
}

template <class T>
void write(Sink& out, const std::vector<T>& items) {
  if (!out.open('[')) return;
  bool first = true;
  for (const auto& item : items) {
    if (!first) out.put(',');
    first = false;
    write(out, item);
  }
  out.close(']');
}

void write(Sink& out, const Net& net) { write(out, net.members); }

void write(Sink& out, const std::optional<NetlistArray>& a) {
  if (a) write(out, *a);
  else out.put("null");
}

template <class W>
void write(Sink& out, const OrderedMap<W>& map) {
  write_entries(out, map);
}

void write(Sink& out, const PlacedInstancesView& map) {
  if (!out.open('{')) return;
  bool first = true;
  map.for_each([&](const std::string& name, const PlacedInstanceView& record) {
    write_entry(out, first, name, record);
    return true;
  });
  out.close('}');
}

// The writer access of write_record.
struct RecordWriter {
  Sink& out;
  bool comma = false;
  bool begin_record(std::size_t) { return out.open('{'); }
  bool key(std::string_view key) {
    // Record keys are plain identifiers: no escaping.
    char* p = out.need(key.size() + 4);
    if (comma) *p++ = ',';
    comma = true;
    *p++ = '"';
    std::memcpy(p, key.data(), key.size());
    p += key.size();
    *p++ = '"';
    *p++ = ':';
    out.advance_to(p);
    return true;
  }
  template <class T>
  bool write_value(const T& value) {
    write(out, value);
    return true;
  }
  bool end_record() {
    out.close('}');
    return true;
  }
};

template <class R>
  requires record::is_record_v<R>
void write(Sink& out, const R& rec) {
  RecordWriter w{out};
  record::write_record(w, rec);
}

}  // namespace

void append_double(std::string& out, double v) {
  char buf[kMaxDouble];
  out.append(buf, put_double(buf, v));
}

std::string format_double(double v) {
  std::string out;
  append_double(out, v);
  return out;
}

template <class T>
Status write_json(std::string& out, const T& value) {
  Sink sink(out);
  write(sink, value);
  if (sink.too_deep()) return Error::serialize(kNestingExceeded);
  return ok_status();
}

template Status write_json(std::string&, const NetlistPort&);
template Status write_json(std::string&, const PortRef&);
template Status write_json(std::string&, const PortArrayRef&);
template Status write_json(std::string&, const NetlistArray&);
template Status write_json(std::string&, const Net&);
template Status write_json(std::string&, const NetlistInstanceWire&);
template Status write_json(std::string&, const NetlistInstance&);
template Status write_json(std::string&, const NetlistWire&);
template Status write_json(std::string&, const Netlist&);
template Status write_json(std::string&, const BBox&);
template Status write_json(std::string&, const Placement&);
template Status write_json(std::string&, const PlacedInstanceWire&);
template Status write_json(std::string&, const PlacedNetlistWire&);
template Status write_json(std::string&, const PlacedInstanceView&);
template Status write_json(std::string&, const PlacedNetlistView&);

}  // namespace vondrel
