"""Python values read by the Python-object carrier, as a user meets them: net members given
to Net.from_dict, free-form settings and info given to NetlistInstance. (Every record shape is
covered against an embedded interpreter in binding/tests.)"""

import collections
import contextlib
import json
import math
import types

import pytest

from conftest import DictMapping
from vondrel import Net, Netlist, NetlistInstance, Placement

NO_VARIANT = "data did not match any variant of untagged enum NetMember"


class OddInt(int):
    """An int that renders and shifts itself otherwise: read for its value all the same."""

    def __str__(self):
        return "odd"

    __repr__ = __str__

    def __rshift__(self, other):
        return "odd"


@pytest.mark.parametrize(
    "member, expected",
    [
        ({"name": "a"}, "NetlistPort(name='a')"),
        ({"port": "a", "instance": "u1"}, "PortRef(instance='u1', port='a')"),
        (("u1", "a", 2, 1), "PortArrayRef(instance='u1', port='a', ia=2, ib=1)"),
        (["a"], "NetlistPort(name='a')"),
        ({b"name": "a"}, "NetlistPort(name='a')"),
        ({0: "a"}, "NetlistPort(name='a')"),
        ({"name": b"a"}, "NetlistPort(name='a')"),
        ({"instance": "u1", "port": "a", "ia": 1, "ib": 1}, "PortArrayRef(instance='u1', port='a', ia=1, ib=1)"),
        ({"instance": "u1", "port": "a", "ia": True, "ib": 1}, NO_VARIANT),
        ({"instance": "u1", "port": "a", "ia": 1.0, "ib": 1}, NO_VARIANT),
        ({"name": "a", "extra": 1}, NO_VARIANT),
        ({"instance": "u1"}, NO_VARIANT),
        (["u1", "a", 1], NO_VARIANT),
        (None, NO_VARIANT),
        (5, NO_VARIANT),
        (
            {"instance": "u1", "port": "a", "ia": 2**64, "ib": 1},
            "invalid type: integer `18446744073709551616` as u128, expected any value",
        ),
        (
            ["u1", "a", OddInt(-(2**64)), 1],
            "invalid type: integer `-18446744073709551616` as i128, expected any value",
        ),
        (["u1", "a", OddInt(2**64), 1], "invalid type: integer `18446744073709551616` as u128, expected any value"),
        (["u1", "a", OddInt(2), OddInt(-3)], "PortArrayRef(instance='u1', port='a', ia=2, ib=-3)"),
        ([object()], "unsupported type object"),
    ],
)
def test_net_members(member, expected):
    if expected.startswith(("NetlistPort", "PortRef", "PortArrayRef")):
        assert repr(Net.from_dict([member])) == f"Net([{expected}])"
    else:
        with pytest.raises(ValueError) as info:
            Net.from_dict([member])
        assert str(info.value) == "from_dict: " + expected


@pytest.mark.parametrize(
    "value, expected",
    [
        ({"b": 1, "a": [True, None, 2.5]}, {"a": [True, None, 2.5], "b": 1}),
        (float("nan"), None),
        ([math.inf, -math.inf, 1.0], [None, None, 1.0]),
        (2**64 - 1, 2**64 - 1),
        (-(2**63), -(2**63)),
        ((1, "x"), [1, "x"]),
        (frozenset([4]), [4]),
        (collections.UserList([1, 2]), [1, 2]),
        (types.MappingProxyType({"k": "v"}), {"k": "v"}),
        ("text", "text"),
    ],
)
def test_settings_values(value, expected):
    got = NetlistInstance("k", "c", settings=value).settings
    assert got == expected and type(got) is type(expected)


class IndexedList(list):
    """A list subclass that answers length and items itself: read through them, by index."""

    def __len__(self):
        return 1

    def __getitem__(self, i):
        return {"name": "by-index"} if isinstance(i, int) else list.__getitem__(self, i)


def test_sequence_subclasses_are_read_by_index():
    value = IndexedList([{"name": "a"}, {"name": "b"}])
    assert repr(Net.from_dict(value)) == "Net([NetlistPort(name='by-index')])"
    assert NetlistInstance("k", "c", settings=value).settings == [{"name": "by-index"}]


def test_settings_set_keeps_iteration_order():
    s = {3, 1, 2}
    assert NetlistInstance("k", "c", settings=s).settings == list(s)


@pytest.mark.parametrize(
    "value, message",
    [
        (2**64, "JSON number out of range"),
        (-(2**63) - 1, "JSON number out of range"),
        (2**200, "OverflowError: Python int too large to convert to C long"),
        (OddInt(2**64), "JSON number out of range"),
        (OddInt(2**200), "OverflowError: Python int too large to convert to C long"),
        (b"x", "invalid type: byte array, expected any valid JSON value"),
        (bytearray(b"x"), "unexpected type: 'bytearray' object cannot be converted to 'PyBytes'"),
        ({1: "x"}, "unexpected type: 'int' object cannot be converted to 'PyString'"),
        (1j, "unsupported type complex"),
    ],
)
def test_settings_errors(value, message):
    with pytest.raises(ValueError) as info:
        NetlistInstance("k", "c", settings=value)
    assert str(info.value) == "from_dict: " + message


