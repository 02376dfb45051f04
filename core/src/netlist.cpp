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

// A net with more top-level members than this checks them through a hash set of the port
// names (when there are enough ports); a few members are cheaper to look for one by one.
constexpr std::size_t kLinearPortMembers = 8;
constexpr std::size_t kLinearPortScan = 256;

}  // namespace

Status Netlist::add_net(const Net& net) { return add_net(Net(net)); }

Status Netlist::add_net(Net&& net) {
  std::vector<NetMember> members = std::move(net.members);

  std::size_t port_members = 0;
  for (const NetMember& m : members) port_members += std::holds_alternative<NetlistPort>(m);
  std::unordered_set<std::string_view> port_names;
  const bool use_set = port_members > kLinearPortMembers && port_members * ports.size() > kLinearPortScan;
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

// Handles the names one after the other, as if each removal walked every net and replaced
// the nets it touched by one merged net, without moving a member more than once. Every
// member comes from one of the given nets, so each given net is followed to the merged net
// that holds it now: a forest whose roots are the nets alive at this point, each merged net
// the parent of the nets it took over. The members of a touched net that refer to removed
// names are dropped when the merged nets are built at the end (a name's members always sit
// in a net that its own removal touched, and an untouched net refers to no removed name).
Status Netlist::remove_instances(std::vector<std::string> names) {
  if (names.empty()) return ok_status();

  // Name -> positions (ascending) of the given nets that refer to it; its keys are the
  // removed names.
  std::unordered_map<std::string_view, std::vector<std::size_t>> touching;
  touching.reserve(names.size());
  for (const std::string& n : names) touching.try_emplace(n);
  const std::size_t given = nets.size();
  for (std::size_t i = 0; i < given; ++i) {
    for (const NetMember& m : nets[i].members) {
      const std::string* inst = member_instance(m);
      if (inst == nullptr) continue;
      auto it = touching.find(*inst);
      if (it == touching.end()) continue;
      if (it->second.empty() || it->second.back() != i) it->second.push_back(i);
    }
  }

  // Nodes: the given nets (0 .. given-1), then one merged net per name, in name order.
  // parent[x] == x while x is alive; a merged net is always newer than the nets it takes.
  const std::size_t total = given + names.size();
  std::vector<std::size_t> parent(total);
  for (std::size_t x = 0; x < total; ++x) parent[x] = x;
  const auto root = [&parent](std::size_t x) {
    while (parent[x] != x) {
      parent[x] = parent[parent[x]];
      x = parent[x];
    }
    return x;
  };
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::size_t merged = given + k;
    // A name given again finds its members already dropped: it touches nothing.
    std::vector<std::size_t>& positions = touching.find(names[k])->second;
    for (std::size_t pos : positions) parent[root(pos)] = merged;
    positions.clear();
  }

  // The given nets each merged net holds, in net order.
  std::vector<std::vector<std::size_t>> held(names.size());
  for (std::size_t i = 0; i < given; ++i) {
    const std::size_t r = root(i);
    if (r != i) held[r - given].push_back(i);
  }

  std::vector<Net> work = std::move(nets);
  nets.clear();
  nets.reserve(total);
  for (std::size_t i = 0; i < given; ++i)
    if (parent[i] == i) nets.push_back(std::move(work[i]));
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (parent[given + k] != given + k) continue;
    std::size_t count = 0;
    for (std::size_t pos : held[k]) count += work[pos].members.size();
    std::vector<NetMember> merged;
    merged.reserve(count);
    for (std::size_t pos : held[k]) {
      for (NetMember& m : work[pos].members) {
        const std::string* inst = member_instance(m);
        if (inst != nullptr && touching.count(*inst) != 0) continue;
        merged.push_back(std::move(m));
      }
    }
    sort_members(merged);
    nets.push_back(Net{std::move(merged)});
  }

  // Erasing one entry shifts the entries behind it; past a handful of names one
  // order-keeping pass over the map is cheaper.
  if (touching.size() <= kEraseOneByOne) {
    for (const auto& entry : touching) instances.erase(entry.first);
  } else {
    instances.erase_if(
        [&touching](const std::string& key, const NetlistInstance&) { return touching.count(key) != 0; });
  }
  return ok_status();
}

void sort_canonical(OrderedMap<NetlistInstance>& instances, std::vector<Net>& nets, std::vector<NetlistPort>& ports) {
  instances.sort_by_key();
  for (Net& net : nets) sort_members(net.members);
  sort_nets(nets);
  const auto by_name = [](const NetlistPort& a, const NetlistPort& b) { return a.name < b.name; };
  if (!std::is_sorted(ports.begin(), ports.end(), by_name)) std::stable_sort(ports.begin(), ports.end(), by_name);
}

void Netlist::sort() { sort_canonical(instances, nets, ports); }

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
