// Array dimensions and instances.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vondrel/json_value.h"

namespace vondrel {

struct NetlistArray {
  std::int64_t na = 0;
  std::int64_t nb = 0;
  friend bool operator==(const NetlistArray&, const NetlistArray&) = default;
};

struct NetlistInstance {
  std::string kcl;
  std::string component;
  JsonValue settings;   // any JSON value
  JsonObject info;
  std::optional<NetlistArray> array;
  std::string name;     // a copy of its key in the netlist
  friend bool operator==(const NetlistInstance&, const NetlistInstance&) = default;
};

}  // namespace vondrel
