"""Netlist.flatten and PlacedNetlist.flatten: arguments, the netlists map, warnings, results."""

import warnings
from collections import UserDict

import pytest

from vondrel import Net, Netlist, NetlistPort, PlacedNetlist, Placement, PortRef

BOX = {"left": 0.0, "bottom": 0.0, "right": 2.0, "top": 1.0}
NO_NETLIST = 'not flattening instance "{}": no netlist given for its cell "{}"'
UNKNOWN = ('not flattening instance "{}": its cell name is unknown '
           "(pass instance_cell_map/sub_instance_cell_maps, or use a PlacedNetlist)")


def inv(cls=Netlist):
    """Cell INV: ports A and Y; A reaches m1.G, Y reaches m1.D and m2.D."""
    n = cls()
    n.create_port("A")
    n.create_port("Y")
    n.create_inst("m1", "k", "nmos")
    n.create_inst("m2", "k", "pmos")
    n.create_net(NetlistPort("A"), PortRef("m1", "G"))
    n.create_net(NetlistPort("Y"), PortRef("m1", "D"), PortRef("m2", "D"))
    return n


def top(cls=Netlist):
    """Two inverters in a chain: IN -> x1 -> x2 -> OUT; u0 is of a cell nobody names."""
    n = cls()
    for p in ("IN", "OUT"):
        n.create_port(p)
    for name in ("x2", "u0", "x1"):
        n.create_inst(name, "k", "inv")
    n.create_net(NetlistPort("IN"), PortRef("x1", "A"))
    n.create_net(PortRef("x1", "Y"), PortRef("x2", "A"))
    n.create_net(PortRef("x2", "Y"), NetlistPort("OUT"))
    return n


CELLS = {"x1": "INV", "x2": "INV"}
FLAT_NETS = [
    Net([NetlistPort("IN"), PortRef("x1.m1", "G")]),
    Net([NetlistPort("OUT"), PortRef("x2.m1", "D"), PortRef("x2.m2", "D")]),
    Net([PortRef("x1.m1", "D"), PortRef("x1.m2", "D"), PortRef("x2.m1", "G")]),
]


def recorded(fn, *args, **kwargs):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        result = fn(*args, **kwargs)
    return result, [(w.category, str(w.message)) for w in seen]


# ---------------------------------------------------------------------------------------
# The result


def test_flatten_inlines_and_sorts():
    t = top()
    before = t.to_json()
    flat = t.flatten({"INV": inv()}, instance_cell_map=CELLS)
    assert type(flat) is Netlist and flat is not t
    assert flat.instance_names() == ["u0", "x1.m1", "x1.m2", "x2.m1", "x2.m2"]
    assert flat.nets == FLAT_NETS
    assert [p.name for p in flat.ports] == ["IN", "OUT"]
    assert flat.get_instance("x1.m1").name == "x1.m1" and flat.get_instance("x2.m2").component == "pmos"
    # The receiver is unchanged and a second call gives an equal object.
    assert t.to_json() == before
    assert t.flatten({"INV": inv()}, instance_cell_map=CELLS) == flat


def test_empty_netlists_gives_sorted_copy():
    t = top()
    t.create_net()  # empty nets stay when nothing is inlined
    flat = t.flatten({})
    assert flat.instance_names() == ["u0", "x1", "x2"]
    assert flat.nets == sorted(t.nets) and len(flat.nets) == 4


@pytest.mark.parametrize(
    "kwargs, names",
    [
        ({"cells": None}, ["u0", "x1.m1", "x1.m2", "x2.m1", "x2.m2"]),
        ({"cells": []}, ["u0", "x1", "x2"]),
        ({"cells": ("INV", "INV")}, ["u0", "x1.m1", "x1.m2", "x2.m1", "x2.m2"]),
        ({"exclude": ["INV"]}, ["u0", "x1", "x2"]),
        ({"separator": ""}, ["u0", "x1m1", "x1m2", "x2m1", "x2m2"]),
        ({"instance_cell_map": {"x1": "INV", "x2": ""}}, ["u0", "x1.m1", "x1.m2", "x2"]),
    ],
)
def test_options(kwargs, names):
    kwargs.setdefault("instance_cell_map", CELLS)
    assert top().flatten({"INV": inv()}, **kwargs).instance_names() == names


