import math
import warnings
from collections.abc import Mapping

import pytest

from vondrel import Net, Netlist, NetlistArray, NetlistInstance, NetlistPort, PlacedInstance, PlacedNetlist, Placement, PortRef

BOX = {"left": 0, "bottom": 0, "right": 1, "top": 1}
ZERO = Placement(0, 0, 0, False, {"left": 0, "bottom": 0, "right": 0, "top": 0})
P1 = Placement(1, 2, 90, False, BOX)
P2 = Placement(-5, 0.5, 180, True, BOX)


class SubNetlist(Netlist):
    pass


def placed():
    """Instances b (cell B at P1) and a (no cell, P2), a port and two nets."""
    pn = PlacedNetlist()
    pn.create_inst("b", "k", "inv", {"w": 1.0}, cell="B", placement=P1)
    pn.create_inst("a", "k", "buf", placement=P2, info={"rev": 1})
    pn.create_port("in")
    pn.create_net(PortRef("a", "y"), PortRef("b", "a"))
    pn.create_net(NetlistPort("in"), PortRef("a", "a"))
    return pn


def state(pn):
    return (pn.to_json(), list(pn.placements.items()), repr(pn))


# ---------------------------------------------------------------------------------------
# Construction, getters, create_inst


def test_empty():
    pn = PlacedNetlist()
    assert repr(pn) == "PlacedNetlist(instances=0, nets=0, ports=0)"
    assert pn.instances == {} and pn.placements == {} and pn.nets == [] and pn.ports == []
    assert pn.to_json() == '{"instances":{},"nets":[],"ports":[]}'
    assert isinstance(pn, Netlist) and PlacedNetlist.__mro__[1] is Netlist
    with pytest.raises(TypeError, match=r"^PlacedNetlist\.__new__\(\) takes 0 positional arguments but 1 was given$"):
        PlacedNetlist(1)


def test_create_inst_defaults():
    pn = PlacedNetlist()
    got = pn.create_inst("u", "k", "c")
    assert type(got) is PlacedInstance
    assert (got.name, got.cell, got.array, got.settings, got.info) == ("u", "", NetlistArray(1, 1), {}, {})
    assert got.placement == ZERO
    assert pn.placements == {"u": ZERO}
    assert pn.to_dict()["instances"]["u"]["array"] == {"na": 1, "nb": 1}


def test_create_inst_all_arguments_and_copies():
    pn = PlacedNetlist()
    p = Placement(1, 2, 3, True, BOX)
    got = pn.create_inst(name="u", kcl="k", component="c", settings=[1.0], na=2, nb=3, cell="C", placement=p,
                         info={"i": 1})
    p.x = 100  # stored as a copy
    assert got.placement.x == 1 and pn.placements["u"].x == 1
    inst = pn.instances["u"]
    assert (inst.settings, inst.array, inst.info, inst.cell) == ([1.0], NetlistArray(2, 3), {"i": 1}, "C")
    # Everything handed out is a fresh copy.
    got.cell = "X"
    inst.placement = ZERO
    pn.instances["u"].name = "v"
    pn.placements["u"].y = 9
    del pn.placements["u"]
    assert pn.instances["u"].cell == "C" and pn.placements["u"] == Placement(1, 2, 3, True, BOX)
    assert pn.instances is not pn.instances


def test_create_inst_replaces_in_place():
    pn = placed()
    pn.create_inst("c", "k", "x")
    pn.create_inst("b", "k2", "inv2", cell="B2")
    assert list(pn.instances) == ["b", "a", "c"] and list(pn.placements) == ["b", "a", "c"]
    b = pn.instances["b"]
    assert (b.kcl, b.component, b.cell, b.placement) == ("k2", "inv2", "B2", ZERO)


