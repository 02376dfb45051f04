"""NetlistInstance and Net against pydantic 2 models of the same records, side by side.

Run: python bench/bench_classes.py   (with vondrel and pydantic installed)
Exits 1 when a case misses its target (instance wire methods: 2x faster than pydantic; net
construction and hash: faster than a frozen model holding a tuple of six port models).
"""

from typing import Any, Optional, Union

import pydantic

from side_by_side import compare
from vondrel import Net, NetlistArray, NetlistInstance, NetlistPort, PortArrayRef, PortRef


class ArrayModel(pydantic.BaseModel):
    na: int
    nb: int


class InstanceModel(pydantic.BaseModel):
    info: dict[str, Any] = {}
    kcl: str
    component: str
    settings: Any = None
    array: Optional[ArrayModel] = None


class PortModel(pydantic.BaseModel, frozen=True):
    name: str


class RefModel(pydantic.BaseModel, frozen=True):
    instance: str
    port: str


class ArrayRefModel(pydantic.BaseModel, frozen=True):
    instance: str
    port: str
    ia: int
    ib: int


class NetModel(pydantic.BaseModel, frozen=True):
    members: tuple[Union[PortModel, RefModel, ArrayRefModel], ...]


# Keys in sorted order, as both write them then.
SETTINGS = {"enabled": True, "fingers": 4, "layer": "M1", "length": 10, "offsets": [0.1, 0.2], "width": 0.5}
INFO = {"revision": 2, "vendor": "acme"}

INST = NetlistInstance("lib", "nmos", SETTINGS, info=INFO, name="u1")
INST_MODEL = InstanceModel(kcl="lib", component="nmos", settings=SETTINGS, info=INFO)
INST_DICT = INST.to_dict()
INST_JSON = INST.to_json()
assert INST_JSON == INST_MODEL.model_dump_json(exclude_none=True)

PORTS = [PortRef("u3", "g"), NetlistPort("vdd"), PortArrayRef("arr", "d", 1, 2), PortRef("u1", "s"),
         NetlistPort("out"), PortRef("u2", "d")]
PORT_MODELS = tuple(
    PortModel(name=p.name) if isinstance(p, NetlistPort)
    else ArrayRefModel(instance=p.instance, port=p.port, ia=p.ia, ib=p.ib) if isinstance(p, PortArrayRef)
    else RefModel(instance=p.instance, port=p.port)
    for p in PORTS
)
NET = Net(PORTS)
NET_MODEL = NetModel(members=PORT_MODELS)

# (name, ours, theirs, required speed-up)
CASES = [
    ("instance from_json", lambda: NetlistInstance.from_json(INST_JSON, "u1"),
     lambda: InstanceModel.model_validate_json(INST_JSON), 2.0),
    ("instance to_json", INST.to_json, lambda: INST_MODEL.model_dump_json(exclude_none=True), 2.0),
    ("instance from_dict", lambda: NetlistInstance.from_dict(INST_DICT, "u1"),
     lambda: InstanceModel.model_validate(INST_DICT), 2.0),
    ("instance to_dict", INST.to_dict, lambda: INST_MODEL.model_dump(exclude_none=True), 2.0),
    ("net construction", lambda: Net(PORTS), lambda: NetModel(members=PORT_MODELS), 1.0),
    ("net hash", lambda: hash(NET), lambda: hash(NET_MODEL), 1.0),
]


if __name__ == "__main__":
    compare(CASES)
