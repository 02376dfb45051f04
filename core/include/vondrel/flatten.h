// Hierarchical flattening: inlining instances by the contents of their cell's netlist.
#pragma once

#include <cstdint>
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

// One instance of the netlist being flattened, as the passes carry it, beside its record
// (`FlattenState::records`, same position). An item keeps its number for the whole run: a
// pass lists the items it keeps, and the ones it makes, in a new order.
struct FlattenItem {
  std::size_t hash = 0;        // StringHash of its name, kept for the name lookups of every pass
  Placement placement;         // an inlined child's composed placement
  const std::string* cell = nullptr;  // its cell (in the maps given to the run); nullptr: unknown
  std::size_t bytes = 0;       // what it holds, for the runaway guard; 0 until weighed
  std::uint32_t input_extra = kNoExtra;  // position of its entry in `input_extras`, if any
  bool child = false;          // made by a pass: its extras entry is {cell or "", placement}
  bool warned = false;         // has had its skip message
  static constexpr std::uint32_t kNoExtra = UINT32_MAX;
};

// What one flatten call hands from pass to pass.
struct FlattenState {
  std::vector<FlattenItem> items;    // every item made; those alive are listed in `order`
  // Each item's name and instance (an inlined child's `name` field is filled in with the result).
  std::vector<OrderedMap<NetlistInstance>::Entry> records;
  std::vector<std::uint32_t> order;  // the instances, in instance order
  std::vector<Net> nets;
  std::vector<NetlistPort> ports;
  ExtrasMap input_extras;            // the input's extras, read only; the extras as they stand
                                     // until a pass inlines something
  std::vector<std::string> warnings; // skip messages, in the order they were made
  bool inlined = false;              // a pass has inlined something: every net is sorted and
                                     // free of repeated members, extras are per item
  std::vector<std::uint32_t> spare;  // spent items, whose places later children take
  // What the state holds, as the runaway guard counts it; the first three only while `weighed`.
  bool weighed = false;
  std::size_t item_bytes = 0;
  std::size_t net_bytes = 0;
  std::size_t members = 0;
  std::size_t warning_bytes = 0;

  // The state before the first pass: `data` with the cell of each instance worked out from
  // `instance_cell_map` and the extras (the names it points to live in the map or the state).
  static FlattenState start(NetlistData data, const CellNameMap& instance_cell_map);
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

// The runaway guard. A recursive run in which an instance that a pass would inline leads,
// through the cells inlined after it, into a cell that contains itself can never succeed:
// its passes end with a pass's error or with FlattenPassLimit, and meanwhile may build without
// bound (more instances every pass, or longer names). From the second pass on (the first always
// runs: it builds what a single pass would), before a pass builds anything, the guard bounds
// two things apart:
//  - the state the pass would leave: every instance with its name, record, settings and info,
//    every net and member, every skip message; against kFlattenLiveFloor plus
//    kFlattenRunawayFactor times the input;
//  - the work of the run so far with that pass: kFlattenVisitBytes for every instance, net and
//    member a pass visits or carries, twice every byte it writes (names, renamed members,
//    copied records), its skip messages, and the sorting of the nets it rebuilds; against
//    kFlattenWorkFloor plus kFlattenRunawayFactor times the input.
// The input is measured in the same unit: the top, every `netlists` entry as a pass copies it,
// the maps and the separator. The first time either tally passes its budget, the state is
// checked once for such a cycle, in time linear in its instances and the cells reached from
// them: with a cycle the run fails at once with FlattenPassLimit; without one it goes on and is
// never checked again. So a run without a cycle is never affected.
// A run with a cycle gets the answer of its own passes, a failing pass's error or the pass
// limit, whenever the passes reach it within the floors: 256 MiB of state, and a work unit is
// about what writing and hashing a byte of a name costs, so the work floor is somewhat under a
// second of the passes (a record carried costs about 64 bytes' worth). The tallies count what
// the passes cost because nothing is carried by copying: an instance, net or member that a
// pass keeps stays where it is, and no name is copied or hashed again.
inline constexpr std::size_t kFlattenRunawayFactor = 4;
inline constexpr std::size_t kFlattenLiveFloor = std::size_t{256} << 20;  // bytes
inline constexpr std::size_t kFlattenWorkFloor = std::size_t{3} << 30;    // bytes
inline constexpr std::size_t kFlattenVisitBytes = 64;

// Flattens `data` through the cells of `netlists`: one pass, or passes until nothing is left
// to inline (FlattenPassLimit after 1000, or earlier for a run that cannot end; see above).
// The result is sorted into canonical order.
Result<FlattenResult> flatten_netlist(NetlistData data, const CellNameMap& instance_cell_map,
                                      const NetlistDataMap& netlists,
                                      const SubInstanceCellMaps& sub_instance_cell_maps,
                                      const FlattenOptions& options,
                                      std::size_t runaway_factor = kFlattenRunawayFactor,
                                      std::size_t live_floor = kFlattenLiveFloor,
                                      std::size_t work_floor = kFlattenWorkFloor);

// One inlining pass over the state: selection, renaming, placements, net rewiring.
Result<PassResult> expand_pass(FlattenState state, const NetlistDataMap& netlists,
                               const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options);

}  // namespace vondrel
