"""The bindings against simulated units over real sockets: values of each
area, writes the unit sees, sessions that close, and the firmware update."""
from __future__ import annotations

import errno

import pytest

import wexo
from conftest import ADDRESSES, UNIT_TIMEOUT_MS

# unit, control commands that set the unit's side, the read, its result
READS = [
    ("dio", [], lambda u: (u.ip_address, u.mac_address, u.firmware_version, u.firmware_type, u.board_id, u.model),
     ("10.200.0.2", "02:57:58:00:00:02", 610, "X6", 3, 17)),
    ("dio", [], lambda u: (u.serial_parameters, u.cp_modes), ((9600, 8, 0, 1, 0, 10003), (0, 2, 1, 0))),
    ("dio", ["inputs 0 0x5"], lambda u: (u.read_inputs(), u.read_input(0), u.read_input(1)), (0x5, True, False)),
    ("dio", ["outputs 0 0x9"], lambda u: (u.outputs(), u.output(3), u.output(1)), (0x9, True, False)),
    ("dio", ["pins 0 0x5"], lambda u: u.read_pins(), (True, False, True)),
    ("dio", ["pulse-count 0 1 123456"], lambda u: u.pulse_count(1), 123456),
    ("dio", ["eeprom 0 100 A1B2"], lambda u: u.read_eeprom(100, 2), b"\xa1\xb2"),
    ("analog_in", ["ai 1 0 -1000", "ai 1 2 8388607"], lambda u: u.analog_inputs(), [-1000, 0, 8388607]),
    ("analog_in", ["ai 1 2 8388607", "ai-range 1 2 2"], lambda u: u.analog_input_value(2), (2, 10.0)),
    ("dio", ["inputs 0 0x5"], lambda u: (u.send_serial(b"DI\xc8"), u.receive_serial(16)), (3, b"di\x25\xc8")),
    ("analog_in", ["tc 1 2 3 5"], lambda u: u.thermocouple(2), (3, 1, 0, 1)),
    ("analog_in", ["threshold 1 1 8 100 -200"], lambda u: u.analog_thresholds(1), (True, 100, -200)),
    ("analog_in", ["do-alert 1 0 1 2 1 500"], lambda u: u.output_alert(0), (True, 2, 1, 500)),
    ("analog_out", ["ao 2 1 -16384 0"], lambda u: u.analog_output(1), (0, -16384)),
    ("analog_out", ["ao 2 1 -16384 0"], lambda u: u.analog_output_value(1), (0, -5.0)),
    ("binary", ["pulse-channel 3 1 1 0", "pulse-count 3 1 77"], lambda u: u.pulse_count(), 77),
    ("binary", ["parameters 3 0 5 0 0 0"], lambda u: u.resend_wait_time, 5),
]


@pytest.mark.parametrize("name, commands, read, expected", READS)
def test_reads_give_the_units_values(sim, units, name, commands, read, expected):
    for command in commands:
        assert sim.command(command).startswith("ok"), command
    with units[name].connect() as unit:
        assert read(unit) == expected


# unit, the write, the control command that shows the unit's side, part of its answer
WRITES = [
    ("dio", lambda u: u.set_outputs(0), "outputs 0", "ok 0x0"),
    ("dio", lambda u: u.set_output(2, True), "outputs 0", "ok 0x4"),
    ("dio", lambda u: u.write_pins(True, True, False), "pins 0", "ok 0x3"),
    ("dio", lambda u: u.write_eeprom(200, b"\x01\xfe"), "eeprom 0 200", "ok 01 FE"),
    ("dio", lambda u: u.set_auto_switching_outputs(0x6), "state 0", " auto-mask=0x6 "),
    ("analog_in", lambda u: u.set_analog_input_range(1, 3), "ai-range 1 1", "ok 3"),
    ("analog_out", lambda u: u.set_analog_output_voltage(0, 5.0), "ao 2 0", "ok 16384 0"),
    ("analog_out", lambda u: u.set_analog_outputs([(0, 1, 100), (2, 0, -5)]), "ao 2 2", "ok -5 0"),
    ("binary", lambda u: u.set_pulse_mode(True), "pulse-mode 3", "ok 1 "),
    ("binary", lambda u: setattr(u, "resend_wait_time", 9), "parameters 3", "ok 0 9 "),
]