def hierarchy():
    """TOP holds a (MID); MID holds b (LEAF); LEAF holds c."""
    leaf = Netlist()
    leaf.create_inst("c", "k", "res")
    mid = Netlist()
    mid.create_inst("b", "k", "leaf")
    t = Netlist()
    t.create_inst("a", "k", "mid")
    return t, {"MID": mid, "LEAF": leaf}


@pytest.mark.parametrize("recursive, names", [(True, ["a.b.c"]), (False, ["a.b"])])
def test_recursive(recursive, names):
    t, netlists = hierarchy()
    flat = t.flatten(netlists, instance_cell_map={"a": "MID"}, sub_instance_cell_maps={"MID": {"b": "LEAF"}},
                     recursive=recursive)
    assert flat.instance_names() == names


def test_numpy_booleans_are_accepted():
    np = pytest.importorskip("numpy")
    t, netlists = hierarchy()
    flat = t.flatten(netlists, instance_cell_map={"a": "MID"}, sub_instance_cell_maps={"MID": {"b": "LEAF"}},
                     recursive=np.bool_(False), warn_skipped=np.bool_(False))
    assert flat.instance_names() == ["a.b"]


def test_subclass_receiver_and_values():
    class Sub(Netlist):
        pass

    flat = top(Sub).flatten({"INV": inv(Sub)}, instance_cell_map=CELLS)
    assert type(flat) is Netlist
    assert flat.nets == FLAT_NETS


class Cells(dict):
    pass


def test_dict_subclasses_are_accepted():
    flat = top().flatten(Cells(INV=inv()), instance_cell_map=Cells(CELLS),
                         sub_instance_cell_maps=Cells(INV=Cells()))
    assert flat.nets == FLAT_NETS


def test_later_changes_to_arguments_do_not_reach_the_result():
    cell = inv()
    netlists = {"INV": cell}
    flat = top().flatten(netlists, instance_cell_map=CELLS)
    cell.create_inst("m3", "k", "x")
    netlists["INV"] = Netlist()
    assert flat.instance_names() == ["u0", "x1.m1", "x1.m2", "x2.m1", "x2.m2"]


# ---------------------------------------------------------------------------------------
# Arguments


