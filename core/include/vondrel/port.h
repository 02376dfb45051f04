// Top-level ports and references to ports of instances.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace vondrel {

// std::string compares through char_traits<char>, i.e. as unsigned bytes, a proper
// prefix first: exactly the string order of the model.

struct NetlistPort {
  std::string name;
  friend bool operator==(const NetlistPort&, const NetlistPort&) = default;
  friend std::strong_ordering operator<=>(const NetlistPort&, const NetlistPort&) = default;
};

struct PortRef {
  std::string instance;
  std::string port;
  friend bool operator==(const PortRef&, const PortRef&) = default;
  friend std::strong_ordering operator<=>(const PortRef&, const PortRef&) = default;
};

struct PortArrayRef {
  std::string instance;
  std::string port;
  std::int64_t ia = 0;
  std::int64_t ib = 0;
  friend bool operator==(const PortArrayRef&, const PortArrayRef&) = default;
  friend std::strong_ordering operator<=>(const PortArrayRef&, const PortArrayRef&) = default;
};

}  // namespace vondrel
