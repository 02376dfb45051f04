#include "vondrel/content.h"

#include <limits>
#include <string_view>

#include "utf8.h"

namespace vondrel {

namespace {

// Field index selected by a map key, or -1.
template <std::size_t N>
int key_index(const Content& key, const std::string_view (&names)[N]) {
  std::string_view text;
  if (auto* s = std::get_if<std::string>(&key.v)) {
    text = *s;
  } else if (auto* b = std::get_if<ByteString>(&key.v)) {
    text = b->bytes;
  } else if (auto* u = std::get_if<std::uint64_t>(&key.v)) {
    return *u < N ? static_cast<int>(*u) : -1;
  } else {
    return -1;
  }
  for (std::size_t i = 0; i < N; ++i)
    if (names[i] == text) return static_cast<int>(i);
  return -1;
}

// Points slots[i] at the value of field i; false when the shape does not fit the record.
template <std::size_t N>
bool select(const Content& c, const std::string_view (&names)[N], const Content* (&slots)[N]) {
  for (auto& s : slots) s = nullptr;
  if (auto* seq = std::get_if<Content::Seq>(&c.v)) {
    if (seq->size() != N) return false;
    for (std::size_t i = 0; i < N; ++i) slots[i] = &(*seq)[i];
    return true;
  }
  if (auto* map = std::get_if<Content::Map>(&c.v)) {
    for (const auto& [k, v] : *map) {
      int i = key_index(k, names);
      if (i < 0 || slots[i]) return false;
      slots[i] = &v;
    }
    for (auto* s : slots)
      if (!s) return false;
    return true;
  }
  return false;
}

bool is_string(const Content* c) {
  if (c->kind() == Content::String) return true;
  if (auto* b = std::get_if<ByteString>(&c->v)) return detail::valid_utf8(b->bytes);
  return false;
}

bool is_i64(const Content* c) {
  if (auto* u = std::get_if<std::uint64_t>(&c->v)) return *u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return c->kind() == Content::Int;
}

template <bool Move>
std::string take_string(const Content* c) {
  auto* mc = const_cast<Content*>(c);
  std::string& s = mc->kind() == Content::String ? std::get<std::string>(mc->v) : std::get<ByteString>(mc->v).bytes;
  if constexpr (Move) return std::move(s);
  else return s;
}

std::int64_t take_i64(const Content* c) {
  if (auto* u = std::get_if<std::uint64_t>(&c->v)) return static_cast<std::int64_t>(*u);
  return std::get<std::int64_t>(c->v);
}

constexpr std::string_view kPortFields[] = {"name"};
constexpr std::string_view kRefFields[] = {"instance", "port"};
constexpr std::string_view kArrayRefFields[] = {"instance", "port", "ia", "ib"};

template <bool Move>
std::optional<NetMember> recognise(const Content& c) {
  {
    const Content* f[1];
    if (select(c, kPortFields, f) && is_string(f[0])) return NetMember(NetlistPort{take_string<Move>(f[0])});
  }
  {
    const Content* f[2];
    if (select(c, kRefFields, f) && is_string(f[0]) && is_string(f[1]))
      return NetMember(PortRef{take_string<Move>(f[0]), take_string<Move>(f[1])});
  }
  {
    const Content* f[4];
    if (select(c, kArrayRefFields, f) && is_string(f[0]) && is_string(f[1]) && is_i64(f[2]) && is_i64(f[3]))
      return NetMember(PortArrayRef{take_string<Move>(f[0]), take_string<Move>(f[1]), take_i64(f[2]), take_i64(f[3])});
  }
  return std::nullopt;
}

}  // namespace

std::optional<NetMember> member_from_content(const Content& c) { return recognise<false>(c); }
std::optional<NetMember> member_from_content(Content&& c) { return recognise<true>(c); }

}  // namespace vondrel
