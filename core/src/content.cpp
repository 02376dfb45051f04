#include "vondrel/content.h"

#include <limits>
#include <string_view>

#include "utf8.h"

namespace vondrel {

namespace {

// Field index selected by a map key, or -1: a string equal to a field name, or an unsigned
// integer below the field count.
template <std::size_t N>
int key_index(const FlatScalar& key, const std::string_view (&names)[N]) {
  if (key.kind == FlatScalar::UInt) return key.u < N ? static_cast<int>(key.u) : -1;
  if (key.kind != FlatScalar::String) return -1;
  for (std::size_t i = 0; i < N; ++i)
    if (names[i] == key.str()) return static_cast<int>(i);
  return -1;
}

// Points slots[i] at the value of field i; false when the shape does not fit the record.
template <std::size_t N>
bool select(const FlatMember& m, const std::string_view (&names)[N], const FlatScalar* (&slots)[N]) {
  for (auto& s : slots) s = nullptr;
  if (!m.is_map) {
    if (m.n != static_cast<int>(N)) return false;
    for (std::size_t i = 0; i < N; ++i) slots[i] = &m.values[i];
    return true;
  }
  for (int e = 0; e < m.n; ++e) {
    int i = key_index(m.keys[e], names);
    if (i < 0 || slots[i]) return false;
    slots[i] = &m.values[e];
  }
  for (auto* s : slots)
    if (!s) return false;
  return true;
}

bool is_string(const FlatScalar* v) { return v->kind == FlatScalar::String; }

bool is_i64(const FlatScalar* v) {
  if (v->kind == FlatScalar::UInt) return v->u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return v->kind == FlatScalar::Int;
}

std::int64_t i64(const FlatScalar* v) { return v->kind == FlatScalar::UInt ? static_cast<std::int64_t>(v->u) : v->i; }

constexpr std::string_view kPortFields[] = {"name"};
constexpr std::string_view kRefFields[] = {"instance", "port"};
constexpr std::string_view kArrayRefFields[] = {"instance", "port", "ia", "ib"};

// A key or value of a buffered value as a scalar; `value` decides how a byte string counts
// (a value must be valid UTF-8 to be a string, a key is compared byte for byte).
FlatScalar flat(const Content& c, bool value) {
  FlatScalar f{};
  f.kind = FlatScalar::Other;
  if (auto* s = std::get_if<std::string>(&c.v)) {
    f.set_string(*s);
  } else if (auto* b = std::get_if<ByteString>(&c.v)) {
    if (!value || detail::valid_utf8(b->bytes)) f.set_string(b->bytes);
  } else if (auto* u = std::get_if<std::uint64_t>(&c.v)) {
    f.kind = FlatScalar::UInt;
    f.u = *u;
  } else if (auto* i = std::get_if<std::int64_t>(&c.v)) {
    f.kind = FlatScalar::Int;
    f.i = *i;
  }
  return f;
}

}  // namespace

bool member_from_flat(const FlatMember& m, NetMember& out) {
  {
    const FlatScalar* f[1];
    if (select(m, kPortFields, f) && is_string(f[0])) {
      out.emplace<NetlistPort>(NetlistPort{std::string(f[0]->str())});
      return true;
    }
  }
  {
    const FlatScalar* f[2];
    if (select(m, kRefFields, f) && is_string(f[0]) && is_string(f[1])) {
      auto& r = out.emplace<PortRef>();
      r.instance.assign(f[0]->str());
      r.port.assign(f[1]->str());
      return true;
    }
  }
  {
    const FlatScalar* f[4];
    if (select(m, kArrayRefFields, f) && is_string(f[0]) && is_string(f[1]) && is_i64(f[2]) && is_i64(f[3])) {
      auto& r = out.emplace<PortArrayRef>();
      r.instance.assign(f[0]->str());
      r.port.assign(f[1]->str());
      r.ia = i64(f[2]);
      r.ib = i64(f[3]);
      return true;
    }
  }
  return false;
}

std::optional<NetMember> member_from_content(const Content& c) {
  FlatMember m;
  if (auto* seq = std::get_if<Content::Seq>(&c.v)) {
    if (seq->size() > FlatMember::kMax) return std::nullopt;
    for (const auto& v : *seq) m.values[m.n++] = flat(v, true);
  } else if (auto* map = std::get_if<Content::Map>(&c.v)) {
    // More entries than fields always repeat a field or name an unknown one.
    if (map->size() > FlatMember::kMax) return std::nullopt;
    m.is_map = true;
    for (const auto& [k, v] : *map) {
      m.keys[m.n] = flat(k, false);
      m.values[m.n++] = flat(v, true);
    }
  } else {
    return std::nullopt;
  }
  NetMember out;
  if (!member_from_flat(m, out)) return std::nullopt;
  return out;
}

}  // namespace vondrel