@pytest.mark.parametrize(
    "kwargs, text",
    [
        ({"cells": "INV"}, "argument 'cells': Can't extract `str` to `Vec`"),
        ({"exclude": "INV"}, "argument 'exclude': Can't extract `str` to `Vec`"),
        ({"cells": {"INV"}}, "argument 'cells': 'set' object cannot be converted to 'Sequence'"),
        ({"cells": frozenset()}, "argument 'cells': 'frozenset' object cannot be converted to 'Sequence'"),
        ({"exclude": {"INV": 1}}, "argument 'exclude': 'dict' object cannot be converted to 'Sequence'"),
        ({"cells": (c for c in "ab")}, "argument 'cells': 'generator' object cannot be converted to 'Sequence'"),
        ({"cells": ["INV", 1]}, "argument 'cells': 'int' object cannot be converted to 'PyString'"),
        ({"exclude": b"ab"}, "argument 'exclude': 'int' object cannot be converted to 'PyString'"),
        ({"instance_cell_map": [("x1", "INV")]},
         "argument 'instance_cell_map': 'list' object cannot be converted to 'PyDict'"),
        ({"instance_cell_map": UserDict(CELLS)},
         "argument 'instance_cell_map': 'UserDict' object cannot be converted to 'PyDict'"),
        ({"instance_cell_map": {1: "INV"}}, "argument 'instance_cell_map': 'int' object cannot be converted to 'PyString'"),
        ({"instance_cell_map": {"x1": None}},
         "argument 'instance_cell_map': 'NoneType' object cannot be converted to 'PyString'"),
        ({"sub_instance_cell_maps": {"INV": [1]}},
         "argument 'sub_instance_cell_maps': 'list' object cannot be converted to 'PyDict'"),
        ({"sub_instance_cell_maps": {2: {}}},
         "argument 'sub_instance_cell_maps': 'int' object cannot be converted to 'PyString'"),
        ({"sub_instance_cell_maps": {"INV": {"m1": 3.5}}},
         "argument 'sub_instance_cell_maps': 'float' object cannot be converted to 'PyString'"),
        ({"sub_instance_cell_maps": "INV"}, "argument 'sub_instance_cell_maps': 'str' object cannot be converted to 'PyDict'"),
        ({"recursive": 1}, "argument 'recursive': 'int' object cannot be converted to 'PyBool'"),
        ({"recursive": None}, "argument 'recursive': 'NoneType' object cannot be converted to 'PyBool'"),
        ({"allow_unconnected_ports": 0}, "argument 'allow_unconnected_ports': 'int' object cannot be converted to 'PyBool'"),
        ({"warn_skipped": "yes"}, "argument 'warn_skipped': 'str' object cannot be converted to 'PyBool'"),
        ({"separator": None}, "argument 'separator': 'NoneType' object cannot be converted to 'PyString'"),
        ({"separator": b"."}, "argument 'separator': 'bytes' object cannot be converted to 'PyString'"),
        # Conversion order: the earlier parameter is reported.
        ({"cells": "x", "exclude": "y"}, "argument 'cells': Can't extract `str` to `Vec`"),
        ({"separator": None, "recursive": None}, "argument 'recursive': 'NoneType' object cannot be converted to 'PyBool'"),
        ({"warn_skipped": None, "sub_instance_cell_maps": 1},
         "argument 'sub_instance_cell_maps': 'int' object cannot be converted to 'PyDict'"),
    ],
)
@pytest.mark.parametrize("cls", [Netlist, PlacedNetlist])
def test_argument_errors(cls, kwargs, text):
    with pytest.raises(TypeError) as e:
        # The netlists argument is bad too: the optional arguments are converted first.
        cls().flatten(None, **kwargs)
    assert str(e.value) == text


@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((), {}, "{}.flatten() missing 1 required positional argument: 'netlists'"),
        (({}, None, None), {}, "{}.flatten() takes from 1 to 2 positional arguments but 3 were given"),
        (({},), {"cell": []}, "{}.flatten() got an unexpected keyword argument 'cell'"),
        (({}, None), {"cells": None}, "{}.flatten() got multiple values for argument 'cells'"),
    ],
)
@pytest.mark.parametrize("cls", [Netlist, PlacedNetlist])
def test_binding_errors(cls, args, kwargs, text):
    with pytest.raises(TypeError) as e:
        cls().flatten(*args, **kwargs)
    assert str(e.value) == text.format(cls.__name__)


def test_all_arguments_by_keyword():
    flat = top().flatten(netlists={"INV": inv()}, cells=["INV"], exclude=None, instance_cell_map=CELLS,
                         sub_instance_cell_maps=None, recursive=True, allow_unconnected_ports=False,
                         warn_skipped=False, separator=".")
    assert flat.nets == FLAT_NETS


def test_unencodable_names_raise_unchanged():
    with pytest.raises(UnicodeEncodeError):
        top().flatten({}, cells=["\ud800"])
    with pytest.raises(UnicodeEncodeError):
        top().flatten({}, separator="\udfff")
    with pytest.raises(TypeError, match=r"^netlists keys must be cell names \(str\)$"):
        top().flatten({"\ud800": Netlist()})


def test_failing_sequence_iteration():
    class Broken:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            raise KeyError(i)

    class Wrong(Broken):
        def __getitem__(self, i):
            raise TypeError("bad item")

    with pytest.raises(KeyError):
        top().flatten({}, cells=Broken())
    with pytest.raises(TypeError, match="^argument 'exclude': bad item$"):
        top().flatten({}, exclude=Wrong())


class NotADict(UserDict):
    pass


