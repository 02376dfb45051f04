import random

import pytest

from vondrel import Net, NetIter, NetlistPort, PortArrayRef, PortRef

A = NetlistPort("a")
Z = NetlistPort("z")
R = PortRef("z", "p")
X = PortArrayRef("i", "p", 1, 1)


def reprs(items):
    return [repr(x) for x in items]


# ---------------------------------------------------------------------------------------
# Construction and member order


@pytest.mark.parametrize("make", [Net, lambda: Net(None), lambda: Net([]), lambda: Net(members=())])
def test_empty(make):
    net = make()
    assert len(net) == 0 and not net
    assert repr(net) == "Net([])"
    assert net.to_json() == "[]" and net.to_dict() == []
    assert net.members() == []


def random_members(rng, n):
    names = ["", "a", "b", "ab", "é", "a\x00"]
    out = []
    for _ in range(n):
        kind = rng.randrange(3)
        if kind == 0:
            out.append(NetlistPort(rng.choice(names)))
        elif kind == 1:
            out.append(PortRef(rng.choice(names), rng.choice(names)))
        else:
            out.append(PortArrayRef(rng.choice(names), rng.choice(names), rng.randint(-2, 2), rng.randint(-2, 2)))
    return out


@pytest.mark.parametrize("seed", range(5))
def test_members_in_member_order_whatever_the_source(seed):
    # The port classes order exactly as net members do: kind first, then fields.
    rng = random.Random(seed)
    items = random_members(rng, 40)
    expected = reprs(sorted(items))
    assert reprs(Net(items)) == expected
    assert reprs(Net(tuple(items))) == expected
    assert reprs(Net(x for x in items)) == expected
    assert reprs(Net(Net(items))) == expected
    assert reprs(Net.from_dict([x.to_dict() for x in items])) == expected
    assert reprs(Net.from_json("[" + ",".join(x.to_json() for x in items) + "]")) == expected
    grown = Net()
    for x in items[:10]:
        grown.append(x)
    grown.extend(items[10:])
    assert reprs(grown) == expected


def test_kinds_are_kept_and_duplicates_stay():
    net = Net([PortRef("b", "p"), Z, X, Z])
    assert reprs(net) == ["NetlistPort(name='z')", "NetlistPort(name='z')", "PortRef(instance='b', port='p')",
                          repr(X)]
    assert type(net[3]) is PortArrayRef

    class SubRef(PortRef):
        pass

    # A subclass of PortRef is read as a plain reference.
    assert type(Net([SubRef("u", "p")])[0]) is PortRef


@pytest.mark.parametrize(
    "members, exc, text",
    [
        ("ab", TypeError, "expected NetlistPort, PortRef, or PortArrayRef"),
        ([A, 5], TypeError, "expected NetlistPort, PortRef, or PortArrayRef"),
        ({A: 1, "x": 2}, TypeError, "expected NetlistPort, PortRef, or PortArrayRef"),
        (5, TypeError, "'int' object is not iterable"),
    ],
)
def test_constructor_errors(members, exc, text):
    with pytest.raises(exc, match=text):
        Net(members)


def test_constructor_passes_iterator_errors_through():
    def gen():
        yield A
        raise KeyError("boom")

    with pytest.raises(KeyError, match="boom"):
        Net(gen())


# ---------------------------------------------------------------------------------------
# Editing


def test_partial_extend_leaves_added_members_unsorted():
    net = Net([R])
    with pytest.raises(TypeError, match="expected NetlistPort, PortRef, or PortArrayRef"):
        net.extend([A, 5, NetlistPort("b")])
    assert reprs(net) == [repr(R), repr(A)]
    sorted_net = Net([R, A])
    assert net != sorted_net and hash(net) != hash(sorted_net)
    assert net.to_json() == '[{"instance":"z","port":"p"},{"name":"a"}]'


@pytest.mark.parametrize(
    "restore",
    [lambda n: n.sort(), lambda n: n.append(Z), lambda n: n.extend([Z]), lambda n: n.extend([])],
)
def test_sort_append_extend_restore_member_order(restore):
    net = Net([R])
    with pytest.raises(TypeError):
        net.extend([A, None])
    restore(net)
    assert net == Net(net.members())  # the constructor sorts: equal means sorted
    assert reprs(net)[:2] == [repr(A), repr(R)] or reprs(net)[:3] == [repr(A), repr(Z), repr(R)]