@pytest.mark.parametrize(
    "args, kwargs, exc, text",
    [
        (("u", "k", "c", None, -1, 2), {}, ValueError,
         "An instance array must have at least one instance in the array. na=-1 and nb=2 must be >= 1"),
        (("u", "k", "c"), {"cell": None}, TypeError, "argument 'cell': 'NoneType' object cannot be converted to 'PyString'"),
        (("u", "k", "c"), {"placement": BOX}, TypeError,
         "argument 'placement': 'dict' object cannot be converted to 'Placement'"),
        (("u", "k", "c"), {"settings": object()}, ValueError, "from_dict: unsupported type object"),
        (("u", "k", "c"), {"info": 5}, ValueError, "from_dict: "),
        (("u", "k", "c"), {"na": "1"}, TypeError, "argument 'na'"),
        (("u", "k", "c"), {"nb": 2**63}, OverflowError, ""),
        # Conversion order: name, kcl, component, na, nb, cell, placement, settings, info.
        (("u", "k", 1), {"na": "x"}, TypeError, "argument 'component'"),
        (("u", "k", "c"), {"nb": "x", "cell": 1}, TypeError, "argument 'nb'"),
        (("u", "k", "c"), {"placement": 1, "cell": 1}, TypeError, "argument 'cell'"),
        (("u", "k", "c"), {"settings": object(), "placement": 1}, TypeError, "argument 'placement'"),
    ],
)
def test_create_inst_errors_store_nothing(args, kwargs, exc, text):
    pn = placed()
    before = state(pn)
    with pytest.raises(exc) as e:
        pn.create_inst(*args, **kwargs)
    assert type(e.value) is exc and str(e.value).startswith(text)
    assert state(pn) == before


def test_create_inst_settings_cannot_reach_the_object_half_way():
    pn = placed()

    class Peeking(Mapping):
        def __getitem__(self, key):
            return 1

        def __iter__(self):
            pn.placements  # the object is borrowed exclusively while its arguments convert
            return iter(["x"])

        def __len__(self):
            return 1

    with pytest.raises(ValueError, match="Already mutably borrowed"):
        pn.create_inst("u", "k", "c", Peeking())
    assert "u" not in pn.instances


# ---------------------------------------------------------------------------------------
# from_netlist


def test_from_netlist_keeps_instances_only():
    n = SubNetlist()
    for name in ("x", "y", "z"):
        n.create_inst(name, "k", "c")
    n.create_net(PortRef("x", "a"), PortRef("y", "b"))
    pn = PlacedNetlist.from_netlist(n, {"x": P1, "ghost": P2}, {"y": "Y", "ghost": "G"})
    assert type(pn) is PlacedNetlist and pn == n
    # Every placements name comes before the names found only in cells.
    assert list(pn.placements) == ["x", "y"] and pn.placements == {"x": P1, "y": ZERO}
    insts = pn.instances
    assert (insts["x"].cell, insts["x"].placement) == ("", P1)
    assert (insts["y"].cell, insts["y"].placement) == ("Y", ZERO)
    assert (insts["z"].cell, insts["z"].placement) == ("", ZERO)
    assert pn.to_dict()["instances"]["z"]["cell"] == ""


def test_from_netlist_copies_its_inputs():
    n = Netlist()
    n.create_inst("x", "k", "c")
    p = Placement(1, 1, 0, False, BOX)
    pn = PlacedNetlist.from_netlist(n, placements={"x": p}, cells=None)
    p.x = 7
    n.create_inst("w", "k", "c")
    assert pn.placements["x"].x == 1 and list(pn.instances) == ["x"]


def test_from_netlist_of_placed_netlist_drops_its_extras():
    pn = PlacedNetlist.from_netlist(placed())
    assert pn.placements == {} and pn == placed()
    assert all(i.cell == "" and i.placement == ZERO for i in pn.instances.values())
    class MyDict(dict):
        pass
    again = PlacedNetlist.from_netlist(placed(), MyDict(a=P1), MyDict(b="B"))
    assert again.placements == {"a": P1, "b": ZERO}


