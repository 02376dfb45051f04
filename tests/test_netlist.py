import json
import sys
import warnings
from collections.abc import Mapping, Sequence

import pytest

from vondrel import Net, Netlist, NetlistArray, NetlistInstance, NetlistPort, PortArrayRef, PortRef


class Sub(Netlist):
    pass


def small():
    """Two instances (one a 2 x 3 array), two ports, two nets."""
    n = Netlist()
    n.create_inst("u2", "k", "inv", {"w": 1.0}, na=0, info={"rev": 2})
    n.create_inst("u1", "k", "bank", na=2, nb=3)
    n.create_port("in")
    n.create_port("out")
    n.create_net(PortRef("u2", "a"), NetlistPort("in"))
    n.create_net(PortArrayRef("u1", "d", 2, 3), PortRef("u2", "y"), NetlistPort("out"))
    return n


# ---------------------------------------------------------------------------------------
# Construction and the fresh copies handed out


def test_new_netlist_is_empty():
    n = Netlist()
    assert repr(n) == "Netlist(instances=0, nets=0, ports=0)"
    assert n.instances == {} and n.nets == [] and n.ports == [] and n.instance_names() == []
    assert n.to_dict() == {"instances": {}, "nets": [], "ports": []}
    assert n.to_json() == '{"instances":{},"nets":[],"ports":[]}'


@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((), {"x": 1})])
def test_constructor_takes_no_arguments(args, kwargs):
    with pytest.raises(TypeError, match=r"^Netlist\.__new__\(\)"):
        Netlist(*args, **kwargs)


def test_getters_hand_out_independent_copies():
    n = small()
    before = n.to_json()
    insts, nets, ports = n.instances, n.nets, n.ports
    assert list(insts) == ["u2", "u1"] and insts["u2"].name == "u2"
    assert n.instances is not insts and n.instances["u2"] is not insts["u2"]
    insts["u2"].settings = {"w": 9}
    insts["u2"].name = "zz"
    insts["u1"].array = None
    del insts["u1"]
    nets[0].append(NetlistPort("zz"))
    nets.clear()
    ports[0].name = "zz"
    ports.clear()
    got = n.get_instance("u2")
    got.kcl = "other"
    assert n.to_json() == before


def test_instance_queries():
    n = small()
    assert repr(n) == "Netlist(instances=2, nets=2, ports=2)"
    assert n.instance_names() == ["u2", "u1"]
    assert n.has_instance("u1") and not n.has_instance("u3")
    assert n.get_instance("u1") == NetlistInstance("k", "bank", array=NetlistArray(2, 3), name="u1")
    with pytest.raises(KeyError) as e:
        n.get_instance("u3")
    assert e.value.args == ("u3",)


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda n: n.has_instance(1), TypeError, "argument 'name': 'int' object cannot be converted to 'PyString'"),
        (lambda n: n.create_port(b"a"), TypeError, "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
        (lambda n: n.add_net([NetlistPort("in")]), TypeError, "argument 'net': 'list' object cannot be converted to 'Net'"),
        (lambda n: n.find_net_difference(5), TypeError,
         "argument 'reference': 'int' object cannot be converted to 'Netlist'"),
        (lambda n: n.remove_instances("u1"), TypeError, "argument 'names': Can't extract `str` to `Vec`"),
        (lambda n: n.remove_instances({"u1"}), TypeError, "argument 'names': 'set' object cannot be converted to 'Sequence'"),
        (lambda n: n.remove_instances(["u1", 2]), TypeError,
         "argument 'names': 'int' object cannot be converted to 'PyString'"),
        (lambda n: n.remove_instances(b"u1"), TypeError, "argument 'names': 'int' object cannot be converted to 'PyString'"),
        (lambda n: n.create_net(NetlistPort("in"), x=1), TypeError,
         "Netlist.create_net() got an unexpected keyword argument 'x'"),
    ],
)
def test_argument_errors_leave_the_netlist_unchanged(call, exc, text):
    n = small()
    before = n.to_json()
    with pytest.raises(exc) as e:
        call(n)
    assert str(e.value) == text
    assert n.to_json() == before


