import math
import sys
import types

import pytest

from vondrel import NetlistArray, NetlistInstance, Placement, PlacedInstance

BOX = {"left": 0, "bottom": 0, "right": 1, "top": 1}
NAN = float("nan")
INF = float("inf")


def fake_numpy_bool(name, truth, with_bool=True):
    """An object whose type looks like numpy's boolean scalar (checked by name and module)."""
    ns = {"__module__": "numpy"}
    if with_bool:
        ns["__bool__"] = lambda self: truth
    return type(name, (), ns)()


# ---------------------------------------------------------------------------------------
# Placement: construction and conversions


def test_constructor_converts_numbers_and_box():
    p = Placement(0, 0, 0, False, {**BOX, "scale": object()})
    assert (p.x, p.y, p.orientation, p.mirror) == (0.0, 0.0, 0.0, False)
    assert type(p.x) is float
    assert p.bbox == {"left": 0.0, "bottom": 0.0, "right": 1.0, "top": 1.0}
    assert list(p.bbox) == ["left", "bottom", "right", "top"]
    assert repr(p) == "Placement(x=0, y=0, orientation=0, mirror=false)"
    by_kw = Placement(bbox=BOX, mirror=True, orientation=90, y=2, x=1)
    assert by_kw == Placement(1, 2, 90, True, BOX)


class Half:
    def __float__(self):
        return 0.5


class Three:
    def __index__(self):
        return 3


def test_float_conversion_accepts_float_protocols():
    p = Placement(Half(), Three(), True, False, {"left": Half(), "bottom": 0, "right": 1, "top": 1})
    assert (p.x, p.y, p.orientation, p.bbox["left"]) == (0.5, 3.0, 1.0, 0.5)


@pytest.mark.parametrize(
    "args, exc, text",
    [
        (("1", 0, 0, False, BOX), TypeError, "argument 'x': must be real number, not str"),
        ((0, None, 0, False, BOX), TypeError, "argument 'y': must be real number, not NoneType"),
        ((0, 0, [], False, BOX), TypeError, "argument 'orientation': must be real number, not list"),
        ((0, 0, 0, 0, BOX), TypeError, "argument 'mirror': 'int' object cannot be converted to 'PyBool'"),
        ((0, 0, 0, None, BOX), TypeError, "argument 'mirror': 'NoneType' object cannot be converted to 'PyBool'"),
        ((0, 0, 0, False, {"left": 0}), ValueError, "from_dict: missing field `bottom`"),
        ((0, 0, 0, False, [0, 0, 1, 1]), ValueError, "from_dict: "),
        ((2**1024, 0, 0, False, BOX), OverflowError, "int too large to convert to float"),
        # The first failing argument is reported, in parameter order.
        (("x", 0, 0, 0, {}), TypeError, "argument 'x'"),
        ((0, 0, 0, 0, {}), TypeError, "argument 'mirror'"),
    ],
)
def test_constructor_errors(args, exc, text):
    with pytest.raises(exc) as e:
        Placement(*args)
    assert type(e.value) is exc
    assert str(e.value).startswith(text)


def test_numpy_booleans_are_taken_through_their_bool():
    assert Placement(0, 0, 0, fake_numpy_bool("bool_", True), BOX).mirror is True
    assert Placement(0, 0, 0, fake_numpy_bool("bool", False), BOX).mirror is False
    with pytest.raises(TypeError, match="'bool_' object cannot be converted to 'PyBool'"):
        Placement(0, 0, 0, type("bool_", (), {"__module__": "mynumpy"})(), BOX)
    with pytest.raises(TypeError, match=r"^object of type '<class 'numpy\.bool_'>' does not define a '__bool__' conversion$"):
        Placement(0, 0, 0, fake_numpy_bool("bool_", True, with_bool=False), BOX)


def test_setters_convert_and_leave_value_on_failure():
    p = Placement(1, 2, 3, False, BOX)
    p.x, p.y, p.orientation, p.mirror = 5, Half(), -720, True
    p.bbox = {"left": -1, "bottom": -2, "right": 3, "top": 4, "layer": "M1"}
    assert repr(p) == "Placement(x=5, y=0.5, orientation=-720, mirror=true)"
    assert p.bbox == {"left": -1.0, "bottom": -2.0, "right": 3.0, "top": 4.0}
    before = p.to_json()
    for name, value, exc, text in [
        ("x", "1", TypeError, "argument 'value': must be real number, not str"),
        ("mirror", 1, TypeError, "argument 'value': 'int' object cannot be converted to 'PyBool'"),
        ("bbox", {"left": 0}, ValueError, "from_dict: missing field `bottom`"),
        ("bbox", None, ValueError, "from_dict: "),
    ]:
        with pytest.raises(exc) as e:
            setattr(p, name, value)
        assert str(e.value).startswith(text)
    for name in ("x", "y", "orientation", "mirror", "bbox"):
        with pytest.raises(AttributeError, match="can't delete attribute"):
            delattr(p, name)
    with pytest.raises(AttributeError):
        p.scale = 1
    assert p.to_json() == before


