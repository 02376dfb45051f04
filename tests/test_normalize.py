"""Netlist.normalize: how its three arguments are read, and what reaches the caller."""

from collections.abc import Mapping

import pytest

from conftest import DictMapping
from vondrel import Net, Netlist, NetlistPort, PortArrayRef, PortRef

EQ = {"INV": [["A", "A2"]]}


def top(ports=("OUT", "IN", "OUT")):
    """Cell TOP: inverter x (cell INV) and buffer y, ports unsorted with a duplicate."""
    n = Netlist()
    n.create_inst("y", "k", "BUF", {"w": 2.0, "l": [1.0, 1.5]}, info={"f": 1.0})
    n.create_inst("x", "k", "INV", na=2, nb=2)
    for p in ports:
        n.create_port(p)
    n.create_net(NetlistPort("IN"), PortRef("x", "A"))
    n.create_net(PortRef("x", "A2"), NetlistPort("OUT"))
    n.create_net(PortRef("y", "B"), PortRef("y", "A2"))
    return n


def plain():
    """What normalize gives without the canonical step."""
    n = Netlist.from_dict(top().to_dict())
    n.create_inst("y", "k", "BUF", {"w": 2, "l": [1, 1.5]}, 1, 1, info={"f": 1.0})
    n.sort()
    return n


def test_without_arguments_sorts_normalizes_and_keeps_duplicates():
    n = top()
    before = n.to_json()
    out = n.normalize()
    assert type(out) is Netlist and out is not n
    assert out == plain()
    assert [p.name for p in out.ports] == ["IN", "OUT", "OUT"]
    assert out.get_instance("y").settings == {"l": [1, 1.5], "w": 2}
    assert type(out.get_instance("y").settings["w"]) is int
    assert out.get_instance("y").info == {"f": 1.0}
    assert n.to_json() == before


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {"equivalent_ports": 5}),
        ((None, 5, 7), {}),
        ((), {"port_mapping": object()}),
        ((None, EQ), {}),
        (("TOP",), {}),
        (("TOP", None, 5), {}),
        (("TOP",), {"port_mapping": {"INV": {"A2": "A"}}}),
    ],
)
def test_arguments_after_a_missing_one_are_not_read(args, kwargs):
    assert top().normalize(*args, **kwargs) == plain()


def test_empty_equivalent_ports_deduplicates_ports_only():
    out = top().normalize("TOP", {})
    assert [p.name for p in out.ports] == ["IN", "OUT"]
    assert out.nets == plain().nets


def test_equivalent_ports_merge_nets():
    out = top().normalize("TOP", EQ)
    assert out.nets == [Net([NetlistPort("IN"), NetlistPort("OUT"), PortRef("x", "A")]),
                        Net([PortRef("y", "A2"), PortRef("y", "B")])]
    assert [p.name for p in out.ports] == ["IN", "OUT"]


def test_keywords_and_positions_agree():
    mapping = {"INV": {"A2": "A"}}
    assert top().normalize("TOP", EQ, mapping) == top().normalize(
        port_mapping=mapping, equivalent_ports=EQ, cell_name="TOP")


def test_given_port_mapping_replaces_the_derived_one():
    n = top()
    n.create_net(PortRef("x", "A2"), NetlistPort("IN"))
    out = n.normalize("TOP", EQ, {"INV": {"A2": "A"}})
    # x.A is not in the given map: nets reach x.A only through A2, and those merge.
    assert Net([NetlistPort("IN"), PortRef("x", "A")]) in out.nets
    assert Net([NetlistPort("IN"), NetlistPort("OUT"), PortRef("x", "A")]) in out.nets


Groups = DictMapping  # groups given as a Mapping class


@pytest.mark.parametrize(
    "groups",
    [
        {"INV": [("A", "A2")]},
        {"INV": (["A", "A2"],)},
        Groups({"INV": [["A", "A2"]]}),
        {"INV": [["A", "A2"]], "OTHER": []},
    ],
)
def test_groups_as_other_sequences_and_mappings(groups):
    assert top().normalize("TOP", groups) == top().normalize("TOP", EQ)


def test_a_str_group_is_a_group_of_characters():
    n = Netlist()
    n.create_inst("x", "k", "INV")
    n.create_port("P")
    n.create_net(PortRef("x", "2"), NetlistPort("P"))
    assert n.normalize("TOP", {"INV": ["AA2"]}).nets == [Net([NetlistPort("P"), PortRef("x", "A")])]


def test_a_set_group_takes_its_first_name_as_canonical():
    group = {"A", "A2", "A3"}
    first = next(iter(group))
    n = Netlist()
    n.create_inst("x", "k", "INV")
    n.create_net(PortRef("x", "A3"))
    assert n.normalize("TOP", {"INV": [group]}).nets == [Net([PortRef("x", first)])]