def nested(levels, inner=None):
    """`inner` inside `levels` lists."""
    for _ in range(levels):
        inner = [inner]
    return inner


def test_deep_and_cyclic_values_raise_instead_of_crashing():
    with pytest.raises(ValueError, match="^from_dict: recursion limit exceeded$"):
        NetlistInstance("k", "c", settings=nested(100_000))
    loop = []
    loop.append(loop)
    with pytest.raises(ValueError, match="^from_dict: recursion limit exceeded$"):
        Net.from_dict([loop])


def instance_settings_doc(levels):
    # netlist, instances, instance record, then the settings lists
    return {"instances": {"u": {"kcl": "k", "component": "c", "settings": nested(levels - 3)}}}


def net_member_doc(levels):
    # netlist, nets, net, then the member lists (never a member, whatever their depth)
    return {"nets": [[nested(levels - 3, "a")]]}


@pytest.mark.parametrize("levels", [127, 128])
@pytest.mark.parametrize("doc", [instance_settings_doc, net_member_doc])
def test_from_dict_nests_as_deep_as_from_json(doc, levels):
    def outcome(read):
        try:
            return read().to_json()
        except ValueError as e:
            return str(e).split(": ", 1)[1].split(" at line ")[0]

    document = doc(levels)
    from_dict = outcome(lambda: Netlist.from_dict(document))
    assert from_dict == outcome(lambda: Netlist.from_json(json.dumps(document)))
    assert (from_dict == "recursion limit exceeded") == (levels > 127)


@pytest.mark.parametrize(
    "limit, levels, outcome",
    [(60, 127, "ok"), (10**6, 60_000, "from_dict: recursion limit exceeded")],
)
def test_nesting_limit_ignores_the_interpreters(python_run, limit, levels, outcome):
    code = f"""
import sys
from vondrel import NetlistInstance
v = None
for _ in range({levels}): v = [v]
sys.setrecursionlimit({limit})
try:
    NetlistInstance("k", "c", v)
    print("ok")
except ValueError as e:
    print(e)
"""
    assert python_run(code).strip() == outcome


@pytest.mark.parametrize("write, message", [("to_dict", "to_dict: recursion limit exceeded"),
                                            ("to_json", "serialize: recursion limit exceeded")])
def test_writers_refuse_to_nest_deeper_than_the_readers_read(write, message):
    # 127 levels of settings read alone; inside the instance record they would make 128.
    instance = NetlistInstance("k", "c", settings=nested(127))
    with pytest.raises(ValueError) as info:
        getattr(instance, write)()
    assert str(info.value) == message
    assert instance.settings == nested(127)


@pytest.mark.parametrize("claimed", [10**9, 2**62 - 1])
def test_claimed_length_is_only_a_hint(python_run, claimed):
    # Run apart, under an address-space limit: reserving the claim would take gigabytes.
    code = f"""
import collections.abc
from vondrel import Netlist, NetlistInstance

class Claims(collections.abc.Sequence):
    def __init__(self, *items): self.items = items
    def __len__(self): return {claimed}
    def __getitem__(self, i): return self.items[i]

for read in (lambda: NetlistInstance("k", "c", Claims(1, 2)),
             lambda: Netlist.from_dict({{"nets": Claims([{{"name": "a"}}])}}),
             lambda: Netlist().flatten({{}}, Claims("a"))):
    try:
        read()
        print("ok")
    except Exception as e:
        print(type(e).__name__, e)
"""
    assert python_run(code, room=2**30).splitlines() == [
        "ValueError from_dict: IndexError: tuple index out of range",
        "ValueError from_dict: IndexError: tuple index out of range",
        "ok",
    ]


@pytest.mark.parametrize("off_by", [-1, 1])
def test_mapping_is_read_by_its_keys_whatever_its_len(off_by):
    class Miscounts(DictMapping):
        def __len__(self):
            return len(self.d) + off_by

    assert NetlistInstance("k", "c", info=Miscounts({"x": 1, "y": 2})).info == {"x": 1, "y": 2}
    netlist = Netlist.from_dict(Miscounts({"nets": [], "ports": [{"name": "p"}]}))
    assert [p.name for p in netlist.ports] == ["p"]


def move_first_to_end(d):
    first = next(iter(d))
    d[first] = d.pop(first)


def test_mapping_pairs_each_key_with_the_value_under_it():
    # A Mapping that reorders itself when its values() are taken, as a second thread or a
    # finaliser may do between taking its keys and its values.
    class ReordersOnValues(DictMapping):
        def values(self):
            move_first_to_end(self.d)
            return super().values()

    bbox = ReordersOnValues({"left": 10, "bottom": 20, "right": 30, "top": 40})
    placement = Placement.from_dict({"x": 0, "y": 0, "orientation": 0, "mirror": False, "bbox": bbox})
    assert placement.bbox == {"left": 10, "bottom": 20, "right": 30, "top": 40}