def test_bbox_getter_is_a_copy():
    p = Placement(0, 0, 0, False, BOX)
    box = p.bbox
    box["left"] = 5
    assert p.bbox["left"] == 0.0
    assert p.bbox is not p.bbox


# ---------------------------------------------------------------------------------------
# Placement: repr, comparison, serialisation


@pytest.mark.parametrize(
    "value, text",
    [
        (1.0, "1"), (90.0, "90"), (-2.5, "-2.5"), (0.5, "0.5"), (-0.0, "-0"), (0.1, "0.1"),
        (1e20, "100000000000000000000"), (1e-7, "0.0000001"), (1.5e-7, "0.00000015"),
        (123456.789, "123456.789"), (2.0**53 + 2, "9007199254740994"),
        # Shortest digits padded with zeros, not the double's exact integer value.
        (1e23, "1" + "0" * 23), (2.0**70, "11805916207174113" + "0" * 5),
        (-1.7976931348623157e308, "-17976931348623157" + "0" * 292),
        (NAN, "NaN"), (-NAN, "NaN"), (INF, "inf"), (-INF, "-inf"),
    ],
)
def test_repr_plain_shortest_decimal(value, text):
    assert repr(Placement(value, 0, value, True, BOX)) == f"Placement(x={text}, y=0, orientation={text}, mirror=true)"


def test_repr_extremes_read_back():
    for v in (5e-324, 1.7976931348623157e308, 1 / 3):
        text = repr(Placement(v, 0, 0, False, BOX))[len("Placement(x="):].split(",")[0]
        assert "e" not in text and float(text) == v


def test_equality_only_ieee():
    a = Placement(1, 2, 90, False, BOX)
    b = Placement(1, 2, 90, False, BOX)
    c = Placement(1, 2, 90, False, {**BOX, "top": 2})
    assert (a == b, a != b, a <= b, a >= b, a < b, a > b) == (True, False, True, True, False, False)
    assert (a == c, a != c, a <= c, a >= c, a < c, a > c) == (False, True, False, True, False, True)
    assert Placement(0.0, 0, 0, False, BOX) == Placement(-0.0, 0, 0, False, BOX)
    assert Placement(0, 0, 0, True, BOX) != Placement(0, 0, 0, False, BOX)
    n = Placement(0, 0, 0, False, {**BOX, "left": NAN})
    assert not (n == n) and n != n
    assert (a == 5) is False and (a != 5) is True
    with pytest.raises(TypeError):
        a < 5
    with pytest.raises(TypeError, match="unhashable"):
        hash(a)


def test_not_subclassable():
    with pytest.raises(TypeError):
        type("Sub", (Placement,), {})


def test_serialisation_round_trips():
    p = Placement(1.5, -2, 450, True, {"left": -1, "bottom": 0, "right": 2, "top": 3})
    d = p.to_dict()
    assert list(d) == ["x", "y", "orientation", "mirror", "bbox"]
    assert d == {"x": 1.5, "y": -2.0, "orientation": 450.0, "mirror": True,
                 "bbox": {"left": -1.0, "bottom": 0.0, "right": 2.0, "top": 3.0}}
    assert p.to_json() == ('{"x":1.5,"y":-2.0,"orientation":450.0,"mirror":true,'
                           '"bbox":{"left":-1.0,"bottom":0.0,"right":2.0,"top":3.0}}')
    assert Placement.from_dict(d) == p and Placement.from_json(p.to_json()) == p
    assert Placement.from_json("[1.5,-2,450,true,[-1,0,2,3]]") == p
    assert type(Placement.from_dict(d)) is Placement


def test_non_finite_reads_back_from_dict_only():
    p = Placement(NAN, INF, 0, False, BOX)
    assert '"x":null,"y":null' in p.to_json()
    with pytest.raises(ValueError, match=r"^deserialize: invalid type: null, expected f64 at line 1 column 9$"):
        Placement.from_json(p.to_json())
    back = Placement.from_dict(p.to_dict())
    assert math.isnan(back.x) and back.y == INF


