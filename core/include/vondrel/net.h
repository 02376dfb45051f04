// Net members and nets.
#pragma once

#include <compare>
#include <string_view>
#include <variant>
#include <vector>

#include "vondrel/port.h"

namespace vondrel {

// Variant index 0, 1, 2: the index orders first, then the held value.
using NetMember = std::variant<NetlistPort, PortRef, PortArrayRef>;

// The instance a member refers to, or nullptr for a top-level port.
inline const std::string* member_instance(const NetMember& m) {
  if (auto* r = std::get_if<PortRef>(&m)) return &r->instance;
  if (auto* a = std::get_if<PortArrayRef>(&m)) return &a->instance;
  return nullptr;
}

// The port a reference member names, or nullptr for a top-level port.
inline const std::string* member_port(const NetMember& m) {
  if (auto* r = std::get_if<PortRef>(&m)) return &r->port;
  if (auto* a = std::get_if<PortArrayRef>(&m)) return &a->port;
  return nullptr;
}

struct Net {
  std::vector<NetMember> members;
  friend bool operator==(const Net&, const Net&) = default;
  // Lexicographic over the members, a proper prefix first.
  friend std::strong_ordering operator<=>(const Net& a, const Net& b) {
    return std::lexicographical_compare_three_way(a.members.begin(), a.members.end(), b.members.begin(),
                                                  b.members.end());
  }
};

// Stable sort of members in NetMember order.
void sort_members(std::vector<NetMember>& members);

// Stable sort of nets in Net order (lexicographic over their members).
void sort_nets(std::vector<Net>& nets);

}  // namespace vondrel
