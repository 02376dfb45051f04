#include "vondrel/net.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace vondrel {

void sort_members(std::vector<NetMember>& members) {
  if (std::is_sorted(members.begin(), members.end())) return;
  std::stable_sort(members.begin(), members.end());
}

namespace {

// A 16-byte prefix of a net's sort order: the first member's variant index + 1 (0 for the
// empty net) in the top byte, then the first 15 bytes of its leading string (the port
// name or the instance name), zero padded, big-endian. Whenever one net orders before
// another its prefix is not larger, and a smaller prefix means an earlier net, so only
// equal prefixes need the full comparison.
struct NetSortKey {
  std::uint64_t hi = 0;
  std::uint64_t lo = 0;
  std::uint32_t index = 0;
};

NetSortKey net_sort_key(const Net& net, std::uint32_t index) {
  NetSortKey key;
  key.index = index;
  if (net.members.empty()) return key;
  const NetMember& first = net.members.front();
  const std::string* leading = member_instance(first);
  const std::string_view s = leading ? *leading : std::get<NetlistPort>(first).name;
  unsigned char bytes[16] = {};
  bytes[0] = static_cast<unsigned char>(first.index() + 1);
  const std::size_t n = std::min<std::size_t>(s.size(), 15);
  for (std::size_t i = 0; i < n; ++i) bytes[i + 1] = static_cast<unsigned char>(s[i]);
  for (int i = 0; i < 8; ++i) key.hi = (key.hi << 8) | bytes[i];
  for (int i = 8; i < 16; ++i) key.lo = (key.lo << 8) | bytes[i];
  return key;
}

}  // namespace

void sort_nets(std::vector<Net>& nets) {
  if (std::is_sorted(nets.begin(), nets.end())) return;
  std::vector<NetSortKey> keys;
  keys.reserve(nets.size());
  for (std::size_t i = 0; i < nets.size(); ++i) keys.push_back(net_sort_key(nets[i], static_cast<std::uint32_t>(i)));
  std::stable_sort(keys.begin(), keys.end(), [&nets](const NetSortKey& a, const NetSortKey& b) {
    if (a.hi != b.hi) return a.hi < b.hi;
    if (a.lo != b.lo) return a.lo < b.lo;
    return nets[a.index] < nets[b.index];
  });
  std::vector<Net> sorted;
  sorted.reserve(nets.size());
  for (const NetSortKey& k : keys) sorted.push_back(std::move(nets[k.index]));
  nets = std::move(sorted);
}

}  // namespace vondrel
