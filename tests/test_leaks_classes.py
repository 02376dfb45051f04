"""Every method of Net, NetIter, NetlistInstance and NetlistArray, repeated, errors included:
Python memory stays flat. One leaked object per call would show as thousands of blocks."""

import pytest

from test_leaks import attempts, check_flat, set_attr
from vondrel import Net, NetIter, NetlistArray, NetlistInstance, NetlistPort, PortArrayRef, PortRef

P = NetlistPort("a")
R = PortRef("u", "p")
A = PortArrayRef("u", "p", 1, 2)
MEMBERS = [A, R, P, R, NetlistPort("b"), PortRef("v", "q")]
NET = Net(MEMBERS)
NET_DICT = NET.to_dict()
NET_JSON = NET.to_json()

ARRAY = NetlistArray(2, 3)
SETTINGS = {"w": 1.0, "l": 10, "layer": "M1", "on": True, "offs": [0.1, 2.0], "sub": {"x": None}}
INFO = {"vendor": "acme", "rev": 2}
INST = NetlistInstance("k", "c", SETTINGS, ARRAY, "u1", info=INFO)
INST_DICT = INST.to_dict()
INST_JSON = INST.to_json()


attempt = attempts(TypeError, ValueError, OverflowError, AttributeError, KeyError, IndexError, RuntimeError)


class Sub(NetlistInstance):
    pass


def bad_items():
    yield P
    raise KeyError("stop")


def edit_net():
    net = Net([R])
    net.append(P)
    net.extend(MEMBERS)
    try:
        net.extend([P, 5])  # fails half-way
    except TypeError:
        pass
    net.sort()


def reentrant_extend():
    net = Net([R])

    def reads():
        yield P
        len(net)

    net.extend(reads())


def normalize():
    inst = NetlistInstance("k", "c", SETTINGS)
    inst.normalize()


