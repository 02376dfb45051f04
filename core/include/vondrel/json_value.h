// The generic JSON value held by an instance's settings and info.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vondrel {

// The deepest nesting of arrays and objects (records, lists and maps included, the outermost
// counted) that a document may have: both readers refuse a deeper one, and both writers
// refuse to produce one. Values held by the library are therefore never deeper, so no walk
// over one (copy, comparison, destruction, writing) recurses further than this.
inline constexpr int kMaxNesting = 127;
// What a reader or writer reports for a document deeper than that.
inline constexpr const char* kNestingExceeded = "recursion limit exceeded";

struct JsonValue;

// A JSON object: keys unique and always kept in ascending byte order.
class JsonObject {
 public:
  using Entry = std::pair<std::string, JsonValue>;

  JsonObject() = default;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void reserve(std::size_t n) { entries_.reserve(n); }

  const JsonValue* find(std::string_view key) const;
  JsonValue* find(std::string_view key);

  // Sets `key` to `value`; an existing key keeps its place and takes the new value.
  void insert_or_assign(std::string key, JsonValue value);

  // Bulk construction: entries in any order, a repeated key keeps its last value.
  static JsonObject from_unsorted(std::vector<Entry> entries);

  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }

  friend bool operator==(const JsonObject&, const JsonObject&);

 private:
  std::vector<Entry> entries_;  // sorted by key, unique
};

using JsonArray = std::vector<JsonValue>;

// Integers have one canonical form: unsigned when >= 0, signed only when negative.
// Doubles are always finite.
struct JsonValue {
  using Storage = std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double,
                               std::string, JsonArray, JsonObject>;
  enum Kind : std::size_t { Null, Bool, UInt, Int, Double, String, Array, Object };

  Storage v;

  JsonValue() = default;
  JsonValue(std::nullptr_t) {}
  JsonValue(bool b) : v(b) {}
  JsonValue(double d) : v(d) {}
  JsonValue(std::string s) : v(std::move(s)) {}
  JsonValue(const char* s) : v(std::string(s)) {}
  JsonValue(JsonArray a) : v(std::move(a)) {}
  JsonValue(JsonObject o) : v(std::move(o)) {}
  // Integers are stored in canonical form.
  static JsonValue integer(std::int64_t i) {
    JsonValue r;
    if (i >= 0) r.v = static_cast<std::uint64_t>(i); else r.v = i;
    return r;
  }
  static JsonValue uinteger(std::uint64_t u) {
    JsonValue r;
    r.v = u;
    return r;
  }

  Kind kind() const { return static_cast<Kind>(v.index()); }
  bool is_null() const { return v.index() == Null; }

  friend bool operator==(const JsonValue& a, const JsonValue& b) { return a.v == b.v; }
};

inline const JsonValue* JsonObject::find(std::string_view key) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                             [](const Entry& e, std::string_view k) { return std::string_view(e.first) < k; });
  return (it != entries_.end() && it->first == key) ? &it->second : nullptr;
}

inline JsonValue* JsonObject::find(std::string_view key) {
  return const_cast<JsonValue*>(static_cast<const JsonObject*>(this)->find(key));
}

inline bool operator==(const JsonObject& a, const JsonObject& b) { return a.entries_ == b.entries_; }

}  // namespace vondrel
