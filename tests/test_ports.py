import subprocess
import sys

import pytest

from vondrel import NetlistPort, PortArrayRef, PortRef


class SubRef(PortRef):
    pass


def test_cross_kind_order():
    assert NetlistPort("z") < PortRef("a", "a") < PortArrayRef("a", "a", 1, 1)
    assert PortRef("b", "a") > NetlistPort("z")
    assert PortArrayRef("", "", -5, -5) >= PortRef("zz", "zz")
    assert (NetlistPort("a") == PortRef("a", "a")) is False
    assert (NetlistPort("a") != PortRef("a", "a")) is True
    assert (PortRef("a", "a") == PortArrayRef("a", "a", 1, 1)) is False


@pytest.mark.parametrize(
    "low, high",
    [
        (PortArrayRef("a", "p", 1, 9), PortArrayRef("a", "p", 2, 1)),
        (PortArrayRef("a", "p", -1, 0), PortArrayRef("a", "p", 0, 0)),
        (PortArrayRef("a", "p", 0, -(2**63)), PortArrayRef("a", "p", 0, 2**63 - 1)),
        (PortRef("a", "p"), PortRef("ab", "a")),
        (PortRef("a", "z"), PortRef("b", "a")),
        (NetlistPort("Z"), NetlistPort("a")),
        (NetlistPort("z"), NetlistPort("é")),
        (NetlistPort(""), NetlistPort("\x00")),
    ],
)
def test_same_kind_order(low, high):
    assert low < high and low <= high and high > low and high >= low
    assert low != high and not (low == high)
    assert not (high < low) and not (low > high)


def test_order_agrees_with_sorting_and_equality():
    items = [PortArrayRef("a", "b", 2, 1), NetlistPort("b"), PortRef("a", "c"), NetlistPort("a"), PortRef("a", "b")]
    assert [repr(x) for x in sorted(items)] == [
        "NetlistPort(name='a')",
        "NetlistPort(name='b')",
        "PortRef(instance='a', port='b')",
        "PortRef(instance='a', port='c')",
        "PortArrayRef(instance='a', port='b', ia=2, ib=1)",
    ]
    assert PortRef("a", "b") == PortRef("a", "b") <= PortRef("a", "b") >= PortRef("a", "b")


def test_other_objects_are_not_comparable():
    assert PortRef("a", "b").__eq__(("a", "b")) is NotImplemented
    assert PortRef("a", "b") != ("a", "b")
    with pytest.raises(TypeError):
        PortRef("a", "b") < 1


def test_hash_is_siphash13_with_zero_keys():
    # PYTHONHASHSEED=0 makes CPython hash bytes with SipHash-1-3 and both keys zero: an
    # independent computation of the same digest over the same feed.
    feeds = {
        "NetlistPort('a')": b"a\xff",
        "PortRef('u1', 'a')": b"u1\xffa\xff",
        "PortArrayRef('u', 'o', 1, -2)": b"u\xffo\xff" + (1).to_bytes(8, "little") + (-2).to_bytes(8, "little", signed=True),
    }
    code = "import sys\nfor f in sys.argv[1:]: print(hash(bytes.fromhex(f)))"
    out = subprocess.run(
        [sys.executable, "-c", code, *[f.hex() for f in feeds.values()]],
        capture_output=True, text=True, env={"PYTHONHASHSEED": "0"}, check=True,
    ).stdout.split()
    for (expr, _), digest in zip(feeds.items(), out):
        assert hash(eval(expr)) == int(digest), expr


def test_hash_equal_across_runs_and_objects(python_run):
    code = "from vondrel import PortRef, NetlistPort; print(hash(PortRef('a', 'b')), hash(NetlistPort('ab')))"
    assert python_run(code) == python_run(code)
    assert hash(PortRef("a", "b")) == hash(PortRef.from_dict({"instance": "a", "port": "b"}))
    assert hash(SubRef("a", "b")) == hash(PortRef("a", "b"))
    assert hash(NetlistPort("a")) != hash(PortRef("a", ""))


