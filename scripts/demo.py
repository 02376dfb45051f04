"""A short tour of vondrel's port classes: build, compare, print and round-trip."""

from vondrel import NetlistPort, PortArrayRef, PortRef

pin = NetlistPort("clk")
ref = PortRef("u1", "o1")
arr = PortArrayRef("bank", "d", 2, 3)

for obj in (pin, ref, arr):
    print(f"{obj!r:55} str: {obj}")

print("sorted by kind, then fields:", sorted([arr, ref, pin]))
print("as_python_str:", ref.as_python_str("cell.insts['u1']"))
print("stable hash of", ref, "=", hash(ref))

d = arr.to_dict()
print("to_dict:", d, "->", PortArrayRef.from_dict(d))
if hasattr(arr, "to_json"):
    text = arr.to_json()
    print("to_json:", text, "->", PortArrayRef.from_json(text))