@pytest.mark.parametrize(
    "args, text",
    [
        (([],), "argument 'netlist': 'list' object cannot be converted to 'Netlist'"),
        ((Netlist(), [("x", P1)]), "argument 'placements': 'list' object cannot be converted to 'PyDict'"),
        ((Netlist(), {"x": BOX}), "argument 'placements': 'dict' object cannot be converted to 'Placement'"),
        ((Netlist(), {1: P1}), "argument 'placements': 'int' object cannot be converted to 'PyString'"),
        ((Netlist(), None, {"x": None}), "argument 'cells': 'NoneType' object cannot be converted to 'PyString'"),
        ((Netlist(), {1: P1}, 5), "argument 'placements'"),
    ],
)
def test_from_netlist_errors(args, text):
    with pytest.raises(TypeError) as e:
        PlacedNetlist.from_netlist(*args)
    assert str(e.value).startswith(text)


# ---------------------------------------------------------------------------------------
# Removal keeps the extras in step


def test_remove_instances_removes_extras_and_merges_nets():
    pn = placed()
    pn.remove_instances(["a", "nope"])
    assert list(pn.instances) == ["b"] and list(pn.placements) == ["b"]
    assert pn.nets == [Net([PortRef("b", "a"), NetlistPort("in")]), Net([])]
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        pn.remove_instances("b")


def test_flatten_instances_warns_then_removes():
    pn = placed()
    with warnings.catch_warnings(record=True) as got:
        warnings.simplefilter("always")
        pn.flatten_instances(["b"])
    assert [str(w.message) for w in got] == [
        "PlacedNetlist.flatten_instances() is deprecated, use remove_instances() instead "
        "(PlacedNetlist.flatten() now inlines an instance's own netlist)"]
    assert got[0].category is DeprecationWarning
    assert list(pn.placements) == ["a"]

    pn = placed()
    before = state(pn)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            pn.flatten_instances(["b"])
    assert state(pn) == before


def test_base_class_methods_see_the_netlist_layer_only():
    pn = placed()
    Netlist.remove_instances(pn, ["b"])
    assert list(pn.instances) == ["a"] and list(pn.placements) == ["b", "a"]  # stale entry kept
    pn.remove_instances(["b"])  # the own method clears it
    assert list(pn.placements) == ["a"]

    got = Netlist.create_inst(pn, "n", "k", "c")
    assert type(got) is NetlistInstance
    assert "n" not in pn.placements and pn.instances["n"].placement == ZERO
    assert type(pn.get_instance("a")) is NetlistInstance


def test_inherited_methods():
    pn = placed()
    pn.sort()
    assert list(pn.instances) == ["a", "b"] and list(pn.placements) == ["b", "a"]
    assert pn.instance_names() == ["a", "b"] and pn.has_instance("a")
    assert pn.detect_opens() == {"unconnected_ports": [], "singleton_nets": []}
    norm = pn.normalize()
    assert type(norm) is Netlist and norm.instances["b"].settings == {"w": 1}
    pn.add_net(Net([NetlistPort("in")]))
    assert len(pn.nets) == 3 and list(pn.placements) == ["b", "a"]


# ---------------------------------------------------------------------------------------
# Comparison


def test_compares_by_connectivity():
    a, b = placed(), placed()
    b.create_inst("b", "k", "inv", {"w": 1.0}, cell="other", placement=ZERO)
    assert a == b and not a != b and a <= b and a >= b and not a < b
    plain = Netlist()
    plain.create_inst("b", "k", "inv", {"w": 1.0})
    plain.create_inst("a", "k", "buf", info={"rev": 1})
    plain.create_port("in")
    plain.create_net(PortRef("a", "y"), PortRef("b", "a"))
    plain.create_net(NetlistPort("in"), PortRef("a", "a"))
    assert plain == a and a == plain
    c = placed()
    c.create_port("more")
    assert a != c and a > c and not a <= c
    assert (a == 1) is False
    with pytest.raises(TypeError, match="unhashable"):
        hash(a)
    with pytest.raises(TypeError):
        type("Sub", (PlacedNetlist,), {})


# ---------------------------------------------------------------------------------------
# Both carriers