def test_from_dict_mirror_takes_truth_value():
    d = Placement(0, 0, 0, False, BOX).to_dict()
    assert Placement.from_dict({**d, "mirror": 1}).mirror is True
    assert Placement.from_dict({**d, "mirror": ""}).mirror is False


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda: Placement.from_dict({"x": 0}), "from_dict: missing field `y`"),
        (lambda: Placement.from_dict({**Placement(0, 0, 0, False, BOX).to_dict(), "scale": 1}),
         "from_dict: unknown field `scale`, expected one of `x`, `y`, `orientation`, `mirror`, `bbox`"),
        (lambda: Placement.from_json('{"x":0,"y":0,"orientation":0,"mirror":1,"bbox":[0,0,0,0]}'),
         "deserialize: invalid type: integer `1`, expected a boolean"),
        (lambda: Placement.from_json('[0,0,0,false,[0,0,0,0]] x'), "deserialize: trailing characters"),
    ],
)
def test_record_errors(call, text):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value).startswith(text)


def test_docstrings():
    assert Placement.__text_signature__ == "(x, y, orientation, mirror, bbox)"
    assert Placement.__doc__ == (
        "Physical placement of an instance: origin transform and bounding box.\n\n"
        "This is purely geometric. The placed cell's *name* is an intrinsic property\n"
        "of the instance and lives on [`PlacedInstance::cell`], not here."
    )
    assert Placement.bbox.__doc__ == 'Bounding box as a dict (`{"left", "bottom", "right", "top"}`).'
    assert PlacedInstance.__text_signature__ == (
        "(kcl, component, settings=None, array=None, name=..., cell=..., placement=None, *, info=None)")
    assert PlacedInstance.__doc__.startswith("Instance carrying placement geometry. Subclass of [`NetlistInstance`]: the\n")
    assert PlacedInstance.from_json.__text_signature__ == "($cls, data, name=...)"
    assert PlacedInstance.from_dict.__text_signature__ == "($cls, obj, name=...)"


# ---------------------------------------------------------------------------------------
# PlacedInstance


def test_placed_instance_defaults():
    i = PlacedInstance("k", "c")
    assert (i.kcl, i.component, i.name, i.cell) == ("k", "c", "", "")
    assert i.settings == {} and i.info == {} and i.array is None
    assert i.placement == Placement(0, 0, 0, False, {"left": 0, "bottom": 0, "right": 0, "top": 0})
    assert repr(i) == ('PlacedInstance(name="", cell="", component="c", '
                       'placement=Placement(x=0, y=0, orientation=0, mirror=false))')
    assert PlacedInstance("k", "c", placement=None).placement == i.placement
    assert isinstance(i, NetlistInstance) and PlacedInstance.__mro__[1] is NetlistInstance


def test_placed_instance_all_arguments():
    p = Placement(1, 2, 90, True, BOX)
    i = PlacedInstance("k", "c", {"w": 1.0}, NetlistArray(2, 3), "u\"1", "C\n", p, info={"a": 1})
    assert (i.name, i.cell, i.settings, i.info, i.array) == ('u"1', "C\n", {"w": 1.0}, {"a": 1}, NetlistArray(2, 3))
    assert i.placement == p
    assert repr(i) == ('PlacedInstance(name="u\\"1", cell="C\\n", component="c", '
                       'placement=Placement(x=1, y=2, orientation=90, mirror=true))')
    assert PlacedInstance(kcl="k", component="c", settings={"w": 1.0}, array=NetlistArray(2, 3), name='u"1',
                          cell="C\n", placement=p, info={"a": 1}).to_dict() == i.to_dict()


