"""PortRef against a frozen pydantic 2 model with the same two fields, side by side.

Run: python bench/bench_ports.py   (with vondrel and pydantic installed)
"""

import pydantic

from side_by_side import compare
from vondrel import PortRef


class PortRefModel(pydantic.BaseModel, frozen=True):
    instance: str
    port: str


REF = PortRef("u1", "a")
MODEL = PortRefModel(instance="u1", port="a")
DICT = {"instance": "u1", "port": "a"}
TEXT = REF.to_json()
assert TEXT == MODEL.model_dump_json()

CASES = [
    ("construction", lambda: PortRef("u1", "a"), lambda: PortRefModel(instance="u1", port="a"), 1.0),
    ("hash", lambda: hash(REF), lambda: hash(MODEL), 1.0),
    ("to_dict", REF.to_dict, MODEL.model_dump, 1.0),
    ("to_json", REF.to_json, MODEL.model_dump_json, 1.0),
    ("from_dict", lambda: PortRef.from_dict(DICT), lambda: PortRefModel.model_validate(DICT), 1.0),
    ("from_json", lambda: PortRef.from_json(TEXT), lambda: PortRefModel.model_validate_json(TEXT), 1.0),
]


if __name__ == "__main__":
    compare(CASES, number=200_000, repeat=5)