def test_info_must_map_str_keys():
    with pytest.raises(ValueError, match=r"^from_dict: unexpected type: 'int' object cannot be converted to 'PyString'$"):
        NetlistInstance("k", "c", info={1: "x"})
    assert NetlistInstance("k", "c", info={"b": 1, "a": 2}).info == {"a": 2, "b": 1}


@pytest.mark.parametrize("change", ["clear", "add"])
def test_record_entries_are_taken_before_values_are_read(change):
    # A value's own conversion changes the dict being read: the entries read are still those
    # the dict held when reading began.
    record = {"x": None, "y": 2, "orientation": 0, "mirror": False, "bbox": {"left": 0, "bottom": 0, "right": 1, "top": 1}}

    class Meddler:
        def __float__(self):
            if change == "clear":
                record.clear()
            else:
                record.update({f"k{i}": i for i in range(50)})
            return 1.5

    record["x"] = Meddler()
    placement = Placement.from_dict(record)
    assert (placement.x, placement.y) == (1.5, 2.0)


class Once(collections.abc.Sequence):
    """A one-item sequence that calls `on_read` when its item is read, and `on_drop` (if any)
    when it is finalised."""

    def __init__(self, on_read, on_drop=None):
        self.on_read, self.on_drop = on_read, on_drop

    def __len__(self):
        return 1

    def __getitem__(self, i):
        if i:
            raise IndexError(i)
        self.on_read()
        return 0

    def __del__(self):
        if self.on_drop:
            self.on_drop()


class ReordersOnValues(dict):
    """A dict whose values() first moves its first entry to the end."""

    def values(self):
        move_first_to_end(self)
        return super().values()


def refill(d, keys):
    d.clear()
    d.update(dict.fromkeys(keys, 0))


def set_info(d):
    inst = NetlistInstance("k", "c")
    inst.info = d
    return inst.info


def outcome(read, d):
    try:
        return read(d)
    except ValueError as e:
        return str(e)


SIZE_CHANGED = "from_dict: RuntimeError: dictionary changed size during iteration"
KEYS_CHANGED = "from_dict: RuntimeError: dictionary keys changed during iteration"
ANY_RESULT = "any result"  # refilled to its size: read without harm, into whatever its new entries make
AS_PYTHON_READS = "as Python reads it"  # each key with the value under it

# change: (what the read gives, the key whose value changes the dict, that value given the dict)
CHANGES = {
    "shrinks": (SIZE_CHANGED, "a", lambda d: Once(lambda: refill(d, "z"))),
    "grows": (SIZE_CHANGED, "a", lambda d: Once(lambda: refill(d, "wxyz"))),
    "cleared and refilled": (ANY_RESULT, "a", lambda d: Once(lambda: refill(d, "xyz"))),
    # The entry being read is removed and another added: the walk meets four entries.
    "refilled": (KEYS_CHANGED, "a", lambda d: Once(lambda: (d.pop("a"), d.update(z=0)))),
    # Reading the last entry replaces it; the replaced value's finaliser, run as the reader lets
    # go of it, empties the dict.
    "emptied after the last": (SIZE_CHANGED, "c", lambda d: Once(lambda: d.update(c=0), d.clear)),
    "values reordered": (AS_PYTHON_READS, None, None),
}

PLACES = {
    "instances": (lambda d: Netlist.from_dict({"instances": d}), lambda v: {"kcl": "k", "component": "c", "settings": v}),
    "settings": (lambda d: NetlistInstance("k", "c", settings=d).settings, lambda v: v),
    "info": (set_info, lambda v: v),
    "member": (lambda d: Net.from_dict([d]), lambda v: v),
}


@pytest.mark.parametrize("place, change", [
    (place, change) for place in PLACES for change in CHANGES
    if (place, change) != ("member", "values reordered")  # three keys make no member, whatever their values
])
def test_dict_changed_while_read(place, change):
    # Python code run while an entry is read changes the dict being read: its entries would be
    # skipped, read twice or paired with other keys' values.
    read, entry = PLACES[place]
    expected, key, make = CHANGES[change]
    d = ReordersOnValues() if change == "values reordered" else {}
    values = {"a": 0, "b": 1, "c": 2}
    if key:
        values[key] = make(d)
    d.update({k: entry(v) for k, v in values.items()})
    del values  # d alone holds the entries, so a replaced one is finalised when the reader lets go of it
    if expected == ANY_RESULT:
        with contextlib.suppress(ValueError):
            read(d)
    elif expected == AS_PYTHON_READS:
        assert outcome(read, d) == outcome(read, dict(d))
    else:
        with pytest.raises(ValueError, match=f"^{expected}$"):
            read(d)