@pytest.mark.parametrize("name, write, command, answer", WRITES)
def test_writes_reach_the_unit(sim, units, name, write, command, answer):
    with units[name].connect() as unit:
        write(unit)
    assert answer in sim.command(command)


def test_leaving_a_unit_block_closes_its_channel(units):
    unit = units["dio"].connect()
    with unit:
        unit.read_inputs()
    with pytest.raises(wexo.NotConnectedError) as closed:
        unit.read_inputs()
    assert (closed.value.code, closed.value.call) == (5, "ZuWexoInPioAll")
    unit.close()  # closing again is no error


def test_ending_the_library_closes_every_unit(sim, lib):
    with wexo.Library() as other:  # the same library: its end closes this one's units
        unit = other.connect_direct(ADDRESSES["binary"], UNIT_TIMEOUT_MS, data_port=10003)
        assert unit.model == 0
    lib.init()
    with pytest.raises(wexo.NotConnectedError):
        unit.read_inputs()


@pytest.mark.parametrize("connect", [
    lambda lib: lib.connect_by_ip(ADDRESSES["binary"]),
    lambda lib: lib.connect_by_mac("02:57:58:00:00:05"),
    lambda lib: lib.connect_by_mac(b"\x02\x57\x58\x00\x00\x05"),
    lambda lib: lib.connect_direct(ADDRESSES["binary"], UNIT_TIMEOUT_MS),
])
def test_connect_calls_find_the_unit(units, lib, connect):
    with connect(lib) as unit:
        assert (unit.ip_address, unit.board_id, unit.model) == (ADDRESSES["binary"], 1, 0)
    assert units["binary"].identify() == (1, 0)
    with lib.connect_by_id_model(1, 0) as unit:
        assert unit.ip_address == ADDRESSES["binary"]
    with pytest.raises(wexo.NoMatchError):
        lib.connect_by_ip("10.200.0.99")


# Two blocks of three and two bytes at 0x0000 and 0x0100.
HEX = ":03000000010203F7\n:02010000AABB98\n:00000001FF\n"


def test_firmware_update_reports_progress_and_cancels(sim, units, lib):
    assert lib.check_intel_hex(HEX) == (True, 2, 5, 0, 0x102, 0)
    assert lib.check_intel_hex(":0300000001").valid is False
    calls = []
    with units["binary"].connect() as unit:
        unit.update_firmware_hex(HEX, lambda done, total: calls.append((done, total)))
        # After every item and after each block but the last (the end record's
        # empty transfer).
        assert calls == [(2, 5), (3, 5), (3, 5), (5, 5), (5, 5)]
        loads = int(sim.command("firmware 3").split()[1])
        assert sim.command("firmware 3") == f"ok {loads} AA BB"

        def on_third_call(act):
            """Acts on the call between the blocks, after the first one's
            commit, so that the loader is back to commands for the next run."""
            seen = []

            def progress(done: int, total: int):
                seen.append(done)
                return act() if len(seen) == 3 else None
            return progress

        with pytest.raises(wexo.WexoOSError) as cancelled:
            unit.update_firmware_hex(HEX, on_third_call(lambda: True))
        assert (cancelled.value.errno, cancelled.value.call) == (errno.ECANCELED, "wexo_pic_firmware_update_hex")

        def fail() -> None:
            raise KeyError("stop")
        with pytest.raises(KeyError) as raised:
            unit.update_firmware_hex(HEX, on_third_call(fail))
        assert isinstance(raised.value.__cause__, wexo.WexoOSError)
        # Each run loaded its first block only.
        assert sim.command("firmware 3") == f"ok {loads + 2} 01 02 03 FF"
