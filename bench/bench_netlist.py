"""A netlist of 100,000 instances through Python: the four wire methods of Netlist beside a
pydantic 2 model of the same record, then normalize on its own (pydantic has nothing like it).

Run: python bench/bench_netlist.py   (with vondrel and pydantic installed)
Exits 1 when a case misses its target: from_json, to_json and from_dict 2x faster than the
pydantic model; to_dict faster at all (both build the same two million Python objects, and
allocating and filling them is most of the time on either side).
"""

from records import InstanceModel, Member, PortModel, Strict
from side_by_side import compare, report_ms, wire_cases
from vondrel import Netlist

N_INSTANCES = 100_000


class NetlistModel(Strict):
    instances: dict[str, InstanceModel] = {}
    nets: list[list[Member]] = []
    ports: list[PortModel] = []


def record(n):
    """Inverters in a chain with a bank of arrays on the side; settings keys sorted, as both
    write them then. Every fourth instance holds whole-number floats for normalize."""
    instances, nets = {}, []
    for i in range(n):
        name = f"u{i}"
        if i % 10 == 0:
            instances[name] = {"info": {"rev": 2}, "kcl": "lib", "component": "BANK",
                               "settings": {"bits": 8, "pitch": 0.5}, "array": {"na": 4, "nb": 2}}
        else:
            w = 2.0 if i % 4 == 0 else 1.5
            instances[name] = {"info": {"vendor": "acme"}, "kcl": "lib", "component": "INV",
                               "settings": {"l": 0.15, "layer": "M1", "w": w}, "array": {"na": 1, "nb": 1}}
        if i:
            prev = f"u{i - 1}"
            nets.append([{"instance": prev, "port": "Y"}, {"instance": name, "port": "A"}])
        if i % 10 == 0:
            nets.append([{"instance": name, "port": "D", "ia": 2, "ib": 1}, {"name": f"p{i // 10}"}])
    ports = [{"name": f"p{i}"} for i in range(n // 10)]
    return {"instances": instances, "nets": nets, "ports": ports}


RECORD = record(N_INSTANCES)
TEXT, NETLIST, CASES = wire_cases("netlist", Netlist, NetlistModel, RECORD)

EQUIVALENT = {"INV": [["A", "A2"]], "BANK": [["D", "D0"]]}


def report_normalize():
    report_ms("normalize", 32, [
        ("normalize()", NETLIST.normalize),
        ("normalize('TOP', equivalent)", lambda: NETLIST.normalize("TOP", EQUIVALENT)),
    ])


if __name__ == "__main__":
    print(f"{N_INSTANCES} instances, {len(RECORD['nets'])} nets, {len(RECORD['ports'])} ports, "
          f"{len(TEXT) / 1e6:.1f} MB of JSON; times per call")
    try:
        compare(CASES, number=1, repeat=5)
    finally:
        report_normalize()
