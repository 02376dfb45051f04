"""Import smoke test for one interpreter: the abi3 module loads, registers its classes and
round-trips a few values."""

import sys

import vondrel
from vondrel import _native

assert _native.__doc__ == "", _native.__doc__
assert list(_native.__all__[:3]) == ["NetlistPort", "PortRef", "PortArrayRef"], _native.__all__
for name in _native.__all__:
    cls = getattr(_native, name)
    assert cls.__module__ == "vondrel._native", (name, cls.__module__)
    assert getattr(vondrel, name) is cls

ref = vondrel.PortArrayRef("u1", "o1", 2, 3)
assert isinstance(ref, vondrel.PortRef)
assert str(ref) == "u1['o1', 2, 3]"
assert vondrel.PortArrayRef.from_dict(ref.to_dict()) == ref
assert vondrel.PortArrayRef.from_json(ref.to_json()) == ref
assert vondrel.NetlistPort("a") < vondrel.PortRef("a", "a") < ref
# SipHash-1-3, keys zero, over b"u1\xffa\xff": the same on every interpreter.
assert hash(vondrel.PortRef("u1", "a")) == 2925038748092194902

print("smoke ok on Python %d.%d" % sys.version_info[:2])
