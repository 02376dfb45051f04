"""Argument binding and conversion messages, attribute rules and the borrow-free helpers,
exercised through the port classes."""

import re

import pytest

from vondrel import Netlist, NetlistPort, PortArrayRef, PortRef

R = PortRef("u1", "a")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: PortRef(), "PortRef.__new__() missing 2 required positional arguments: 'instance' and 'port'"),
        (lambda: PortRef("u"), "PortRef.__new__() missing 1 required positional argument: 'port'"),
        (
            lambda: PortArrayRef("u"),
            "PortArrayRef.__new__() missing 3 required positional arguments: 'port', 'ia', and 'ib'",
        ),
        (lambda: PortArrayRef(port="p", ib=1), "PortArrayRef.__new__() missing 2 required positional arguments: 'instance' and 'ia'"),
        (lambda: NetlistPort("a", "b"), "NetlistPort.__new__() takes 1 positional arguments but 2 were given"),
        (lambda: R.to_dict(1), "PortRef.to_dict() takes 0 positional arguments but 1 was given"),
        (lambda: R.to_dict(x=1), "PortRef.to_dict() got an unexpected keyword argument 'x'"),
        (
            lambda: R.as_python_str("a", "b"),
            "PortRef.as_python_str() takes from 0 to 1 positional arguments but 2 were given",
        ),
        (lambda: NetlistPort(name="a", nam="b"), "NetlistPort.__new__() got an unexpected keyword argument 'nam'"),
        (lambda: PortRef("a", instance="b"), "PortRef.__new__() got multiple values for argument 'instance'"),
        (lambda: PortRef.from_dict(), "PortRef.from_dict() missing 1 required positional argument: 'obj'"),
        (
            lambda: PortRef.__get_pydantic_core_schema__(None),
            "PortRef.__get_pydantic_core_schema__() missing 1 required positional argument: '_handler'",
        ),
        (lambda: NetlistPort(5), "argument 'name': 'int' object cannot be converted to 'PyString'"),
        (lambda: PortRef("u", b"p"), "argument 'port': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: R.as_python_str(3), "argument 'inst_name': 'int' object cannot be converted to 'PyString'"),
        (lambda: PortArrayRef("u", "o", 1.5, 0), "argument 'ia': 'float' object cannot be interpreted as an integer"),
        (lambda: PortArrayRef("u", "o", 0, "1"), "argument 'ib': 'str' object cannot be interpreted as an integer"),
    ],
)
def test_type_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


NETLIST_KEYS = "expected one of `instances`, `nets`, `ports`"


@pytest.mark.parametrize(
    "call, kind, message",
    [
        (lambda: Netlist.from_json('{"instances":{},"x\\u0000y":1}'), ValueError,
         f"deserialize: unknown field `x\0y`, {NETLIST_KEYS} at line 1 column 26"),
        (lambda: Netlist.from_dict({"x\0y": 1}), ValueError, f"from_dict: unknown field `x\0y`, {NETLIST_KEYS}"),
        (lambda: Netlist().create_net(NetlistPort("a\0b")), ValueError, "Undefined netlist port a\0b"),
        (lambda: NetlistPort(**{"n\0": "a"}), TypeError, "NetlistPort.__new__() got an unexpected keyword argument 'n\0'"),
    ],
)
def test_messages_keep_every_character(call, kind, message):
    with pytest.raises(kind) as info:
        call()
    assert str(info.value) == message


def test_integer_arguments():
    class Index:
        def __index__(self):
            return 7

    r = PortArrayRef("u", "o", True, Index())
    assert (r.ia, r.ib) == (1, 7)
    assert PortArrayRef("u", "o", -(2**63), 2**63 - 1).ia == -(2**63)
    with pytest.raises(OverflowError):
        PortArrayRef("u", "o", 2**63, 0)
    with pytest.raises(OverflowError):
        r.ib = -(2**63) - 1
    assert (r.ia, r.ib) == (1, 7)


def test_str_subclass_and_surrogates():
    class S(str):
        pass

    assert NetlistPort(S("x")).name == "x"
    with pytest.raises(UnicodeEncodeError):
        NetlistPort("\ud800")


def test_setters_and_attributes():
    r = PortArrayRef("u", "o", 1, 2)
    r.port = "p"
    r.instance = "v"
    r.ia = 5
    assert (r.instance, r.port, r.name, r.ia, r.ib) == ("v", "p", "p", 5, 2)
    with pytest.raises(TypeError, match=re.escape("argument 'value': 'int' object cannot be converted to 'PyString'")):
        r.port = 5
    with pytest.raises(TypeError, match="^argument 'ia': "):
        r.ia = "3"
    for attr in ("instance", "port", "ia", "ib"):
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            delattr(r, attr)
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        del NetlistPort("a").name
    with pytest.raises(AttributeError):
        r.name = "x"
    with pytest.raises(AttributeError):
        r.other = 1
    assert not hasattr(r, "__dict__")
    assert (r.instance, r.port, r.ia, r.ib) == ("v", "p", 5, 2)


def test_getters_hand_out_new_objects():
    p = NetlistPort("abc")
    n = p.name
    p.name = "xyz"
    assert n == "abc"


@pytest.mark.parametrize(
    "text, literal",
    [
        ("", "''"),
        ("a'b", '"a\'b"'),
        ("a'b\"c", "'a\\'b\"c'"),
        ('say "hi"', "'say \"hi\"'"),
        ("\t\n\r\x01\x1f", "'\\t\\n\\r\\x01\\x1f'"),
        ("back\\slash", "'back\\\\slash'"),
        ("\x7fé€😀", "'\x7fé€😀'"),
    ],
)
def test_python_literals(text, literal):
    assert repr(NetlistPort(text)) == f"NetlistPort(name={literal})"
