"""Python values read by the Python-object carrier, as a user meets them: net members given
to Net.from_dict, free-form settings and info given to NetlistInstance. (Every record shape is
covered against an embedded interpreter in binding/tests.)"""

import collections
import math
import types

import pytest

from vondrel import Net, NetlistInstance, Placement

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


def test_deep_and_cyclic_values_raise_instead_of_crashing():
    deep = []
    for _ in range(100_000):
        deep = [deep]
    with pytest.raises(ValueError, match="^from_dict: RecursionError: maximum recursion depth exceeded"):
        NetlistInstance("k", "c", settings=deep)
    loop = []
    loop.append(loop)
    with pytest.raises(ValueError, match="^from_dict: RecursionError"):
        Net.from_dict([loop])


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
