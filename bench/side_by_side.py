"""Timing shared by the benchmarks that set vondrel beside pydantic: the best of many short
runs per case (a busy machine shows less), one table, exit status 1 when a case misses its
target speed-up; the four wire methods of a netlist class as such cases; a table of single
calls in milliseconds."""

import json
import sys
import timeit

import pydantic


def per_call_ns(fn, number, repeat):
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number * 1e9


def compare(cases, number=50_000, repeat=15):
    """cases: (name, ours, theirs, target), target being the speed-up ours must beat."""
    print(f"Python {sys.version.split()[0]}, pydantic {pydantic.VERSION}")
    print(f"{'operation':20} {'vondrel ns':>11} {'pydantic ns':>12} {'speed-up':>9} {'target':>7}")
    missed = []
    for name, ours, theirs, target in cases:
        a, b = per_call_ns(ours, number, repeat), per_call_ns(theirs, number, repeat)
        print(f"{name:20} {a:11.1f} {b:12.1f} {b / a:8.2f}x {target:6.1f}x")
        if b / a <= target:
            missed.append(name)
    if missed:
        print("targets missed:", ", ".join(missed))
        sys.exit(1)


def wire_cases(label, cls, model_cls, record):
    """A netlist class and its pydantic model, both read from `record` as compact JSON and
    checked to write it back alike. Returns the text, the object and the four wire-method
    cases: from_json, to_json and from_dict 2x faster than the model; to_dict faster at all
    (both build the same Python objects, and allocating and filling them is most of the time
    on either side)."""
    text = json.dumps(record, separators=(",", ":"))
    obj = cls.from_json(text)
    model = model_cls.model_validate_json(text)
    as_dict = obj.to_dict()
    assert obj.to_json() == text == model.model_dump_json(exclude_none=True)
    assert as_dict == record == model.model_dump(exclude_none=True)
    return text, obj, [
        (f"{label} from_json", lambda: cls.from_json(text), lambda: model_cls.model_validate_json(text), 2.0),
        (f"{label} to_json", obj.to_json, lambda: model.model_dump_json(exclude_none=True), 2.0),
        (f"{label} from_dict", lambda: cls.from_dict(as_dict), lambda: model_cls.model_validate(as_dict), 2.0),
        (f"{label} to_dict", obj.to_dict, lambda: model.model_dump(exclude_none=True), 1.0),
    ]


def report_ms(title, width, calls):
    """calls: (name, fn); each one call, the best of five runs."""
    print(f"\n{title:{width}} {'ms':>8}")
    for name, fn in calls:
        ms = min(timeit.repeat(fn, number=1, repeat=5)) * 1e3
        print(f"{name:{width}} {ms:8.1f}")
