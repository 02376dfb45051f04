// Short builders and readable test output for net members and nets.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

#include "vondrel/net.h"

namespace vondrel {

namespace test {
inline NetMember P(std::string name) { return NetlistPort{std::move(name)}; }
inline NetMember R(std::string inst, std::string port) { return PortRef{std::move(inst), std::move(port)}; }
inline NetMember A(std::string inst, std::string port, std::int64_t ia, std::int64_t ib) {
  return PortArrayRef{std::move(inst), std::move(port), ia, ib};
}
}  // namespace test

inline void PrintTo(const NetMember& m, std::ostream* os) {
  if (auto* p = std::get_if<NetlistPort>(&m)) *os << p->name;
  if (auto* r = std::get_if<PortRef>(&m)) *os << r->instance << "." << r->port;
  if (auto* a = std::get_if<PortArrayRef>(&m)) *os << a->instance << "." << a->port << "[" << a->ia << "," << a->ib << "]";
}

inline void PrintTo(const Net& n, std::ostream* os) {
  *os << "[";
  for (std::size_t i = 0; i < n.members.size(); ++i) {
    if (i) *os << ", ";
    PrintTo(n.members[i], os);
  }
  *os << "]";
}

}  // namespace vondrel
