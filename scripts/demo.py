"""A short tour of vondrel: port classes (build, compare, print, round-trip), then a netlist
(build, connect, to_json, normalize), then the same netlist placed."""

from vondrel import Netlist, NetlistPort, PlacedNetlist, Placement, PortArrayRef, PortRef

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
text = arr.to_json()
print("to_json:", text, "->", PortArrayRef.from_json(text))

# A netlist: two inverters in a chain between the cell's ports.
chain = Netlist()
for name in ("u2", "u1"):
    chain.create_inst(name, "lib", "INV", {"w": 1.0, "l": 0.15})
for port in ("in", "out"):
    chain.create_port(port)
chain.create_net(NetlistPort("in"), PortRef("u1", "A"))
chain.create_net(PortRef("u1", "Y"), PortRef("u2", "A2"))  # A2: the second input pin of INV
chain.create_net(PortRef("u2", "Y"), NetlistPort("out"))
print("\n", chain, sep="")
print("to_json:", chain.to_json())
print("opens:", chain.detect_opens())

# normalize: whole-number floats become integers, everything sorted; with the cell's name and
# its equivalent ports, A2 collapses onto A.
canon = chain.normalize("CHAIN", {"INV": [["A", "A2"]]})
print("normalized:", canon.to_json())
print("same as read back:", Netlist.from_json(canon.to_json()) == canon)
print("missing against the original:", chain.find_net_difference(canon)["missing"])

# Placed: the chain with a placed cell and a placement per instance; the geometry lives beside
# the connectivity, which alone decides equality.
box = {"left": 0, "bottom": 0, "right": 2, "top": 1}
placed = PlacedNetlist.from_netlist(chain, {"u1": Placement(0, 0, 0, False, box)}, {"u1": "INV_X1"})
placed.create_inst("u3", "lib", "INV", cell="INV_X1", placement=Placement(4, 0, 90, True, box))
print("\n", placed, sep="")
for name, inst in placed.instances.items():
    print(f"  {name}: {inst!r}")
print("placements:", placed.placements)
print("a placed copy equals the plain chain:", PlacedNetlist.from_netlist(chain) == chain)
print("u3 record:", placed.to_dict()["instances"]["u3"])

# Flatten: inline each instance of INV by INV's own netlist; the inverter's transistors take
# the instance's name as a prefix and the nets are rewired through the cell's ports.
inv = Netlist()
for pin in ("A", "Y"):
    inv.create_port(pin)
inv.create_inst("mp", "lib", "PMOS")
inv.create_inst("mn", "lib", "NMOS")
inv.create_net(NetlistPort("A"), PortRef("mp", "G"), PortRef("mn", "G"))
inv.create_net(NetlistPort("Y"), PortRef("mp", "D"), PortRef("mn", "D"))
flat = canon.flatten({"INV": inv}, instance_cell_map={"u1": "INV", "u2": "INV"})
print("\nflattened:", flat)
for net in flat.nets:
    print("  ", net)
