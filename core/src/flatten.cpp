// The flatten driver and its inlining pass.
//
// The passes carry the instances as numbered items, listed in instance order. A pass
// classifies every instance, lists the kept items where they stand and, in place of each
// inlined one, new items for its renamed children, then rewires the nets: each net inside an
// inlined cell that reaches one of the cell's top-level ports is joined, through a union-find
// over net indices, with the parent nets connected to that port of the instance. A kept
// instance, net or member costs a constant per pass, whatever its name: names are hashed once,
// when made, and the result's maps are built once, at the end. Nothing recurses over the
// hierarchy.
//
// The driver runs passes until one inlines nothing. A run whose hierarchy holds a cell that
// contains itself never gets there, and may grow exponentially; it is stopped by a one-time
// check for such a cycle once what its passes hold or do passes a budget proportional to its
// input (flatten.h describes when, and why a run without a cycle is never affected).

#include "vondrel/flatten.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>

#include "vondrel/netlist.h"
#include "vondrel/union_find.h"

namespace vondrel {

FlattenOptions FlattenOptions::make(std::optional<std::vector<std::string>> cells,
                                    std::optional<std::vector<std::string>> exclude, bool recursive,
                                    bool allow_unconnected_ports, bool warn_skipped, std::string separator) {
  FlattenOptions out;
  if (cells) {
    out.cells.emplace();
    out.cells->reserve(cells->size());
    for (auto& c : *cells) out.cells->insert(std::move(c));
  }
  if (exclude) {
    out.exclude.reserve(exclude->size());
    for (auto& c : *exclude) out.exclude.insert(std::move(c));
  }
  out.recursive = recursive;
  out.allow_unconnected_ports = allow_unconnected_ports;
  out.warn_skipped = warn_skipped;
  out.separator = std::move(separator);
  return out;
}

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::uint32_t kNoExtra = FlattenItem::kNoExtra;

const Placement kZeroPlacement{};

std::size_t add_sat(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_add_overflow(a, b, &r) ? SIZE_MAX : r;
}
std::size_t mul_sat(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_mul_overflow(a, b, &r) ? SIZE_MAX : r;
}

// Whether the options let instances of `cell` be inlined.
bool cell_admitted(const FlattenOptions& options, const std::string& cell) {
  return options.exclude.count(cell) == 0 && (!options.cells || options.cells->count(cell) != 0);
}

// An array instance of more than one element is never inlined.
bool multi_element_array(const NetlistInstance& instance) {
  return instance.array && (instance.array->na >= 2 || instance.array->nb >= 2);
}

// The cell of a child of an inlined cell: its entry in the cell's sub-instance map, else the
// placed cell recorded in its extras; nullptr when neither names one.
const std::string* child_cell_of(const CellNameMap* sub_cells, const std::string& child_name,
                                 const PlacedExtra* child_extra) {
  if (sub_cells) {
    const auto f = sub_cells->find(child_name);
    if (f != sub_cells->end()) return &f->second;
  }
  return child_extra && !child_extra->cell.empty() ? &child_extra->cell : nullptr;
}

// ---------------------------------------------------------------------------------------
// Sizes, in bytes, as the runaway guard counts them (flatten.h).

constexpr std::size_t kItemBytes = sizeof(FlattenItem) + sizeof(OrderedMap<NetlistInstance>::Entry);
constexpr std::size_t kNetBytes = sizeof(Net);
constexpr std::size_t kMemberBytes = sizeof(NetMember);
constexpr std::size_t kNameEntryBytes = 2 * sizeof(std::string);

std::size_t json_bytes(const JsonValue& v);

std::size_t json_bytes(const JsonObject& o) {
  std::size_t n = 0;
  for (const auto& [key, value] : o) n += sizeof(std::string) + key.size() + json_bytes(value);
  return n;
}

// Values held by the library nest no deeper than kMaxNesting.
std::size_t json_bytes(const JsonValue& v) {
  std::size_t n = sizeof(JsonValue);
  switch (v.kind()) {
    case JsonValue::String: n += std::get<std::string>(v.v).size(); break;
    case JsonValue::Array:
      for (const JsonValue& e : std::get<JsonArray>(v.v)) n += json_bytes(e);
      break;
    case JsonValue::Object: n += json_bytes(std::get<JsonObject>(v.v)); break;
    default: break;
  }
  return n;
}

// An instance as an item holds it, its key aside.
std::size_t record_bytes(const NetlistInstance& inst) {
  return kItemBytes + inst.kcl.size() + inst.component.size() + inst.name.size() + json_bytes(inst.settings) +
         json_bytes(inst.info);
}

std::size_t member_bytes(const NetMember& m) {
  if (const std::string* inst = member_instance(m)) return kMemberBytes + inst->size() + member_port(m)->size();
  return kMemberBytes + std::get<NetlistPort>(m).name.size();
}

// A net with its members.
std::size_t net_bytes(const std::vector<NetMember>& members) {
  std::size_t n = kNetBytes;
  for (const NetMember& m : members) n = add_sat(n, member_bytes(m));
  return n;
}

std::size_t name_map_bytes(const CellNameMap& map) {
  std::size_t n = 0;
  for (const auto& [name, cell] : map) n += kNameEntryBytes + name.size() + cell.size();
  return n;
}

// What an item holds with its record, weighed once.
std::size_t weight_of(FlattenItem& item, const OrderedMap<NetlistInstance>::Entry& record) {
  if (!item.bytes) item.bytes = record_bytes(record.second) + record.first.size();
  return item.bytes;
}

// ---------------------------------------------------------------------------------------
// Cells, as the passes inline them.

// The top-level ports that the nets of one cell reach, numbered in the order the nets first
// reach them, and the number of each top-level member of those nets in net and member order.
// Every inlined instance of the cell has these ports, one slot each.
struct CellPorts {
  std::unordered_map<std::string_view, std::uint32_t> id;
  std::vector<std::uint32_t> member_ids;
};

CellPorts cell_ports(const NetlistData& cell) {
  CellPorts out;
  for (const Net& net : cell.nets)
    for (const NetMember& m : net.members)
      if (const auto* p = std::get_if<NetlistPort>(&m)) {
        const auto [it, fresh] = out.id.try_emplace(p->name, static_cast<std::uint32_t>(out.id.size()));
        out.member_ids.push_back(it->second);
      }
  return out;
}

// What the passes need of a cell, worked out the first time a run inlines it.
struct CellInfo {
  const std::string* name;                          // its key in `netlists`
  const NetlistData* netlist;
  const CellNameMap* sub;                           // its sub-instance map, if any
  std::vector<const std::string*> child_cells;      // per instance of the cell: its cell or nullptr
  std::vector<const Placement*> child_placements;   // per instance: its placement in the cell
  CellPorts ports;
  // Weighed when the guard first needs it: inlining one instance of the cell writes `bytes`,
  // plus `renamed` names that each get the instance's name and the separator in front (its
  // children's names and the instance names of its reference members); `child_bytes` is what
  // each child's item holds, its name aside.
  bool weighed = false;
  std::size_t bytes = 0;
  std::size_t renamed = 0;
  std::vector<std::size_t> child_bytes;
};

// How a pass treats an instance of a cell, by the classification rules.
enum class Verdict { Silent, NoNetlist, Empty, Eligible };

class Cells {
 public:
  Cells(const NetlistDataMap& netlists, const SubInstanceCellMaps& sub_instance_cell_maps,
        const FlattenOptions& options)
      : netlists_(netlists), sub_maps_(sub_instance_cell_maps), options_(options) {}

