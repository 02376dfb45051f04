// Compact JSON text writer.
#include <charconv>
#include <cmath>
#include <cstring>
#include <variant>

#include "vondrel/json.h"
#include "vondrel/record.h"
#include "vondrel/wire.h"

namespace vondrel {

void append_double(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  if (v == 0.0) {
    out += std::signbit(v) ? "-0.0" : "0.0";
    return;
  }
  // Shortest round-trip digits, as d.ddde[+-]x.
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const char* p = buf;
  const char* end = r.ptr;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  const char* e = static_cast<const char*>(std::memchr(p, 'e', static_cast<std::size_t>(end - p)));
  char digits[20];
  int nd = 0;
  for (const char* q = p; q < e; ++q)
    if (*q != '.') digits[nd++] = *q;
  int exp = 0;
  std::from_chars(e + 1 + (e[1] == '+'), end, exp);

  if (exp >= -5 && exp <= 15) {
    if (exp < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exp - 1), '0');
      out.append(digits, static_cast<std::size_t>(nd));
    } else if (nd <= exp + 1) {
      out.append(digits, static_cast<std::size_t>(nd));
      out.append(static_cast<std::size_t>(exp + 1 - nd), '0');
      out += ".0";
    } else {
      out.append(digits, static_cast<std::size_t>(exp + 1));
      out += '.';
      out.append(digits + exp + 1, static_cast<std::size_t>(nd - exp - 1));
    }
    return;
  }
  out += digits[0];
  if (nd > 1) {
    out += '.';
    out.append(digits + 1, static_cast<std::size_t>(nd - 1));
  }
  out += 'e';
  out += exp < 0 ? '-' : '+';
  char eb[8];
  auto er = std::to_chars(eb, eb + sizeof eb, exp < 0 ? -exp : exp);
  out.append(eb, er.ptr);
}

std::string format_double(double v) {
  std::string out;
  append_double(out, v);
  return out;
}

namespace {

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
void write(std::string& out, std::string_view s);
void write(std::string& out, const std::string& s);
void write(std::string& out, std::int64_t v);
void write(std::string& out, std::uint64_t v);
void write(std::string& out, double v);
void write(std::string& out, bool b);
void write(std::string& out, const JsonValue& v);
void write(std::string& out, const JsonObject& obj);
void write(std::string& out, const NetMember& m);
void write(std::string& out, const Net& net);
void write(std::string& out, const std::optional<NetlistArray>& a);
template <class T>
void write(std::string& out, const std::vector<T>& items);
template <class W>
void write(std::string& out, const OrderedMap<W>& map);
template <class R>
  requires record::is_record_v<R>
void write(std::string& out, const R& rec);

void write(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    const char* run = p;
    while (p < end && !kEscape.v[static_cast<unsigned char>(*p)]) ++p;
    out.append(run, static_cast<std::size_t>(p - run));
    if (p == end) break;
    const auto c = static_cast<unsigned char>(*p++);
    const char e = kEscape.v[c];
    if (e == 'u') {
      const char u[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      out.append(u, 6);
    } else {
      out += '\\';
      out += e;
    }
  }
  out += '"';
}

void write(std::string& out, const std::string& s) { write(out, std::string_view(s)); }

template <class Int>
void write_integer(std::string& out, Int v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void write(std::string& out, std::int64_t v) { write_integer(out, v); }
void write(std::string& out, std::uint64_t v) { write_integer(out, v); }
void write(std::string& out, double v) { append_double(out, v); }
void write(std::string& out, bool b) { out += b ? "true" : "false"; }

void write(std::string& out, const JsonObject& obj) {
  out += '{';
  bool first = true;
  for (const auto& [key, value] : obj) {
    if (!first) out += ',';
    first = false;
    write(out, key);
    out += ':';
    write(out, value);
  }
  out += '}';
}

void write(std::string& out, const JsonValue& v) {
  switch (v.kind()) {
    case JsonValue::Null: out += "null"; break;
    case JsonValue::Bool: write(out, std::get<bool>(v.v)); break;
    case JsonValue::UInt: write(out, std::get<std::uint64_t>(v.v)); break;
    case JsonValue::Int: write(out, std::get<std::int64_t>(v.v)); break;
    case JsonValue::Double: write(out, std::get<double>(v.v)); break;
    case JsonValue::String: write(out, std::string_view(std::get<std::string>(v.v))); break;
    case JsonValue::Array: {
      out += '[';
      bool first = true;
      for (const auto& item : std::get<JsonArray>(v.v)) {
        if (!first) out += ',';
        first = false;
        write(out, item);
      }
      out += ']';
      break;
    }
    case JsonValue::Object: write(out, std::get<JsonObject>(v.v)); break;
  }
}

void write(std::string& out, const NetMember& m) {
  std::visit([&](const auto& held) { write(out, held); }, m);
}

template <class T>
void write(std::string& out, const std::vector<T>& items) {
  out += '[';
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += ',';
    first = false;
    write(out, item);
  }
  out += ']';
}

void write(std::string& out, const Net& net) { write(out, net.members); }

void write(std::string& out, const std::optional<NetlistArray>& a) {
  if (a) write(out, *a);
  else out += "null";
}

template <class W>
void write(std::string& out, const OrderedMap<W>& map) {
  out += '{';
  bool first = true;
  for (const auto& [name, record] : map) {
    if (!first) out += ',';
    first = false;
    write(out, name);
    out += ':';
    write(out, record);
  }
  out += '}';
}

// The writer access of write_record.
struct RecordWriter {
  std::string& out;
  bool comma = false;
  bool begin_record(std::size_t) {
    out += '{';
    return true;
  }
  bool key(std::string_view key) {
    if (comma) out += ',';
    comma = true;
    out += '"';
    out += key;  // record keys are plain identifiers
    out += "\":";
    return true;
  }
  template <class T>
  bool write_value(const T& value) {
    write(out, value);
    return true;
  }
  bool end_record() {
    out += '}';
    return true;
  }
};

template <class R>
  requires record::is_record_v<R>
void write(std::string& out, const R& rec) {
  RecordWriter w{out};
  record::write_record(w, rec);
}

}  // namespace

template <class T>
void write_json(std::string& out, const T& value) {
  write(out, value);
}

template void write_json(std::string&, const NetlistPort&);
template void write_json(std::string&, const PortRef&);
template void write_json(std::string&, const PortArrayRef&);
template void write_json(std::string&, const NetlistArray&);
template void write_json(std::string&, const Net&);
template void write_json(std::string&, const NetlistInstanceWire&);
template void write_json(std::string&, const NetlistWire&);
template void write_json(std::string&, const BBox&);
template void write_json(std::string&, const Placement&);
template void write_json(std::string&, const PlacedInstanceWire&);
template void write_json(std::string&, const PlacedNetlistWire&);

}  // namespace vondrel