def test_failed_append_and_iterable_errors_leave_net_unchanged():
    net = Net([R, A])
    for bad in (lambda: net.append("a"), lambda: net.extend(5), lambda: net.append(Net())):
        with pytest.raises(TypeError):
            bad()
        assert reprs(net) == [repr(A), repr(R)]


def test_extend_holds_the_net_while_pulling_items():
    net = Net([R])

    def reads_the_net():
        yield A
        yield len(net)  # the net is mutably borrowed by extend

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        net.extend(reads_the_net())
    assert reprs(net) == [repr(R), repr(A)]

    def writes_the_net():
        yield Z
        net.append(A)

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        net.extend(writes_the_net())
    assert reprs(net) == [repr(R), repr(A), repr(Z)]
    # Extending a net by itself needs a snapshot of it, which the borrow forbids.
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        net.extend(net)
    net.extend(list(net))
    assert len(net) == 6


# ---------------------------------------------------------------------------------------
# Reading


@pytest.mark.parametrize(
    "idx, expected",
    [(0, A), (2, X), (-1, X), (-3, A), (True, R), (False, A)],
)
def test_getitem(idx, expected):
    net = Net([X, R, A])
    assert repr(net[idx]) == repr(expected)


class Index:
    def __index__(self):
        return 1


@pytest.mark.parametrize(
    "idx, exc, text",
    [
        (3, IndexError, "^net index out of range$"),
        (-4, IndexError, "^net index out of range$"),
        (-(2**63), IndexError, "^net index out of range$"),
        (2**63, OverflowError, None),
        (slice(0, 1), TypeError, "^argument 'idx': 'slice' object cannot be interpreted as an integer$"),
        (1.0, TypeError, "^argument 'idx': "),
        ("0", TypeError, "^argument 'idx': "),
    ],
)
def test_getitem_errors(idx, exc, text):
    net = Net([X, R, A])
    with pytest.raises(exc, match=text):
        net[idx]


def test_getitem_accepts_index_objects():
    assert repr(Net([X, R, A])[Index()]) == repr(R)


def test_reads_hand_out_fresh_objects():
    net = Net([R, A])
    assert net[0] is not net[0]
    first = net[0]
    first.name = "changed"
    net.members()[1].port = "changed"
    for item in net:
        if isinstance(item, PortRef):
            item.instance = "changed"
    assert reprs(net) == [repr(A), repr(R)]


@pytest.mark.parametrize(
    "item, expected",
    [
        (NetlistPort("a"), True),
        (NetlistPort("b"), False),
        (PortRef("z", "p"), True),
        (PortRef("i", "p"), False),  # an array reference never equals a plain one
        (PortArrayRef("i", "p", 1, 1), True),
        (PortArrayRef("z", "p", 1, 1), False),
        (PortArrayRef("i", "p", 1, 2), False),
    ],
)
def test_contains(item, expected):
    assert (item in Net([A, R, X])) is expected


@pytest.mark.parametrize("item", [5, None, "a", Net()])
def test_contains_non_port_raises(item):
    with pytest.raises(TypeError, match="^expected NetlistPort, PortRef, or PortArrayRef$"):
        item in Net([A])


def test_iteration_runs_over_a_snapshot():
    net = Net([R, A])
    it = iter(net)
    assert type(it) is NetIter and iter(it) is it
    net.append(Z)
    net.sort()
    assert reprs(it) == [repr(A), repr(R)]
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(it)
    assert reprs(net) == [repr(A), repr(Z), repr(R)]


def test_net_iter_class():
    assert NetIter.__doc__ is None
    with pytest.raises(TypeError, match="^No constructor defined for NetIter$"):
        NetIter()
    it, other = iter(Net()), iter(Net())
    assert it == it and it != other and hash(it) == hash(it)
    assert set(vars(NetIter)) >= {"__iter__", "__next__"}
    assert not any(hasattr(NetIter, m) for m in ("to_dict", "__get_pydantic_core_schema__", "__len__"))


