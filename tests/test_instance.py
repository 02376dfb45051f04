from collections.abc import Mapping

import pytest

from vondrel import NetlistArray, NetlistInstance


class Sub(NetlistInstance):
    pass


def state(inst):
    return (inst.to_json(), inst.name)


def full():
    return NetlistInstance("k", "c", {"w": 1.0, "n": [1, 2.5]}, NetlistArray(2, 3), "u1", info={"z": 1, "a": "x"})


# ---------------------------------------------------------------------------------------
# NetlistInstance: construction


def test_defaults():
    inst = NetlistInstance("k", "c")
    assert inst.settings == {} and inst.info == {} and inst.array is None and inst.name == ""
    assert repr(inst) == 'NetlistInstance(name="", kcl="k", component="c")'
    assert inst.to_dict() == {"kcl": "k", "component": "c", "settings": {}}


def test_all_arguments_by_keyword_and_position():
    by_kw = NetlistInstance(kcl="k", component="c", settings={"a": 1}, array=NetlistArray(1, 2), name="n", info={"i": 2})
    by_pos = NetlistInstance("k", "c", {"a": 1}, NetlistArray(1, 2), "n", info={"i": 2})
    assert by_kw == by_pos
    assert (by_kw.kcl, by_kw.component, by_kw.name) == ("k", "c", "n")
    assert by_kw.settings == {"a": 1} and by_kw.info == {"i": 2} and by_kw.array == NetlistArray(1, 2)
    assert NetlistInstance("k", "c", None, None, info=None) == NetlistInstance("k", "c")


