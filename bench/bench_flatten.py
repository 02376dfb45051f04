"""Flattening a two-level hierarchy of a million leaf instances through Python.

TOP holds 1000 instances of MID, chained IN -> m0 -> m1 -> ... -> OUT; MID holds 1000 leaf
instances chained the same way between its ports IN and OUT. Flattening TOP yields 10^6
instances and 10^6 + 1 nets. Reported: the time of each flatten call (best and median of a
few runs) and the growth of the process's peak resident memory over the first call.

With --chain: a chain of 999 distinct cells instead, each holding the next under a name of
100 characters and one instance of a cell nobody names, so every pass carries the instances
kept by the passes before it, under names up to 100,000 characters long.

Run: python bench/bench_flatten.py [--placed] [--chain] [--runs N]   (with vondrel installed)
"""

import argparse
import gc
import resource
import statistics
import time

from vondrel import Netlist, NetlistPort, PlacedNetlist, Placement, PortRef

N = 1000


def chain(cls, child_prefix, child_component, a, b, placed):
    """A netlist of N instances chained from its port IN to its port OUT through the
    children's ports a -> b."""
    n = cls()
    n.create_port("IN")
    n.create_port("OUT")
    for i in range(N):
        name = f"{child_prefix}{i}"
        if placed:
            n.create_inst(name, "k", child_component, cell=child_component.upper(),
                          placement=Placement(float(i), 0.0, 90.0 * (i % 4), i % 2 == 1,
                                              {"left": 0.0, "bottom": 0.0, "right": 1.0, "top": 1.0}))
        else:
            n.create_inst(name, "k", child_component)
    n.create_net(NetlistPort("IN"), PortRef(f"{child_prefix}0", a))
    for i in range(N - 1):
        n.create_net(PortRef(f"{child_prefix}{i}", b), PortRef(f"{child_prefix}{i + 1}", a))
    n.create_net(PortRef(f"{child_prefix}{N - 1}", b), NetlistPort("OUT"))
    return n


def deep_chain(levels=999):
    """The netlists of the --chain hierarchy and the flatten arguments for its top."""
    netlists, subs = {}, {}
    for k in range(levels):
        cell = Netlist()
        if k + 1 < levels:
            child = f"c{k}_".ljust(100, "c")
            cell.create_inst(child, "k", "level")
            subs[f"L{k}"] = {child: f"L{k + 1}"}
        else:
            cell.create_inst("leaf", "k", "leaf")
        cell.create_inst("u", "k", "unknown")
        netlists[f"L{k}"] = cell
    top = Netlist()
    top.create_inst("t", "k", "level")
    return top, netlists, {"instance_cell_map": {"t": "L0"}, "sub_instance_cell_maps": subs}


def peak_rss_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--placed", action="store_true", help="flatten PlacedNetlists (composed placements)")
    parser.add_argument("--chain", action="store_true", help="flatten the 999-level chain instead")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    if args.chain:
        top, netlists, kwargs = deep_chain()
    else:
        cls = PlacedNetlist if args.placed else Netlist
        top = chain(cls, "m", "mid", "IN", "OUT", args.placed)
        netlists = {"MID": chain(cls, "l", "leaf", "a", "b", args.placed)}
        kwargs = {} if args.placed else {"instance_cell_map": {f"m{i}": "MID" for i in range(N)}}

    gc.collect()
    base = peak_rss_mib()
    times = []
    for run in range(args.runs):
        start = time.perf_counter()
        flat = top.flatten(netlists, **kwargs)
        times.append(time.perf_counter() - start)
        if run == 0:
            peak = peak_rss_mib() - base
            counts = repr(flat)
        start = time.perf_counter()
        del flat
        freed = time.perf_counter() - start

    print(f"{type(top).__name__}.flatten, {'999-level chain' if args.chain else f'{N} x {N} leaves'} -> {counts}")
    print(f"  time: best {min(times) * 1e3:.0f} ms, median {statistics.median(times) * 1e3:.0f} ms over {args.runs} runs")
    print(f"  freeing the result: {freed * 1e3:.0f} ms")
    print(f"  peak resident memory growth over the first call: {peak:.0f} MiB")


if __name__ == "__main__":
    main()
