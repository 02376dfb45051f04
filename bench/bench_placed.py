"""A placed netlist of 100,000 instances through Python: the four wire methods of PlacedNetlist
beside a pydantic 2 model of the same record, then the placed views (from_netlist, instances,
placements) on their own.

Run: python bench/bench_placed.py   (with vondrel and pydantic installed)
Exits 1 when a case misses its target: from_json, to_json and from_dict 2x faster than the
pydantic model; to_dict faster at all (both build the same Python objects).
"""

import json

import pydantic

from records import InstanceModel, Member, PortModel, Strict
from side_by_side import compare, report_ms, wire_cases
from vondrel import Netlist, PlacedNetlist

N_INSTANCES = 100_000


class BBoxModel(pydantic.BaseModel):  # other keys are skipped, as the record does
    left: float
    bottom: float
    right: float
    top: float


class PlacementModel(Strict):
    x: float
    y: float
    orientation: float
    mirror: bool
    bbox: BBoxModel


class PlacedInstanceModel(InstanceModel):
    cell: str = ""
    placement: PlacementModel


class PlacedNetlistModel(Strict):
    instances: dict[str, PlacedInstanceModel] = {}
    nets: list[list[Member]] = []
    ports: list[PortModel] = []


def record(n):
    """A row of inverters, each placed one pitch to the right of the last, every tenth turned
    and mirrored; nets chain them."""
    instances, nets = {}, []
    for i in range(n):
        name = f"u{i}"
        x = i * 2.5
        turned = i % 10 == 0
        instances[name] = {
            "info": {"vendor": "acme"}, "kcl": "lib", "component": "INV",
            "settings": {"l": 0.15, "layer": "M1", "w": 1.5}, "array": {"na": 1, "nb": 1},
            "cell": "INV_X1",
            "placement": {"x": x, "y": 0.0, "orientation": 90.0 if turned else 0.0, "mirror": turned,
                          "bbox": {"left": x, "bottom": 0.0, "right": x + 2.0, "top": 1.25}},
        }
        if i:
            nets.append([{"instance": f"u{i - 1}", "port": "Y"}, {"instance": name, "port": "A"}])
    return {"instances": instances, "nets": nets, "ports": [{"name": "in"}, {"name": "out"}]}


RECORD = record(N_INSTANCES)
TEXT, PLACED, CASES = wire_cases("placed", PlacedNetlist, PlacedNetlistModel, RECORD)


def report_views():
    netlist = Netlist.from_json(json.dumps({**RECORD, "instances": {
        name: {k: v for k, v in inst.items() if k not in ("cell", "placement")}
        for name, inst in RECORD["instances"].items()}}))
    placements = PLACED.placements
    cells = {name: "INV_X1" for name in placements}
    report_ms("placed views", 40, [
        ("from_netlist(netlist, placements, cells)", lambda: PlacedNetlist.from_netlist(netlist, placements, cells)),
        ("instances", lambda: PLACED.instances),
        ("placements", lambda: PLACED.placements),
    ])


if __name__ == "__main__":
    print(f"{N_INSTANCES} placed instances, {len(RECORD['nets'])} nets, {len(TEXT) / 1e6:.1f} MB of JSON; "
          f"times per call")
    try:
        compare(CASES, number=1, repeat=5)
    finally:
        report_views()