@pytest.mark.parametrize(
    "args, kwargs, exc, text",
    [
        (("k", "c"), {"name": None}, TypeError, "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
        (("k", "c"), {"array": (1, 2)}, TypeError, "argument 'array': 'tuple' object cannot be converted to 'NetlistArray'"),
        ((1, "c"), {}, TypeError, "argument 'kcl': 'int' object cannot be converted to 'PyString'"),
        (("k", b"c"), {}, TypeError, "argument 'component': 'bytes' object cannot be converted to 'PyString'"),
        (("k", "c"), {"settings": object()}, ValueError, "from_dict: unsupported type object"),
        (("k", "c"), {"info": [1]}, ValueError, "from_dict: unexpected type: 'list' object cannot be converted to 'Mapping'"),
        (("k", "c", None, None, "n", {}), {}, TypeError,
         "NetlistInstance.__new__() takes from 2 to 5 positional arguments but 6 were given"),
    ],
)
def test_constructor_errors(args, kwargs, exc, text):
    with pytest.raises(exc) as e:
        NetlistInstance(*args, **kwargs)
    assert str(e.value) == text


def test_array_is_converted_before_settings():
    # Conversion order: kcl, component, array, name, then settings and info.
    with pytest.raises(TypeError, match="argument 'array'"):
        NetlistInstance("k", "c", settings=object(), array=5)
    with pytest.raises(TypeError, match="argument 'name'"):
        NetlistInstance("k", "c", settings=object(), name=5)


def test_settings_and_info_conversion():
    inst = NetlistInstance("k", "c", settings={"b": (1, 2.0), "a": {"y": None, "x": True}},
                           info={"z": 1, "a": 1.0, "big": 2**64 - 1})
    assert list(inst.settings) == ["a", "b"] and list(inst.settings["a"]) == ["x", "y"]
    assert inst.settings == {"a": {"x": True, "y": None}, "b": [1, 2.0]}
    assert list(inst.info) == ["a", "big", "z"] and [type(v) for v in inst.info.values()] == [float, int, int]
    assert NetlistInstance("k", "c", settings=5).settings == 5


# ---------------------------------------------------------------------------------------
# Attributes


@pytest.mark.parametrize(
    "attr, value, expected",
    [
        ("kcl", "k2", "k2"),
        ("component", "", ""),
        ("name", "é\n", "é\n"),
        ("info", {"b": 2, "a": 1}, {"a": 1, "b": 2}),
        ("settings", None, None),
        ("settings", [1.5, {"x": 1}], [1.5, {"x": 1}]),
        ("settings", 3, 3),
        ("array", None, None),
        ("array", NetlistArray(4, -1), NetlistArray(4, -1)),
    ],
)
def test_setters(attr, value, expected):
    inst = full()
    setattr(inst, attr, value)
    assert getattr(inst, attr) == expected


@pytest.mark.parametrize(
    "attr, value, exc, text",
    [
        ("kcl", None, TypeError, "argument 'value': 'NoneType' object cannot be converted to 'PyString'"),
        ("component", 1, TypeError, "argument 'value': 'int' object cannot be converted to 'PyString'"),
        ("name", b"n", TypeError, "argument 'value': 'bytes' object cannot be converted to 'PyString'"),
        ("info", None, ValueError, "from_dict: unexpected type: 'NoneType' object cannot be converted to 'Mapping'"),
        ("settings", {"a": [1, object()]}, ValueError, "from_dict: unsupported type object"),
        ("array", (1, 2), TypeError, "argument 'value': 'tuple' object cannot be converted to 'NetlistArray'"),
    ],
)
def test_setter_errors_leave_object_unchanged(attr, value, exc, text):
    inst = full()
    before = state(inst)
    with pytest.raises(exc) as e:
        setattr(inst, attr, value)
    assert str(e.value) == text
    assert state(inst) == before


@pytest.mark.parametrize("attr", ["kcl", "component", "name", "info", "settings", "array"])
def test_delete_attribute(attr):
    inst = full()
    before = state(inst)
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(inst, attr)
    assert state(inst) == before


def test_no_other_attributes():
    with pytest.raises(AttributeError):
        full().extra = 1


class ReadsInstance(Mapping):
    """A mapping whose reading touches the instance being assigned."""

    def __init__(self, inst):
        self.inst = inst

    def __getitem__(self, key):
        return 1

    def __iter__(self):
        return iter([self.inst.kcl])

    def __len__(self):
        return 1


@pytest.mark.parametrize("attr", ["info", "settings"])
def test_json_setters_convert_under_the_exclusive_borrow(attr):
    inst = full()
    before = state(inst)
    with pytest.raises(ValueError, match="^from_dict: RuntimeError: Already mutably borrowed$"):
        setattr(inst, attr, ReadsInstance(inst))
    assert state(inst) == before


def test_getters_hand_out_copies():
    inst = full()
    before = state(inst)
    inst.settings["w"] = 5
    inst.settings["n"].append(0)
    inst.info.clear()
    inst.array.na = 9
    assert state(inst) == before
    assert inst.settings is not inst.settings


def test_normalize():
    a = NetlistInstance("k", "c", {"w": 1.0, "v": [2.0, 2.5, {"x": -3.0}], "big": 1e300}, info={"i": 1.0})
    b = NetlistInstance("k", "c", {"w": 1, "v": [2, 2.5, {"x": -3}], "big": 1e300}, info={"i": 1.0})
    assert a != b
    assert a.normalize() is None
    assert a.settings["v"] == [2, 2.5, {"x": -3}] and type(a.settings["w"]) is int
    assert type(a.info["i"]) is float  # info is left alone
    assert a.to_json() == b.to_json()
    with pytest.raises(TypeError, match="takes 0 positional arguments"):
        a.normalize(1)


# ---------------------------------------------------------------------------------------
# Comparison


@pytest.mark.parametrize(
    "other",
    [
        NetlistInstance("k", "c", {"w": 1, "n": [1, 2.5]}, NetlistArray(2, 3), "u1", info={"z": 1, "a": "x"}),
        NetlistInstance("k", "c", {"w": 1.0, "n": [1, 2.5]}, NetlistArray(2, 3), "u2", info={"z": 1, "a": "x"}),
        NetlistInstance("k", "c", {"w": 1.0, "n": [1, 2.5]}, NetlistArray(2, 3), "u1", info={"z": 1}),
        NetlistInstance("k", "c", {"w": 1.0, "n": [1, 2.5]}, None, "u1", info={"z": 1, "a": "x"}),
        NetlistInstance("k", "d", {"w": 1.0, "n": [1, 2.5]}, NetlistArray(2, 3), "u1", info={"z": 1, "a": "x"}),
        NetlistInstance.from_dict({"kcl": "k", "component": "c"}),
    ],
)
def test_unequal_instances(other):
    a = full()
    for x, y in ((a, other), (other, a)):
        assert (x == y, x != y, x < y, x <= y, x > y, x >= y) == (False, True, False, False, True, True)


def test_equal_instances_and_subclasses():
    a, b, s = full(), full(), Sub("k", "c", {"w": 1.0, "n": [1, 2.5]}, NetlistArray(2, 3), "u1", info={"z": 1, "a": "x"})
    for x, y in ((a, b), (a, s), (s, a)):
        assert (x == y, x != y, x < y, x <= y, x > y, x >= y) == (True, False, False, True, False, True)
    assert NetlistInstance("k", "c") != NetlistInstance.from_dict({"kcl": "k", "component": "c"})


def test_comparison_with_other_classes():
    inst = full()
    assert inst.__eq__(5) is NotImplemented and inst.__lt__(NetlistArray(1, 1)) is NotImplemented
    assert (inst == 5) is False and (inst != 5) is True
    with pytest.raises(TypeError):
        inst < 5
    with pytest.raises(TypeError, match="unhashable"):
        hash(inst)
    with pytest.raises(TypeError, match="unhashable"):
        hash(Sub("k", "c"))


# ---------------------------------------------------------------------------------------
# Text and wire forms


@pytest.mark.parametrize(
    "name, rendered",
    [
        ("u1", '"u1"'),
        ('a"b\\c\n', '"a\\"b\\\\c\\n"'),
        ("it's é", '"it\'s é"'),
        ("\x00\t\r\x01\x7f", '"\\0\\t\\r\\u{1}\\u{7f}"'),
        ("a\u200bb\u00a0", '"a\\u{200b}b\\u{a0}"'),
    ],
)
def test_repr_uses_quoted_form(name, rendered):
    inst = NetlistInstance(name, "c", name=name)
    assert repr(inst) == f'NetlistInstance(name={rendered}, kcl={rendered}, component="c")'


def test_wire_forms_key_order_and_number_kinds():
    inst = full()
    text = '{"info":{"a":"x","z":1},"kcl":"k","component":"c","settings":{"n":[1,2.5],"w":1.0},"array":{"na":2,"nb":3}}'
    assert inst.to_json() == text
    d = inst.to_dict()
    assert list(d) == ["info", "kcl", "component", "settings", "array"]
    assert list(d["info"]) == ["a", "z"] and list(d["settings"]) == ["n", "w"]
    assert type(d["settings"]["w"]) is float and type(d["settings"]["n"][0]) is int
    for back in (NetlistInstance.from_json(text, "u1"), NetlistInstance.from_dict(d, name="u1")):
        assert back == inst and type(back) is NetlistInstance
        assert type(back.settings["w"]) is float
    assert NetlistInstance.from_json(text) != inst  # the name is not in the record
    assert NetlistInstance.from_json(text).name == ""
    bare = NetlistInstance("k", "c", settings=None)
    bare.settings = None
    assert bare.to_json() == '{"kcl":"k","component":"c","settings":null}'
    assert list(bare.to_dict()) == ["kcl", "component", "settings"]


def test_from_wire_defaults_and_subclasses():
    read = NetlistInstance.from_json('{"kcl":"k","component":"c","array":null}  \n', "n")
    assert read.settings is None and read.info == {} and read.array is None and read.name == "n"
    assert type(Sub.from_dict({"kcl": "k", "component": "c"})) is NetlistInstance
    assert type(Sub.from_json('["k","c"]'.replace("[", '[{},'))) is NetlistInstance
    sub = Sub("k", "c")
    assert type(sub) is Sub and isinstance(sub, NetlistInstance)
    assert repr(sub) == 'NetlistInstance(name="", kcl="k", component="c")'
    sub.extra = 1  # a Python subclass has its own __dict__
    assert sub.extra == 1


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda: NetlistInstance.from_dict({"kcl": "k"}), ValueError, "from_dict: missing field `component`"),
        (lambda: NetlistInstance.from_dict({"kcl": "k", "component": "c"}, None), TypeError,
         "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
        # the name is converted before the record is read
        (lambda: NetlistInstance.from_dict(5, name=5), TypeError,
         "argument 'name': 'int' object cannot be converted to 'PyString'"),
        (lambda: NetlistInstance.from_json('{"kcl":"k","component":"c"} x'), ValueError,
         "deserialize: trailing characters at line 1 column 29"),
        # arguments convert in signature order: `data` before `name`
        (lambda: NetlistInstance.from_json(5, 5), TypeError,
         "argument 'data': 'int' object cannot be converted to 'PyString'"),
        (lambda: NetlistInstance.from_json("{", 5), TypeError,
         "argument 'name': 'int' object cannot be converted to 'PyString'"),
    ],
)
def test_wire_errors(call, exc, text):
    with pytest.raises(exc) as e:
        call()
    assert str(e.value) == text