@pytest.mark.parametrize(
    "netlists, text",
    [
        (None, "netlists must be a dict of {cell name: Netlist | PlacedNetlist}"),
        ([("INV", Netlist())], "netlists must be a dict of {cell name: Netlist | PlacedNetlist}"),
        (NotADict(INV=Netlist()), "netlists must be a dict of {cell name: Netlist | PlacedNetlist}"),
        ({1: Netlist()}, "netlists keys must be cell names (str)"),
        ({1: "not a netlist"}, "netlists keys must be cell names (str)"),
        ({"INV": Netlist(), b"X": 5}, "netlists keys must be cell names (str)"),
        ({"INV": inv().to_dict()}, "netlists values must be Netlist or PlacedNetlist"),
        ({"INV": Netlist(), "X": None}, "netlists values must be Netlist or PlacedNetlist"),
    ],
)
def test_netlists_errors(netlists, text):
    with pytest.raises(TypeError) as e:
        top().flatten(netlists, instance_cell_map=CELLS)
    assert str(e.value) == text


def test_docstrings():
    sig = ("flatten($self, netlists, cells=None, *, exclude=None, instance_cell_map=None, "
           "sub_instance_cell_maps=None, recursive=True, allow_unconnected_ports=False, warn_skipped=False, "
           "separator=...)\n--\n\n")
    assert Netlist.flatten.__doc__ == "Replace instances by the contents of their own cell's netlist."
    assert PlacedNetlist.flatten.__doc__ == (
        "Replace instances by the contents of their own cell's netlist, composing\n"
        "each inlined instance's placement with the placement of the instance it\n"
        "came from (so the geometry stays in this cell's coordinates).\n\n"
        "Same arguments as [`Netlist::flatten`]; `instance_cell_map`/`sub_instance_cell_maps` are\n"
        "optional here because `PlacedInstance.cell` already names the cell.")
    assert Netlist.flatten.__text_signature__ == sig.split("\n")[0][len("flatten"):]
    assert PlacedNetlist.flatten.__text_signature__ == Netlist.flatten.__text_signature__


# ---------------------------------------------------------------------------------------
# Warnings and engine errors


def test_skip_warnings_in_engine_order():
    t = top()
    t.create_inst("x0", "k", "inv")
    flat, seen = recorded(t.flatten, {}, instance_cell_map={"x0": "INV", **CELLS}, warn_skipped=True)
    assert flat.instance_names() == ["u0", "x0", "x1", "x2"]
    # Instance order of the receiver (x2, u0, x1, x0), not the sorted order of the result.
    assert seen == [(UserWarning, NO_NETLIST.format("x2", "INV")), (UserWarning, UNKNOWN.format("u0")),
                    (UserWarning, NO_NETLIST.format("x1", "INV")), (UserWarning, NO_NETLIST.format("x0", "INV"))]


def test_no_warnings_unless_asked_or_when_passed_over_silently():
    assert recorded(top().flatten, {}, instance_cell_map=CELLS)[1] == []
    _, seen = recorded(top().flatten, {}, instance_cell_map=CELLS, warn_skipped=True, exclude=["INV"])
    assert seen == [(UserWarning, UNKNOWN.format("u0"))]


def test_warning_as_error_ends_the_call():
    t = top()
    before = t.to_json()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning) as e:
            t.flatten({}, instance_cell_map=CELLS, warn_skipped=True)
    assert str(e.value) == NO_NETLIST.format("x2", "INV")
    assert t.to_json() == before


def test_warning_hook_sees_receiver_borrowed():
    t = top()
    calls = []

    def hook(message, category, filename, lineno, file=None, line=None):
        calls.append(len(t.ports))  # reading is allowed
        if len(calls) == 2:
            t.create_port("Z")  # changing is not: the receiver is still borrowed

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = hook
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            t.flatten({}, instance_cell_map=CELLS, warn_skipped=True)
    assert calls == [2, 2]
    assert [p.name for p in t.ports] == ["IN", "OUT"]
    t.create_port("Z")  # released afterwards


