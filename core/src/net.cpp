#include "vondrel/net.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace vondrel {

void sort_members(std::vector<NetMember>& members) {
  if (std::is_sorted(members.begin(), members.end())) return;
  // Most nets are short: an insertion sort (stable) needs no buffer.
  if (members.size() <= 16) {
    for (std::size_t i = 1; i < members.size(); ++i) {
      if (!(members[i] < members[i - 1])) continue;
      NetMember m = std::move(members[i]);
      std::size_t j = i;
      for (; j > 0 && m < members[j - 1]; --j) members[j] = std::move(members[j - 1]);
      members[j] = std::move(m);
    }
    return;
  }
  std::stable_sort(members.begin(), members.end());
}

namespace {

// A 16-byte big-endian prefix of a net's place in Net order. Byte 0 holds the first
// member's variant index + 1 (0 for the empty net); the next 15 bytes hold the member's
// leading string (the port name or the instance name), zero padded. When no leading
// string of the list holds a NUL byte, a leading string of at most 14 bytes is followed
// by a 0 terminator and then by the start of the member's port name, which orders nets
// that begin at the same instance. Whenever one net orders before another its prefix is
// not larger, and a smaller prefix means an earlier net, so only equal prefixes need the
// full comparison.
struct NetSortKey {
  std::uint64_t hi = 0;
  std::uint64_t lo = 0;
  std::size_t index = 0;
};

std::string_view leading_string(const NetMember& m) {
  const std::string* inst = member_instance(m);
  return inst ? std::string_view(*inst) : std::string_view(std::get<NetlistPort>(m).name);
}

NetSortKey net_sort_key(const Net& net, std::size_t index, bool terminate) {
  NetSortKey key;
  key.index = index;
  if (net.members.empty()) return key;
  const NetMember& first = net.members.front();
  const std::string_view s = leading_string(first);
  unsigned char bytes[16] = {};
  bytes[0] = static_cast<unsigned char>(first.index() + 1);
  std::size_t pos = 1;
  for (std::size_t i = 0; i < s.size() && pos < 16; ++i) bytes[pos++] = static_cast<unsigned char>(s[i]);
  if (terminate && s.size() <= 14) {
    bytes[pos++] = 0;
    if (const std::string* port = member_port(first))
      for (std::size_t i = 0; i < port->size() && pos < 16; ++i) bytes[pos++] = static_cast<unsigned char>((*port)[i]);
  }
  for (int i = 0; i < 8; ++i) key.hi = (key.hi << 8) | bytes[i];
  for (int i = 8; i < 16; ++i) key.lo = (key.lo << 8) | bytes[i];
  return key;
}

}  // namespace

void sort_nets(std::vector<Net>& nets) {
  if (std::is_sorted(nets.begin(), nets.end())) return;
  // The terminator after a leading string is only unambiguous when no leading string
  // holds the byte 0 itself.
  bool terminate = true;
  for (const Net& n : nets)
    if (!n.members.empty() && leading_string(n.members.front()).find('\0') != std::string_view::npos) {
      terminate = false;
      break;
    }
  std::vector<NetSortKey> keys;
  keys.reserve(nets.size());
  for (std::size_t i = 0; i < nets.size(); ++i) keys.push_back(net_sort_key(nets[i], i, terminate));
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
