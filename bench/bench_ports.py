"""PortRef against a frozen pydantic 2 model with the same two fields, side by side.

Run: python bench/bench_ports.py   (with vondrel and pydantic installed)
"""

import sys
import timeit

import pydantic

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
    ("construction", lambda: PortRef("u1", "a"), lambda: PortRefModel(instance="u1", port="a")),
    ("hash", lambda: hash(REF), lambda: hash(MODEL)),
    ("to_dict", REF.to_dict, MODEL.model_dump),
    ("to_json", REF.to_json, MODEL.model_dump_json),
    ("from_dict", lambda: PortRef.from_dict(DICT), lambda: PortRefModel.model_validate(DICT)),
    ("from_json", lambda: PortRef.from_json(TEXT), lambda: PortRefModel.model_validate_json(TEXT)),
]


def per_call_ns(fn, number=200_000, repeat=5):
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number * 1e9


def main():
    print(f"Python {sys.version.split()[0]}, pydantic {pydantic.VERSION}")
    print(f"{'operation':14} {'vondrel ns':>11} {'pydantic ns':>12} {'speed-up':>9}")
    slower = []
    for name, ours, theirs in CASES:
        a, b = per_call_ns(ours), per_call_ns(theirs)
        print(f"{name:14} {a:11.1f} {b:12.1f} {b / a:8.2f}x")
        if a >= b:
            slower.append(name)
    if slower:
        print("slower than pydantic:", ", ".join(slower))
        sys.exit(1)


if __name__ == "__main__":
    main()