OPERATIONS = {
    # Net
    "Net()": attempt(lambda: (Net(MEMBERS), Net(), Net(None), Net(x for x in MEMBERS), Net(NET))),
    "Net() bad item": attempt(Net, [P, R, 5]),
    "Net() not iterable": attempt(Net, 5),
    "Net() iterator raises": attempt(lambda: Net(bad_items())),
    "Net edits": attempt(edit_net),
    "Net append error": attempt(lambda: NET.append(5)),
    "Net extend error": attempt(lambda: NET.extend(5)),
    "Net sort error": attempt(lambda: NET.sort(1)),
    "Net extend re-entrant": attempt(reentrant_extend),
    "Net reads": attempt(lambda: (len(NET), NET[0], NET[-1], NET.members(), P in NET, A in NET, list(NET))),
    "Net index range": attempt(lambda: NET[10]),
    "Net index overflow": attempt(lambda: NET[2**63]),
    "Net index slice": attempt(lambda: NET[1:2]),
    "Net contains error": attempt(lambda: 5 in NET),
    "Net hash/compare/repr": attempt(lambda: (hash(NET), NET == NET, NET < Net(), NET == 5, repr(NET))),
    "Net compare error": attempt(lambda: NET < 5),
    "Net to_dict/to_json": attempt(lambda: (NET.to_dict(), NET.to_json())),
    "Net from_dict/from_json": attempt(lambda: (Net.from_dict(NET_DICT), Net.from_json(NET_JSON))),
    "Net from errors": attempt(lambda: (Net.from_dict([{"x": 1}]))),
    "Net from_json error": attempt(Net.from_json, "[1]"),
    # NetIter
    "NetIter": attempt(lambda: (next(iter(NET)), list(iter(NET)), iter(iter(NET)))),
    "NetIter()": attempt(NetIter),
    # NetlistArray
    "NetlistArray()": attempt(lambda: (NetlistArray(1, 2), NetlistArray(nb=True, na=3))),
    "NetlistArray() errors": attempt(lambda: NetlistArray(1.5, 2)),
    "NetlistArray() overflow": attempt(NetlistArray, 2**63, 1),
    "NetlistArray attributes": attempt(lambda: (ARRAY.na, ARRAY.nb, set_attr(ARRAY, "na", 2), set_attr(ARRAY, "nb", 3))),
    "NetlistArray setter error": attempt(set_attr, ARRAY, "na", "x"),
    "NetlistArray delete": attempt(delattr, ARRAY, "nb"),
    "NetlistArray hash/compare/repr": attempt(lambda: (hash(ARRAY), ARRAY == ARRAY, ARRAY < ARRAY, repr(ARRAY))),
    "NetlistArray quartet": attempt(lambda: (NetlistArray.from_dict(ARRAY.to_dict()), NetlistArray.from_json(ARRAY.to_json()))),
    "NetlistArray quartet errors": attempt(lambda: NetlistArray.from_dict({"na": 1})),
    # NetlistInstance
    "NetlistInstance()": attempt(lambda: (NetlistInstance("k", "c", SETTINGS, ARRAY, "u1", info=INFO),
                                          NetlistInstance("k", "c"), Sub("k", "c", SETTINGS))),
    "NetlistInstance() bad array": attempt(NetlistInstance, "k", "c", SETTINGS, (1, 2)),
    "NetlistInstance() bad settings": attempt(NetlistInstance, "k", "c", {"a": [1, object()]}),
    "NetlistInstance() bad info": attempt(NetlistInstance, "k", "c", info={"a": 1, 2: 3}),
    "NetlistInstance() bad binding": attempt(NetlistInstance, "k", "c", name="n", nam=1),
    "NetlistInstance getters": attempt(lambda: (INST.kcl, INST.component, INST.name, INST.info, INST.settings, INST.array)),
    "NetlistInstance setters": attempt(lambda: (set_attr(INST, "kcl", "k"), set_attr(INST, "name", "u1"),
                                                set_attr(INST, "info", INFO), set_attr(INST, "settings", SETTINGS),
                                                set_attr(INST, "array", ARRAY), set_attr(INST, "array", ARRAY))),
    "NetlistInstance setter errors": attempt(lambda: set_attr(INST, "component", None)),
    "NetlistInstance info error": attempt(lambda: set_attr(INST, "info", None)),
    "NetlistInstance settings error": attempt(lambda: set_attr(INST, "settings", {"x": object()})),
    "NetlistInstance array error": attempt(lambda: set_attr(INST, "array", 5)),
    "NetlistInstance delete": attempt(delattr, INST, "settings"),
    "NetlistInstance normalize": attempt(normalize),
    "NetlistInstance compare/repr": attempt(lambda: (INST == INST, INST != 5, INST >= INST, repr(INST))),
    "NetlistInstance hash": attempt(hash, INST),
    "NetlistInstance to_dict/to_json": attempt(lambda: (INST.to_dict(), INST.to_json())),
    "NetlistInstance from_dict/from_json": attempt(lambda: (NetlistInstance.from_dict(INST_DICT, "u1"),
                                                            NetlistInstance.from_json(INST_JSON, name="u1"),
                                                            Sub.from_dict(INST_DICT))),
    "NetlistInstance from_dict error": attempt(NetlistInstance.from_dict, {"kcl": "k"}),
    "NetlistInstance from_json error": attempt(NetlistInstance.from_json, INST_JSON + "x"),
    "NetlistInstance from name error": attempt(NetlistInstance.from_json, INST_JSON, None),
}


@pytest.mark.parametrize("name", list(OPERATIONS))
def test_no_growth(name):
    check_flat(OPERATIONS[name], 30_000)


def test_pydantic_hook_no_growth():
    pytest.importorskip("pydantic_core")

    def hooks():
        for cls in (Net, NetlistArray, NetlistInstance, Sub):
            cls.__get_pydantic_core_schema__(None, None)

    # Compiles and evaluates its source on every call: fewer repetitions, a longer warm-up
    # and room for the interpreter's own caches that this churns (a leak would be one block
    # per hook call or more: 4,000 blocks).
    check_flat(attempt(hooks), 1_000, warm_up=1_500, stray_blocks=1_000)