  // The verdict on instances of `cell`, and the cell's info when eligible. Kept by the name's
  // address (the names of a run never move), so a long cell name is hashed once per run, not
  // once per pass.
  std::pair<Verdict, CellInfo*> verdict(const std::string* cell) {
    const auto [it, fresh] = verdicts_.try_emplace(cell);
    if (!fresh) return it->second;
    auto& v = it->second;
    if (!cell_admitted(options_, *cell)) {
      v = {Verdict::Silent, nullptr};
    } else if (const auto nl = netlists_.find(*cell); nl == netlists_.end()) {
      v = {Verdict::NoNetlist, nullptr};
    } else if (nl->second.instances.empty()) {
      v = {Verdict::Empty, nullptr};
    } else {
      v = {Verdict::Eligible, &get(nl->first, nl->second)};
    }
    return v;
  }

  CellInfo& get(const std::string& name, const NetlistData& netlist) {
    const auto [it, fresh] = cells_.try_emplace(&netlist);
    CellInfo& c = it->second;
    if (!fresh) return c;
    c.name = &name;
    c.netlist = &netlist;
    const auto sub = sub_maps_.find(name);
    c.sub = sub == sub_maps_.end() ? nullptr : &sub->second;
    c.child_cells.reserve(netlist.instances.size());
    c.child_placements.reserve(netlist.instances.size());
    for (const auto& [child_name, child] : netlist.instances) {
      const PlacedExtra* extra = netlist.extras.find(child_name);
      c.child_cells.push_back(child_cell_of(c.sub, child_name, extra));
      c.child_placements.push_back(extra ? &extra->placement : &kZeroPlacement);
    }
    c.ports = cell_ports(netlist);
    return c;
  }

  static CellInfo& weigh(CellInfo& c) {
    if (c.weighed) return c;
    c.weighed = true;
    c.child_bytes.reserve(c.netlist->instances.size());
    for (const auto& [child_name, child] : c.netlist->instances) {
      // A child's copy keeps its `name` field empty until the result is built.
      c.child_bytes.push_back(record_bytes(child) - child.name.size());
      c.bytes += c.child_bytes.back() + child_name.size();
    }
    c.renamed = c.netlist->instances.size();
    for (const Net& net : c.netlist->nets) {
      c.bytes += net_bytes(net.members);
      c.renamed += static_cast<std::size_t>(std::count_if(
          net.members.begin(), net.members.end(), [](const NetMember& m) { return member_instance(m) != nullptr; }));
    }
    return c;
  }