def test_instance_class_surface():
    assert NetlistInstance.__text_signature__ == "(kcl, component, settings=None, array=None, name=..., *, info=None)"
    assert NetlistInstance.__doc__ == (
        "Instance of a sub-cell within a netlist.\n\n"
        "`name` is set by the parent `Netlist` from the dict key on deserialization\n"
        "and is intentionally excluded from the JSON wire format.\n\n"
        "Declared `subclass` so `PlacedInstance` (which adds placement geometry) can\n"
        "extend it; this adds no fields and does not change the wire format."
    )
    assert NetlistInstance.info.__doc__ == "Fresh metadata snapshot; assign a whole dictionary to replace it."
    assert NetlistInstance.normalize.__doc__ == (
        "Normalize this instance's settings in place: integer-valued floats are\n"
        "stored as integers (`1.0` -> `1`; `1.5` is left as-is)."
    )
    assert NetlistInstance.from_dict.__text_signature__ == "($cls, obj, name=...)"
    assert NetlistInstance.from_json.__text_signature__ == "($cls, data, name=...)"


# ---------------------------------------------------------------------------------------
# NetlistArray


def test_array_basics():
    a = NetlistArray(0, -3)
    assert repr(a) == "NetlistArray(na=0, nb=-3)" and (a.na, a.nb) == (0, -3)
    assert NetlistArray(True, 2).na == 1
    assert NetlistArray(nb=2, na=1) == NetlistArray(1, 2)
    a.na, a.nb = 7, -(2**63)
    assert repr(a) == f"NetlistArray(na=7, nb={-(2**63)})"
    assert a.to_dict() == {"na": 7, "nb": -(2**63)} and list(a.to_dict()) == ["na", "nb"]
    assert NetlistArray.from_json(a.to_json()) == a == NetlistArray.from_dict(a.to_dict())
    assert NetlistArray.from_dict({"na": True, "nb": 2}) == NetlistArray(1, 2)


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda: NetlistArray(1.5, 2), TypeError, "^argument 'na': "),
        (lambda: NetlistArray(1, "2"), TypeError, "^argument 'nb': "),
        (lambda: NetlistArray(2**63, 0), OverflowError, None),
        (lambda: setattr(NetlistArray(1, 2), "na", 1.5), TypeError, "^argument 'value': "),
        (lambda: delattr(NetlistArray(1, 2), "nb"), AttributeError, "^can't delete attribute$"),
        (lambda: NetlistArray.from_dict({"na": 1.5, "nb": 2}), ValueError, "^from_dict: TypeError: "),
        (lambda: type("Sub2", (NetlistArray,), {}), TypeError, None),
    ],
)
def test_array_errors(call, exc, text):
    with pytest.raises(exc, match=text):
        call()


