"""Fixtures: wexo-sim serving four units in this process's network
namespace, driven through its standard input, and a started library that
has found them.

The units bind the module's fixed ports and answer broadcasts, so the tests
run inside a private namespace: tests/support/netns-run.sh python3 -m pytest
python/tests (ctest does this). WEXO_SIM and WEXO_LIBRARY name the build's
simulator and library.
"""
from __future__ import annotations

import os
import subprocess
from pathlib import Path
from typing import Dict, Iterator

import pytest

import wexo

TOP = Path(__file__).resolve().parents[2]

# Simulator units, numbered in this order: name -> definition.
UNITS = {
    "dio": "ip=10.200.0.2,model=17,id=3,module=on",  # ASCII digital board, EEPROM
    "analog_in": "ip=10.200.0.3,model=42,id=5,module=on",  # analog inputs, output alerts
    "analog_out": "ip=10.200.0.4,model=43,id=6,module=on",  # analog outputs
    "binary": "ip=10.200.0.5,model=0,id=1,module=on",  # binary board: parameters, firmware loader
}
ADDRESSES = {name: definition.split(",")[0][3:] for name, definition in UNITS.items()}
SEARCH_MS = 200
# Short unit time-outs keep the identification of ASCII boards (which stay
# silent to the binary query) quick.
UNIT_TIMEOUT_MS = 150


class Simulator:
    def __init__(self, program: str) -> None:
        args = [program]
        for definition in UNITS.values():
            args += ["--unit", definition]
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert self.process.stdout is not None and self.process.stdin is not None
        self.stdin, self.stdout = self.process.stdin, self.process.stdout
        for line in self.stdout:
            if line.strip() == "ready":
                return
        raise RuntimeError(f"{program} ended before it was ready (status {self.process.wait()})")

    def command(self, line: str) -> str:
        """One control command; its "ok ..." or "error ..." answer."""
        self.stdin.write(line + "\n")
        self.stdin.flush()
        return self.stdout.readline().strip()

    def unit(self, name: str) -> int:
        return list(UNITS).index(name)

    def close(self) -> None:
        self.stdin.close()  # end of input ends the simulator
        self.process.wait(timeout=10)


@pytest.fixture(scope="session")
def sim() -> Iterator[Simulator]:
    if os.environ.get("WEXO_IN_NETNS") != "1":
        pytest.fail("the simulator needs a private network namespace: run "
                    "tests/support/netns-run.sh python3 -m pytest python/tests")
    simulator = Simulator(os.environ.get("WEXO_SIM") or str(TOP / "build/sim/wexo-sim"))
    yield simulator
    simulator.close()


@pytest.fixture(scope="session")
def lib(sim: Simulator) -> Iterator[wexo.Library]:
    """The library, started; automatic identification off."""
    with wexo.Library() as library:
        library.set_auto_identify(False)
        yield library


@pytest.fixture
def units(lib: wexo.Library) -> Dict[str, wexo.Unit]:
    """Every simulated unit by name (unconnected). The table of an earlier
    test is kept while it holds them, so each board is identified once; a test
    that ended the library costs the next one a search."""
    try:
        if all(lib.unit(i).ip_address == address for i, address in enumerate(ADDRESSES.values())):
            return {name: lib.unit(i) for i, name in enumerate(ADDRESSES)}
    except wexo.WexoError:
        lib.init()
        lib.set_auto_identify(False)
    found = {unit.ip_address: unit for unit in lib.search(SEARCH_MS)}
    for unit in found.values():
        unit.set_timeout(UNIT_TIMEOUT_MS)
    return {name: found[address] for name, address in ADDRESSES.items()}
