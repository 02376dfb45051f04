import sys

import pytest

import vondrel
from vondrel import _native

ALL = [
    "NetlistPort", "PortRef", "PortArrayRef", "NetlistArray", "NetlistInstance", "Net", "NetIter",
    "Netlist", "Placement", "PlacedInstance", "PlacedNetlist",
]


def test_module_attributes():
    assert _native.__doc__ == ""
    names = list(_native.__all__)
    # Registration order, with every class registered so far.
    assert names == [n for n in ALL if n in names]
    assert {"NetlistPort", "PortRef", "PortArrayRef"} <= set(names)
    public = {k for k in vars(_native) if not k.startswith("__")}
    assert public == set(names)
    for name in names:
        cls = getattr(_native, name)
        assert isinstance(cls, type)
        assert cls.__module__ == "vondrel._native"
        assert cls.__name__ == cls.__qualname__ == name


def test_one_module_object_per_process():
    mod = sys.modules["vondrel._native"]
    port = mod.NetlistPort
    del sys.modules["vondrel._native"]
    try:
        import vondrel._native as again
        assert again is mod
        assert again.NetlistPort is port
    finally:
        sys.modules["vondrel._native"] = mod


def test_second_interpreter_cannot_import(python_run):
    code = (
        "import vondrel._native\n"
        "import _xxsubinterpreters as s\n"
        "i = s.create()\n"
        "try:\n"
        "    s.run_string(i, 'import vondrel._native')\n"
        "except Exception as e:\n"
        "    print(type(e).__name__, e)\n"
    )
    try:
        import _xxsubinterpreters  # noqa: F401
    except ImportError:
        pytest.skip("no sub-interpreter support in this interpreter")
    out = python_run(code)
    # Python 3.12+ refuses a single-phase module in a sub-interpreter before our check runs.
    assert "ImportError" in out and ("sub-interpreters" in out or "subinterpreters" in out)


def test_mro_and_subclassing():
    assert _native.PortArrayRef.__mro__ == (_native.PortArrayRef, _native.PortRef, object)

    class Sub(_native.PortRef):
        pass

    assert isinstance(Sub("a", "b"), Sub)
    for name in ("NetlistPort", "PortArrayRef"):
        with pytest.raises(TypeError):
            type("X", (getattr(_native, name),), {})


@pytest.mark.parametrize(
    "cls, sig, doc",
    [
        (_native.NetlistPort, "(name)", "Cell-level port of a netlist (top-level pin)."),
        (
            _native.PortRef,
            "(instance, port)",
            "Reference to a port on an instance.\n\n"
            "`PortArrayRef` extends this class, so `isinstance(x, PortRef)` is true\n"
            "for both plain and array references.",
        ),
        (
            _native.PortArrayRef,
            "(instance, port, ia, ib)",
            "Reference to a port on an array instance.\n\n"
            "Subclass of [`PortRef`]. The `instance` and `port` fields live on the\n"
            "parent layer; only the array indices are stored on the child.",
        ),
    ],
)
def test_class_docs(cls, sig, doc):
    assert cls.__text_signature__ == sig
    assert cls.__doc__ == doc


def test_method_signatures():
    assert _native.PortRef.as_python_str.__text_signature__ == "($self, inst_name=None)"
    assert _native.PortRef.to_dict.__text_signature__ == "($self)"
    assert _native.PortRef.from_dict.__text_signature__ == "($cls, obj)"
    assert _native.NetlistPort.__get_pydantic_core_schema__.__text_signature__ == "($cls, _source_type, _handler)"
    assert _native.PortRef.name.__doc__ == (
        "Alias for `port`, preserving the historical `.name` accessor from\n"
        "the pre-spinout pydantic `PortRef`. Inherited by `PortArrayRef`."
    )
    # Attributes without documentation carry the empty docstring, in every class.
    for attr in (_native.NetlistPort.name, _native.PortRef.instance, _native.PortRef.port,
                 _native.PortArrayRef.ia, _native.PortArrayRef.ib, _native.NetlistArray.na,
                 _native.NetlistInstance.kcl, _native.NetlistInstance.settings, _native.Placement.x,
                 _native.PlacedInstance.cell, _native.PlacedInstance.placement):
        assert attr.__doc__ == ""


def test_package_reexports():
    for name in _native.__all__:
        assert getattr(vondrel, name) is getattr(_native, name)
