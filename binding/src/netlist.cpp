// Netlist: instances, nets and top-level ports; equality only, unhashable, subclassable from
// Python and by PlacedNetlist. Every getter and query hands out fresh objects.
#include "netlist.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"
#include "flatten.h"
#include "helpers.h"
#include "instance.h"
#include "net.h"
#include "port.h"
#include "pycarrier.h"
#include "quartet.h"
#include "vondrel/error.h"

namespace vondrel::py {
namespace {

Ref nets_list(const std::vector<Net>& nets) {
  return list_of(nets, [](const Net& n) { return wrap<NetClass>(n); });
}

// A new dict of two keys in the order given.
Ref pair_dict(const char* k1, Ref v1, const char* k2, Ref v2) {
  if (!v1 || !v2) return {};
  Ref dict = Ref::steal(PyDict_New());
  if (!dict || PyDict_SetItemString(dict.get(), k1, v1.get()) < 0 ||
      PyDict_SetItemString(dict.get(), k2, v2.get()) < 0)
    return {};
  return dict;
}

// ---------------------------------------------------------------------------------------
// Properties.

Ref get_instances(PyObject* self) {
  return read_shared(self, [&] {
    return dict_of(netlist_of(self).instances,
                   [](const auto& entry) { return wrap<NetlistInstanceClass>(entry.second); });
  });
}

Ref get_nets(PyObject* self) {
  return read_shared(self, [&] { return nets_list(netlist_of(self).nets); });
}

Ref get_ports(PyObject* self) {
  return read_shared(self, [&] {
    return list_of(netlist_of(self).ports, [](const NetlistPort& p) { return wrap<NetlistPortClass>(p); });
  });
}

// ---------------------------------------------------------------------------------------
// Instances and ports.

Ref instance_names(PyObject* self, const FastArgs& a) {
  if (!no_arguments("Netlist.instance_names()", a)) return {};
  return read_shared(self, [&] {
    return list_of(netlist_of(self).instances, [](const auto& entry) { return str(entry.first); });
  });
}

Ref has_instance(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.has_instance()", {"name"}, 1);
  PyObject* argv[1];
  std::string_view name;
  if (!sig.bind(a, argv) || !arg_str(argv[0], "name", name)) return {};
  return read_shared(self, [&] { return boolean(netlist_of(self).instances.contains(name)); });
}

Ref get_instance(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.get_instance()", {"name"}, 1);
  PyObject* argv[1];
  std::string_view name;
  if (!sig.bind(a, argv) || !arg_str(argv[0], "name", name)) return {};
  return read_shared(self, [&] {
    const NetlistInstance* inst = netlist_of(self).instances.find(name);
    if (!inst) return core_error(Error::key_not_found(std::string(name)));
    return wrap<NetlistInstanceClass>(*inst);
  });
}

Ref create_port(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.create_port()", {"name"}, 1);
  PyObject* argv[1];
  if (!sig.bind(a, argv)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  std::string name;
  if (!arg_string(argv[0], "name", name)) return {};
  return wrap<NetlistPortClass>(netlist_of(self).create_port(std::move(name)));
}

// Nothing changes before the core call: it checks the dimensions before it stores.
Ref create_inst(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.create_inst()", {"name", "kcl", "component", "settings", "na", "nb"}, 3,
                             {"info"});
  PyObject* argv[7];
  if (!sig.bind(a, argv)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  std::string name, kcl, component;
  std::int64_t na = 1, nb = 1;
  JsonValue settings;
  JsonObject info;
  if (!arg_string(argv[0], "name", name) || !arg_string(argv[1], "kcl", kcl) ||
      !arg_string(argv[2], "component", component) || (argv[4] && !arg_i64(argv[4], "na", na)) ||
      (argv[5] && !arg_i64(argv[5], "nb", nb)) || !arg_settings(argv[3], settings) || !arg_info(argv[6], info))
    return {};
  Result<NetlistInstance> r = netlist_of(self).create_inst_with_info(
      std::move(name), std::move(kcl), std::move(component), std::move(settings), na, nb, std::move(info));
  if (!r) return core_error(std::move(r).error());
  return wrap<NetlistInstanceClass>(std::move(r).value());
}

// ---------------------------------------------------------------------------------------
// Nets.

// Every argument is converted first; the core then checks the members in argument order and
// appends them sorted.
Ref create_net(PyObject* self, const FastArgs& a) {
  if (a.kwnames && PyTuple_Size(a.kwnames) > 0) {
    static const Signature sig("Netlist.create_net()", {}, 0);
    PyObject* unused[1];
    if (!sig.bind(FastArgs{a.args + a.nargs, 0, a.kwnames}, unused)) return {};
  }
  Exclusive guard(self);
  if (!guard) return {};
  Net net;
  net.members.reserve(static_cast<std::size_t>(a.nargs));
  for (Py_ssize_t i = 0; i < a.nargs; ++i) {
    PyObject* obj = a.args[i];
    PortKind kind = kind_of(obj);
    if (kind == kNotAPort) return raise(PyExc_ValueError, "create_net expects NetlistPort, PortRef, or PortArrayRef");
    Shared port(obj);
    if (!port) return {};
    net.members.push_back(member_of(obj, kind));
  }
  Status st = netlist_of(self).add_net(std::move(net));
  if (!st) return core_error(std::move(st).error());
  return none();
}

Ref add_net(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.add_net()", {"net"}, 1);
  PyObject* argv[1];
  if (!sig.bind(a, argv) || !arg_instance(argv[0], NetClass::type, "Net", "net")) return {};
  Exclusive guard(self);
  if (!guard) return {};
  Shared net(argv[0]);
  if (!net) return {};
  Status st = netlist_of(self).add_net(NetClass::value(argv[0]));
  if (!st) return core_error(std::move(st).error());
  return none();
}

Status remove_from_netlist(PyObject* self, std::vector<std::string> names) {
  return netlist_of(self).remove_instances(std::move(names));
}

Ref remove_instances(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.remove_instances()", {"names"}, 1);
  return remove_named(self, a, sig, nullptr, &remove_from_netlist);
}

Ref flatten_instances(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.flatten_instances()", {"names"}, 1);
  return remove_named(self, a, sig,
                      "Netlist.flatten_instances() is deprecated, use remove_instances() instead "
                      "(Netlist.flatten() now inlines an instance's own netlist)",
                      &remove_from_netlist);
}

// ---------------------------------------------------------------------------------------
// Queries.

Ref detect_opens(PyObject* self, const FastArgs& a) {
  if (!no_arguments("Netlist.detect_opens()", a)) return {};
  return read_shared(self, [&] {
    auto [ports, singletons] = netlist_of(self).detect_opens();
    return pair_dict("unconnected_ports", list_of(ports, [](const std::string& s) { return str(s); }),
                     "singleton_nets", nets_list(singletons));
  });
}

Ref find_net_difference(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.find_net_difference()", {"reference"}, 1);
  PyObject* argv[1];
  if (!sig.bind(a, argv) || !arg_instance(argv[0], NetlistClass::type, "Netlist", "reference")) return {};
  Shared mine(self);
  if (!mine) return {};
  Shared theirs(argv[0]);
  if (!theirs) return {};
  auto [missing, extra] = netlist_of(self).find_net_difference(netlist_of(argv[0]));
  return pair_dict("missing", nets_list(missing), "extra", nets_list(extra));
}

Ref sort(PyObject* self, const FastArgs& a) {
  if (!no_arguments("Netlist.sort()", a)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  netlist_of(self).sort();
  return none();
}

// The arguments are read in order, each only when the ones before it are present: no cell
// name, no equivalent ports; no equivalent ports, no port mapping.
Ref normalize(PyObject* self, const FastArgs& a) {
  static const Signature sig("Netlist.normalize()", {"cell_name", "equivalent_ports", "port_mapping"}, 0);
  PyObject* argv[3];
  if (!sig.bind(a, argv)) return {};
  Shared guard(self);
  if (!guard) return {};
  std::optional<std::string> cell_name;
  std::optional<EquivalentPorts> equivalent;
  std::optional<PortMapping> mapping;
  if (!arg_opt_string(argv[0], "cell_name", cell_name)) return {};
  if (cell_name && argv[1] && argv[1] != Py_None) {
    if (!from_py_any(argv[1], equivalent.emplace())) return {};
    if (argv[2] && argv[2] != Py_None && !from_py_any(argv[2], mapping.emplace())) return {};
  }
  Result<Netlist> r =
      netlist_of(self).normalize(std::move(cell_name), std::move(equivalent), std::move(mapping));
  if (!r) return core_error(std::move(r).error());
  return wrap<NetlistClass>(std::move(r).value());
}

// ---------------------------------------------------------------------------------------
// Repr.

Ref plain_repr(PyObject* self) { return netlist_repr(self, "Netlist"); }

// ---------------------------------------------------------------------------------------
// Tables.

PyMethodDef netlist_methods[] = {
    method<&instance_names>("instance_names", "instance_names($self)\n--\n\n"),
    method<&has_instance>("has_instance", "has_instance($self, name)\n--\n\n"),
    method<&get_instance>("get_instance", "get_instance($self, name)\n--\n\n"),
    method<&create_port>("create_port", "create_port($self, name)\n--\n\n"),
    method<&create_inst>("create_inst",
                         "create_inst($self, name, kcl, component, settings=None, na=1, nb=1, *, info=None)\n--\n\n"),
    method<&create_net>("create_net", "create_net($self, *ports)\n--\n\n"),
    method<&add_net>("add_net", "add_net($self, net)\n--\n\nRe-create a net using the members of an existing one."),
    method<&remove_instances>("remove_instances",
                              "remove_instances($self, names)\n--\n\n"
                              "Delete named instances and merge the nets they touched."),
    method<&flatten_instances>("flatten_instances",
                               "flatten_instances($self, names)\n--\n\n"
                               "Deprecated alias for [`Netlist::remove_instances`]."),
    method<&netlist_flatten>("flatten", kNetlistFlattenDoc),
    method<&detect_opens>("detect_opens",
                          "detect_opens($self)\n--\n\n"
                          "Detect open (unconnected) elements in this netlist.\n"
                          "\n"
                          "Returns a dict with:\n"
                          "- ``unconnected_ports``: top-level port names not appearing in any net\n"
                          "- ``singleton_nets``: nets with only a single member (dangling stubs)"),
    method<&find_net_difference>("find_net_difference",
                                 "find_net_difference($self, reference)\n--\n\n"
                                 "Return a dict with ``missing`` and ``extra`` net lists.\n"
                                 "\n"
                                 "* **missing** \u2013 nets in *reference* but not in ``self``\n"
                                 "* **extra** \u2013 nets in ``self`` but not in *reference*"),
    method<&sort>("sort",
                  "sort($self)\n--\n\n"
                  "Sort instances by name, ports by name, members within each net,\n"
                  "and the nets list itself."),
    method<&normalize>("normalize",
                       "normalize($self, cell_name=None, equivalent_ports=None, port_mapping=None)\n--\n\n"
                       "Return a deep copy of the netlist with normalized settings (integer-\n"
                       "valued floats become integers) and sorted contents.\n"
                       "\n"
                       "When `cell_name` and `equivalent_ports` are given, equivalent ports\n"
                       "are also collapsed to a single canonical port name and nets that share\n"
                       "a canonical reference are merged."),
    pydantic_row<NetlistClass>(),
    to_json_row<NetlistClass>(),
    from_json_row<NetlistClass>(),
    to_dict_row<NetlistClass>(),
    from_dict_row<NetlistClass>(),
    kMethodsEnd,
};

PyGetSetDef netlist_getset[] = {
    attribute<&get_instances>("instances",
                              "Fresh dict of {name: NetlistInstance}. Mutating this dict does not\n"
                              "affect the netlist; contained instances are independent snapshots as well."),
    attribute<&get_nets>("nets", "Fresh list of nets. Mutating this list does not affect the netlist."),
    attribute<&get_ports>("ports", "Fresh list of top-level ports."),
    kGetSetEnd,
};

}  // namespace

Ref remove_named(PyObject* self, const FastArgs& a, const Signature& sig, const char* deprecation, RemoveFn remove) {
  PyObject* argv[1];
  if (!sig.bind(a, argv)) return {};
  std::vector<std::string> names;
  if (!arg_string_list(argv[0], "names", names)) return {};
  Exclusive guard(self);
  if (!guard) return {};
  if (deprecation && !warn_deprecated(deprecation)) return {};
  Status st = remove(self, std::move(names));
  if (!st) return core_error(std::move(st).error());
  return none();
}

Ref netlist_repr(PyObject* self, const char* class_name) {
  return read_shared(self, [&] {
    const Netlist& n = netlist_of(self);
    return str(std::string(class_name) + "(instances=" + std::to_string(n.instances.size()) +
               ", nets=" + std::to_string(n.nets.size()) + ", ports=" + std::to_string(n.ports.size()) + ")");
  });
}

const ClassSpec kNetlistSpec = class_spec<NetlistClass>(
    "vondrel._native.Netlist",
    "Netlist()\n--\n\n"
    "A netlist: instances, nets, and top-level ports.\n"
    "\n"
    "Declared `subclass` so `PlacedNetlist` (which carries per-instance placement\n"
    "geometry) can extend it; this adds no fields and does not change the wire\n"
    "format.",
    nullptr, true, netlist_methods, netlist_getset,
    {
        {Py_tp_new, slot_fn(&new_entry<&new_empty<NetlistClass>>)},
        {Py_tp_hash, slot_fn(&PyObject_HashNotImplemented)},
        // Over the netlist layers alone: a placed netlist compares by its connectivity.
        {Py_tp_richcompare, slot_fn(&compare_entry<&equality_compare<NetlistClass>>)},
        {Py_tp_repr, slot_fn(&unary_entry<&plain_repr>)},
    });

}  // namespace vondrel::py
