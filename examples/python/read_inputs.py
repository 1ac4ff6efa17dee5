#!/usr/bin/env python3
"""Finds the units on the local network, connects one (the first found, or
the one at ADDRESS), prints its digital inputs and switches output 0 on.

    read_inputs.py [ADDRESS]
"""
import sys

import wexo

try:
    with wexo.Library() as lib:
        lib.set_auto_identify(False)  # connecting identifies the one board used
        units = lib.search(500)
        if not units:
            sys.exit("no unit answered the search")
        with (lib.connect_by_ip(sys.argv[1]) if len(sys.argv) > 1 else units[0].connect()) as unit:
            print(f"unit {unit.ip_address}: board ID {unit.board_id}, model {unit.model}, "
                  f"inputs {unit.read_inputs():#04x}")
            unit.set_output(0, True)
except (wexo.WexoError, wexo.LibraryError) as e:
    sys.exit(f"read_inputs: {e}")