def clashing():
    t = top()
    t.create_inst("x1.m1", "k", "kept")
    return t


@pytest.mark.parametrize(
    "receiver, kwargs, text",
    [
        (clashing, {}, 'flatten: inlining instance "x1" would create instance "x1.m1", which already exists'),
        (top, {"netlists": {"INV": Netlist.from_dict({"instances": {"m": {"kcl": "k", "component": "c"}}})}},
         'flatten: instance "x1" is connected on port "A", but that port is not part of any net inside cell '
         '"INV" \u2014 inlining would drop the connection. Pass allow_unconnected_ports=True to inline anyway.'),
    ],
)
def test_engine_errors_issue_no_warnings(receiver, kwargs, text):
    kwargs.setdefault("netlists", {"INV": inv()})
    t = receiver()
    before = t.to_json()
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        with pytest.raises(ValueError) as e:
            t.flatten(instance_cell_map=CELLS, warn_skipped=True, **kwargs)  # u0 is due a warning
    assert str(e.value) == text and seen == []
    assert t.to_json() == before


PASS_LIMIT = "flatten: still inlining after 1000 passes \u2014 `netlists` describes a cell that contains itself"


@pytest.mark.parametrize("copies, child, separator, cell, skipped", [
    (2, "'i'", "'.'", "'SELF'", None),
    (16, "'i'", "'.'", "'SELF'", None),
    (1, "'i' * 20_000", "'.'", "'SELF'", None),
    (1, "'i'", "'/' * 1_000_000", "'SELF'", None),
    # every child's extras entry names its cell
    (2, "'i'", "'.'", "'S' * 100_000", None),
    # a child of a cell without a netlist is kept, and warned about, every pass
    (1, "'i'", "'.'", "'SELF'", "'B' * 4_000_000"),
])
def test_cell_containing_itself_fails_fast_in_little_memory(python_run, copies, child, separator, cell, skipped):
    # Doubling (or more) every pass, or holding itself once under a long name or separator (its
    # names grow by that much every pass), such a run would spend minutes or exhaust any memory
    # long before pass 1000.
    code = f"""if True:
        from vondrel import Netlist
        names = [{child} + str(k) for k in range({copies})]
        cells = dict.fromkeys(names, {cell})
        if {skipped} is not None:
            cells["y"] = {skipped}
        cell = Netlist()
        for name in cells:
            cell.create_inst(name, "k", "self")
        top = Netlist()
        top.create_inst("x", "k", "self")
        try:
            top.flatten({{{cell}: cell}}, instance_cell_map={{"x": {cell}}}, sub_instance_cell_maps={{{cell}: cells}},
                        separator={separator}, warn_skipped=True)
        except ValueError as e:
            print(e)
    """
    assert python_run(code, room=2**30, seconds=20) == PASS_LIMIT + "\n"


def cycle_beside(child, kept=(), chain=0):
    """A top holding t of the cell A, which holds `child` of A, and the instances `kept` (of no
    known cell); with `chain`, also s of D1, where each Dk holds d of the next through its port A,
    and the last holds nothing on A, so inlining it drops the connection IN - s.A."""
    top = Netlist()
    top.create_inst("t", "k", "c")
    for name in kept:
        top.create_inst(name, "k", "c")
    a = Netlist()
    a.create_inst(child, "k", "c")
    netlists, cells, subs = {"A": a}, {"t": "A"}, {"A": {child: "A"}}
    if chain:
        top.create_port("IN")
        top.create_inst("s", "k", "c")
        top.create_net(NetlistPort("IN"), PortRef("s", "A"))
        cells["s"] = "D1"
        for k in range(1, chain + 1):
            d = netlists[f"D{k}"] = Netlist()
            d.create_port("A")
            if k < chain:
                d.create_inst("d", "k", "c")
                d.create_net(NetlistPort("A"), PortRef("d", "A"))
                subs[f"D{k}"] = {"d": f"D{k + 1}"}
            else:
                d.create_inst("m", "k", "c")
    return top.flatten, netlists, {"instance_cell_map": cells, "sub_instance_cell_maps": subs}