def test_create_port_appends_duplicates():
    n = Netlist()
    p = n.create_port("a")
    assert p == NetlistPort("a") and type(p) is NetlistPort
    n.create_port("a")
    assert n.ports == [NetlistPort("a"), NetlistPort("a")]


# ---------------------------------------------------------------------------------------
# create_inst


def test_create_inst_defaults_store_a_one_by_one_array():
    n = Netlist()
    inst = n.create_inst("u1", "k", "c")
    assert type(inst) is NetlistInstance
    assert inst == NetlistInstance("k", "c", {}, NetlistArray(1, 1), "u1")
    assert n.to_dict()["instances"]["u1"] == {"kcl": "k", "component": "c", "settings": {}, "array": {"na": 1, "nb": 1}}


@pytest.mark.parametrize(
    "kwargs, array",
    [
        ({"na": 0}, None),
        ({"nb": 0, "na": -5}, None),
        ({"na": 2, "nb": True}, NetlistArray(2, 1)),
        ({"settings": None, "info": None}, NetlistArray(1, 1)),
    ],
)
def test_create_inst_dimensions(kwargs, array):
    n = Netlist()
    assert n.create_inst("u", "k", "c", **kwargs).array == array
    assert n.get_instance("u").array == array


def test_create_inst_converts_settings_and_info_and_replaces_in_place():
    n = small()
    inst = n.create_inst("u2", "k2", "c2", [1, 2.0], 1, 1, info={"a": None})
    assert inst.settings == [1, 2.0] and inst.info == {"a": None} and inst.name == "u2"
    assert n.instance_names() == ["u2", "u1"]
    assert n.get_instance("u2") == inst


@pytest.mark.parametrize(
    "args, kwargs, exc, text",
    [
        (("u", "k", "c"), {"na": -2, "nb": 3}, ValueError,
         "An instance array must have at least one instance in the array. na=-2 and nb=3 must be >= 1"),
        (("u", "k", "c"), {"na": 1.5}, TypeError, "argument 'na': "),
        (("u", "k", "c"), {"nb": 2**63}, OverflowError, ""),
        (("u", "k", "c", {"x": object()}), {}, ValueError, "from_dict: unsupported type object"),
        (("u", "k", "c"), {"info": [1]}, ValueError,
         "from_dict: unexpected type: 'list' object cannot be converted to 'Mapping'"),
        (("u", "k", "c", None, 1, 1, {}), {}, TypeError,
         "Netlist.create_inst() takes from 3 to 6 positional arguments but 7 were given"),
    ],
)
def test_create_inst_errors_store_nothing(args, kwargs, exc, text):
    n = small()
    before = n.to_json()
    with pytest.raises(exc) as e:
        n.create_inst(*args, **kwargs)
    assert str(e.value).startswith(text)
    assert n.to_json() == before


# ---------------------------------------------------------------------------------------
# create_net and add_net


def test_create_net_sorts_members_and_turns_element_1_1_into_a_reference():
    n = small()
    n.create_net(PortRef("u2", "z"), PortArrayRef("u1", "q", 1, 1), NetlistPort("in"), PortArrayRef("u1", "q", 2, 1))
    assert n.nets[-1] == Net([NetlistPort("in"), PortRef("u1", "q"), PortRef("u2", "z"), PortArrayRef("u1", "q", 2, 1)])
    assert [type(m) for m in n.nets[-1]] == [NetlistPort, PortRef, PortRef, PortArrayRef]
    assert n.create_net() is None
    assert n.nets[-1] == Net() and len(n.nets) == 4


class MyRef(PortRef):
    pass


def test_create_net_accepts_port_subclasses():
    n = small()
    n.create_net(MyRef("u2", "a"))
    assert n.nets[-1] == Net([PortRef("u2", "a")])