@pytest.mark.parametrize(
    "obj, text_repr, text_str",
    [
        (NetlistPort("a"), "NetlistPort(name='a')", "NetlistPort(name='a')"),
        (NetlistPort(""), "NetlistPort(name='')", "NetlistPort(name='')"),
        (PortRef("u1", "a"), "PortRef(instance='u1', port='a')", "u1['a']"),
        (PortRef("u'1", "it's"), "PortRef(instance=\"u'1\", port=\"it's\")", "u'1[\"it's\"]"),
        (PortArrayRef("arr", "o1", 2, 3), "PortArrayRef(instance='arr', port='o1', ia=2, ib=3)", "arr['o1', 2, 3]"),
        (PortArrayRef("a", "o", -1, -20), "PortArrayRef(instance='a', port='o', ia=-1, ib=-20)", "a['o', -1, -20]"),
        (SubRef("u1", "a"), "PortRef(instance='u1', port='a')", "u1['a']"),
    ],
)
def test_text_forms(obj, text_repr, text_str):
    assert repr(obj) == text_repr
    assert str(obj) == text_str


def test_as_python_str():
    assert PortRef("u1", "o1").as_python_str("c.insts['u1']") == "c.insts['u1']['o1']"
    assert PortRef("u1", "a").as_python_str(None) == str(PortRef("u1", "a"))
    assert PortRef("u1", "a").as_python_str(inst_name="x") == "x['a']"
    assert PortArrayRef("arr", "o1", 2, 3).as_python_str("i") == "i['o1', 2, 3]"


def test_array_ref_layers():
    r = PortArrayRef("u", "o", 1, 2)
    assert isinstance(r, PortRef) and r.name == "o"
    r.port = "q"
    assert r.name == "q"
    with pytest.raises(AttributeError):
        r.name = "x"
    PortRef.port.__set__(r, "z")
    assert repr(r) == "PortArrayRef(instance='u', port='z', ia=1, ib=2)"


def test_dict_round_trip_and_defining_class():
    for obj in (NetlistPort("n"), PortRef("u", "p"), PortArrayRef("u", "p", -3, 4)):
        d = obj.to_dict()
        assert type(d) is dict
        back = type(obj).from_dict(d)
        assert type(back) is type(obj) and back == obj
    assert list(PortArrayRef("u", "p", 1, 2).to_dict()) == ["instance", "port", "ia", "ib"]
    assert type(SubRef.from_dict({"instance": "u", "port": "p"})) is PortRef
    got = PortArrayRef.from_dict({"instance": "u", "port": "o", "ia": 1, "ib": 2})
    assert type(got) is PortArrayRef and isinstance(got, PortRef)


@pytest.mark.parametrize(
    "cls, obj, message",
    [
        (NetlistPort, [], "unexpected type: 'list' object cannot be converted to 'Mapping'"),
        (NetlistPort, {}, "missing field `name`"),
        (NetlistPort, {"nme": "a"}, "unknown field `nme`, expected `name`"),
        (NetlistPort, {"name": "a", 1: "b"}, "dict keys must have type str"),
        (NetlistPort, {"name": 1}, "unexpected type: 'int' object cannot be converted to 'PyString'"),
        (PortRef, {"instance": "u"}, "missing field `port`"),
        (PortRef, {"instance": "u", "port": "p", "x": 1}, "unknown field `x`, expected `instance` or `port`"),
        (
            PortArrayRef,
            {"instance": "u", "port": "p", "ia": 1, "ib": 1, "ic": 1},
            "unknown field `ic`, expected one of `instance`, `port`, `ia`, `ib`",
        ),
        (
            PortArrayRef,
            {"instance": "u", "port": "p", "ia": 1.5, "ib": 1},
            "TypeError: 'float' object cannot be interpreted as an integer",
        ),
        (
            PortArrayRef,
            {"instance": "u", "port": "p", "ia": 2**63, "ib": 1},
            "OverflowError: Python int too large to convert to C long",
        ),
    ],
)
def test_from_dict_errors(cls, obj, message):
    with pytest.raises(ValueError) as info:
        cls.from_dict(obj)
    assert str(info.value) == "from_dict: " + message