 private:
  const NetlistDataMap& netlists_;
  const SubInstanceCellMaps& sub_maps_;
  const FlattenOptions& options_;
  std::unordered_map<const NetlistData*, CellInfo> cells_;
  std::unordered_map<const std::string*, std::pair<Verdict, CellInfo*>> verdicts_;
};

// An instance chosen for inlining in this pass.
struct Selected {
  std::uint32_t item;  // its item
  std::uint32_t pos;   // its position in the state's order
  CellInfo* cell;
};

// Whether recursive inlining can never end: some instance that the next pass would inline
// leads, through the cells that would be inlined after it, into a cell that contains itself.
// An instance or child counts only when a pass would inline it: the same rules as the
// classification of a pass, and the children's cells found as a pass finds them (so a cell
// named "" by the sub-instance maps is a cell like any other). Walks the instances of the
// state and, iteratively, each cell reached from them once: linear in their sizes.
bool inlining_never_ends(const FlattenState& state, Cells& cells) {
  const auto inlinable = [&](const std::string* cell, const NetlistInstance& inst) -> CellInfo* {
    return multi_element_array(inst) ? nullptr : cells.verdict(cell).second;
  };
  enum : unsigned char { Open = 1, Done = 2 };
  std::unordered_map<const CellInfo*, unsigned char> mark;
  struct Frame {
    CellInfo* cell;
    std::size_t next;  // position of the next child
    OrderedMap<NetlistInstance>::const_iterator child;
  };
  std::vector<Frame> stack;
  // Enters `cell` unless it is finished; true when it is already on the current path.
  const auto enter = [&](CellInfo* cell) {
    unsigned char& m = mark[cell];
    if (m == Open) return true;
    if (m == Done) return false;
    m = Open;
    stack.push_back(Frame{cell, 0, cell->netlist->instances.begin()});
    return false;
  };

  for (const std::uint32_t i : state.order) {
    const FlattenItem& item = state.items[i];
    if (!item.cell) continue;
    CellInfo* root = inlinable(item.cell, state.records[i].second);
    if (!root || enter(root)) continue;
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.child == f.cell->netlist->instances.end()) {
        mark[f.cell] = Done;
        stack.pop_back();
        continue;
      }
      const NetlistInstance& child = f.child->second;
      const std::string* child_cell = f.cell->child_cells[f.next];
      ++f.child;
      ++f.next;
      if (!child_cell) continue;
      if (CellInfo* next = inlinable(child_cell, child); next && enter(next)) return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// The runaway guard of a recursive run (flatten.h).

class RunawayGuard {
 public:
  RunawayGuard(const CellNameMap& instance_cell_map, const NetlistDataMap& netlists,
               const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options,
               const FlattenState& start, Cells& cells, std::size_t factor, std::size_t live_floor,
               std::size_t work_floor)
      : instance_cell_map_(instance_cell_map), netlists_(netlists), sub_maps_(sub_instance_cell_maps),
        cells_(cells), separator_(options.separator.size()), factor_(factor), live_floor_(live_floor),
        work_floor_(work_floor) {
    // The top as a pass carries it, from sizes alone.
    top_ = mul_sat(start.order.size(), kItemBytes);
    for (const std::uint32_t i : start.order) top_ = add_sat(top_, start.records[i].first.size());
    for (const Net& net : start.nets) top_ = add_sat(top_, net_bytes(net.members));
  }

  // Whether the next pass is tallied and may be checked: every pass after the first (which
  // always runs: it builds what a single pass would) until a check has found no cycle.
  bool watching() const { return passes_ > 0 && !settled_; }

  // The next pass would leave `live` bytes of state and do `work` more. True when that passes
  // either budget, which settles the guard: the caller checks for a cycle, once.
  bool over_budget(std::size_t live, std::size_t work) {
    work_ = add_sat(work_, work);
    settled_ = (live > live_floor_ || work_ > work_floor_) &&
               (live > add_sat(live_floor_, mul_sat(factor_, input())) ||
                work_ > add_sat(work_floor_, mul_sat(factor_, input())));
    return settled_;
  }

  void add_work(std::size_t work) { work_ = add_sat(work_, work); }
  void passed() { ++passes_; }

 private:
  // The input in the guard's unit, worked out when first needed.
  std::size_t input() {
    if (!input_) {
      std::size_t n = add_sat(top_, separator_);
      n = add_sat(n, name_map_bytes(instance_cell_map_));
      for (const auto& [cell, netlist] : netlists_)
        n = add_sat(n, cell.size() + Cells::weigh(cells_.get(cell, netlist)).bytes);
      for (const auto& [cell, map] : sub_maps_) n = add_sat(n, cell.size() + name_map_bytes(map));
      input_ = n;
    }
    return *input_;
  }

  const CellNameMap& instance_cell_map_;
  const NetlistDataMap& netlists_;
  const SubInstanceCellMaps& sub_maps_;
  Cells& cells_;
  std::size_t separator_;
  std::size_t factor_, live_floor_, work_floor_;
  std::size_t top_ = 0;
  std::size_t work_ = 0;
  unsigned passes_ = 0;
  bool settled_ = false;
  std::optional<std::size_t> input_;
};

// ---------------------------------------------------------------------------------------
// Name lookups of a pass.

// The names of the instances of a run, through the hashes their items keep: open addressing
// over item numbers, each slot with its item's hash, so a probe reads an item's name only
// when the hashes match. A pass takes its inlined instances out and puts their children in,
// and touches nothing else.
class NameIndex {
 public:
  explicit NameIndex(const FlattenState& state)
      : items_(state.items), records_(state.records), order_(state.order) {}

  // Fills the index with the instances of the state, unless it holds them already.
  void fill() {
    if (filled_) return;
    filled_ = true;
    resize(order_.size());
    for (const std::uint32_t i : order_) add(i);
  }

  // Adds item `i`; false (and nothing added) when an instance of the same name is there.
  bool add(std::uint32_t i) {
    if (2 * (used_ + 1) > slots_.size()) resize(live_ + 1);
    const FlattenItem& item = items_[i];
    std::size_t gone = kNoSlot;
    std::size_t s = item.hash & mask_;
    for (;; s = (s + 1) & mask_) {
      const Slot& slot = slots_[s];
      if (slot.item == kNone) break;
      if (slot.item == kGone) {
        if (gone == kNoSlot) gone = s;
      } else if (slot.hash == item.hash && records_[slot.item].first == records_[i].first) {
        return false;
      }
    }
    if (gone != kNoSlot) s = gone;
    else ++used_;
    slots_[s] = Slot{item.hash, i};
    ++live_;
    return true;
  }

  void remove(std::uint32_t i) {
    for (std::size_t s = items_[i].hash & mask_;; s = (s + 1) & mask_) {
      if (slots_[s].item == i) {
        slots_[s].item = kGone;
        --live_;
        return;
      }
    }
  }

 private:
  static constexpr std::uint32_t kGone = kNone - 1;
  static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);
  struct Slot {
    std::size_t hash;
    std::uint32_t item;  // kNone: empty; kGone: removed
  };

  // Room for 4 x `count` entries, the removed ones dropped.
  void resize(std::size_t count) {
    std::size_t capacity = 16;
    while (capacity < 4 * count) capacity <<= 1;
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(capacity, Slot{0, kNone}));
    mask_ = capacity - 1;
    used_ = live_;
    for (const Slot& slot : old) {
      if (slot.item >= kGone) continue;
      std::size_t s = slot.hash & mask_;
      while (slots_[s].item != kNone) s = (s + 1) & mask_;
      slots_[s] = slot;
    }
  }