@pytest.mark.parametrize(
    "members, text",
    [
        ([NetlistPort("nope"), 5], "create_net expects NetlistPort, PortRef, or PortArrayRef"),
        ([PortRef("m", "p"), NetlistPort("u")], "Unknown instance m"),
        ([NetlistPort("u"), PortRef("m", "p")], "Undefined netlist port u"),
        ([PortArrayRef("u2", "a", 1, 2)], 'Instance u2 is not an array instance. But an array portref was requested '
                                         'PortArrayRefData { instance: "u2", port: "a", ia: 1, ib: 2 }'),
        ([PortArrayRef("u1", "d", 3, 1)], "Instance u1 has only 2 elements in `na` direction"),
        ([PortArrayRef("u1", "d", 1, 4)], "Instance u1 has only 3 elements in `nb` direction"),
        ([Net()], "create_net expects NetlistPort, PortRef, or PortArrayRef"),
    ],
)
def test_create_net_errors_add_nothing(members, text):
    n = small()
    before = n.to_json()
    with pytest.raises(ValueError) as e:
        n.create_net(*members)
    assert str(e.value) == text
    assert n.to_json() == before


def test_create_net_checks_in_argument_order_add_net_in_net_order():
    n = small()
    with pytest.raises(ValueError, match="^Unknown instance m$"):
        n.create_net(PortRef("m", "p"), NetlistPort("u"))
    with pytest.raises(ValueError, match="^Undefined netlist port u$"):
        n.add_net(Net([PortRef("m", "p"), NetlistPort("u")]))


def test_add_net_uses_the_nets_own_order_and_leaves_it_alone():
    n = small()
    stored = Netlist.from_dict({"instances": {}, "nets": [[{"instance": "u2", "port": "b"}, {"name": "in"}]],
                                "ports": []}).nets[0]
    n.add_net(stored)
    assert n.nets[-1] == Net([NetlistPort("in"), PortRef("u2", "b")])
    assert list(stored) == [PortRef("u2", "b"), NetlistPort("in")]
    arr = Net([PortArrayRef("u1", "d", 1, 1)])
    n.add_net(arr)
    assert list(n.nets[-1]) == [PortRef("u1", "d")] and list(arr) == [PortArrayRef("u1", "d", 1, 1)]


# ---------------------------------------------------------------------------------------
# remove_instances and its deprecated alias


def test_remove_instances_merges_and_appends_one_net_per_name():
    n = small()
    n.create_net(PortRef("u1", "x"), NetlistPort("in"))
    n.remove_instances(("u2", "ghost"))
    assert n.instance_names() == ["u1"]
    assert n.nets == [
        Net([NetlistPort("in"), PortRef("u1", "x")]),
        Net([NetlistPort("in"), NetlistPort("out"), PortArrayRef("u1", "d", 2, 3)]),
        Net(),
    ]


class Names(Sequence):
    def __init__(self, *names):
        self.names = names

    def __len__(self):
        return len(self.names)

    def __getitem__(self, i):
        return self.names[i]


def test_remove_instances_takes_any_sequence():
    n = small()
    n.remove_instances(Names("u1"))
    n.remove_instances([])
    assert n.instance_names() == ["u2"]


DEPRECATED = ("Netlist.flatten_instances() is deprecated, use remove_instances() instead "
              "(Netlist.flatten() now inlines an instance's own netlist)")


def deprecated_call(n):
    n.flatten_instances(["u1"])


def skipping_call(n):
    n.flatten({}, instance_cell_map={"u1": "bank", "u2": "inv"}, warn_skipped=True)


@pytest.mark.parametrize("call, category, messages", [
    (deprecated_call, DeprecationWarning, [DEPRECATED]),
    (skipping_call, UserWarning, ['not flattening instance "u2": no netlist given for its cell "inv"',
                                  'not flattening instance "u1": no netlist given for its cell "bank"']),
])
def test_warnings_point_at_the_line_that_called_the_method(call, category, messages):
    n = small()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        call(n)
    line = call.__code__.co_firstlineno + 1
    assert [(w.category, str(w.message), w.filename, w.lineno) for w in caught] == [
        (category, m, __file__, line) for m in messages]


def test_deprecation_reaches_a_script_under_the_default_filters(python_run):
    out = python_run("import sys\nsys.stderr = sys.stdout\nfrom vondrel import Netlist\n"
                     "Netlist().flatten_instances([])\n")
    assert out == f"<string>:4: DeprecationWarning: {DEPRECATED}\n"


def test_flatten_instances_removes():
    n = small()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        deprecated_call(n)
    expected = small()
    expected.remove_instances(["u1"])
    assert n == expected


