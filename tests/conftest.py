import subprocess
import sys
from collections.abc import Mapping

import pytest


# Caps the address space at what the interpreter already uses plus ROOM bytes (relative, so
# that a sanitizer's large reservations still fit).
ADDRESS_SPACE_LIMIT = """import resource
with open("/proc/self/statm") as f:
    resource.setrlimit(resource.RLIMIT_AS, (int(f.read().split()[0]) * resource.getpagesize() + {room},
                                            resource.RLIM_INFINITY))
"""


def run_python(code: str, env=None, room=None, seconds=300) -> str:
    """Runs `code` in a fresh interpreter (with `room` bytes of address space to grow into,
    when given, and at most `seconds` to finish) and returns its stdout."""
    if room is not None:
        code = ADDRESS_SPACE_LIMIT.format(room=room) + code
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, check=True,
                         timeout=seconds)
    return out.stdout


class DictMapping(Mapping):
    """A Mapping class (not a dict) over a dict: read through its keys and items."""

    def __init__(self, d):
        self.d = d

    def __getitem__(self, k):
        return self.d[k]

    def __iter__(self):
        return iter(self.d)

    def __len__(self):
        return len(self.d)


@pytest.fixture
def python_run():
    return run_python


def siphash13_zero_keys(*feeds: bytes) -> list[int]:
    """An independent digest: CPython hashes bytes with SipHash-1-3, both keys zero, under PYTHONHASHSEED=0."""
    code = "import sys\nfor f in sys.argv[1:]: print(hash(bytes.fromhex(f)))"
    out = subprocess.run(
        [sys.executable, "-c", code, *[f.hex() for f in feeds]],
        capture_output=True, text=True, env={"PYTHONHASHSEED": "0"}, check=True,
    ).stdout.split()
    return [int(x) for x in out]


@pytest.fixture
def siphash13():
    return siphash13_zero_keys