  const std::vector<FlattenItem>& items_;
  const std::vector<OrderedMap<NetlistInstance>::Entry>& records_;
  const std::vector<std::uint32_t>& order_;
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t used_ = 0;  // live and removed slots
  std::size_t live_ = 0;
  bool filled_ = false;
};

// The inlined instances of a pass, by name, through the hashes their items keep. A member's
// instance name is hashed only when a brief of it (its length and its first and last eight
// bytes) is an inlined instance's, so carrying a member past a pass costs the same whatever
// the length of its name.
class SelectedNames {
 public:
  SelectedNames(const FlattenState& state, const std::vector<Selected>& selection)
      : items_(state.items), records_(state.records), selection_(selection) {
    std::size_t capacity = 16;
    while (capacity < 2 * selection.size()) capacity <<= 1;
    slots_.assign(capacity, Slot{0, kNone});
    briefs_.assign(capacity, 0);
    mask_ = capacity - 1;
    for (std::uint32_t sel = 0; sel < selection.size(); ++sel) {
      const std::uint32_t i = selection_[sel].item;
      std::size_t s = items_[i].hash & mask_;
      while (slots_[s].sel != kNone) s = (s + 1) & mask_;
      slots_[s] = Slot{items_[i].hash, sel};
      // Distinct briefs only (0 marks a free slot).
      const std::uint64_t b = brief(records_[i].first);
      for (s = b & mask_; briefs_[s] != b; s = (s + 1) & mask_)
        if (briefs_[s] == 0) {
          briefs_[s] = b;
          break;
        }
    }
  }

  // The selection index of the instance `name`, or kNone.
  std::uint32_t find(std::string_view name) const {
    const std::uint64_t b = brief(name);
    for (std::size_t s = b & mask_; briefs_[s] != b; s = (s + 1) & mask_)
      if (briefs_[s] == 0) return kNone;
    const std::size_t h = StringHash{}(name);
    for (std::size_t s = h & mask_; slots_[s].sel != kNone; s = (s + 1) & mask_)
      if (slots_[s].hash == h && records_[selection_[slots_[s].sel].item].first == name) return slots_[s].sel;
    return kNone;
  }

 private:
  struct Slot {
    std::size_t hash;
    std::uint32_t sel;
  };