def test_flatten_instances_under_error_filter_removes_nothing():
    n = small()
    before = n.to_json()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            n.flatten_instances(["u1"])
    assert n.to_json() == before


def test_warning_hook_cannot_change_the_netlist_being_edited():
    n = small()
    seen = []
    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = lambda *a, **k: seen.append(_try(lambda: n.create_port("x")))
        n.flatten_instances(["u1"])
    assert seen == ["RuntimeError: Already borrowed"]
    assert n.ports == [NetlistPort("in"), NetlistPort("out")]


def _try(fn):
    try:
        fn()
        return "ok"
    except Exception as e:  # noqa: BLE001
        return f"{type(e).__name__}: {e}"


# ---------------------------------------------------------------------------------------
# Queries and sort


def test_detect_opens():
    n = Netlist()
    for p in ("z", "b", "a"):
        n.create_port(p)
    n.create_inst("u", "k", "c")
    n.create_net(NetlistPort("b"))
    n.create_net(PortRef("u", "p"), NetlistPort("b"))
    n.create_net(PortRef("u", "q"))
    opens = n.detect_opens()
    assert list(opens) == ["unconnected_ports", "singleton_nets"]
    assert opens == {"unconnected_ports": ["a", "z"], "singleton_nets": [Net([NetlistPort("b")]), Net([PortRef("u", "q")])]}


def test_find_net_difference():
    a, b = small(), small()
    b.create_net(NetlistPort("in"))
    a.create_net(NetlistPort("out"))
    diff = a.find_net_difference(b)
    assert list(diff) == ["missing", "extra"]
    assert diff == {"missing": [Net([NetlistPort("in")])], "extra": [Net([NetlistPort("out")])]}
    assert a.find_net_difference(a) == {"missing": [], "extra": []}
    assert Sub().find_net_difference(a)["missing"] == a.nets


def test_sort():
    n = Netlist.from_json(
        '{"instances":{"b":{"kcl":"k","component":"c"},"a":{"kcl":"k","component":"c"}},'
        '"nets":[[{"name":"y"},{"instance":"a","port":"p"}],[{"name":"x"}]],"ports":[{"name":"y"},{"name":"x"}]}'
    )
    assert n.sort() is None
    assert n.instance_names() == ["a", "b"]
    assert [p.name for p in n.ports] == ["x", "y"]
    assert n.nets == [Net([NetlistPort("x")]), Net([NetlistPort("y"), PortRef("a", "p")])]


# ---------------------------------------------------------------------------------------
# Comparison and repr


def test_equality_only_comparison():
    a, b = small(), small()
    assert (a == b, a != b, a < b, a <= b, a > b, a >= b) == (True, False, False, True, False, True)
    c = Netlist()
    c.create_inst("u1", "k", "bank", na=2, nb=3)
    c.create_inst("u2", "k", "inv", {"w": 1.0}, na=0, info={"rev": 2})
    c.create_port("in")
    c.create_port("out")
    for net in a.nets:
        c.add_net(net)
    assert (a == c, a != c, a < c, a <= c, a > c, a >= c) == (False, True, False, False, True, True)
    c.sort(), a.sort()
    assert a == c


def test_comparison_with_other_types():
    n = Netlist()
    assert (n == 5) is False and (n != 5) is True
    with pytest.raises(TypeError):
        n < 5
    with pytest.raises(TypeError):
        hash(n)
    assert n == Sub()


# ---------------------------------------------------------------------------------------
# Wire forms


def test_to_dict_and_to_json_agree_and_read_back():
    n = small()
    d = n.to_dict()
    assert list(d) == ["instances", "nets", "ports"]
    assert list(d["instances"]) == ["u2", "u1"]
    assert d["instances"]["u2"] == {"info": {"rev": 2}, "kcl": "k", "component": "inv", "settings": {"w": 1.0}}
    assert d["instances"]["u1"]["array"] == {"na": 2, "nb": 3}
    assert json.loads(n.to_json()) == d
    for back in (Netlist.from_dict(d), Netlist.from_json(n.to_json()), Sub.from_dict(d), Sub.from_json(n.to_json())):
        assert type(back) is Netlist and back == n
        assert [i.name for i in back.instances.values()] == ["u2", "u1"]


