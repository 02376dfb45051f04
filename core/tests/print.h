// Readable test output for members and nets.
#pragma once

#include <ostream>

#include "vondrel/net.h"

namespace vondrel {

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