LONG = "x" * 100_000


@pytest.mark.parametrize("run, text", [
    # pass 999 clashes with one of 201 instances carried along every pass
    (lambda: cycle_beside("x", ["t" + ".x" * 999] + [f"k{i}" for i in range(200)]),
     'flatten: inlining instance "{}" would create instance "{}", which already exists'.format(
         "t" + ".x" * 998, "t" + ".x" * 999)),
    # names grow by 100,000 characters a pass until pass 20 meets the one kept
    (lambda: cycle_beside(LONG, ["t" + ("." + LONG) * 20]),
     'flatten: inlining instance "{}" would create instance "{}", which already exists'.format(
         "t" + ("." + LONG) * 19, "t" + ("." + LONG) * 20)),
    # pass 10 drops a connection while the cycle's name grows by a million characters a pass
    (lambda: cycle_beside("x" * 1_000_000, chain=10),
     'flatten: instance "s.d.d.d.d.d.d.d.d.d" is connected on port "A", but that port is not part of any net inside'
     ' cell "D10" \u2014 inlining would drop the connection. Pass allow_unconnected_ports=True to inline anyway.'),
], ids=["carried_clash", "long_name_clash", "dropped_connection"])
def test_cyclic_run_ends_with_the_error_of_its_failing_pass(run, text):
    flatten, netlists, kwargs = run()
    with pytest.raises(ValueError) as e:
        flatten(netlists, **kwargs)
    assert str(e.value) == text


def test_allow_unconnected_ports():
    empty_inside = Netlist.from_dict({"instances": {"m": {"kcl": "k", "component": "c"}}})
    flat = top().flatten({"INV": empty_inside}, instance_cell_map=CELLS, allow_unconnected_ports=True)
    assert flat.instance_names() == ["u0", "x1.m", "x2.m"]
    assert flat.nets == [Net([NetlistPort("IN")]), Net([NetlistPort("OUT")])]


# ---------------------------------------------------------------------------------------
# Placed netlists


def placement(x, y, orientation=0.0, mirror=False, bbox=None):
    return Placement(x, y, orientation, mirror, dict(bbox or BOX))


def placed_top():
    """top() with the cells and placements of x1 and x2 on the placed layer."""
    t = PlacedNetlist.from_netlist(top(), placements={"x1": placement(10.0, 0.0, 90.0), "x2": placement(0.0, 5.0)},
                                   cells={"x1": "INV", "x2": "INV"})
    return t


def placed_inv():
    return PlacedNetlist.from_netlist(inv(), placements={"m1": placement(1.0, 0.0, 30.0)},
                                      cells={"m1": "NMOS"})


def test_placed_flatten_composes_placements():
    t = placed_top()
    before = (t.to_json(), t.placements)
    flat = t.flatten({"INV": placed_inv()})
    assert type(flat) is PlacedNetlist
    assert flat.instance_names() == ["u0", "x1.m1", "x1.m2", "x2.m1", "x2.m2"]
    assert flat.nets == FLAT_NETS
    assert flat.placements == {
        # (1, 0) turned by 90 degrees about (10, 0); the box (0, 0)-(2, 1) likewise.
        "x1.m1": placement(10.0, 1.0, 120.0, bbox={"left": 9.0, "bottom": 0.0, "right": 10.0, "top": 2.0}),
        "x1.m2": placement(10.0, 0.0, 90.0, bbox={"left": 10.0, "bottom": 0.0, "right": 10.0, "top": 0.0}),
        "x2.m1": placement(1.0, 5.0, 30.0, bbox={"left": 0.0, "bottom": 5.0, "right": 2.0, "top": 6.0}),
        "x2.m2": placement(0.0, 5.0, 0.0, bbox={"left": 0.0, "bottom": 5.0, "right": 0.0, "top": 5.0}),
    }
    cells = {name: inst.cell for name, inst in flat.instances.items()}
    assert cells == {"u0": "", "x1.m1": "NMOS", "x1.m2": "", "x2.m1": "NMOS", "x2.m2": ""}
    assert (t.to_json(), t.placements) == before


