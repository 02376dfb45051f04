"""Timing shared by the benchmarks that set vondrel beside pydantic: the best of many short
runs per case (a busy machine shows less), one table, exit status 1 when a case misses its
target speed-up."""

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
