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
// inlined after it, into a cell that contains itself can never succeed: every later pass
// inlines an instance on that cycle, so the run ends with a name clash, a dropped connection
// or, after its last pass, FlattenPassLimit; meanwhile it may grow without bound (doubling
// every pass when a cell holds itself twice).
//
// So a recursive run tallies its work: before a pass builds anything, the tally grows by what
// the pass will handle (the kept instances, the current nets and the members of the nets the
// previous pass built, and the instances, nets and members it copies out of cells). The first
// time the tally exceeds
//   kFlattenRunawayFactor x (instances + nets of the input and of every `netlists` entry)
//   + kFlattenRunawayFloor,
// at the second pass or later (the first pass, which builds what a single pass would, always
// runs), the state is checked once for such a cycle, by the rules the passes select by, in
// time linear in its instances and the cells reached from them. With a cycle the run fails at
// once with FlattenPassLimit. Without one there never will be one (later instances all
// descend from the present ones): the run goes on as it would have and is not checked again.
// A run without a cycle is therefore never affected; a run with one behaves as it always did
// while within the budget (the errors of its early passes, the 1000 passes of a small cell
// that holds itself once), and otherwise stops having built no more than a few times its
// input (a few MB and milliseconds for a small one).
inline constexpr std::size_t kFlattenRunawayFactor = 4;
inline constexpr std::size_t kFlattenRunawayFloor = std::size_t{1} << 16;

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