def test_from_dict_integer_conversion_and_mappings():
    from conftest import DictMapping as M

    assert PortArrayRef.from_dict({"instance": "u", "port": "p", "ia": True, "ib": 2}).ia == 1
    assert PortRef.from_dict(M({"instance": "u", "port": "p"})) == PortRef("u", "p")

    class Broken(M):
        def keys(self):
            raise RuntimeError("boom")

    with pytest.raises(ValueError, match="^from_dict: RuntimeError: boom$"):
        PortRef.from_dict(Broken({}))


def test_pydantic_hook_with_a_model():
    pydantic = pytest.importorskip("pydantic")

    class Model(pydantic.BaseModel):
        ref: PortRef
        port: NetlistPort
        arr: PortArrayRef

    arr = PortArrayRef("a", "o", 1, 2)
    m = Model(ref={"instance": "u", "port": "p"}, port=NetlistPort("n"), arr=arr)
    assert m.ref == PortRef("u", "p") and type(m.ref) is PortRef
    assert m.arr is arr
    assert m.model_dump() == {
        "ref": {"instance": "u", "port": "p"},
        "port": {"name": "n"},
        "arr": {"instance": "a", "port": "o", "ia": 1, "ib": 2},
    }
    with pytest.raises(pydantic.ValidationError, match="Cannot convert list to PortRef"):
        Model(ref=["u", "p"], port=NetlistPort("n"), arr=arr)
    # Array references are PortRefs and pass through a PortRef field unchanged.
    assert Model(ref=arr, port=NetlistPort("n"), arr=arr).ref is arr
    assert PortRef.__get_pydantic_core_schema__(None, None) is not None


def test_json_round_trip_and_defining_class():
    cases = [
        (NetlistPort("n"), '{"name":"n"}'),
        (PortRef("u", "p"), '{"instance":"u","port":"p"}'),
        (PortArrayRef("u", "p", -3, 4), '{"instance":"u","port":"p","ia":-3,"ib":4}'),
        (NetlistPort('t\t"é'), '{"name":"t\\t\\"é"}'),
    ]
    for obj, text in cases:
        assert obj.to_json() == text
        back = type(obj).from_json(text)
        assert type(back) is type(obj) and back == obj and hash(back) == hash(obj)
    assert NetlistPort.from_json(' ["a"]\n') == NetlistPort("a")
    assert type(SubRef.from_json('["u", "p"]')) is PortRef
    assert PortArrayRef.from_json('{"instance":"u","port":"a","ia":1,"ib":1}') == PortArrayRef("u", "a", 1, 1)


@pytest.mark.parametrize(
    "cls, text, message",
    [
        (NetlistPort, "[]", "invalid length 0, expected struct NetlistPort with 1 element at line 1 column 2"),
        (NetlistPort, "{}", "missing field `name` at line 1 column 2"),
        (NetlistPort, '{"nme":"a"}', "unknown field `nme`, expected `name` at line 1 column 6"),
        (NetlistPort, '["a","b"]', "trailing characters at line 1 column 6"),
        (NetlistPort, '{"name":"a"} x', "trailing characters at line 1 column 14"),
        (PortArrayRef, '["u","p",1.0,1]', "invalid type: floating point `1.0`, expected i64 at line 1 column "),
    ],
)
def test_from_json_errors(cls, text, message):
    with pytest.raises(ValueError) as info:
        cls.from_json(text)
    text = str(info.value)
    assert text == "deserialize: " + message or (message.endswith(" ") and text.startswith("deserialize: " + message))


def test_from_json_needs_a_str():
    with pytest.raises(TypeError, match=r"^argument 'data': 'bytes' object cannot be converted to 'PyString'$"):
        PortRef.from_json(b'["u","p"]')
