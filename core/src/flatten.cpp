// The flatten driver and its inlining pass.
//
// A pass classifies every instance, builds the new instance, extras and cell maps (inlined
// instances replaced in place by their renamed children), then rewires the nets: each net
// inside an inlined cell that reaches one of the cell's top-level ports is joined, through a
// union-find over net indices, with the parent nets connected to that port of the instance.
// Every step costs at most a hash lookup per name or member; nothing recurses over the
// hierarchy.
//
// The driver runs passes until one inlines nothing. A run whose hierarchy holds a cell that
// contains itself never gets there, and may grow exponentially; it is stopped by a one-time
// check for such a cycle once the work of its passes exceeds a budget proportional to its
// input (flatten.h describes when, and why a run without a cycle is never affected).

#include "vondrel/flatten.h"

#include <algorithm>
#include <cstdint>
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

const Placement kZeroPlacement{};

// An instance chosen for inlining in this pass.
struct Selected {
  const std::string* name;     // key in the old instance map
  const std::string* cell;     // key in `netlists`
  const NetlistData* netlist;  // the cell's netlist
};

// A port of an inlined instance that no net inside its cell reaches: (position in the
// selection, port name). Only parent nets can reach such a port.
struct PortKey {
  std::uint32_t sel;
  std::string_view port;
  friend bool operator==(const PortKey&, const PortKey&) = default;
};

struct PortKeyHash {
  std::size_t operator()(const PortKey& k) const noexcept {
    return std::hash<std::string_view>{}(k.port) ^ (static_cast<std::size_t>(k.sel) * 0x9E3779B97F4A7C15ull);
  }
};

// The top-level ports that the nets of one inlined cell reach, numbered in the order the nets
// first reach them, and the number of each top-level member of those nets in net and member
// order. Built once per cell and pass: every inlined instance of the cell has these ports,
// one slot each.
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

