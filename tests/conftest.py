import subprocess
import sys

import pytest


def run_python(code: str, env=None) -> str:
    """Runs `code` in a fresh interpreter and returns its stdout."""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, check=True)
    return out.stdout


@pytest.fixture
def python_run():
    return run_python
