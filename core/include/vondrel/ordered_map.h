// Insertion-ordered map keyed by string: inserting an existing key replaces in place,
// removal keeps the order of the rest, and the map can be sorted by key.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

namespace vondrel {

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  std::size_t operator()(const std::string& s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// Sorts `order` by the byte-wise order of name(i) of its elements i; the names must be unique.
template <class Index, class Name>
void sort_by_name(std::vector<Index>& order, Name&& name) {
  // Each position carries the name's first 16 bytes as a big-endian number (zero padded): a
  // difference there decides the byte-wise order, so only names with equal prefixes are
  // compared whole.
  struct Slot {
    std::uint64_t hi, lo;
    Index index;
  };
  std::vector<Slot> slots(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::string& key = name(order[i]);
    std::uint64_t part[2] = {0, 0};
    for (std::size_t b = 0; b < 16; ++b)
      part[b / 8] = (part[b / 8] << 8) | (b < key.size() ? static_cast<unsigned char>(key[b]) : 0u);
    slots[i] = Slot{part[0], part[1], order[i]};
  }
  // Names are unique, so an unstable sort gives the one possible order.
  std::sort(slots.begin(), slots.end(), [&](const Slot& a, const Slot& b) {
    if (a.hi != b.hi) return a.hi < b.hi;
    if (a.lo != b.lo) return a.lo < b.lo;
    return name(a.index) < name(b.index);
  });
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = slots[i].index;
}

template <class V>
class OrderedMap {
  using Map = tsl::ordered_map<std::string, V, StringHash, std::equal_to<>,
                               std::allocator<std::pair<std::string, V>>,
                               std::vector<std::pair<std::string, V>>>;

 public:
  using Entry = std::pair<std::string, V>;
  using const_iterator = typename Map::const_iterator;
  using iterator = typename Map::iterator;  // it.key(), it.value() (mutable value)

  std::size_t size() const { return map_.size(); }
  bool empty() const { return map_.empty(); }
  void reserve(std::size_t n) { map_.reserve(n); }
  void clear() { map_.clear(); }

  bool contains(std::string_view key) const { return map_.find(key) != map_.end(); }
  const V* find(std::string_view key) const {
    auto it = map_.find(key);
    return it == map_.end() ? nullptr : &it->second;
  }
  V* find(std::string_view key) {
    auto it = map_.find(key);
    return it == map_.end() ? nullptr : &it.value();
  }

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  // Position of `key` in insertion order, or npos when absent.
  std::size_t index_of(std::string_view key) const {
    auto it = map_.find(key);
    return it == map_.end() ? npos : static_cast<std::size_t>(it - map_.begin());
  }

  // Appends key -> value when the key is absent; returns false (and stores nothing) when present.
  bool try_append(std::string key, V value) {
    return map_.try_emplace(std::move(key), std::move(value)).second;
  }

  // Replaces the value of an existing key in its position, else appends.
  V& insert_or_assign(std::string key, V value) {
    auto r = map_.insert_or_assign(std::move(key), std::move(value));
    return r.first.value();
  }

  // Removes `key` keeping the order of the other entries; false when absent.
  bool erase(std::string_view key) { return map_.erase(key) > 0; }

  // Removes every entry for which pred(key, value) holds, in one pass, keeping order.
  template <class Pred>
  void erase_if(Pred pred) {
    const auto matches = [&pred](const auto& e) { return pred(e.first, e.second); };
    if (std::none_of(map_.begin(), map_.end(), matches)) return;
    std::vector<Entry> entries = take_entries();
    std::erase_if(entries, matches);
    rebuild(std::move(entries));
  }

  // Sorts by key, byte-wise (keys are unique, so the result is fully determined).
  void sort_by_key() {
    if (std::is_sorted(map_.begin(), map_.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; }))
      return;
    // Sort positions rather than entries (an entry may be large), then move each entry once.
    const auto& values = map_.values_container();
    std::vector<std::size_t> order(values.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    sort_by_name(order, [&values](std::size_t i) -> const std::string& { return values[i].first; });
    std::vector<Entry> entries;
    entries.reserve(order.size());
    // The stored pairs are not const (only the iterators hide the keys); the map is cleared
    // right after, so its keys may be moved out.
    for (std::size_t i : order) entries.push_back(std::move(const_cast<Entry&>(values[i])));
    rebuild(std::move(entries));
  }

  // Iteration in order; `*it` is a pair of key and value, `it.value()` is mutable.
  const_iterator begin() const { return map_.begin(); }
  const_iterator end() const { return map_.end(); }
  iterator begin() { return map_.begin(); }
  iterator end() { return map_.end(); }

  // Entry at position i (insertion order).
  const Entry& at_index(std::size_t i) const { return map_.values_container()[i]; }

  // Moves every entry out in order, leaving the map empty.
  std::vector<Entry> take_entries() {
    std::vector<Entry> out;
    out.reserve(map_.size());
    for (auto it = map_.begin(); it != map_.end(); ++it) out.emplace_back(it->first, std::move(it.value()));
    map_.clear();
    return out;
  }

  friend bool operator==(const OrderedMap& a, const OrderedMap& b) {
    return a.map_.values_container() == b.map_.values_container();
  }

 private:
  void rebuild(std::vector<Entry> entries) {
    map_.clear();
    map_.reserve(entries.size());
    for (auto& e : entries) map_.insert(std::move(e));
  }
  Map map_;
};

}  // namespace vondrel