def test_array_references_merge_only_on_the_same_element():
    n = top()
    n.create_net(PortArrayRef("x", "A2", 1, 2), NetlistPort("IN"))
    n.create_net(PortArrayRef("x", "A", 1, 2), NetlistPort("OUT"))
    n.create_net(PortArrayRef("x", "A", 2, 1))
    out = n.normalize("TOP", EQ)
    assert Net([NetlistPort("IN"), NetlistPort("OUT"), PortArrayRef("x", "A", 1, 2)]) in out.nets
    assert Net([PortArrayRef("x", "A", 2, 1)]) in out.nets


@pytest.mark.parametrize(
    "args, exc, text",
    [
        ((5,), TypeError, "argument 'cell_name': 'int' object cannot be converted to 'PyString'"),
        (("TOP", [["A"]]), ValueError, "from_dict: unexpected type: 'list' object cannot be converted to 'Mapping'"),
        (("TOP", {1: [["A"]]}), ValueError, "from_dict: unexpected type: 'int' object cannot be converted to 'PyString'"),
        (("TOP", {"INV": [["A", 1]]}), ValueError,
         "from_dict: unexpected type: 'int' object cannot be converted to 'PyString'"),
        (("TOP", {"INV": 5}), ValueError, "from_dict: unexpected type: 'int' object cannot be converted to 'Sequence'"),
        (("TOP", {"INV": [5]}), ValueError, "from_dict: unexpected type: 'int' object cannot be converted to 'Sequence'"),
        (("TOP", EQ, [1]), ValueError, "from_dict: unexpected type: 'list' object cannot be converted to 'Mapping'"),
        (("TOP", EQ, {"INV": ["A"]}), ValueError,
         "from_dict: unexpected type: 'list' object cannot be converted to 'Mapping'"),
        (("TOP", EQ, {"INV": {"A2": None}}), ValueError,
         "from_dict: unexpected type: 'NoneType' object cannot be converted to 'PyString'"),
        (("TOP", EQ, {"INV": {2: "A"}}), ValueError,
         "from_dict: unexpected type: 'int' object cannot be converted to 'PyString'"),
        (("TOP", None, None, None), TypeError,
         "Netlist.normalize() takes from 0 to 3 positional arguments but 4 were given"),
        (("TOP",), TypeError, "Netlist.normalize() got multiple values for argument 'cell_name'"),
    ],
)
def test_argument_errors(args, exc, text):
    n = top()
    before = n.to_json()
    kwargs = {"cell_name": "TOP"} if text.endswith("'cell_name'") else {}
    with pytest.raises(exc) as e:
        n.normalize(*args, **kwargs)
    assert str(e.value) == text
    assert n.to_json() == before


def test_unknown_keyword():
    with pytest.raises(TypeError, match=r"^Netlist\.normalize\(\) got an unexpected keyword argument 'cell'$"):
        top().normalize(cell="TOP")


def test_mapping_errors_come_out_as_from_dict():
    class Broken(Mapping):
        def __getitem__(self, k):
            raise KeyError(k)

        def __iter__(self):
            return iter(())

        def __len__(self):
            return 1

        def keys(self):
            raise RuntimeError("no keys")

    with pytest.raises(ValueError, match="^from_dict: RuntimeError: no keys$"):
        top().normalize("TOP", Broken())


def test_missing_canonical_top_level_port():
    n = Netlist()
    n.create_inst("x", "k", "INV")
    n.create_port("VDD2")
    n.create_net(NetlistPort("VDD2"), PortRef("x", "A2"))
    before = n.to_json()
    eq = {"INV": [["A", "A2"]], "TOP": [["VDD", "VDD2"]]}
    with pytest.raises(ValueError) as e:
        n.normalize("TOP", eq)
    assert str(e.value) == 'normalize: canonical port "VDD" not present in netlist ports'
    assert n.to_json() == before
    n.create_port("VDD")
    out = n.normalize("TOP", eq)
    assert out.nets == [Net([NetlistPort("VDD"), PortRef("x", "A")])]
    assert [p.name for p in out.ports] == ["VDD", "VDD2"]


def test_reading_holds_the_netlist_for_reading():
    n = top()
    seen = []

    class Watching(Mapping):
        def __getitem__(self, k):
            return EQ[k]

        def __iter__(self):
            return iter(EQ)

        def __len__(self):
            return len(EQ)

        def keys(self):
            seen.append(repr(n))
            try:
                n.create_port("Z")
            except RuntimeError as e:
                seen.append(str(e))
            return list(EQ)

    out = n.normalize("TOP", Watching())
    assert seen == ["Netlist(instances=2, nets=3, ports=3)", "Already borrowed"]
    assert out == top().normalize("TOP", EQ)


def test_subclass_receiver_gives_a_plain_netlist():
    class Mine(Netlist):
        pass

    m = Mine.from_dict(top().to_dict())
    assert type(m) is Netlist
    sub = Mine()
    sub.create_port("p")
    assert type(sub.normalize()) is Netlist