# ---------------------------------------------------------------------------------------
# Hash and order


def u64(v: int) -> bytes:
    return v.to_bytes(8, "little", signed=v < 0)


def test_hash_is_siphash13_over_the_member_list(siphash13):
    nets = {
        "empty": (Net(), u64(0)),
        "one port": (Net([A]), u64(1) + u64(0) + b"a\xff"),
        "three kinds": (
            Net([A, R, PortArrayRef("i", "p", 2, -1)]),
            u64(3) + u64(0) + b"a\xff" + u64(1) + b"z\xffp\xff" + u64(2) + b"i\xffp\xff" + u64(2) + u64(-1),
        ),
    }
    digests = siphash13(*(feed for _, feed in nets.values()))
    for (name, (net, _)), digest in zip(nets.items(), digests):
        assert hash(net) == digest, name


def test_hash_equal_across_runs_and_for_equal_nets(python_run):
    code = "from vondrel import Net, PortRef, NetlistPort; print(hash(Net([PortRef('a', 'b'), NetlistPort('c')])))"
    assert python_run(code) == python_run(code)
    assert hash(Net([R, A])) == hash(Net([A, R])) == hash(Net.from_dict([{"name": "a"}, ["z", "p"]]))


@pytest.mark.parametrize(
    "low, high",
    [
        (Net([NetlistPort("b")]), Net([PortRef("a", "p")])),  # kind decides first
        (Net([]), Net([A])),  # a proper prefix comes first
        (Net([A]), Net([A, A])),
        (Net([A, Z]), Net([NetlistPort("b")])),
        (Net([PortRef("i", "p")]), Net([X])),
    ],
)
def test_total_order(low, high):
    assert low < high and low <= high and high > low and high >= low and low != high
    assert not (high < low) and not (low > high) and not (low == high)
    assert sorted([high, low]) == [low, high]


def test_other_objects_are_not_comparable():
    net = Net([A])
    assert (net == 5) is False and (net != 5) is True
    assert net.__eq__([A]) is NotImplemented
    with pytest.raises(TypeError):
        net < 5


# ---------------------------------------------------------------------------------------
# Text and wire forms


def test_repr_writes_member_reprs():
    net = Net([PortArrayRef("a'b", 'q"', -1, 2), NetlistPort("t\tx")])
    assert repr(net) == str(net) == (
        "Net([NetlistPort(name='t\\tx'), PortArrayRef(instance=\"a'b\", port='q\"', ia=-1, ib=2)])"
    )


def test_wire_forms():
    net = Net([X, R, A])
    text = '[{"name":"a"},{"instance":"z","port":"p"},{"instance":"i","port":"p","ia":1,"ib":1}]'
    assert net.to_json() == text
    assert net.to_dict() == [{"name": "a"}, {"instance": "z", "port": "p"}, {"instance": "i", "port": "p", "ia": 1, "ib": 1}]
    assert Net.from_json(text) == net == Net.from_dict(net.to_dict())
    first = Net.from_dict([{"instance": "i", "port": "p"}, {"name": "a"}])[0]
    assert type(first) is NetlistPort
    assert len(Net.from_json("[]  \n")) == 0


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda: Net.from_json("[] x"), "deserialize: trailing characters at line 1 column 4"),
        (lambda: Net.from_dict({"name": "a"}), "from_dict: unexpected type: 'dict' object cannot be converted to 'Sequence'"),
    ],
)
def test_wire_errors(call, text):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == text


def test_class_surface():
    assert Net.__text_signature__ == "(members=None)"
    assert Net.__doc__ == (
        "A net: an unordered collection of port members that share electrical\n"
        "connectivity. Internally stored sorted by (kind, fields) for stable\n"
        "equality and hashing."
    )
    assert Net.members.__doc__ == "Return a fresh Python list containing the members."
    assert Net.extend.__text_signature__ == "($self, items)"
    assert Net.from_json.__text_signature__ == "($cls, data)"
    with pytest.raises(TypeError):
        type("Sub", (Net,), {})
    with pytest.raises(TypeError):
        Net()[0] = A
