#include "vondrel/netlist.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <tsl/ordered_set.h>

#include "vondrel/hash.h"

namespace vondrel {

// ---------------------------------------------------------------------------------------
// Editing

NetlistPort Netlist::create_port(std::string name) {
  ports.push_back(NetlistPort{std::move(name)});
  return ports.back();
}

Result<NetlistInstance> Netlist::create_inst_with_info(std::string name, std::string kcl, std::string component,
                                                       JsonValue settings, std::int64_t na, std::int64_t nb,
                                                       JsonObject info) {
  std::optional<NetlistArray> array;
  if (na == 0 || nb == 0) {
    // no array, whatever the other dimension
  } else if (na < 0 || nb < 0) {
    return Error::invalid_array_size(na, nb);
  } else {
    array = NetlistArray{na, nb};
  }
  NetlistInstance inst{std::move(kcl), std::move(component), std::move(settings), std::move(info), array, name};
  return instances.insert_or_assign(std::move(name), std::move(inst));
}

namespace {

// Above this many (top-level members x ports) the port check goes through a hash set.
constexpr std::size_t kLinearPortScan = 256;

}  // namespace

Status Netlist::add_net(const Net& net) { return add_net(Net(net)); }

Status Netlist::add_net(Net&& net) {
  std::vector<NetMember> members = std::move(net.members);

  std::size_t port_members = 0;
  for (const NetMember& m : members) port_members += std::holds_alternative<NetlistPort>(m);
  std::unordered_set<std::string_view> port_names;
  const bool use_set = port_members * ports.size() > kLinearPortScan;
  if (use_set) {
    port_names.reserve(ports.size());
    for (const NetlistPort& p : ports) port_names.insert(p.name);
  }
  const auto has_port = [&](const std::string& name) {
    if (use_set) return port_names.count(name) != 0;
    return std::any_of(ports.begin(), ports.end(), [&](const NetlistPort& p) { return p.name == name; });
  };

  for (NetMember& m : members) {
    if (auto* p = std::get_if<NetlistPort>(&m)) {
      if (!has_port(p->name)) return Error::undefined_port(p->name);
    } else if (auto* r = std::get_if<PortRef>(&m)) {
      if (!instances.contains(r->instance)) return Error::unknown_instance(r->instance);
    } else {
      auto& a = std::get<PortArrayRef>(m);
      const NetlistInstance* inst = instances.find(a.instance);
      if (inst == nullptr) return Error::unknown_instance(a.instance);
      if (a.ia == 1 && a.ib == 1) {
        m = PortRef{std::move(a.instance), std::move(a.port)};
        continue;
      }
      if (!inst->array) return Error::not_an_array_instance(a.instance, a.port, a.ia, a.ib);
      if (a.ia > inst->array->na) return Error::array_index_out_of_range(a.instance, inst->array->na, false);
      if (a.ib > inst->array->nb) return Error::array_index_out_of_range(a.instance, inst->array->nb, true);
    }
  }
  sort_members(members);
  nets.push_back(Net{std::move(members)});
  return ok_status();
}

namespace {
constexpr std::size_t kEraseOneByOne = 4;
}  // namespace

// Handles the names one after the other, as if each removal walked every net, but finds
// the nets a name touches through an index built in one pass: untouched nets are never
// copied or moved, and a merged net is indexed again for the later names it refers to.
Status Netlist::remove_instances(std::vector<std::string> names) {
  if (names.empty()) return ok_status();

  // Name -> positions (ascending) of the nets that refer to it, over `work` below.
  std::unordered_map<std::string_view, std::vector<std::size_t>> touching;
  touching.reserve(names.size());
  for (const std::string& n : names) touching.try_emplace(n);

  const auto index_net = [&touching](const Net& net, std::size_t pos) {
    for (const NetMember& m : net.members) {
      const std::string* inst = member_instance(m);
      if (inst == nullptr) continue;
      auto it = touching.find(*inst);
      if (it == touching.end()) continue;
      if (it->second.empty() || it->second.back() != pos) it->second.push_back(pos);
    }
  };

  std::vector<Net> work = std::move(nets);
  for (std::size_t i = 0; i < work.size(); ++i) index_net(work[i], i);
  std::vector<char> alive(work.size(), 1);
  work.reserve(work.size() + names.size());
  alive.reserve(work.size() + names.size());

  std::unordered_set<std::string_view> removed;
  removed.reserve(names.size());
  for (const std::string& n : names) {
    removed.insert(n);
    std::vector<std::size_t> positions = std::move(touching.find(n)->second);
    touching.find(n)->second.clear();
    std::vector<NetMember> merged;
    for (std::size_t pos : positions) {
      if (!alive[pos]) continue;
      alive[pos] = 0;
      for (NetMember& m : work[pos].members) {
        const std::string* inst = member_instance(m);
        if (inst != nullptr && *inst == n) continue;
        merged.push_back(std::move(m));
      }
      work[pos].members.clear();
      work[pos].members.shrink_to_fit();
    }
    sort_members(merged);
    work.push_back(Net{std::move(merged)});
    alive.push_back(1);
    index_net(work.back(), work.size() - 1);
  }

  // Erasing one entry shifts the entries behind it; past a handful of names one
  // order-keeping pass over the map is cheaper.
  if (removed.size() <= kEraseOneByOne) {
    for (std::string_view n : removed) instances.erase(n);
  } else {
    instances.erase_if([&removed](const std::string& key, const NetlistInstance&) { return removed.count(key) != 0; });
  }

  nets.clear();
  nets.reserve(work.size());
  for (std::size_t i = 0; i < work.size(); ++i)
    if (alive[i]) nets.push_back(std::move(work[i]));
  return ok_status();
}

void Netlist::sort() {
  instances.sort_by_key();
  for (Net& net : nets) sort_members(net.members);
  sort_nets(nets);
  const auto by_name = [](const NetlistPort& a, const NetlistPort& b) { return a.name < b.name; };
  if (!std::is_sorted(ports.begin(), ports.end(), by_name)) std::stable_sort(ports.begin(), ports.end(), by_name);
}

// ---------------------------------------------------------------------------------------
// Queries

std::pair<std::vector<std::string>, std::vector<Net>> Netlist::detect_opens() const {
  std::unordered_set<std::string_view> used;
  for (const Net& net : nets)
    for (const NetMember& m : net.members)
      if (auto* p = std::get_if<NetlistPort>(&m)) used.insert(p->name);

  std::vector<std::string> unconnected;
  for (const NetlistPort& p : ports)
    if (used.count(p.name) == 0) unconnected.push_back(p.name);
  std::sort(unconnected.begin(), unconnected.end());

  std::vector<Net> singletons;
  for (const Net& net : nets)
    if (net.members.size() == 1) singletons.push_back(net);
  return {std::move(unconnected), std::move(singletons)};
}

namespace {

// A net with its digest computed once; the sets compare digests before members.
struct HashedNet {
  std::size_t hash;
  const Net* net;
};
struct HashedNetHash {
  std::size_t operator()(const HashedNet& h) const { return h.hash; }
};
struct HashedNetEq {
  bool operator()(const HashedNet& a, const HashedNet& b) const { return a.hash == b.hash && *a.net == *b.net; }
};
using NetSet = tsl::ordered_set<HashedNet, HashedNetHash, HashedNetEq>;

std::vector<HashedNet> hashed(const std::vector<Net>& nets) {
  std::vector<HashedNet> out;
  out.reserve(nets.size());
  const NetHash hash;
  for (const Net& n : nets) out.push_back(HashedNet{hash(n), &n});
  return out;
}

NetSet net_set(const std::vector<HashedNet>& nets) {
  NetSet set;
  set.reserve(nets.size());
  for (const HashedNet& n : nets) set.insert(n);
  return set;
}

}  // namespace

std::pair<std::vector<Net>, std::vector<Net>> Netlist::find_net_difference(const Netlist& reference) const {
  const std::vector<HashedNet> mine = hashed(nets);
  const std::vector<HashedNet> theirs = hashed(reference.nets);
  const NetSet mine_set = net_set(mine);
  const NetSet theirs_set = net_set(theirs);
  std::vector<Net> missing, extra;
  for (const HashedNet& n : theirs)
    if (mine_set.count(n) == 0) missing.push_back(*n.net);
  for (const HashedNet& n : mine)
    if (theirs_set.count(n) == 0) extra.push_back(*n.net);
  return {std::move(missing), std::move(extra)};
}

}  // namespace vondrel