def test_record_round_trips():
    pn = placed()
    d = pn.to_dict()
    assert list(d) == ["instances", "nets", "ports"]
    assert d["instances"]["a"] == {"info": {"rev": 1}, "kcl": "k", "component": "buf", "settings": {},
                                   "array": {"na": 1, "nb": 1}, "cell": "", "placement": P2.to_dict()}
    for back in (PlacedNetlist.from_dict(d), PlacedNetlist.from_json(pn.to_json())):
        assert type(back) is PlacedNetlist
        assert back.to_dict() == d and back.to_json() == pn.to_json()
        assert back.placements == {"b": P1, "a": P2}
    assert type(PlacedNetlist.from_dict({})) is PlacedNetlist


def test_record_lists_every_instance():
    n = Netlist()
    n.create_inst("x", "k", "c")
    n.create_inst("y", "k", "c")
    pn = PlacedNetlist.from_netlist(n, {"y": P1})
    back = PlacedNetlist.from_dict(pn.to_dict())
    assert list(pn.placements) == ["y"] and list(back.placements) == ["x", "y"]
    assert back.to_dict() == pn.to_dict()


def test_non_finite_placements():
    pn = PlacedNetlist()
    pn.create_inst("u", "k", "c", placement=Placement(math.nan, math.inf, 0, False, BOX))
    assert '"x":null,"y":null' in pn.to_json()
    with pytest.raises(ValueError, match=r"^deserialize: invalid type: null, expected f64 at line 1 column \d+$"):
        PlacedNetlist.from_json(pn.to_json())
    back = PlacedNetlist.from_dict(pn.to_dict()).placements["u"]
    assert math.isnan(back.x) and back.y == math.inf


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda: PlacedNetlist.from_dict({"extras": {}}),
         "from_dict: unknown field `extras`, expected one of `instances`, `nets`, `ports`"),
        (lambda: PlacedNetlist.from_json('{"extras":{}}'),
         "deserialize: unknown field `extras`, expected one of `instances`, `nets`, `ports` at line 1 column 9"),
        (lambda: PlacedNetlist.from_dict({"instances": {"u": {"kcl": "k", "component": "c"}}}),
         "from_dict: missing field `placement`"),
        (lambda: PlacedNetlist.from_dict([]), "from_dict: "),
    ],
)
def test_record_errors(call, text):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value).startswith(text)


def test_docstrings():
    assert PlacedNetlist.__text_signature__ == "()"
    assert PlacedNetlist.__doc__ == (
        "Netlist carrying per-instance placement geometry. Subclass of [`Netlist`]:\n"
        "instances/nets/ports live on the parent layer, with a parallel `extras` map\n"
        "(placed cell name + placement) keyed by instance name layered on top.")
    assert PlacedNetlist.create_inst.__text_signature__ == (
        "($self, name, kcl, component, settings=None, na=1, nb=1, cell=..., placement=None, *, info=None)")
    assert PlacedNetlist.create_inst.__doc__ == (
        "Add an instance with its placed `cell` name and `placement`. Mirrors\n"
        "[`Netlist::create_inst`] with trailing optional `cell`/`placement`;\n"
        "keeping the base parameter order makes this a substitutable override.")
    assert PlacedNetlist.from_netlist.__text_signature__ == "($cls, netlist, placements=None, cells=None)"
    assert PlacedNetlist.from_netlist.__doc__.endswith(
        "\n\nEntries for instances absent from `netlist` are dropped; instances\n"
        "without an entry get an empty cell name / default placement on access.")
    assert PlacedNetlist.instances.__doc__ == "Fresh dict of `{name: PlacedInstance}` (base instance + cell + placement)."
    assert PlacedNetlist.placements.__doc__ == "Fresh dict of `{name: Placement}` for instances that have one."
    assert PlacedNetlist.remove_instances.__doc__ == "Remove the named instances and their physical attributes."
    assert PlacedNetlist.flatten_instances.__doc__ == "Deprecated alias for [`PlacedNetlist::remove_instances`]."


def test_pydantic_hook():
    pydantic = pytest.importorskip("pydantic")

    class Model(pydantic.BaseModel):
        layout: PlacedNetlist

    pn = placed()
    m = Model(layout=pn.to_dict())
    assert type(m.layout) is PlacedNetlist and m.layout.placements == pn.placements
    assert m.model_dump() == {"layout": pn.to_dict()}
