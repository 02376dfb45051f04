#include "vondrel/json_value.h"

#include <algorithm>

namespace vondrel {

namespace {
bool key_less(const JsonObject::Entry& a, const JsonObject::Entry& b) { return a.first < b.first; }

// a < b in byte order (as std::string compares), in line: the keys of a record's settings
// are short, and most differ in their first byte.
bool key_before(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}
}  // namespace

void JsonObject::insert_or_assign(std::string key, JsonValue value) {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                             [](const Entry& e, const std::string& k) { return e.first < k; });
  if (it != entries_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    entries_.insert(it, Entry(std::move(key), std::move(value)));
  }
}

JsonObject JsonObject::from_unsorted(std::vector<Entry> entries) {
  JsonObject out;
  // Already strictly ascending (the usual case for written documents): take it as it is.
  if (std::adjacent_find(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return !key_before(a.first, b.first); }) == entries.end()) {
    out.entries_ = std::move(entries);
    return out;
  }
  // Stable sort keeps repeated keys in input order; the last of each run wins.
  std::stable_sort(entries.begin(), entries.end(), key_less);
  out.entries_.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i + 1 < entries.size() && entries[i + 1].first == entries[i].first) continue;
    out.entries_.push_back(std::move(entries[i]));
  }
  return out;
}

}  // namespace vondrel
