"""Every method of Netlist, repeated, errors included: Python memory stays flat."""

import warnings

import pytest

from test_leaks import attempts, check_flat
from vondrel import Net, Netlist, NetlistPort, PortArrayRef, PortRef

SETTINGS = {"w": 1.0, "l": [2.0, 0.5], "layer": "M1"}
EQ = {"INV": [["A", "A2"]], "TOP": [["P", "P2"]]}


def build():
    n = Netlist()
    n.create_inst("x", "k", "INV", SETTINGS, info={"r": 1})
    n.create_inst("b", "k", "BANK", None, 2, 2)
    n.create_port("P")
    n.create_port("P2")
    n.create_net(NetlistPort("P"), PortRef("x", "A"))
    n.create_net(PortArrayRef("b", "d", 2, 1), PortRef("x", "A2"), NetlistPort("P2"))
    n.create_net(PortArrayRef("b", "d", 1, 1))
    return n


N = build()
DICT = N.to_dict()
JSON = N.to_json()
NET = Net([NetlistPort("P"), PortRef("x", "B")])


class Sub(Netlist):
    pass


attempt = attempts(TypeError, ValueError, OverflowError, AttributeError, KeyError, RuntimeError, DeprecationWarning)


def edit():
    n = build()
    n.add_net(NET)
    n.create_inst("x", "k", "INV", [1, 2.0], na=0)
    n.remove_instances(["x", "nobody"])
    n.sort()


def deprecated():
    n = build()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        n.flatten_instances(("b",))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        try:
            n.flatten_instances(["x"])
        except DeprecationWarning:
            pass


OPERATIONS = {
    "Netlist()": attempt(lambda: (Netlist(), Sub())),
    "Netlist() args": attempt(Netlist, 1),
    "getters": attempt(lambda: (N.instances, N.nets, N.ports, N.instance_names())),
    "instance lookups": attempt(lambda: (N.has_instance("x"), N.has_instance("y"), N.get_instance("b"))),
    "get_instance missing": attempt(N.get_instance, "nobody"),
    "get_instance bad name": attempt(N.get_instance, 5),
    "edits": attempt(edit),
    "create_inst bad size": attempt(N.create_inst, "z", "k", "c", na=-1, nb=2),
    "create_inst bad settings": attempt(N.create_inst, "z", "k", "c", {"a": object()}),
    "create_inst bad info": attempt(N.create_inst, "z", "k", "c", info={1: 2}),
    "create_inst bad binding": attempt(N.create_inst, "z", "k", "c", inf={}),
    "create_net bad member": attempt(N.create_net, NetlistPort("P"), 5),
    "create_net unknown instance": attempt(N.create_net, PortRef("m", "p"), NetlistPort("P")),
    "create_net out of range": attempt(N.create_net, PortArrayRef("b", "d", 3, 1)),
    "create_net keyword": attempt(N.create_net, x=1),
    "add_net undefined port": attempt(N.add_net, Net([NetlistPort("Q")])),
    "add_net not a net": attempt(N.add_net, [NetlistPort("P")]),
    "remove_instances bad": attempt(lambda: (N.remove_instances("x"), N.remove_instances([1]))),
    "flatten_instances": attempt(deprecated),
    "queries": attempt(lambda: (N.detect_opens(), N.find_net_difference(build()))),
    "find_net_difference bad": attempt(N.find_net_difference, 5),
    "normalize": attempt(lambda: (N.normalize(), N.normalize("TOP", EQ), N.normalize("TOP", EQ, {"INV": {"A2": "A"}}))),
    "normalize missing port": attempt(N.normalize, "TOP", {"TOP": [["Q", "P"]], "INV": [["A"]]}),
    "normalize bad args": attempt(lambda: N.normalize("TOP", {"INV": [["A", 1]]})),
    "normalize bad mapping": attempt(lambda: N.normalize("TOP", EQ, {"INV": {"A": 2}})),
    "normalize bad cell": attempt(N.normalize, 5),
    "compare/repr": attempt(lambda: (N == build(), N != 5, N <= N, N >= Sub(), repr(N))),
    "compare error": attempt(lambda: N < 5),
    "hash": attempt(hash, N),
    "to_dict/to_json": attempt(lambda: (N.to_dict(), N.to_json())),
    "from_dict/from_json": attempt(lambda: (Netlist.from_dict(DICT), Netlist.from_json(JSON), Sub.from_json(JSON))),
    "from_dict error": attempt(Netlist.from_dict, {"instances": {"u": {"kcl": "k"}}}),
    "from_json error": attempt(Netlist.from_json, JSON[:-1]),
}


@pytest.mark.parametrize("name", list(OPERATIONS))
def test_no_growth(name):
    check_flat(OPERATIONS[name], 5_000, warm_up=100)


def test_pydantic_hook_no_growth():
    pytest.importorskip("pydantic_core")
    check_flat(attempt(Netlist.__get_pydantic_core_schema__, None, None), 2_000, warm_up=1_000, stray_blocks=1_000)
