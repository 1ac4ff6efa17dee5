"""examples/python/read_inputs.py against a simulated unit, with the wexo
package these tests import (the source tree's, or an installed copy)."""
from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import wexo
from conftest import ADDRESSES, TOP

EXAMPLE = TOP / "examples/python/read_inputs.py"


def run_example(*args: str) -> subprocess.CompletedProcess:
    env = dict(os.environ, PYTHONPATH=str(Path(wexo.__file__).parents[1]))
    return subprocess.run([sys.executable, str(EXAMPLE), *args], env=env, capture_output=True, text=True, timeout=20)


def test_example_reads_inputs_and_sets_an_output(sim):
    assert sim.command("inputs 0 0x6") == "ok 0x6"
    assert sim.command("outputs 0 0") == "ok 0x0"
    run = run_example(ADDRESSES["dio"])
    assert (run.returncode, run.stderr) == (0, "")
    assert run.stdout == "unit 10.200.0.2: board ID 3, model 17, inputs 0x06\n"
    assert sim.command("outputs 0") == "ok 0x1"


def test_example_explains_a_failure(sim):
    run = run_example("10.200.0.99")
    assert run.returncode == 1
    assert run.stderr == ("read_inputs: ZuWexoConnectByIpAddress failed: no unit matches, "
                          "or the addressed unit did not answer (code 4)\n")