@pytest.mark.parametrize(
    "kwargs, exc, text",
    [
        ({"name": None}, TypeError, "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
        ({"cell": None}, TypeError, "argument 'cell': 'NoneType' object cannot be converted to 'PyString'"),
        ({"placement": BOX}, TypeError, "argument 'placement': 'dict' object cannot be converted to 'Placement'"),
        ({"array": 1}, TypeError, "argument 'array': 'int' object cannot be converted to 'NetlistArray'"),
        ({"settings": object()}, ValueError, "from_dict: "),
        ({"info": [1]}, ValueError, "from_dict: "),
        # Conversion order: kcl, component, array, name, cell, placement, settings, info.
        ({"settings": object(), "placement": 1}, TypeError, "argument 'placement'"),
        ({"placement": 1, "cell": 1}, TypeError, "argument 'cell'"),
        ({"cell": 1, "name": 1}, TypeError, "argument 'name'"),
        ({"name": 1, "array": 1}, TypeError, "argument 'array'"),
        ({"settings": object(), "info": 5}, ValueError, "from_dict: unsupported type object"),
    ],
)
def test_placed_instance_constructor_errors(kwargs, exc, text):
    with pytest.raises(exc) as e:
        PlacedInstance("k", "c", **kwargs)
    assert type(e.value) is exc
    assert str(e.value).startswith(text)


def test_placed_instance_attributes_are_copies():
    p = Placement(1, 2, 0, False, BOX)
    i = PlacedInstance("k", "c", placement=p)
    p.x = 9  # the instance kept its own copy
    got = i.placement
    got.y = 7
    assert i.placement == Placement(1, 2, 0, False, BOX)
    i.placement = p
    p.x = 100
    assert i.placement.x == 9
    i.cell = "CELL"
    assert i.cell == "CELL"
    for name, value in [("cell", None), ("cell", 1), ("placement", None), ("placement", BOX)]:
        with pytest.raises(TypeError, match="argument 'value'"):
            setattr(i, name, value)
    for name in ("cell", "placement"):
        with pytest.raises(AttributeError, match="can't delete attribute"):
            delattr(i, name)
    assert i.cell == "CELL" and i.placement.x == 9


def test_placed_instance_inherits_base_attributes_and_normalize():
    i = PlacedInstance("k", "c", {"w": 2.0}, cell="C")
    i.name, i.kcl, i.array = "u1", "k2", NetlistArray(1, 2)
    i.normalize()
    assert (i.name, i.kcl, i.array, i.settings, i.cell) == ("u1", "k2", NetlistArray(1, 2), {"w": 2}, "C")


def test_placed_instance_compares_by_connectivity_only():
    a = PlacedInstance("k", "c", name="u", cell="A", placement=Placement(1, 0, 0, False, BOX))
    b = PlacedInstance("k", "c", name="u", cell="B")
    assert a == b and a <= b and not a < b
    assert a == NetlistInstance("k", "c", name="u") and NetlistInstance("k", "c", name="u") == a
    assert a != PlacedInstance("k", "c", name="v", cell="A")
    with pytest.raises(TypeError, match="unhashable"):
        hash(a)


def test_placed_instance_not_subclassable():
    with pytest.raises(TypeError):
        type("Sub", (PlacedInstance,), {})


def test_placed_instance_record():
    i = PlacedInstance("k", "c", name="n")
    d = i.to_dict()
    assert list(d) == ["kcl", "component", "settings", "cell", "placement"]
    full = PlacedInstance("k", "c", {"w": 1}, NetlistArray(2, 1), "u", "C", Placement(1, 2, 3, True, BOX), info={"i": 1})
    assert list(full.to_dict()) == ["info", "kcl", "component", "settings", "array", "cell", "placement"]
    assert full.to_json() == ('{"info":{"i":1},"kcl":"k","component":"c","settings":{"w":1},"array":{"na":2,"nb":1},'
                              '"cell":"C","placement":{"x":1.0,"y":2.0,"orientation":3.0,"mirror":true,'
                              '"bbox":{"left":0.0,"bottom":0.0,"right":1.0,"top":1.0}}}')
    for back in (PlacedInstance.from_dict(full.to_dict(), "u"), PlacedInstance.from_json(full.to_json(), name="u")):
        assert type(back) is PlacedInstance
        assert back == full and back.cell == "C" and back.placement == full.placement
    named = PlacedInstance.from_dict(d, name="x")
    assert named.name == "x" and named.to_dict() == d
    assert PlacedInstance.from_dict(d).name == ""


def test_placed_instance_record_defaults_and_errors():
    d = PlacedInstance("k", "c").to_dict()
    del d["cell"]
    assert PlacedInstance.from_dict(d).cell == ""
    del d["placement"]
    with pytest.raises(ValueError, match=r"^from_dict: missing field `placement`$"):
        PlacedInstance.from_dict(d)
    with pytest.raises(ValueError, match=r"^deserialize: invalid length 6, expected struct PlacedInstanceWire with 7 elements"):
        PlacedInstance.from_json('[{},"k","c"]')
    i = PlacedInstance.from_json('[{},"k","c",null,null,"C",[0,0,0,false,[0,0,0,0]]]')
    assert i.settings is None and i.cell == "C" and i.array is None
    with pytest.raises(TypeError, match="argument 'name'"):
        PlacedInstance.from_dict(PlacedInstance("k", "c").to_dict(), None)
    # Parameters are converted in order: a bad `data` is reported before a bad `name`.
    with pytest.raises(TypeError, match="^argument 'data': 'int' object cannot be converted to 'PyString'$"):
        PlacedInstance.from_json(5, 5)


def test_pydantic_hook():
    pytest.importorskip("pydantic")
    import pydantic

    class Model(pydantic.BaseModel):
        placement: Placement
        inst: PlacedInstance

    p = Placement(1, 2, 90, False, BOX)
    i = PlacedInstance("k", "c", cell="C", placement=p)
    m = Model(placement=p.to_dict(), inst=i)
    assert m.placement == p and m.inst is i
    assert m.model_dump() == {"placement": p.to_dict(), "inst": i.to_dict()}
    with pytest.raises(pydantic.ValidationError, match="Cannot convert list to Placement"):
        Model(placement=[], inst=i)