  // Never 0.
  static std::uint64_t brief(std::string_view s) {
    std::uint64_t head = 0, tail = 0;
    const std::size_t n = std::min<std::size_t>(8, s.size());
    if (n) {
      std::memcpy(&head, s.data(), n);
      std::memcpy(&tail, s.data() + s.size() - n, n);
    }
    std::uint64_t h = (s.size() + 0x9E3779B97F4A7C15ull) * 0xBF58476D1CE4E5B9ull;
    h = (h ^ head ^ (h >> 31)) * 0x94D049BB133111EBull;
    h = (h ^ tail ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return h ? h : 1;
  }

  const std::vector<FlattenItem>& items_;
  const std::vector<OrderedMap<NetlistInstance>::Entry>& records_;
  const std::vector<Selected>& selection_;
  std::vector<Slot> slots_;
  std::vector<std::uint64_t> briefs_;
  std::size_t mask_;
};

std::string skip_message(const std::string& instance, std::string_view reason) {
  std::string msg = "not flattening instance ";
  msg += quoted(instance);
  msg += ": ";
  msg += reason;
  return msg;
}

std::string joined(std::string_view parent, std::string_view separator, std::string_view child) {
  std::string out;
  out.reserve(parent.size() + separator.size() + child.size());
  out += parent;
  out += separator;
  out += child;
  return out;
}

// The nets after a pass, as the guard counts them: what they hold and the bytes it sorted.
struct NetTally {
  std::size_t bytes = 0;
  std::size_t members = 0;
  std::size_t sorted = 0;
};

// The nets after a pass that inlines `selection`. `sorted`: every old net is already sorted
// and free of repeated members (a pass has built it), so an old net that joins no other
// comes out as it is, less the members that were cut. `tally`, when given, weighs them.
Result<std::vector<Net>> rewire_nets(std::vector<Net> old_nets, const FlattenState& state,
                                     const std::vector<Selected>& selection, const SelectedNames& selected,
                                     const FlattenOptions& options, bool sorted, NetTally* tally) {
  std::size_t total = old_nets.size();
  for (const Selected& s : selection) total += s.cell->netlist->nets.size();

  std::vector<std::vector<NetMember>> nets(total);
  UnionFind uf(total);

  // The ports of each inlined instance that the nets of its cell reach: one slot per port,
  // holding the first new net that reached it (every later one is united with it).
  std::vector<std::size_t> base(selection.size() + 1, 0);
  for (std::uint32_t sel = 0; sel < selection.size(); ++sel)
    base[sel + 1] = base[sel] + selection[sel].cell->ports.id.size();
  constexpr std::size_t kNoNet = static_cast<std::size_t>(-1);
  std::vector<std::size_t> slot_net(base.back(), kNoNet);
  const auto reach = [&uf](std::size_t& first, std::size_t index) {
    if (first == kNoNet) first = index;
    else uf.unite(first, index);
  };
  // Ports that only parent nets reach (let through by allow_unconnected_ports).
  std::unordered_map<std::uint32_t, std::unordered_map<std::string_view, std::size_t>> outer_ports;

  const auto selection_of = [&selected](const NetMember& m) {
    const std::string* inst = member_instance(m);
    return inst ? selected.find(*inst) : kNone;
  };

  // Parent nets keep their order and indices; references to inlined instances are cut
  // and recorded against the port they reached (array elements count as the port).
  // Members that are cut stay in place in `old_nets`, so the port names viewed from the
  // map keys stay valid. The first cut connection that no inside net takes over would be
  // dropped: it is refused unless allow_unconnected_ports.
  for (std::size_t i = 0; i < old_nets.size(); ++i) {
    std::vector<NetMember>& src = old_nets[i].members;
    std::size_t k = 0;
    while (k < src.size() && selection_of(src[k]) == kNone) ++k;
    if (k == src.size()) {
      nets[i] = std::move(src);
      continue;
    }
    std::vector<NetMember>& dst = nets[i];
    dst.reserve(src.size() - 1);
    std::move(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(k), std::back_inserter(dst));
    for (; k < src.size(); ++k) {
      NetMember& m = src[k];
      const std::uint32_t sel = selection_of(m);
      if (sel == kNone) {
        dst.push_back(std::move(m));
        continue;
      }
      const std::string& port = *member_port(m);
      const CellPorts& cp = selection[sel].cell->ports;
      if (const auto id = cp.id.find(port); id != cp.id.end()) {
        reach(slot_net[base[sel] + id->second], i);
      } else if (!options.allow_unconnected_ports) {
        const Selected& s = selection[sel];
        return Error::flatten_unconnected_port(state.records[s.item].first, port, *s.cell->name);
      } else {
        reach(outer_ports[sel].try_emplace(port, kNoNet).first->second, i);
      }
    }
  }

  // Nets inside each inlined cell, with instance names joined to the inlined instance's.
  std::size_t j = old_nets.size();
  for (std::uint32_t sel = 0; sel < selection.size(); ++sel) {
    const Selected& s = selection[sel];
    const std::uint32_t* port_id = s.cell->ports.member_ids.data();
    std::size_t* slots = slot_net.data() + base[sel];
    if (s.cell->netlist->nets.empty()) continue;
    const std::string prefix = joined(state.records[s.item].first, options.separator, {});
    for (const Net& net : s.cell->netlist->nets) {
      std::vector<NetMember>& dst = nets[j];
      dst.reserve(net.members.size());
      for (const NetMember& m : net.members) {
        if (std::holds_alternative<NetlistPort>(m)) {
          reach(slots[*port_id++], j);
        } else if (const auto* r = std::get_if<PortRef>(&m)) {
          dst.emplace_back(PortRef{prefix + r->instance, r->port});
        } else {
          const auto& a = std::get<PortArrayRef>(m);
          dst.emplace_back(PortArrayRef{prefix + a.instance, a.port, a.ia, a.ib});
        }
      }
      ++j;
    }
  }

  // Groups in the order of their smallest index, each listing its nets in index order.
  std::vector<std::uint32_t> group_of(total);
  std::vector<std::uint32_t> group_of_root(total, kNone);
  std::uint32_t groups = 0;
  for (std::size_t i = 0; i < total; ++i) {
    const std::size_t root = uf.find(i);
    if (group_of_root[root] == kNone) group_of_root[root] = groups++;
    group_of[i] = group_of_root[root];
  }
  group_of_root = {};
  std::vector<std::uint32_t> start(groups + 1, 0);
  for (std::uint32_t g : group_of) ++start[g + 1];
  for (std::uint32_t g = 0; g < groups; ++g) start[g + 1] += start[g];
  std::vector<std::uint32_t> order(total);
  {
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < total; ++i) order[fill[group_of[i]]++] = static_cast<std::uint32_t>(i);
  }