def nmos():
    n = Netlist()
    n.create_port("G")
    n.create_port("D")
    n.create_inst("ch", "k", "channel")
    n.create_net(NetlistPort("G"), PortRef("ch", "g"))
    n.create_net(NetlistPort("D"), PortRef("ch", "d"))
    return n


def test_plain_flatten_uses_placed_values_and_drops_placements():
    flat = top().flatten({"INV": placed_inv(), "NMOS": nmos()}, instance_cell_map=CELLS)
    assert type(flat) is Netlist
    # The placed value's cell for m1 lets the run go one level deeper.
    assert flat.instance_names() == ["u0", "x1.m1.ch", "x1.m2", "x2.m1.ch", "x2.m2"]
    assert flat.to_dict() == top().flatten({"INV": inv(), "NMOS": nmos()}, instance_cell_map=CELLS,
                                           sub_instance_cell_maps={"INV": {"m1": "NMOS"}}).to_dict()


def test_netlist_flatten_on_placed_receiver_sees_only_the_netlist_layer():
    t = placed_top()
    # The cells on the placed layer are not consulted: nothing is known, nothing inlined.
    flat = Netlist.flatten(t, {"INV": inv()})
    assert type(flat) is Netlist and flat.instance_names() == ["u0", "x1", "x2"]
    flat = Netlist.flatten(t, {"INV": inv()}, instance_cell_map=CELLS)
    assert type(flat) is Netlist and flat.nets == FLAT_NETS
    assert PlacedNetlist.flatten(t, {"INV": inv()}) == flat


def test_placed_flatten_instance_cell_map_wins_over_extras():
    flat = placed_top().flatten({"INV": inv()}, instance_cell_map={"x1": ""})
    assert flat.instance_names() == ["u0", "x1", "x2.m1", "x2.m2"]
    # Kept instances keep their extras; inlined children of an unplaced cell still get one.
    assert list(flat.placements) == ["x1", "x2.m1", "x2.m2"]
    assert flat.placements["x1"] == placement(10.0, 0.0, 90.0)


def test_receiver_class_is_checked():
    with pytest.raises(TypeError):
        Netlist.flatten(Net([]), {})
    with pytest.raises(TypeError):
        PlacedNetlist.flatten(Netlist(), {})


# ---------------------------------------------------------------------------------------
# Memory


def leak_cases():
    t, p, cell, placed_cell = top(), placed_top(), inv(), placed_inv()

    def quiet(fn, *args, **kwargs):
        def run():
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                try:
                    fn(*args, **kwargs)
                except (TypeError, ValueError, UserWarning):
                    pass
        return run

    def as_error(fn, *args, **kwargs):
        def run():
            with warnings.catch_warnings():
                warnings.simplefilter("error")
                try:
                    fn(*args, **kwargs)
                except UserWarning:
                    pass
        return run

    return {
        "plain": quiet(t.flatten, {"INV": cell, "X": placed_cell}, instance_cell_map=CELLS, cells=("INV",)),
        "placed": quiet(p.flatten, {"INV": placed_cell}, sub_instance_cell_maps={"INV": {"m1": "X"}}),
        "warnings": quiet(t.flatten, {}, instance_cell_map=CELLS, warn_skipped=True, exclude=["Y"]),
        "warning raises": as_error(p.flatten, {}, warn_skipped=True),
        "engine error": quiet(clashing().flatten, {"INV": cell}, instance_cell_map=CELLS, warn_skipped=True),
        "argument error": quiet(t.flatten, {}, cells=["a", 1]),
        "map error": quiet(t.flatten, {}, sub_instance_cell_maps={"a": {"b": "c"}, "d": {"e": 5}}),
        "netlists error": quiet(t.flatten, {"INV": cell, "X": 5}),
    }


LEAK_CASES = leak_cases()


@pytest.mark.parametrize("name", list(LEAK_CASES))
def test_no_growth(name):
    from test_leaks import check_flat

    check_flat(LEAK_CASES[name], 5_000, warm_up=100)