class Pairs(Mapping):
    """A mapping whose key list may repeat a key, as a Mapping class is free to do."""

    def __init__(self, *items):
        self.items_ = items

    def __getitem__(self, k):
        return dict(self.items_)[k]

    def __iter__(self):
        return iter(self.keys())

    def __len__(self):
        return len(self.items_)

    def keys(self):
        return [k for k, _ in self.items_]

    def values(self):
        return [v for _, v in self.items_]


@pytest.mark.parametrize("read", ["dict", "json"])
def test_repeated_instance_name_replaces_in_first_position(read):
    if read == "json":
        n = Netlist.from_json('{"instances":{"a":{"kcl":"k","component":"c1"},"b":{"kcl":"k","component":"c2"},'
                              '"a":{"kcl":"k","component":"c3"}}}')
    else:
        n = Netlist.from_dict({"instances": Pairs(("a", {"kcl": "k", "component": "c1"}),
                                                  ("b", {"kcl": "k", "component": "c2"}),
                                                  ("a", {"kcl": "k", "component": "c3"}))})
    assert n.instance_names() == ["a", "b"]
    assert n.get_instance("a") == NetlistInstance.from_dict({"kcl": "k", "component": "c3"}, "a")
    assert n.nets == [] and n.ports == []


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda: Netlist.from_dict([]), "from_dict: unexpected type: 'list' object cannot be converted to 'Mapping'"),
        (lambda: Netlist.from_dict({"instances": {}, "x": 1}),
         "from_dict: unknown field `x`, expected one of `instances`, `nets`, `ports`"),
        (lambda: Netlist.from_dict({"instances": {"u": {"kcl": "k"}}}), "from_dict: missing field `component`"),
        (lambda: Netlist.from_dict({"nets": [[{"nam": "a"}]]}),
         "from_dict: data did not match any variant of untagged enum NetMember"),
        (lambda: Netlist.from_json('{"instances":{}} x'), "deserialize: trailing characters at line 1 column 18"),
    ],
)
def test_wire_errors(call, text):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == text


def test_pydantic_hook():
    pydantic = pytest.importorskip("pydantic")

    class Model(pydantic.BaseModel):
        netlist: Netlist

    n = small()
    m = Model(netlist=n.to_dict())
    assert type(m.netlist) is Netlist and m.netlist == n
    assert Model(netlist=n).netlist is n
    assert m.model_dump() == {"netlist": n.to_dict()}
    with pytest.raises(pydantic.ValidationError, match="Cannot convert list to Netlist"):
        Model(netlist=[])


# ---------------------------------------------------------------------------------------
# The class itself


def test_class_surface():
    assert Netlist.__module__ == "vondrel._native"
    assert Netlist.__text_signature__ == "()"
    assert Netlist.__doc__ == (
        "A netlist: instances, nets, and top-level ports.\n\nDeclared `subclass` so `PlacedNetlist` (which carries "
        "per-instance placement\ngeometry) can extend it; this adds no fields and does not change the wire\nformat."
    )
    assert Netlist.find_net_difference.__doc__.endswith("* **extra** \u2013 nets in ``self`` but not in *reference*")
    assert Netlist.create_inst.__text_signature__ == (
        "($self, name, kcl, component, settings=None, na=1, nb=1, *, info=None)")
    assert Netlist.create_net.__text_signature__ == "($self, *ports)"
    assert Netlist.instances.__doc__.startswith("Fresh dict of {name: NetlistInstance}.")
    methods = [k for k in vars(Netlist) if not k.startswith("__") or k == "__get_pydantic_core_schema__"]
    assert methods == [
        "instance_names", "has_instance", "get_instance", "create_port", "create_inst", "create_net", "add_net",
        "remove_instances", "flatten_instances", "flatten",
        "detect_opens", "find_net_difference", "sort", "normalize", "__get_pydantic_core_schema__", "to_json",
        "from_json", "to_dict", "from_dict", "instances", "nets", "ports",
    ]


def test_python_subclass():
    class Mine(Netlist):
        pass

    m = Mine()
    m.note = "x"  # a Python subclass has its own __dict__
    m.create_port("a")
    assert type(m) is Mine and type(m.normalize()) is Netlist and m.normalize().ports == [NetlistPort("a")]
