"""Every method of the port classes, repeated, errors included: Python memory stays flat."""

import gc
import sys
import tracemalloc

import pytest

from vondrel import NetlistPort, PortArrayRef, PortRef

P = NetlistPort("a")
R = PortRef("u", "p")
A = PortArrayRef("u", "p", 1, 2)
R_DICT = {"instance": "u", "port": "p"}
A_DICT = {"instance": "u", "port": "p", "ia": 1, "ib": 2}
A_JSON = A.to_json()


class SubRef(PortRef):
    pass


def attempts(*expected):
    """attempt(fn, *args, **kwargs): a call of fn with those arguments that may fail with one of
    the `expected` exceptions (the failure is what is repeated)."""

    def attempt(fn, *args, **kwargs):
        def run():
            try:
                fn(*args, **kwargs)
            except expected:
                pass

        return run

    return attempt


attempt = attempts(TypeError, ValueError, OverflowError, AttributeError, KeyError)


def set_attr(obj, name, value):
    setattr(obj, name, value)


OPERATIONS = {
    "NetlistPort()": attempt(NetlistPort, "name"),
    "PortRef()": attempt(PortRef, "u", port="p"),
    "PortArrayRef()": attempt(PortArrayRef, "u", "p", 3, True),
    "SubRef()": attempt(SubRef, "u", "p"),
    "ctor missing": attempt(PortArrayRef, "u"),
    "ctor unknown kw": attempt(PortRef, "u", "p", x=1),
    "ctor bad str": attempt(NetlistPort, 5),
    "ctor overflow": attempt(PortArrayRef, "u", "p", 2**63, 0),
    "ctor bad int": attempt(PortArrayRef, "u", "p", "1", 0),
    "getters": attempt(lambda: (P.name, R.instance, R.port, R.name, A.instance, A.ia, A.ib)),
    "setters": attempt(lambda: (set_attr(P, "name", "b"), set_attr(R, "port", "q"), set_attr(A, "ib", 4))),
    "setter bad": attempt(set_attr, R, "instance", 1),
    "setter delete": attempt(delattr, A, "ia"),
    "setter read-only": attempt(set_attr, A, "name", "x"),
    "hash": attempt(lambda: (hash(P), hash(R), hash(A))),
    "repr/str": attempt(lambda: (repr(P), repr(R), repr(A), str(P), str(R), str(A))),
    "as_python_str": attempt(lambda: (R.as_python_str(), A.as_python_str("x"))),
    "as_python_str bad": attempt(R.as_python_str, 1),
    "compare": attempt(lambda: (P < R, R == A, A >= A, R != 1, sorted([A, R, P]))),
    "compare unordered": attempt(lambda: R < 1),
    "to_dict": attempt(lambda: (P.to_dict(), R.to_dict(), A.to_dict())),
    "to_dict bad args": attempt(R.to_dict, 1),
    "from_dict": attempt(lambda: (PortRef.from_dict(R_DICT), PortArrayRef.from_dict(A_DICT), SubRef.from_dict(R_DICT))),
    "from_dict missing": attempt(PortArrayRef.from_dict, R_DICT),
    "from_dict bad key": attempt(NetlistPort.from_dict, {"name": "a", 1: 2}),
    "from_dict bad int": attempt(PortArrayRef.from_dict, {**A_DICT, "ia": 1.5}),
    "from_dict not a map": attempt(PortRef.from_dict, ["u", "p"]),
    "to_json": attempt(lambda: (P.to_json(), R.to_json(), A.to_json())),
    "from_json": attempt(lambda: (PortArrayRef.from_json(A_JSON), NetlistPort.from_json('["a"]'))),
    "from_json bad text": attempt(PortRef.from_json, '{"instance":"u"}'),
    "from_json not str": attempt(PortRef.from_json, b"{}"),
}


def block_growth(fn, n):
    """Blocks the interpreter's allocator holds after n more calls (cheap to count)."""
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(n):
        fn()
    gc.collect()
    return sys.getallocatedblocks() - before


def traced_growth(fn, n):
    """Bytes tracemalloc sees allocated and not freed over n calls."""
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(n):
            fn()
        gc.collect()
        return tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()


def check_flat(fn, n, warm_up=200, stray_blocks=100):
    for _ in range(warm_up):
        fn()
    # One leaked object per call would be n blocks / megabytes; a few stray blocks are the
    # interpreter's own caches.
    assert block_growth(fn, n) < stray_blocks
    assert traced_growth(fn, n // 10) < 32 * 1024


@pytest.mark.parametrize("name", list(OPERATIONS))
def test_no_growth(name):
    check_flat(OPERATIONS[name], 100_000)


def test_pydantic_hook_no_growth():
    pytest.importorskip("pydantic_core")
    # Compiles and evaluates its source on every call: fewer repetitions, and room for the
    # interpreter's own caches that this churns (a leak would be one block per call or more).
    check_flat(attempt(PortRef.__get_pydantic_core_schema__, None, None), 4_000, warm_up=2_000, stray_blocks=1_000)


def test_objects_release_their_class():
    class Sub(PortRef):
        pass

    before = [sys.getrefcount(c) for c in (Sub, PortRef, PortArrayRef)]
    for _ in range(1000):
        s = Sub("a", "b")
        s.extra = 1  # a Python subclass has its own __dict__
        a = PortArrayRef.from_dict(PortArrayRef("a", "b", 1, 2).to_dict())
        del s, a
    gc.collect()
    assert [sys.getrefcount(c) for c in (Sub, PortRef, PortArrayRef)] == before
