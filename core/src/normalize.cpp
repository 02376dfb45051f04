#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <tsl/ordered_map.h>
#include <tsl/ordered_set.h>

#include "vondrel/netlist.h"
#include "vondrel/union_find.h"

namespace vondrel {

namespace {

constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;

// Rewrites a whole-number double into the canonical integer form; leaves every other
// number as it is.
void normalize_number(JsonValue& value) {
  const double f = std::get<double>(value.v);
  if (!std::isfinite(f) || f != std::trunc(f)) return;
  if (std::fabs(f) <= kTwo63) {
    // Saturates: 2^63 itself becomes the largest signed value.
    const std::int64_t i = f >= kTwo63 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(f);
    value = JsonValue::integer(i);
  } else if (f >= 0 && f <= kTwo64) {
    const std::uint64_t u = f >= kTwo64 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(f);
    value = JsonValue::uinteger(u);
  }
}

// The port a mapped member refers to: instance and canonical port name, plus the element
// for a member of an array instance. Views point into the members of the working copy.
struct CanonicalKey {
  std::string_view instance;
  std::string_view port;
  bool element = false;
  std::int64_t ia = 0;
  std::int64_t ib = 0;
  friend bool operator==(const CanonicalKey&, const CanonicalKey&) = default;
};

struct CanonicalKeyHash {
  std::size_t operator()(const CanonicalKey& k) const noexcept {
    const std::hash<std::string_view> hs;
    std::size_t h = hs(k.instance);
    const auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(hs(k.port));
    if (k.element) {
      mix(std::hash<std::int64_t>{}(k.ia));
      mix(std::hash<std::int64_t>{}(k.ib) ^ 0x5bd1e995);
    }
    return h;
  }
};

using CellPortMap = std::unordered_map<std::string, std::string>;

PortMapping derive_port_map(const EquivalentPorts& equivalent_ports) {
  PortMapping map;
  map.reserve(equivalent_ports.size());
  for (const auto& [cell, groups] : equivalent_ports) {
    CellPortMap& entry = map[cell];
    for (const auto& group : groups) {
      if (group.empty()) continue;
      for (const std::string& p : group) entry.insert_or_assign(p, group.front());
    }
  }
  return map;
}

// Steps of the canonical pass on the working copy `nl`: maps the ports of the members of
// equivalent-port cells, merges the nets that reach one canonical port, rebuilds every
// involved net and drops repeated top-level ports.
Status canonicalize(Netlist& nl, const std::string& cell_name, const EquivalentPorts& equivalent_ports,
                    const PortMapping& port_map) {
  // Instance name -> its cell's port map, for the instances whose cell has equivalent ports.
  tsl::ordered_map<std::string_view, const CellPortMap*> mapped;
  mapped.reserve(nl.instances.size());
  for (const auto& [name, inst] : nl.instances) {
    if (equivalent_ports.count(inst.component) == 0) continue;
    auto entry = port_map.find(inst.component);
    if (entry != port_map.end() && !entry->second.empty()) mapped.emplace(name, &entry->second);
  }
  // Every port name that some of those cells map: a member with another port needs no
  // instance lookup (usually a few names against many members).
  tsl::ordered_set<std::string_view> mapped_ports;
  for (const auto& [cell, groups] : equivalent_ports) {
    auto entry = port_map.find(cell);
    if (entry == port_map.end()) continue;
    for (const auto& [port, canonical] : entry->second) mapped_ports.insert(port);
  }

  const std::size_t n = nl.nets.size();
  std::vector<char> involved(n, 0);
  UnionFind uf(n);
  if (!mapped.empty()) {
    // Each key remembers the first net that reached it; every later net joins that one.
    tsl::ordered_map<CanonicalKey, std::size_t, CanonicalKeyHash> first_net;
    for (std::size_t i = 0; i < n; ++i) {
      for (NetMember& m : nl.nets[i].members) {
        CanonicalKey key;
        std::string* port;
        if (auto* r = std::get_if<PortRef>(&m)) {
          key.instance = r->instance;
          port = &r->port;
        } else if (auto* a = std::get_if<PortArrayRef>(&m)) {
          key = CanonicalKey{a->instance, {}, true, a->ia, a->ib};
          port = &a->port;
        } else {
          continue;
        }
        if (mapped_ports.count(*port) == 0) continue;
        auto inst = mapped.find(key.instance);
        if (inst == mapped.end()) continue;
        auto canonical = inst->second->find(*port);
        if (canonical == inst->second->end()) continue;
        *port = canonical->second;
        involved[i] = 1;
        key.port = *port;
        auto [it, fresh] = first_net.try_emplace(key, i);
        if (!fresh) uf.unite(it->second, i);
      }
    }
  }

  // Groups of involved nets, each in ascending position order.
  std::vector<std::vector<std::size_t>> groups;
  {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> group_of_root(n, kNone);
    for (std::size_t i = 0; i < n; ++i) {
      if (!involved[i]) continue;
      const std::size_t root = uf.find(i);
      if (group_of_root[root] == kNone) {
        group_of_root[root] = groups.size();
        groups.emplace_back();
      }
      groups[group_of_root[root]].push_back(i);
    }
  }

  static const CellPortMap kNoMapping;
  const auto own = port_map.find(cell_name);
  const CellPortMap& own_cell = own == port_map.end() ? kNoMapping : own->second;
  std::unordered_set<std::string_view> port_names;
  port_names.reserve(nl.ports.size());
  for (const NetlistPort& p : nl.ports) port_names.insert(p.name);

  std::vector<Net> merged_nets;
  merged_nets.reserve(groups.size());
  for (const auto& group : groups) {
    std::size_t total = 0;
    for (std::size_t j : group) total += nl.nets[j].members.size();
    std::vector<NetMember> members;
    members.reserve(total);
    for (std::size_t j : group) {
      for (NetMember& m : nl.nets[j].members) {
        if (auto* p = std::get_if<NetlistPort>(&m)) {
          auto c = own_cell.find(p->name);
          if (c != own_cell.end()) {
            if (port_names.count(c->second) == 0) return Error::canonical_port_missing(c->second);
            p->name = c->second;
          }
        }
        members.push_back(std::move(m));
      }
    }
    // As a set: equal members are identical, so sorting then dropping repeats gives the
    // distinct members in member order.
    sort_members(members);
    members.erase(std::unique(members.begin(), members.end()), members.end());
    merged_nets.push_back(Net{std::move(members)});
  }

  if (!groups.empty()) {
    std::vector<Net> nets;
    nets.reserve(n - static_cast<std::size_t>(std::count(involved.begin(), involved.end(), 1)) + merged_nets.size());
    for (std::size_t i = 0; i < n; ++i)
      if (!involved[i]) nets.push_back(std::move(nl.nets[i]));
    for (Net& net : merged_nets) nets.push_back(std::move(net));
    nl.nets = std::move(nets);
  }

  // First port of each name stays, in order.
  std::unordered_set<std::string_view> seen;
  seen.reserve(nl.ports.size());
  std::vector<char> keep(nl.ports.size());
  std::size_t kept = 0;
  for (std::size_t i = 0; i < nl.ports.size(); ++i) {
    keep[i] = seen.insert(nl.ports[i].name).second;
    kept += keep[i];
  }
  if (kept != nl.ports.size()) {
    std::vector<NetlistPort> ports;
    ports.reserve(kept);
    for (std::size_t i = 0; i < nl.ports.size(); ++i)
      if (keep[i]) ports.push_back(std::move(nl.ports[i]));
    nl.ports = std::move(ports);
  }
  return ok_status();
}

}  // namespace

void normalize_value(JsonValue& value) {
  // Iterative walk: the nesting depth costs heap, not stack.
  std::vector<JsonValue*> stack{&value};
  while (!stack.empty()) {
    JsonValue* v = stack.back();
    stack.pop_back();
    switch (v->kind()) {
      case JsonValue::Double:
        normalize_number(*v);
        break;
      case JsonValue::Array:
        for (JsonValue& e : std::get<JsonArray>(v->v)) stack.push_back(&e);
        break;
      case JsonValue::Object:
        for (auto& e : std::get<JsonObject>(v->v)) stack.push_back(&e.second);
        break;
      default:
        break;
    }
  }
}

Result<Netlist> Netlist::normalize(std::optional<std::string> cell_name,
                                   std::optional<EquivalentPorts> equivalent_ports,
                                   std::optional<PortMapping> port_mapping) const {
  Netlist copy = *this;
  if (cell_name && equivalent_ports) {
    const PortMapping port_map = port_mapping ? std::move(*port_mapping) : derive_port_map(*equivalent_ports);
    Status s = canonicalize(copy, *cell_name, *equivalent_ports, port_map);
    if (!s.ok()) return std::move(s).error();
  }
  for (auto it = copy.instances.begin(); it != copy.instances.end(); ++it) normalize_value(it.value().settings);
  copy.sort();
  return copy;
}

}  // namespace vondrel
