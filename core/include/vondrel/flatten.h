// Hierarchical flattening: inlining instances by the contents of their cell's netlist.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "vondrel/error.h"
#include "vondrel/instance.h"
#include "vondrel/net.h"
#include "vondrel/ordered_map.h"
#include "vondrel/placement.h"
#include "vondrel/port.h"

namespace vondrel {

// String-keyed hash containers with lookup by string_view.
using NameSet = std::unordered_set<std::string, StringHash, std::equal_to<>>;
// Instance name -> cell name.
using CellNameMap = std::unordered_map<std::string, std::string, StringHash, std::equal_to<>>;

struct FlattenOptions {
  std::optional<NameSet> cells;  // absent: no filter; present and empty: inline nothing
  NameSet exclude;
  bool recursive = true;
  bool allow_unconnected_ports = false;
  bool warn_skipped = false;
  std::string separator = ".";

  static FlattenOptions make(std::optional<std::vector<std::string>> cells,
                             std::optional<std::vector<std::string>> exclude, bool recursive,
                             bool allow_unconnected_ports, bool warn_skipped, std::string separator);
};

// The engine's record of one netlist; `extras` is empty for a plain netlist and may lack
// entries for instances or hold names that are not instances.
struct NetlistData {
  OrderedMap<NetlistInstance> instances;
  std::vector<Net> nets;
  std::vector<NetlistPort> ports;
  ExtrasMap extras;
  friend bool operator==(const NetlistData&, const NetlistData&) = default;
};

// Cell name -> that cell's netlist.
using NetlistDataMap = std::unordered_map<std::string, NetlistData, StringHash, std::equal_to<>>;
// Cell name -> (name of an instance of that cell -> its cell name).
using SubInstanceCellMaps = std::unordered_map<std::string, CellNameMap, StringHash, std::equal_to<>>;

// What one flatten call hands from pass to pass.
struct FlattenState {
  NetlistData data;
  std::vector<std::string> warnings;  // skip messages, in the order they were made
  // The cell of each instance, by its position in `data.instances`; nullptr when the cell is
  // unknown. The names live in the maps given to flatten_netlist (read only for the whole
  // call) or in `owned_cells`.
  std::vector<const std::string*> cell_of;
  std::vector<std::string> owned_cells;  // reserved once, never reallocated
  NameSet warned;                        // instances that already have a skip message
};

struct FlattenResult {
  NetlistData data;                   // in canonical order
  std::vector<std::string> warnings;
};

struct PassResult {
  FlattenState state;
  bool changed = false;               // true when the pass inlined at least one instance
};

inline constexpr unsigned kFlattenMaxPasses = 1000;

// Past this many instances a recursive run is checked for a cell that contains itself: such
// a run never ends and can grow without bound (doubling every pass when a cell holds itself
// twice), exhausting memory long before its last pass. It then fails at once with the error
// it would end with, FlattenPassLimit.
inline constexpr std::size_t kFlattenRunawayCheckSize = std::size_t{1} << 24;

// Flattens `data` through the cells of `netlists`: one pass, or passes until nothing is left
// to inline (FlattenPassLimit after 1000). The result is sorted into canonical order.
Result<FlattenResult> flatten_netlist(NetlistData data, const CellNameMap& instance_cell_map,
                                      const NetlistDataMap& netlists,
                                      const SubInstanceCellMaps& sub_instance_cell_maps,
                                      const FlattenOptions& options,
                                      std::size_t runaway_check_size = kFlattenRunawayCheckSize);

// One inlining pass over the state: selection, renaming, placements, net rewiring.
Result<PassResult> expand_pass(FlattenState state, const NetlistDataMap& netlists,
                               const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options);

}  // namespace vondrel