  // Emit: members concatenated, sorted, repeated members removed (equal members are equal
  // in every field, so sorting first and keeping one of each run gives the same net as
  // dropping later repetitions first); a group left without members is dropped.
  std::vector<Net> out;
  out.reserve(groups);
  for (std::uint32_t g = 0; g < groups; ++g) {
    std::vector<NetMember> members = std::move(nets[order[start[g]]]);
    const bool alone = start[g + 1] - start[g] == 1 && order[start[g]] < old_nets.size();
    for (std::uint32_t k = start[g] + 1; k < start[g + 1]; ++k) {
      auto& more = nets[order[k]];
      members.insert(members.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
      more = {};
    }
    if (members.empty()) continue;
    if (!(sorted && alone)) {
      if (tally)
        tally->sorted = add_sat(tally->sorted, mul_sat(net_bytes(members), std::bit_width(members.size())));
      sort_members(members);
      members.erase(std::unique(members.begin(), members.end()), members.end());
    }
    if (tally) {
      tally->bytes = add_sat(tally->bytes, net_bytes(members));
      tally->members += members.size();
    }
    out.push_back(Net{std::move(members)});
  }
  return out;
}

// A selected instance's own placement.
const Placement& placement_of(const FlattenItem& item, const ExtrasMap& input_extras) {
  if (item.child) return item.placement;
  return item.input_extra != kNoExtra ? input_extras.at_index(item.input_extra).second.placement : kZeroPlacement;
}

// One pass over `state`, which it updates in place; true when it inlined something. `guard`
// (recursive runs only) tallies its work and may end the run first.
Result<bool> run_pass(FlattenState& state, Cells& cells, NameIndex& names, const FlattenOptions& options,
                      RunawayGuard* guard) {
  std::vector<FlattenItem>& items = state.items;
  auto& records = state.records;
  RunawayGuard* const watch = guard && guard->watching() ? guard : nullptr;

  // 1. Classify, 2. collect skip messages (at most one per instance and call).
  std::vector<Selected> selection;
  const std::size_t warning_bytes = state.warning_bytes;
  const auto skip = [&](std::uint32_t i, auto&& reason) {
    if (!options.warn_skipped || items[i].warned) return;
    items[i].warned = true;
    state.warnings.push_back(skip_message(records[i].first, reason()));
    state.warning_bytes = add_sat(state.warning_bytes, sizeof(std::string) + state.warnings.back().size());
  };
  // Instances of one cell tend to come in runs, and the same name object means the same cell.
  const std::string* last_cell = nullptr;
  std::pair<Verdict, CellInfo*> verdict{Verdict::Silent, nullptr};
  for (std::size_t pos = 0; pos < state.order.size(); ++pos) {
    const std::uint32_t i = state.order[pos];
    const std::string* cell = items[i].cell;
    if (!cell) {
      skip(i, [] {
        return std::string_view(
            "its cell name is unknown (pass instance_cell_map/sub_instance_cell_maps, or use a PlacedNetlist)");
      });
      continue;
    }
    if (cell != last_cell) {
      last_cell = cell;
      verdict = cells.verdict(cell);
    }
    switch (verdict.first) {
      case Verdict::Silent: continue;
      case Verdict::NoNetlist:
        skip(i, [&] { return "no netlist given for its cell " + quoted(*cell); });
        continue;
      case Verdict::Empty:
        skip(i, [&] { return "cell " + quoted(*cell) + " has no instances of its own"; });
        continue;
      case Verdict::Eligible: break;
    }
    if (multi_element_array(records[i].second)) {
      skip(i, [] { return std::string_view("it is an array instance, which cannot be inlined"); });
      continue;
    }
    selection.push_back(Selected{i, static_cast<std::uint32_t>(pos), verdict.second});
  }

  // 3. Nothing to inline: the state stays as it is.
  if (selection.empty()) return false;

  // What this pass would leave and do, before it builds anything. Past a budget, a run that
  // can never end fails here.
  std::size_t item_bytes_after = 0;
  if (watch) {
    if (!state.weighed) {
      state.weighed = true;
      state.item_bytes = state.net_bytes = state.members = 0;
      for (const std::uint32_t i : state.order)
        state.item_bytes = add_sat(state.item_bytes, weight_of(items[i], records[i]));
      for (const Net& net : state.nets) {
        state.net_bytes = add_sat(state.net_bytes, net_bytes(net.members));
        state.members += net.members.size();
      }
    }
    std::size_t copied = 0;
    item_bytes_after = state.item_bytes;
    for (const Selected& s : selection) {
      item_bytes_after -= items[s.item].bytes;
      const CellInfo& c = Cells::weigh(*s.cell);
      const std::size_t prefix = records[s.item].first.size() + options.separator.size();
      copied = add_sat(copied, add_sat(c.bytes, mul_sat(c.renamed, prefix)));
    }
    const std::size_t live =
        add_sat(add_sat(state.item_bytes, state.net_bytes), add_sat(state.warning_bytes, copied));
    const std::size_t visits = state.order.size() + state.nets.size() + state.members;
    const std::size_t work = add_sat(add_sat(mul_sat(visits, kFlattenVisitBytes), mul_sat(2, copied)),
                                     state.warning_bytes - warning_bytes);
    if (watch->over_budget(live, work) && inlining_never_ends(state, cells))
      return Error::flatten_pass_limit(kFlattenMaxPasses);
  }

  // 4, 5. The new instance order: kept items stay where they are, each selected one is
  // replaced by its children, made as new items (in the places of spent ones first). The
  // inlined names leave the index first, so a child's name clashes with every kept instance
  // and earlier child, and with no inlined one.
  names.fill();
  std::vector<std::uint32_t> sel_of_pos(state.order.size(), kNone);
  std::size_t children = 0;
  for (std::uint32_t s = 0; s < selection.size(); ++s) {
    sel_of_pos[selection[s].pos] = s;
    children += selection[s].cell->netlist->instances.size();
    names.remove(selection[s].item);
  }
  if (children > state.spare.size()) {
    // Room for the new items up front, so nothing moves while the pass reads them.
    const std::size_t need = items.size() + (children - state.spare.size());
    if (need > items.capacity()) {
      items.reserve(std::max(need, 2 * items.capacity()));
      records.reserve(items.capacity());
    }
  }
  std::vector<std::uint32_t> order;
  order.reserve(state.order.size() - selection.size() + children);
  for (std::size_t pos = 0; pos < state.order.size(); ++pos) {
    const std::uint32_t sel = sel_of_pos[pos];
    if (sel == kNone) {
      order.push_back(state.order[pos]);
      continue;
    }
    const std::uint32_t p = state.order[pos];
    const std::string& parent = records[p].first;
    const Placement& parent_placement = placement_of(items[p], state.input_extras);
    const CellInfo& c = *selection[sel].cell;
    std::size_t k = 0;
    for (const auto& [child_name, child] : c.netlist->instances) {
      std::uint32_t at;
      if (state.spare.empty()) {
        at = static_cast<std::uint32_t>(items.size());
        items.emplace_back();
        records.emplace_back();
      } else {
        at = state.spare.back();
        state.spare.pop_back();
        items[at] = FlattenItem{};
      }
      FlattenItem& item = items[at];
      std::string& name = records[at].first;
      name = joined(parent, options.separator, child_name);
      item.hash = StringHash{}(name);
      if (!names.add(at)) return Error::flatten_name_clash(parent, std::move(name));
      records[at].second = NetlistInstance{child.kcl, child.component, child.settings, child.info, child.array, {}};
      item.placement = compose_placement(parent_placement, *c.child_placements[k]);
      item.cell = c.child_cells[k];
      item.child = true;
      if (watch) item_bytes_after += (item.bytes = c.child_bytes[k] + name.size());
      order.push_back(at);
      ++k;
    }
  }

  // 6. Nets.
  const SelectedNames selected(state, selection);
  NetTally tally;
  Result<std::vector<Net>> nets = rewire_nets(std::move(state.nets), state, selection, selected, options,
                                              state.inlined, watch ? &tally : nullptr);
  if (!nets) return std::move(nets).error();

  // 7. The new state; ports are unchanged. The inlined items are spent: their records are
  // released (moved out and dropped) and later children take their places.
  for (const Selected& s : selection) {
    const auto spent = std::move(records[s.item]);
    state.spare.push_back(s.item);
  }
  state.order = std::move(order);
  state.nets = std::move(nets).value();
  state.inlined = true;
  state.weighed = watch != nullptr;
  state.item_bytes = item_bytes_after;
  state.net_bytes = tally.bytes;
  state.members = tally.members;
  if (watch) watch->add_work(tally.sorted);
  if (guard) guard->passed();
  return true;
}

// The flattened netlist in canonical order. The extras come first, then the items are
// dropped, so the instance map is built beside the records alone.
NetlistData result_of(FlattenState& state) {
  std::vector<std::uint32_t> order = std::move(state.order);
  auto& records = state.records;
  sort_by_name(order, [&records](std::uint32_t i) -> const std::string& { return records[i].first; });
  NetlistData out;
  if (state.inlined) {
    out.extras.reserve(order.size());
    for (const std::uint32_t i : order) {
      const FlattenItem& item = state.items[i];
      if (item.child) {
        out.extras.try_append(records[i].first,
                              PlacedExtra{item.cell ? *item.cell : std::string(), item.placement});
        records[i].second.name = records[i].first;
      } else if (item.input_extra != kNoExtra) {
        out.extras.try_append(records[i].first,
                              std::move((state.input_extras.begin() + item.input_extra).value()));
      }
    }
  } else {
    out.extras = std::move(state.input_extras);
    out.extras.sort_by_key();
  }
  std::vector<FlattenItem>().swap(state.items);
  out.instances.reserve(order.size());
  for (const std::uint32_t i : order)
    out.instances.try_append(std::move(records[i].first), std::move(records[i].second));
  std::vector<OrderedMap<NetlistInstance>::Entry>().swap(records);
  out.nets = std::move(state.nets);
  out.ports = std::move(state.ports);
  sort_canonical(out.instances, out.nets, out.ports);
  return out;
}

}  // namespace

