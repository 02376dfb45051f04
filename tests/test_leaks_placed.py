"""Every method of Placement, PlacedInstance and PlacedNetlist, repeated, errors included:
Python memory stays flat."""

import warnings

import pytest

from test_leaks import attempts, check_flat, set_attr
from vondrel import Netlist, NetlistArray, NetlistPort, PlacedInstance, PlacedNetlist, Placement, PortRef

BOX = {"left": 0, "bottom": 0, "right": 1, "top": 1}
P = Placement(1.5, -2, 90, True, BOX)
P_DICT = P.to_dict()
P_JSON = P.to_json()
INST = PlacedInstance("k", "c", {"w": 1.0, "l": [1, 2]}, NetlistArray(2, 1), "u1", "CELL", P, info={"i": 1})
INST_DICT = INST.to_dict()
INST_JSON = INST.to_json()


def placed():
    pn = PlacedNetlist()
    pn.create_inst("b", "k", "inv", {"w": 1.0}, cell="B", placement=P)
    pn.create_inst("a", "k", "buf", info={"rev": 1})
    pn.create_port("in")
    pn.create_net(PortRef("a", "y"), PortRef("b", "a"), NetlistPort("in"))
    return pn


PN = placed()
PN_DICT = PN.to_dict()
PN_JSON = PN.to_json()
NETLIST = Netlist.from_json('{"instances":{"x":{"kcl":"k","component":"c"},"y":{"kcl":"k","component":"c"}}}')


attempt = attempts(TypeError, ValueError, OverflowError, AttributeError, RuntimeError, DeprecationWarning)


def edit():
    pn = placed()
    pn.create_inst("c", "k", "x", cell="C", placement=P)
    pn.create_inst("b", "k", "y")
    pn.remove_instances(["a", "zz"])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        pn.flatten_instances(["c"])


def flatten_instances_error():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        PN.flatten_instances(["nope"])


OPERATIONS = {
    # Placement
    "Placement()": attempt(lambda: (Placement(1, 2.5, 3, False, BOX), Placement(x=0, y=0, orientation=0, mirror=True, bbox=BOX))),
    "Placement() bad float": attempt(Placement, "1", 0, 0, False, BOX),
    "Placement() bad bool": attempt(Placement, 0, 0, 0, 1, BOX),
    "Placement() bad box": attempt(Placement, 0, 0, 0, False, {"left": 0}),
    "Placement() overflow": attempt(Placement, 2**1024, 0, 0, False, BOX),
    "Placement getters": attempt(lambda: (P.x, P.y, P.orientation, P.mirror, P.bbox)),
    "Placement setters": attempt(lambda: (set_attr(P, "x", 1.5), set_attr(P, "mirror", True), set_attr(P, "bbox", BOX))),
    "Placement setter errors": attempt(lambda: (set_attr(P, "y", "1"))),
    "Placement bbox error": attempt(set_attr, P, "bbox", {"left": 1}),
    "Placement delete": attempt(delattr, P, "x"),
    "Placement compare/repr": attempt(lambda: (P == P, P != 1, P <= P, repr(P))),
    "Placement hash": attempt(hash, P),
    "Placement quartet": attempt(lambda: (Placement.from_dict(P.to_dict()), Placement.from_json(P.to_json()))),
    "Placement from errors": attempt(lambda: Placement.from_dict({**P_DICT, "scale": 1})),
    "Placement from_json error": attempt(Placement.from_json, P_JSON.replace("1.5", "null")),
    # PlacedInstance
    "PlacedInstance()": attempt(lambda: (PlacedInstance("k", "c", {"a": [1.0]}, None, "n", "C", P, info={"i": 2}),
                                         PlacedInstance("k", "c"))),
    "PlacedInstance() bad placement": attempt(PlacedInstance, "k", "c", placement=BOX),
    "PlacedInstance() bad cell": attempt(PlacedInstance, "k", "c", cell=None),
    "PlacedInstance() bad settings": attempt(PlacedInstance, "k", "c", {"x": object()}),
    "PlacedInstance getters": attempt(lambda: (INST.cell, INST.placement, INST.name, INST.settings, INST.array)),
    "PlacedInstance setters": attempt(lambda: (set_attr(INST, "cell", "CELL"), set_attr(INST, "placement", P),
                                               set_attr(INST, "name", "u1"))),
    "PlacedInstance setter errors": attempt(set_attr, INST, "placement", None),
    "PlacedInstance compare/repr/normalize": attempt(lambda: (INST == INST, repr(INST), INST.normalize())),
    "PlacedInstance quartet": attempt(lambda: (PlacedInstance.from_dict(INST_DICT, "u1"),
                                               PlacedInstance.from_json(INST_JSON, name="u1"), INST.to_dict(), INST.to_json())),
    "PlacedInstance from errors": attempt(lambda: PlacedInstance.from_dict({"kcl": "k", "component": "c"})),
    "PlacedInstance from_json error": attempt(PlacedInstance.from_json, '[{},"k","c"]'),
    # PlacedNetlist
    "PlacedNetlist()": attempt(lambda: (PlacedNetlist(), repr(PN))),
    "PlacedNetlist() error": attempt(PlacedNetlist, 1),
    "PlacedNetlist getters": attempt(lambda: (PN.instances, PN.placements, PN.nets, PN.ports)),
    "PlacedNetlist edits": attempt(edit),
    "PlacedNetlist create_inst errors": attempt(lambda: PN.create_inst("z", "k", "c", None, -1, 2, "C", P)),
    "PlacedNetlist create_inst bad placement": attempt(lambda: PN.create_inst("z", "k", "c", placement=BOX)),
    "PlacedNetlist remove error": attempt(PN.remove_instances, "a"),
    "PlacedNetlist flatten_instances error": attempt(flatten_instances_error),
    "PlacedNetlist from_netlist": attempt(lambda: (PlacedNetlist.from_netlist(NETLIST, {"x": P, "q": P}, {"y": "Y", "r": "R"}),
                                                   PlacedNetlist.from_netlist(PN))),
    "PlacedNetlist from_netlist errors": attempt(lambda: PlacedNetlist.from_netlist(NETLIST, {"x": P, "y": 1})),
    "PlacedNetlist from_netlist bad cells": attempt(lambda: PlacedNetlist.from_netlist(NETLIST, None, {"x": "X", 1: "Y"})),
    "PlacedNetlist compare/normalize": attempt(lambda: (PN == PN, PN == NETLIST, PN.normalize())),
    "PlacedNetlist quartet": attempt(lambda: (PlacedNetlist.from_dict(PN_DICT), PlacedNetlist.from_json(PN_JSON),
                                              PN.to_dict(), PN.to_json())),
    "PlacedNetlist from errors": attempt(lambda: PlacedNetlist.from_dict({"instances": {"u": {"kcl": "k"}}})),
    "PlacedNetlist from_json error": attempt(PlacedNetlist.from_json, PN_JSON[:-1]),
}


@pytest.mark.parametrize("name", list(OPERATIONS))
def test_no_growth(name):
    check_flat(OPERATIONS[name], 10_000)


@pytest.mark.parametrize("cls", [Placement, PlacedInstance, PlacedNetlist])
def test_pydantic_hook_no_growth(cls):
    pytest.importorskip("pydantic_core")
    check_flat(attempt(cls.__get_pydantic_core_schema__, None, None), 2_000, warm_up=1_000, stray_blocks=1_000)
