// The buffered value: a value held whole before its kind is known. Net members carry no tag
// on the wire, so each is read into a Content first and then recognised as a top-level port,
// a port reference or an array port reference, in that order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "vondrel/net.h"

namespace vondrel {

struct ByteString {
  std::string bytes;
  friend bool operator==(const ByteString&, const ByteString&) = default;
};

struct Content {
  using Seq = std::vector<Content>;
  using Map = std::vector<std::pair<Content, Content>>;  // input order, repeated keys kept
  using Storage = std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, ByteString,
                               Seq, Map>;
  enum Kind : std::size_t { Null, Bool, UInt, Int, Double, String, Bytes, Sequence, Mapping };

  Storage v;

  Content() = default;
  Content(std::nullptr_t) {}
  Content(bool b) : v(b) {}
  Content(std::uint64_t u) : v(u) {}
  Content(std::int64_t i) : v(i) {}
  Content(double d) : v(d) {}
  Content(std::string s) : v(std::move(s)) {}
  Content(const char* s) : v(std::string(s)) {}
  Content(ByteString b) : v(std::move(b)) {}
  Content(Seq s) : v(std::move(s)) {}
  Content(Map m) : v(std::move(m)) {}

  Kind kind() const { return static_cast<Kind>(v.index()); }
  friend bool operator==(const Content&, const Content&) = default;
};

// A member whose entries are all scalars, as every member that can be recognised is:
// recognition works on this flat view, which the JSON reader fills straight from the text
// for the usual shapes. Strings are viewed, not owned; keys are used when `is_map`.
// Trivial on purpose: only the first n entries are ever set or read.
struct FlatScalar {
  enum Kind : unsigned char { String, UInt, Int, Other } kind;
  const char* data;  // String (for a key: also a byte string, whatever its bytes)
  std::size_t size;
  std::uint64_t u;
  std::int64_t i;
  std::string_view str() const { return {data, size}; }
  void set_string(std::string_view v) {
    kind = String;
    data = v.data();
    size = v.size();
  }
};
struct FlatMember {
  static constexpr int kMax = 4;  // no member kind has more fields
  bool is_map = false;
  int n = 0;
  FlatScalar keys[kMax];
  FlatScalar values[kMax];
};

// The trial of NetlistPort, PortRef and PortArrayRef in turn over a flat member: sets `out`
// in place and returns true when one fits.
bool member_from_flat(const FlatMember& m, NetMember& out);

// Tries the value as a NetlistPort, then a PortRef, then a PortArrayRef; nullopt when none
// fits (the caller reports "data did not match any variant of untagged enum NetMember").
// A map selects fields by string or byte-string keys equal to a field name, or by unsigned
// integer keys below the field count; a sequence must hold exactly the field count.
std::optional<NetMember> member_from_content(const Content& c);

}  // namespace vondrel
