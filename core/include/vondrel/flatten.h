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

// A recursive run in which an instance that a pass would inline leads, through the cells
// inlined after it, into a cell that contains itself can never succeed; meanwhile its passes
// may build without bound (more instances every pass, or longer names). Such a run is stopped
// by its work. The first pass always runs (it builds what a single pass would); before each
// later pass builds anything, a tally grows by the bytes that pass will write: the names of
// the instances it carries over or creates and of the members it renames, the instance records
// it copies with their settings and info, and a record's size for every instance, net and
// member. The first time the tally exceeds
//   kFlattenRunawayFloor + kFlattenRunawayFactor x (the input in the same unit: the top as a
//   pass carries it, every `netlists` entry as a pass copies it, the maps and the separator),
// the state is checked once for such a cycle, in time linear in its instances and the cells
// reached from them. With a cycle the run fails at once with FlattenPassLimit; without one it
// goes on and is never checked again. So a run without a cycle is never affected, and one with
// a cycle builds no more than its first pass and that budget before it ends.
inline constexpr std::size_t kFlattenRunawayFactor = 4;
inline constexpr std::size_t kFlattenRunawayFloor = std::size_t{64} << 20;  // bytes

// Flattens `data` through the cells of `netlists`: one pass, or passes until nothing is left
// to inline (FlattenPassLimit after 1000, or earlier for a run that cannot end; see above).
// The result is sorted into canonical order.
Result<FlattenResult> flatten_netlist(NetlistData data, const CellNameMap& instance_cell_map,
                                      const NetlistDataMap& netlists,
                                      const SubInstanceCellMaps& sub_instance_cell_maps,
                                      const FlattenOptions& options,
                                      std::size_t runaway_factor = kFlattenRunawayFactor,
                                      std::size_t runaway_floor = kFlattenRunawayFloor);

// One inlining pass over the state: selection, renaming, placements, net rewiring.
Result<PassResult> expand_pass(FlattenState state, const NetlistDataMap& netlists,
                               const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options);

}  // namespace vondrel