// Whether recursive inlining can never end: some instance that the next pass would inline
// leads, through the cells that would be inlined after it, into a cell that contains itself.
// An instance or child counts only when a pass would inline it: the same rules as the
// classification of a pass, and the children's cells found as a pass finds them (so a cell
// named "" by the sub-instance maps is a cell like any other). Walks the instances of the
// state and, iteratively, each cell reached from them once: linear in their sizes.
bool inlining_never_ends(const FlattenState& state, const NetlistDataMap& netlists,
                         const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options) {
  const auto inlinable = [&](const std::string& cell, const NetlistInstance& inst) -> const NetlistData* {
    if (!cell_admitted(options, cell) || multi_element_array(inst)) return nullptr;
    const auto nl = netlists.find(cell);
    if (nl == netlists.end() || nl->second.instances.empty()) return nullptr;
    return &nl->second;
  };
  enum : unsigned char { Open = 1, Done = 2 };
  std::unordered_map<std::string_view, unsigned char> mark;
  struct Frame {
    std::string_view cell;
    const NetlistData* netlist;
    const CellNameMap* sub;
    OrderedMap<NetlistInstance>::const_iterator next;
  };
  std::vector<Frame> stack;
  // Enters `cell` unless it is finished; true when it is already on the current path.
  const auto enter = [&](const std::string& cell, const NetlistData* netlist) {
    unsigned char& m = mark[cell];
    if (m == Open) return true;
    if (m == Done) return false;
    m = Open;
    const auto sub = sub_instance_cell_maps.find(cell);
    stack.push_back(Frame{cell, netlist, sub == sub_instance_cell_maps.end() ? nullptr : &sub->second,
                          netlist->instances.begin()});
    return false;
  };

  std::size_t pos = 0;
  for (auto it = state.data.instances.begin(); it != state.data.instances.end(); ++it, ++pos) {
    const std::string* cell = state.cell_of[pos];
    if (!cell) continue;
    const NetlistData* root = inlinable(*cell, it->second);
    if (!root || enter(*cell, root)) continue;
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next == f.netlist->instances.end()) {
        mark[f.cell] = Done;
        stack.pop_back();
        continue;
      }
      const auto& [child_name, child] = *f.next++;
      const std::string* child_cell = child_cell_of(f.sub, child_name, f.netlist->extras.find(child_name));
      if (!child_cell) continue;
      if (const NetlistData* next = inlinable(*child_cell, child); next && enter(*child_cell, next)) return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// The work tally of a recursive run and its one check for a cycle (see flatten.h), in bytes.

std::size_t add_sat(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_add_overflow(a, b, &r) ? SIZE_MAX : r;
}
std::size_t mul_sat(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_mul_overflow(a, b, &r) ? SIZE_MAX : r;
}

// A record's own size: an instance with its extras entry (the keys' texts counted apart), a
// net, a member, a string-to-string map entry.
constexpr std::size_t kInstanceBytes =
    sizeof(std::pair<std::string, NetlistInstance>) + sizeof(std::pair<std::string, PlacedExtra>);
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

std::size_t name_map_bytes(const CellNameMap& map) {
  std::size_t n = 0;
  for (const auto& [name, cell] : map) n += kNameEntryBytes + name.size() + cell.size();
  return n;
}

// What inlining one instance of a cell writes: `bytes`, plus `renamed` names that each get the
// instance's name and the separator in front (an instance's key, its name field and its extras
// key; the instance name of a reference member).
struct CellWeight {
  std::size_t bytes = 0;
  std::size_t renamed = 0;
};

CellWeight cell_weight(const NetlistData& cell) {
  CellWeight w;
  for (const auto& [name, inst] : cell.instances)
    w.bytes += kInstanceBytes + 3 * name.size() + inst.kcl.size() + inst.component.size() +
               json_bytes(inst.settings) + json_bytes(inst.info);
  for (const auto& [name, extra] : cell.extras) w.bytes += extra.cell.size();
  w.renamed = 3 * cell.instances.size();
  for (const Net& net : cell.nets) {
    w.bytes += kNetBytes;
    for (const NetMember& m : net.members) {
      w.bytes += kMemberBytes;
      if (const std::string* inst = member_instance(m)) {
        w.bytes += inst->size() + member_port(m)->size();
        ++w.renamed;
      }
    }
  }
  return w;
}

// What carrying instances and nets over into the next pass writes: each instance's record
// moved into the new maps under a copy of its key in each; each net and member moved.
std::size_t carried_bytes(std::size_t instances, std::size_t name_bytes, std::size_t nets, std::size_t members) {
  return add_sat(add_sat(mul_sat(instances, kInstanceBytes), mul_sat(2, name_bytes)),
                 add_sat(mul_sat(nets, kNetBytes), mul_sat(members, kMemberBytes)));
}

class RunawayGuard {
 public:
  RunawayGuard(const CellNameMap& instance_cell_map, const NetlistDataMap& netlists,
               const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options,
               const NetlistData& top, std::size_t factor, std::size_t floor)
      : instance_cell_map_(instance_cell_map), netlists_(netlists), sub_maps_(sub_instance_cell_maps),
        separator_(options.separator.size()), factor_(factor), floor_(floor) {
    // The top as a pass carries it.
    std::size_t names = 0, members = 0;
    for (const auto& [name, inst] : top.instances) names += name.size();
    for (const Net& net : top.nets) members += net.members.size();
    top_ = carried_bytes(top.instances.size(), names, top.nets.size(), members);
  }

  // Whether the next pass is tallied and may be checked: every pass after the first (which
  // always runs: it builds what a single pass would) until a check has found no cycle.
  bool watching() const { return passes_ > 0 && !settled_; }

  const CellWeight& weight(const NetlistData& cell) {
    const auto [it, fresh] = weights_.try_emplace(&cell);
    if (fresh) it->second = cell_weight(cell);
    return it->second;
  }

  // Adds the work of the next pass: `carried` instances with `carried_names` bytes of keys, the
  // current `nets` with the members the last pass built, and `copied` bytes out of cells.
  // True when the tally passes the budget, which settles the guard: the caller checks for a
  // cycle, once.
  bool over_budget(std::size_t carried, std::size_t carried_names, std::size_t nets, std::size_t copied) {
    tally_ = add_sat(tally_, add_sat(carried_bytes(carried, carried_names, nets, members_), copied));
    settled_ = tally_ > floor_ && tally_ > budget();
    return settled_;
  }

  // A pass has built nets with `members` members, which the next one moves.
  void passed(std::size_t members) {
    ++passes_;
    members_ = members;
  }

 private:
  // The floor plus the factor times the input; worked out when first needed.
  std::size_t budget() {
    if (!budget_) {
      std::size_t input = add_sat(top_, separator_);
      input = add_sat(input, name_map_bytes(instance_cell_map_));
      for (const auto& [cell, netlist] : netlists_) input = add_sat(input, cell.size() + weight(netlist).bytes);
      for (const auto& [cell, map] : sub_maps_) input = add_sat(input, cell.size() + name_map_bytes(map));
      budget_ = add_sat(floor_, mul_sat(factor_, input));
    }
    return *budget_;
  }

  const CellNameMap& instance_cell_map_;
  const NetlistDataMap& netlists_;
  const SubInstanceCellMaps& sub_maps_;
  std::size_t separator_;
  std::size_t factor_, floor_;
  std::size_t top_ = 0;
  std::size_t members_ = 0;
  std::size_t tally_ = 0;
  unsigned passes_ = 0;
  bool settled_ = false;
  std::optional<std::size_t> budget_;
  std::unordered_map<const NetlistData*, CellWeight> weights_;
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

// The nets after a pass that inlines `selection`, and their number of members in `members`.
// `old_instances` still holds every old instance name; `sel_of_pos` maps an old instance
// position to its selection index.
Result<std::vector<Net>> rewire_nets(std::vector<Net> old_nets, const OrderedMap<NetlistInstance>& old_instances,
                                     const std::vector<Selected>& selection,
                                     const std::vector<std::uint32_t>& sel_of_pos, const FlattenOptions& options,
                                     std::size_t& members_out) {
  std::size_t total = old_nets.size();
  for (const Selected& s : selection) total += s.netlist->nets.size();

  std::vector<std::vector<NetMember>> nets(total);
  UnionFind uf(total);

  // The ports of each inlined instance that the nets of its cell reach: one slot per port,
  // holding the first new net that reached it (every later one is united with it).
  std::unordered_map<const NetlistData*, std::uint32_t> cell_of_netlist;
  std::vector<CellPorts> cells;
  std::vector<std::uint32_t> cell_of_sel(selection.size());
  std::vector<std::size_t> base(selection.size() + 1, 0);
  for (std::uint32_t sel = 0; sel < selection.size(); ++sel) {
    const auto [it, fresh] =
        cell_of_netlist.try_emplace(selection[sel].netlist, static_cast<std::uint32_t>(cells.size()));
    if (fresh) cells.push_back(cell_ports(*selection[sel].netlist));
    cell_of_sel[sel] = it->second;
    base[sel + 1] = base[sel] + cells[it->second].id.size();
  }
  constexpr std::size_t kNoNet = static_cast<std::size_t>(-1);
  std::vector<std::size_t> slot_net(base.back(), kNoNet);
  const auto reach = [&uf](std::size_t& first, std::size_t index) {
    if (first == kNoNet) first = index;
    else uf.unite(first, index);
  };
  // Ports that only parent nets reach (let through by allow_unconnected_ports).
  std::unordered_map<PortKey, std::size_t, PortKeyHash> outer_ports;

  const auto selection_of = [&](const std::string& instance) -> std::uint32_t {
    const std::size_t pos = old_instances.index_of(instance);
    return pos == OrderedMap<NetlistInstance>::npos ? kNone : sel_of_pos[pos];
  };

  // Parent nets keep their order and indices; references to inlined instances are cut
  // and recorded against the port they reached (array elements count as the port).
  // Members that are cut stay in place in `old_nets`, so the port names viewed from the
  // map keys stay valid. The first cut connection that no inside net takes over would be
  // dropped: it is refused unless allow_unconnected_ports.
  for (std::size_t i = 0; i < old_nets.size(); ++i) {
    std::vector<NetMember>& dst = nets[i];
    dst.reserve(old_nets[i].members.size());
    for (NetMember& m : old_nets[i].members) {
      if (const std::string* inst = member_instance(m)) {
        const std::uint32_t sel = selection_of(*inst);
        if (sel != kNone) {
          const std::string& port = *member_port(m);
          const CellPorts& cp = cells[cell_of_sel[sel]];
          if (const auto id = cp.id.find(port); id != cp.id.end()) {
            reach(slot_net[base[sel] + id->second], i);
          } else if (!options.allow_unconnected_ports) {
            const Selected& s = selection[sel];
            return Error::flatten_unconnected_port(*s.name, port, *s.cell);
          } else {
            reach(outer_ports.try_emplace(PortKey{sel, port}, kNoNet).first->second, i);
          }
          continue;
        }
      }
      dst.push_back(std::move(m));
    }
  }

  // Nets inside each inlined cell, with instance names joined to the inlined instance's.
  std::size_t j = old_nets.size();
  for (std::uint32_t sel = 0; sel < selection.size(); ++sel) {
    const Selected& s = selection[sel];
    const std::uint32_t* port_id = cells[cell_of_sel[sel]].member_ids.data();
    std::size_t* slots = slot_net.data() + base[sel];
    std::string prefix = joined(*s.name, options.separator, {});
    for (const Net& net : s.netlist->nets) {
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
    for (std::uint32_t k = start[g] + 1; k < start[g + 1]; ++k) {
      auto& more = nets[order[k]];
      members.insert(members.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
      more = {};
    }
    if (members.empty()) continue;
    sort_members(members);
    members.erase(std::unique(members.begin(), members.end()), members.end());
    members_out += members.size();
    out.push_back(Net{std::move(members)});
  }
  return out;
}

// One pass; `guard` (recursive runs only) tallies its work and may end the run first.
Result<PassResult> run_pass(FlattenState state, const NetlistDataMap& netlists,
                            const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options,
                            RunawayGuard* guard) {
  NetlistData& data = state.data;
  RunawayGuard* const watch = guard && guard->watching() ? guard : nullptr;

  // 1. Classify, 2. collect skip messages (at most one per instance name and call).
  std::vector<Selected> selection;
  std::vector<std::size_t> selected_pos;
  const auto skip = [&](const std::string& name, auto&& reason) {
    if (!options.warn_skipped) return;
    if (state.warned.insert(name).second) state.warnings.push_back(skip_message(name, reason()));
  };
  // The verdict on the last cell looked at: instances of one cell tend to come in runs, and
  // the same name object means the same cell.
  enum class Verdict { Silent, NoNetlist, Empty, Eligible };
  const std::string* last_cell = nullptr;
  Verdict verdict = Verdict::Silent;
  NetlistDataMap::const_iterator nl = netlists.end();
  const CellWeight* weight = nullptr;  // of the last cell, when tallied
  std::size_t copied = 0;              // bytes the selected instances' cells write
  std::size_t names = 0;               // bytes of the instances' names, selected ones taken off
  std::size_t pos = 0;
  for (auto it = data.instances.begin(); it != data.instances.end(); ++it, ++pos) {
    const std::string& name = it->first;
    const std::string* cell = state.cell_of[pos];
    names += name.size();
    if (!cell) {
      skip(name, [] {
        return std::string_view(
            "its cell name is unknown (pass instance_cell_map/sub_instance_cell_maps, or use a PlacedNetlist)");
      });
      continue;
    }
    if (cell != last_cell) {
      last_cell = cell;
      nl = netlists.end();
      if (!cell_admitted(options, *cell)) {
        verdict = Verdict::Silent;
      } else if ((nl = netlists.find(*cell)) == netlists.end()) {
        verdict = Verdict::NoNetlist;
      } else {
        verdict = nl->second.instances.empty() ? Verdict::Empty : Verdict::Eligible;
        if (watch && verdict == Verdict::Eligible) weight = &watch->weight(nl->second);
      }
    }
    if (verdict == Verdict::Silent) continue;
    if (verdict == Verdict::NoNetlist) {
      skip(name, [&] { return "no netlist given for its cell " + quoted(*cell); });
      continue;
    }
    if (verdict == Verdict::Empty) {
      skip(name, [&] { return "cell " + quoted(*cell) + " has no instances of its own"; });
      continue;
    }
    if (multi_element_array(it->second)) {
      skip(name, [] { return std::string_view("it is an array instance, which cannot be inlined"); });
      continue;
    }
    selection.push_back(Selected{&name, &nl->first, &nl->second});
    selected_pos.push_back(pos);
    if (watch) {
      names -= name.size();
      const std::size_t prefix = name.size() + options.separator.size();
      copied = add_sat(copied, add_sat(weight->bytes, mul_sat(weight->renamed, prefix)));
    }
  }

  // 3. Nothing to inline: the state is returned as it is.
  if (selection.empty()) return PassResult{std::move(state), false};

  // The work of this pass: the kept instances, the parent nets and their members, and what it
  // copies out of cells. Past the budget, a run that can never end fails here, before it
  // builds more.
  if (watch && watch->over_budget(data.instances.size() - selection.size(), names, data.nets.size(), copied)) {
    if (inlining_never_ends(state, netlists, sub_instance_cell_maps, options))
      return Error::flatten_pass_limit(kFlattenMaxPasses);
  }

  // 4. The old instance map stays whole (keys intact) until the pass ends: its keys are the
  // selected and kept-name sets. Values are moved out as they are consumed.
  OrderedMap<NetlistInstance>& old_instances = data.instances;
  ExtrasMap& old_extras = data.extras;
  std::vector<std::uint32_t> sel_of_pos(old_instances.size(), kNone);
  std::size_t new_count = old_instances.size() - selection.size();
  for (std::uint32_t s = 0; s < selection.size(); ++s) {
    sel_of_pos[selected_pos[s]] = s;
    new_count += selection[s].netlist->instances.size();
  }
  const bool any_kept = selection.size() < old_instances.size();
  OrderedMap<NetlistInstance> instances;
  ExtrasMap extras;
  std::vector<const std::string*> cell_of;
  instances.reserve(new_count);
  extras.reserve(new_count);
  cell_of.reserve(new_count);

  // 5. Walk the old instances: kept ones carried over, selected ones replaced by children.
  pos = 0;
  for (auto it = old_instances.begin(); it != old_instances.end(); ++it, ++pos) {
    const std::string& name = it->first;
    const std::uint32_t sel = sel_of_pos[pos];
    if (sel == kNone) {
      instances.try_append(name, std::move(it.value()));
      cell_of.push_back(state.cell_of[pos]);
      if (PlacedExtra* e = old_extras.find(name)) extras.try_append(name, std::move(*e));
      continue;
    }
    const Selected& s = selection[sel];
    const NetlistData& cell_netlist = *s.netlist;
    const PlacedExtra* own = old_extras.find(name);
    const Placement& parent_placement = own ? own->placement : kZeroPlacement;
    const auto sub_it = sub_instance_cell_maps.find(*s.cell);
    const CellNameMap* sub_cells = sub_it == sub_instance_cell_maps.end() ? nullptr : &sub_it->second;

    for (const auto& [child_name, child] : cell_netlist.instances) {
      std::string new_name = joined(name, options.separator, child_name);
      // A kept instance (earlier or later in the walk) or an earlier child already has it.
      if (any_kept) {
        const std::size_t existing = old_instances.index_of(new_name);
        if (existing != OrderedMap<NetlistInstance>::npos && sel_of_pos[existing] == kNone)
          return Error::flatten_name_clash(name, std::move(new_name));
      }
      NetlistInstance copy = child;
      copy.name = new_name;
      if (!instances.try_append(new_name, std::move(copy))) return Error::flatten_name_clash(name, std::move(new_name));

      const PlacedExtra* child_extra = cell_netlist.extras.find(child_name);
      const std::string* child_cell = child_cell_of(sub_cells, child_name, child_extra);

      PlacedExtra placed{child_cell ? *child_cell : std::string(),
                         compose_placement(parent_placement, child_extra ? child_extra->placement : kZeroPlacement)};
      cell_of.push_back(child_cell);
      extras.try_append(std::move(new_name), std::move(placed));
    }
  }

  // 6. Nets.
  std::size_t members = 0;
  Result<std::vector<Net>> nets =
      rewire_nets(std::move(data.nets), old_instances, selection, sel_of_pos, options, members);
  if (!nets) return std::move(nets).error();

  // 7. The new state; ports are unchanged.
  data.instances = std::move(instances);
  data.extras = std::move(extras);
  data.nets = std::move(nets).value();
  state.cell_of = std::move(cell_of);
  if (guard) guard->passed(members);
  return PassResult{std::move(state), true};
}

}  // namespace

Result<PassResult> expand_pass(FlattenState state, const NetlistDataMap& netlists,
                               const SubInstanceCellMaps& sub_instance_cell_maps, const FlattenOptions& options) {
  return run_pass(std::move(state), netlists, sub_instance_cell_maps, options, nullptr);
}

Result<FlattenResult> flatten_netlist(NetlistData data, const CellNameMap& instance_cell_map,
                                      const NetlistDataMap& netlists,
                                      const SubInstanceCellMaps& sub_instance_cell_maps,
                                      const FlattenOptions& options, std::size_t runaway_factor,
                                      std::size_t runaway_floor) {
  FlattenState state;
  state.cell_of.reserve(data.instances.size());
  state.owned_cells.reserve(data.instances.size());
  for (const auto& [name, instance] : data.instances) {
    const std::string* cell = nullptr;
    if (const auto given = instance_cell_map.find(name); given != instance_cell_map.end()) {
      if (!given->second.empty()) cell = &given->second;
    } else if (const PlacedExtra* e = data.extras.find(name); e && !e->cell.empty()) {
      cell = &state.owned_cells.emplace_back(e->cell);
    }
    state.cell_of.push_back(cell);
  }
  std::optional<RunawayGuard> guard;
  if (options.recursive)
    guard.emplace(instance_cell_map, netlists, sub_instance_cell_maps, options, data, runaway_factor, runaway_floor);
  state.data = std::move(data);

  for (unsigned pass = 1;; ++pass) {
    Result<PassResult> r = run_pass(std::move(state), netlists, sub_instance_cell_maps, options,
                                    guard ? &*guard : nullptr);
    if (!r) return std::move(r).error();
    state = std::move(r->state);
    if (!options.recursive || !r->changed) break;
    if (pass == kFlattenMaxPasses) return Error::flatten_pass_limit(kFlattenMaxPasses);
  }

  NetlistData& out = state.data;
  sort_canonical(out.instances, out.nets, out.ports);
  out.extras.sort_by_key();
  return FlattenResult{std::move(out), std::move(state.warnings)};
}

}  // namespace vondrel