FlattenState FlattenState::start(NetlistData data, const CellNameMap& instance_cell_map) {
  FlattenState state;
  state.input_extras = std::move(data.extras);
  state.nets = std::move(data.nets);
  state.ports = std::move(data.ports);
  const std::size_t n = data.instances.size();
  state.order.reserve(n);
  state.items.reserve(n);
  state.records.reserve(n);
  for (auto it = data.instances.begin(); it != data.instances.end(); ++it) {
    const std::string& name = it->first;
    state.order.push_back(static_cast<std::uint32_t>(state.items.size()));
    FlattenItem& item = state.items.emplace_back();
    const std::size_t extra = state.input_extras.index_of(name);
    if (extra != ExtrasMap::npos) item.input_extra = static_cast<std::uint32_t>(extra);
    if (const auto given = instance_cell_map.find(name); given != instance_cell_map.end()) {
      if (!given->second.empty()) item.cell = &given->second;
    } else if (extra != ExtrasMap::npos) {
      const std::string& cell = state.input_extras.at_index(extra).second.cell;
      if (!cell.empty()) item.cell = &cell;
    }
    item.hash = StringHash{}(name);
    state.records.emplace_back(name, std::move(it.value()));
  }
  return state;
}

Result<PassResult> expand_pass(FlattenState state, const NetlistDataMap& netlists,
                               const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options) {
  Cells cells(netlists, sub_instance_cell_maps, options);
  NameIndex names(state);
  Result<bool> changed = run_pass(state, cells, names, options, nullptr);
  if (!changed) return std::move(changed).error();
  return PassResult{std::move(state), *changed};
}

Result<FlattenResult> flatten_netlist(NetlistData data, const CellNameMap& instance_cell_map,
                                      const NetlistDataMap& netlists,
                                      const SubInstanceCellMaps& sub_instance_cell_maps,
                                      const FlattenOptions& options, std::size_t runaway_factor,
                                      std::size_t live_floor, std::size_t work_floor) {
  FlattenState state = FlattenState::start(std::move(data), instance_cell_map);
  Cells cells(netlists, sub_instance_cell_maps, options);
  std::optional<RunawayGuard> guard;
  if (options.recursive)
    guard.emplace(instance_cell_map, netlists, sub_instance_cell_maps, options, state, cells, runaway_factor,
                  live_floor, work_floor);
  {
    NameIndex names(state);
    for (unsigned pass = 1;; ++pass) {
      Result<bool> changed = run_pass(state, cells, names, options, guard ? &*guard : nullptr);
      if (!changed) return std::move(changed).error();
      if (!options.recursive || !*changed) break;
      if (pass == kFlattenMaxPasses) return Error::flatten_pass_limit(kFlattenMaxPasses);
    }
  }
  NetlistData out = result_of(state);
  return FlattenResult{std::move(out), std::move(state.warnings)};
}

}  // namespace vondrel