def test_array_equality_and_hash(siphash13):
    a, b = NetlistArray(1, 2), NetlistArray(1, 2)
    for x, y, e in ((a, b, True), (a, NetlistArray(2, 1), False)):
        assert (x == y, x != y, x < y, x <= y, x > y, x >= y) == (e, not e, False, e, not e, True)
    assert a.__eq__(full()) is NotImplemented
    assert hash(a) == hash(b) == siphash13((1).to_bytes(8, "little") + (2).to_bytes(8, "little"))[0]
    assert NetlistArray.__text_signature__ == "(na, nb)"
    assert NetlistArray.__doc__ == "Array dimensions for an array instance (`na` \u00d7 `nb`)."


# ---------------------------------------------------------------------------------------
# Pydantic


def test_pydantic_fields():
    pydantic = pytest.importorskip("pydantic")
    from vondrel import Net, NetlistPort

    class Model(pydantic.BaseModel):
        inst: NetlistInstance
        array: NetlistArray
        net: Net

    inst = full()
    m = Model(inst=inst, array={"na": 1, "nb": 2}, net=Net([NetlistPort("a")]))
    assert m.inst is inst and m.array == NetlistArray(1, 2)
    assert m.model_dump() == {"inst": inst.to_dict(), "array": {"na": 1, "nb": 2}, "net": [{"name": "a"}]}
    with pytest.raises(pydantic.ValidationError, match="Cannot convert list to NetlistInstance"):
        Model(inst=[], array=NetlistArray(1, 1), net=Net())
    assert type(Sub.__get_pydantic_core_schema__(None, None)) is dict
