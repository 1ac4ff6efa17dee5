"""The library and its units.

    with wexo.Library() as lib:              # ZuWexoInit ... ZuWexoEnd
        for unit in lib.search(1000):
            with unit.connect():             # ZuWexoConnect ... ZuWexoClose
                print(unit.read_inputs())
"""
from __future__ import annotations

import ctypes
import ipaddress
from typing import Any, Callable, Iterable, List, NamedTuple, Optional, Tuple, Union, overload

from ._native import PROGRESS, Native, load
from .errors import WexoError

DEFAULT_DATA_PORT = 10003
MODULE_UDP_PORT = 30718
PINS_PORT = 30704
IP_TEXT_SIZE = 16
MAC_SIZE = 6
MAX_ANALOG_CHANNELS = 8

# Progress of a firmware update: (bytes done, bytes in all); a true result cancels.
Progress = Callable[[int, int], Optional[bool]]


class SerialParameters(NamedTuple):
    baud: int
    data_bits: int
    parity: int  # 0 none, 1, 2
    stop_bits: int
    flow: int
    port: int


class CpModes(NamedTuple):
    cp1: int
    cp2: int
    cp3: int
    flag: int


class Thermocouple(NamedTuple):
    type: int
    flag0: int
    flag1: int
    flag2: int


class TransmitScale(NamedTuple):
    mode: int
    low: float
    high: float


class Thresholds(NamedTuple):
    enabled: bool
    threshold1: int
    threshold2: int


class PulseConfig(NamedTuple):
    channel: int  # -1: none
    down: bool
    setting_a: int
    setting_b: int


class PulseAlert(NamedTuple):
    channel: int
    mode: int
    value: int


class OutputAlert(NamedTuple):
    started: bool
    mode: int
    flag: int
    value: int


class HexSummary(NamedTuple):
    valid: bool  # the firmware update would load the text
    blocks: int
    bytes: int
    first_address: int  # -1 when there is no data
    last_address: int  # the address after the last data byte
    error_line: int  # first bad record's line (1-based), 0 when valid


class _HexSummary(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int) for name in HexSummary._fields[1:]]


class Capabilities(NamedTuple):
    """What a board offers (wexo_capabilities); writable holds WEXO_CAN_* bits,
    switching_frames and pulse_frames the WEXO_SWITCHING_* and WEXO_PULSE_*
    values, settings and settings_in_eeprom WEXO_SETTING_* bits."""
    model: int
    unit_kind: int
    digital_inputs: int
    digital_outputs: int
    analog_inputs: int
    analog_outputs: int
    counters: int
    thermocouples: int
    writable: int
    switching_frames: int
    pulse_frames: int
    settings: int
    settings_in_eeprom: int


_UNSIGNED_CAPABILITIES = ("writable", "settings", "settings_in_eeprom")


class _Capabilities(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint if name in _UNSIGNED_CAPABILITIES else ctypes.c_int)
                for name in Capabilities._fields]


def _capabilities(native: Any, call: str, *args: Any) -> Capabilities:
    out = _Capabilities()
    native.call(call, *args, ctypes.byref(out))
    return Capabilities(*(getattr(out, name) for name in Capabilities._fields))


def _ip_bytes(text: str) -> Tuple[int, int, int, int]:
    a, b, c, d = ipaddress.IPv4Address(text).packed
    return a, b, c, d


def _mac_bytes(mac: Union[bytes, str]) -> bytes:
    if isinstance(mac, str):
        mac = bytes(int(part, 16) for part in mac.replace("-", ":").split(":"))
    if len(mac) != MAC_SIZE:
        raise ValueError(f"a MAC address has {MAC_SIZE} bytes, not {len(mac)}")
    return bytes(mac)


class _Setting:
    """A unit setting (an int) read and written by a Get/Set pair of calls."""

    def __init__(self, getter: str, setter: str) -> None:
        self.getter, self.setter = getter, setter
        self.__doc__ = f"{getter} / {setter}"

    @overload
    def __get__(self, unit: None, owner: type) -> _Setting: ...
    @overload
    def __get__(self, unit: Unit, owner: type) -> int: ...

    def __get__(self, unit: Optional[Unit], owner: type) -> Union[_Setting, int]:
        return self if unit is None else int(unit._call(self.getter))

    def __set__(self, unit: Unit, value: int) -> None:
        unit._call(self.setter, int(value))


class Unit:
    """One record of the library's device table, by its index.

    A connected unit closes its command channel at the end of a `with` block.
    Channels are numbered from 0; `on` values are booleans.
    """

    def __init__(self, native: Native, index: int) -> None:
        self._native = native
        self.index = index

    def __repr__(self) -> str:
        return f"<wexo.Unit {self.index}>"

    def __enter__(self) -> Unit:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _call(self, name: str, *args: object) -> Any:
        return self._native.call(name, self.index, *args)

    # ------------------------------------------------------------ session
    def connect(self) -> Unit:
        """Opens the command channel (identifying the board first if needed)."""
        self._call("ZuWexoConnect")
        return self

    def close(self) -> None:
        """Closes the command channel; nothing happens when it is not open."""
        self._call("ZuWexoClose")

    def set_timeout(self, ms: int) -> None:
        """Time-out of the unit's TCP connections, from the next connection on."""
        self._call("ZuWexoSetTimeOut", ms)

    def set_model(self, model: int) -> None:
        """Sets the model code, for boards that identification cannot name."""
        self._call("ZuWexoSetModel", model)

    def set_identity(self, board_id: int, model: int) -> None:
        """Stores a board ID and model known from an earlier identification,
        as identification would; the next connect does not ask the board."""
        self._call("wexo_set_identity", board_id, model)

    def identify(self) -> Tuple[int, int]:
        """Asks the board for (board ID, model code); needs no connection."""
        return self._call("ZuWexoRequestIdModel")

    def send_serial(self, data: bytes) -> int:
        """Sends raw bytes on the command channel; returns the count sent."""
        return self._call("ZuWexoSendSerialData", bytes(data), len(data))

    def receive_serial(self, size: int) -> bytes:
        """Receives up to size raw bytes; b"" when the unit closed the channel."""
        buffer = ctypes.create_string_buffer(max(size, 1))
        count = self._call("ZuWexoReceiveSerialData", buffer, size)
        return buffer.raw[:count]

    # ------------------------------------------------------------ record
    @property
    def ip_address(self) -> str:
        buffer = ctypes.create_string_buffer(IP_TEXT_SIZE)
        self._call("ZuWexoGetIpAddress", buffer)
        return buffer.value.decode("ascii")

    @property
    def mac_address(self) -> str:
        buffer = ctypes.create_string_buffer(MAC_SIZE)
        self._call("ZuWexoGetMacAddress", buffer)
        return ":".join(f"{b:02x}" for b in buffer.raw)

    @property
    def firmware_version(self) -> int:
        """Module firmware as major*100 + minor*10 (6.1 is 610)."""
        return self._call("ZuWexoGetFirmVersion")

    @property
    def firmware_type(self) -> str:
        """The module's two firmware-type letters."""
        letters = self._call("ZuWexoGetFirmType")
        return letters[:2].decode("latin-1")

    @property
    def firmware_type_code(self) -> int:
        """The two letters as one value, the first in the low byte."""
        return self._call("ZuWexoGetFirmType2")

    @property
    def board_id(self) -> int:
        """0 to 15; 255 while unknown."""
        return self._call("ZuWexoGetId")

    @property
    def model(self) -> int:
        """Model code; -1 while unknown."""
        return self._call("ZuWexoGetModel")

    @property
    def capabilities(self) -> Capabilities:
        """What the board offers; its model must be known."""
        return _capabilities(self._native, "wexo_capabilities", self.index)

    @property
    def cp_modes(self) -> CpModes:
        return CpModes(*self._call("ZuWexoGetCPMode"))

    @property
    def serial_parameters(self) -> SerialParameters:
        return SerialParameters(*self._call("ZuWexoGetSerialParameter"))

    # ------------------------------------------------------------ configurable pins
    def read_pins(self) -> Tuple[bool, bool, bool]:
        """Levels of the module's pins CP1..CP3 (no command channel needed)."""
        cp1, cp2, cp3 = self._call("ZuWexoInCP")
        return bool(cp1), bool(cp2), bool(cp3)

    def write_pins(self, cp1: bool, cp2: bool, cp3: bool) -> None:
        self._call("ZuWexoOutCP", int(cp1), int(cp2), int(cp3))

    # ------------------------------------------------------------ digital I/O
    def read_input(self, channel: int) -> bool:
        return bool(self._call("ZuWexoInPio", channel))

    def read_inputs(self) -> int:
        """All inputs; bit i is input i."""
        return self._call("ZuWexoInPioAll")

    def set_output(self, channel: int, on: bool) -> None:
        self._call("ZuWexoOutPio", channel, int(on))

    def set_outputs(self, bits: int) -> None:
        """All outputs; bit i is output i."""
        self._call("ZuWexoOutPioAll", bits)

    def output(self, channel: int) -> bool:
        """Reads back one output."""
        return bool(self._call("ZuWexoGetOut", channel))

    def outputs(self) -> int:
        """Reads back all outputs; bit i is output i."""
        return self._call("ZuWexoGetOutAll")

    # ------------------------------------------------------------ auto switching
    def set_auto_switching(self, on: bool) -> None:
        self._call("ZuWexoSetAutoSwitchingActive", int(on))

    def auto_switching(self) -> int:
        """Nonzero while on (binary boards report their raw byte)."""
        return self._call("ZuWexoGetAutoSwitchingActive")

    def set_auto_switching_outputs(self, mask: int) -> None:
        self._call("ZuWexoSetAutoSwitchingPio", mask)

    def auto_switching_outputs(self) -> int:
        return self._call("ZuWexoGetAutoSwitchingPio")

    def set_auto_switching_time(self, ms: int) -> None:
        self._call("ZuWexoSetAutoSwitchingTime", ms)

    def auto_switching_time(self) -> int:
        return self._call("ZuWexoGetAutoSwitchingTime")

    def set_auto_switching_channel(self, output: int, first_ms: int, second_ms: int) -> None:
        self._call("ZuWexoSetAutoSwitchingChannel", output, first_ms, second_ms)

    def auto_switching_channel(self, output: int) -> Tuple[int, int]:
        """The two durations (ms) of one output (ASCII boards)."""
        return self._call("ZuWexoGetAutoSwitchingChannel", output)

    # ------------------------------------------------------------ analog I/O
    def analog_input(self, channel: int) -> int:
        """Raw signed 24-bit count."""
        return self._call("ZuWexoGetAnalogInput", channel)

    def analog_inputs(self, n: int = MAX_ANALOG_CHANNELS) -> List[int]:
        """Counts of the first min(n, inputs) inputs in one exchange."""
        counts = (ctypes.c_int * max(n, 1))()
        stored = self._call("ZuWexoGetAnalogInputAll", n, counts)
        return list(counts[:stored])

    def analog_input_value(self, channel: int) -> Tuple[int, float]:
        """(range code, the count converted by that range's full scale)."""
        return self._call("ZuWexoGetAnalogInputByValue", channel)

    def analog_input_range(self, channel: int) -> int:
        return self._call("ZuWexoGetAnalogInputRange", channel)

    def set_analog_input_range(self, channel: int, range_code: int) -> None:
        self._call("ZuWexoSetAnalogInputRange", channel, range_code)

    sampling_rate = _Setting("ZuWexoGetAnalogInputADCsps", "ZuWexoSetAnalogInputADCsps")
    transmit_cycle = _Setting("ZuWexoGetAiTransmitCycle", "ZuWexoSetAiTransmitCycle")

    def set_analog_output(self, channel: int, mode: int, raw: int) -> None:
        """mode 0 voltage (32767 = 10 V), 1 current (32767 = 20 mA)."""
        self._call("ZuWexoSetAnalogOutput", channel, mode, raw)

    def set_analog_outputs(self, entries: Iterable[Tuple[int, int, int]]) -> None:
        """(channel, mode, raw) entries in one frame."""
        rows = list(entries)
        array = ctypes.c_int * max(len(rows), 1)
        channels, modes, raws = (array(*(row[i] for row in rows)) for i in range(3))
        self._call("ZuWexoSetAnalogOutputMulti", len(rows), channels, modes, raws)

    def set_analog_output_voltage(self, channel: int, volts: float) -> None:
        self._call("ZuWexoSetAnalogOutputVoltage", channel, volts)

    def set_analog_output_current(self, channel: int, milliamperes: float) -> None:
        self._call("ZuWexoSetAnalogOutputCurrent", channel, milliamperes)

    def set_initial_analog_output(self, channel: int, mode: int, raw: int) -> None:
        """The value the output takes at power-up."""
        self._call("ZuWexoSetInitialAnalogOutput", channel, mode, raw)

    def set_initial_analog_output_voltage(self, channel: int, volts: float) -> None:
        self._call("ZuWexoSetInitialAnalogOutputVoltage", channel, volts)

    def set_initial_analog_output_current(self, channel: int, milliamperes: float) -> None:
        self._call("ZuWexoSetInitialAnalogOutputCurrent", channel, milliamperes)

    def analog_output(self, channel: int) -> Tuple[int, int]:
        """(mode, raw value)."""
        return self._call("ZuWexoGetAnalogOutput", channel)

    def analog_output_value(self, channel: int) -> Tuple[int, float]:
        """(mode, value in V or mA)."""
        return self._call("ZuWexoGetAnalogOutputByValue", channel)

    def set_thermocouple(self, channel: int, type_code: int, flag0: int = 1, flag1: int = 1,
                         flag2: int = 0) -> None:
        self._call("ZuWexoSetTCConfig", channel, type_code, flag0, flag1, flag2)

    def set_thermocouple_type(self, channel: int, type_code: int) -> None:
        """Type with flags 0 and 1 set, flag 2 clear."""
        self._call("ZuWexoSetTCType", channel, type_code)

    def thermocouple(self, channel: int) -> Thermocouple:
        return Thermocouple(*self._call("ZuWexoGetTCConfig", channel))

    def set_thermocouple_scale(self, channel: int, mode: int, low: float, high: float) -> None:
        self._call("ZuWexoSetTCTransmitScale", channel, mode, low, high)

    def thermocouple_scale(self, channel: int) -> TransmitScale:
        return TransmitScale(*self._call("ZuWexoGetTCTransmitScale", channel))

    def analog_thresholds(self, channel: int) -> Thresholds:
        enabled, first, second = self._call("ZuWexoGetAnalogThresholds", channel)
        return Thresholds(bool(enabled), first, second)

    def set_analog_thresholds(self, channel: int, enabled: bool, threshold1: int, threshold2: int) -> None:
        self._call("ZuWexoSetAnalogThresholds", channel, int(enabled), threshold1, threshold2)

    def mail_condition(self, channel: int) -> int:
        return self._call("ZuWexoGetAiMailCondition", channel)

    def set_mail_condition(self, channel: int, condition: int) -> None:
        self._call("ZuWexoSetAiMailCondition", channel, condition)

    # ------------------------------------------------------------ parameter memory
    def set_pic_parameter(self, code: int, value: int) -> None:
        self._call("setPICparameter", code, value)

    def pic_parameter(self, code: int, argument: int = 0) -> int:
        return self._call("getPICparameter", code, argument)

    def pic_read(self, request: bytes, reply_length: int) -> bytes:
        """Sends a parameter frame (1..16 bytes) and returns the reply's bytes."""
        reply = ctypes.create_string_buffer(max(reply_length, 1))
        self._call("getPICparameter2", bytes(request), len(request), reply, reply_length)
        return reply.raw[:reply_length]

    def pic_write(self, request: bytes) -> None:
        """Sends a parameter frame that the board must echo."""
        self._call("setPICparameter2", bytes(request), len(request))

    # ------------------------------------------------------------ pulse mode
    def set_pulse_config(self, channel: int, down: bool, setting_a: int, setting_b: int) -> None:
        self._call("ZuWexoPulseModeSetConfig", channel, int(down), setting_a, setting_b)

    def pulse_config(self) -> PulseConfig:
        channel, down, a, b = self._call("ZuWexoPulseModeGetConfig")
        return PulseConfig(channel, bool(down), a, b)

    def set_pulse_settings(self, setting_a: int, setting_b: int) -> None:
        self._call("ZuWexoPulseModeSetConfig2", setting_a, setting_b)

    def pulse_settings(self) -> Tuple[int, int]:
        return self._call("ZuWexoPulseModeGetConfig2")

    def set_pulse_channel(self, channel: int, enabled: bool, down: bool) -> None:
        self._call("ZuWexoPulseModeSetConfigChannel", channel, int(enabled), int(down))

    def pulse_channel(self, channel: int) -> Tuple[bool, bool]:
        """(enabled, counting down) of one channel."""
        enabled, down = self._call("ZuWexoPulseModeGetConfigChannel", channel)
        return bool(enabled), bool(down)

    def pulse_count(self, channel: Optional[int] = None) -> int:
        """The 16-bit count of the counting channel, or the 32-bit count of channel."""
        if channel is None:
            return self._call("ZuWexoPulseModeGetCount")
        return self._call("ZuWexoPulseModeGetCount2", channel)

    def pulse_mode(self) -> bool:
        return bool(self._call("ZuWexoPulseModeGetState"))

    def set_pulse_mode(self, on: bool) -> None:
        self._call("ZuWexoPulseModeOn" if on else "ZuWexoPulseModeOff")

    def continuous_mode(self) -> bool:
        return bool(self._call("ZuWexoPulseModeContinuesGetState"))

    def set_continuous_mode(self, on: bool) -> None:
        self._call("ZuWexoPulseModeContinuesOn" if on else "ZuWexoPulseModeContinuesOff")

    def set_pulse_alert(self, channel: int, mode: int, value: int) -> None:
        self._call("ZuWexoPulseModeSetAlart", channel, mode, value)

    def pulse_alert(self) -> PulseAlert:
        return PulseAlert(*self._call("ZuWexoPulseModeGetAlart"))

    # ------------------------------------------------------------ output alerts, reset time
    def set_reset_time(self, reset_time: int) -> None:
        self._call("ZuWexoSetResetTime", reset_time)

    def start_output_alert(self, channel: int, start: bool = True) -> None:
        self._call("ZuWexoDOAlertStartStop", channel, int(start))

    def set_output_alert(self, channel: int, mode: int, flag: int, value: int) -> None:
        self._call("ZuWexoSetDOAlertConfig", channel, mode, flag, value)

    def output_alert(self, channel: int) -> OutputAlert:
        started, mode, flag, value = self._call("ZuWexoGetDOAlertStatus", channel)
        return OutputAlert(bool(started), mode, flag, value)

    # ------------------------------------------------------------ unit settings
    def read_eeprom(self, address: int, count: int) -> bytes:
        buffer = ctypes.create_string_buffer(max(count, 1))
        self._call("ZuWexoReadEEPROM", address, count, buffer)
        return buffer.raw[:count]

    def write_eeprom(self, address: int, data: bytes) -> None:
        self._call("ZuWexoWriteEEPROM", address, len(data), bytes(data))

    disconnection_time = _Setting("ZuWexoGetDisconnectionTime", "ZuWexoSetDisconnectionTime")
    notice_time = _Setting("ZuWexoGetNoticeTime", "ZuWexoSetNoticeTime")
    resend_wait_time = _Setting("ZuWexoGetResendWaitTime", "ZuWexoSetResendWaitTime")
    input_detect_time = _Setting("ZuWexoGetDiDetectTime", "ZuWexoSetDiDetectTime")
    input_mail_logic = _Setting("ZuWexoGetDiMailLogic", "ZuWexoSetDiMailLogic")
    input_mail_enable = _Setting("ZuWexoGetDiMailEnable", "ZuWexoSetDiMailEnable")

    # ------------------------------------------------------------ network module
    def set_performance(self, on: bool) -> None:
        """Switches performance mode and waits until the module answers again."""
        self._call("ZuWexoSetPerformance", int(on))

    def restart_module(self) -> None:
        self._call("ZuWexoReset")

    def set_cp_modes(self, cp1: int, cp2: int, cp3: int, option: int = 0) -> None:
        """Pin functions of CP1..CP3; waits for the module's restart."""
        self._call("ZuWexoSetCPMode", cp1, cp2, cp3, option)

    def set_serial_parameters(self, baud: int, data_bits: int, parity: int, stop_bits: int, flow: int,
                              port: int) -> None:
        self._call("ZuWexoSetSerialParameter", baud, data_bits, parity, stop_bits, flow, port)

    def restore_module_defaults(self) -> None:
        """Factory settings through the module's setup menu."""
        self._call("ZuWexoSetXPortDefault")

    # ------------------------------------------------------------ firmware
    def update_firmware(self, data: bytes, address: int = 0) -> None:
        """Loads one block; an odd last byte is padded with 0xFF."""
        data = bytes(data) + (b"\xff" if len(data) % 2 else b"")
        self._call("ZuWexoPicFirmwareUpdate", address, data, len(data) // 2)

    def update_firmware_hex(self, text: str, progress: Optional[Progress] = None) -> None:
        """Loads the firmware of an Intel HEX text. progress(done, total) is
        called after every two-byte item and after each block but the last; a
        true result, or an exception it raises, cancels the update at once, and
        the block under way gets no commit (the exception is re-raised; a true
        result gives WexoOSError with errno ECANCELED)."""
        if progress is None:
            self._call("ZuWexoPicFirmwareUpdateIntelHex", text)
            return
        raised: List[BaseException] = []
        user_progress = progress

        def report(done: int, total: int, _user: Optional[int]) -> int:
            try:
                return 1 if user_progress(done, total) else 0
            except BaseException as e:  # nothing may unwind through C
                raised.append(e)
                return 1

        try:
            self._call("wexo_pic_firmware_update_hex", text, PROGRESS(report), None)
        except WexoError as e:
            if raised:
                raise raised[0] from e
            raise


class Library:
    """libWEXO.so.1 (or the library at path, or at $WEXO_LIBRARY).

    `with Library() as lib:` starts the library and ends it at the block's
    end, which closes every open command channel. The device table is the
    process's own, shared by every Library object.
    """

    def __init__(self, path: Optional[str] = None) -> None:
        self._native = load(path)

    def __enter__(self) -> Library:
        self.init()
        return self

    def __exit__(self, *exc: object) -> None:
        self.end()

    def init(self) -> None:
        self._native.call("ZuWexoInit")

    def end(self) -> None:
        """Closes every open command channel and ends the library."""
        self._native.call("ZuWexoEnd")

    @property
    def path(self) -> str:
        return self._native.path

    @property
    def version(self) -> str:
        """The loaded library's "MAJOR.MINOR.PATCH"."""
        return self._native.version

    @property
    def dll_version(self) -> int:
        """The call set's own number (130 for 1.3.0)."""
        return self._native.call("ZuWexoGetDllVersion")

    @property
    def last_error(self) -> int:
        return self._native.last_error()

    @property
    def last_error_message(self) -> str:
        """The original (Japanese) message of the last error."""
        return self._native.japanese_message()

    def strerror(self, code: int) -> str:
        """English text of a last-error code."""
        return self._native.strerror(code)

    def set_log_level(self, mask: int) -> None:
        """Log lines on standard output: 1 entry, 2 result, 4 trace, 8 error."""
        self._native.call("ZuWexoSetLogLevel", mask)

    def set_auto_identify(self, enable: bool, port: int = DEFAULT_DATA_PORT) -> None:
        """Identify boards with this data port during a search."""
        self._native.call("ZuWexoSetAutoRequestIdModel", int(enable), port)

    def select_network_device(self, address: Optional[str]) -> None:
        """Binds later sockets to this local IPv4 address; None clears it."""
        if address is not None:
            ipaddress.IPv4Address(address)  # the call leaves no code for bad text
        self._native.call("ZuWexoSelectNetworkDevice", address)

    def unit(self, index: int) -> Unit:
        return Unit(self._native, index)

    def search(self, timeout_ms: int = 1000) -> List[Unit]:
        """Broadcasts a discovery query and rebuilds the device table (closing
        every open channel); the units that answered, [] when none did."""
        count = self._native.call("ZuWexoSearch", timeout_ms)
        return [self.unit(i) for i in range(count)]

    def _connected(self, call: str, *args: object) -> Unit:
        return self.unit(self._native.call(call, *args))

    def connect_by_id_model(self, board_id: int, model: int) -> Unit:
        return self._connected("ZuWexoConnectByIdModel", board_id, model)

    def connect_by_ip(self, address: str) -> Unit:
        """Connects the searched unit with this address."""
        return self._connected("ZuWexoConnectByIpAddress", address)

    def connect_by_mac(self, mac: Union[bytes, str]) -> Unit:
        """Connects the searched unit with this MAC ("02:57:58:00:00:02" or 6 bytes)."""
        return self._connected("ZuWexoConnectByMacAddress", _mac_bytes(mac))

    def connect_direct(self, host: str, timeout_ms: int = 1000, data_port: Optional[int] = None) -> Unit:
        """Adds a record for host and connects it: through its module, or with
        a data_port straight to the board (no module exchange)."""
        if data_port is None:
            return self._connected("ZuWexoConnectDirect", host, timeout_ms)
        return self._connected("ZuWexoConnectDirect2", host, timeout_ms, data_port)

    def add_unit(self, host: str, timeout_ms: int = 1000) -> Unit:
        """Adds a record for host from one exchange with its module, without
        identifying the board or connecting it."""
        return self._connected("wexo_add_unit", host, timeout_ms)

    def connect_over_ip_masquerade(self, host: str, timeout_ms: int = 1000, data_port: int = 0,
                                   cp_port: int = PINS_PORT, udp_port: int = MODULE_UDP_PORT) -> Unit:
        """As connect_direct, through the module's UDP port udp_port; data_port
        0 keeps the port the unit reports."""
        return self._connected("ZuWexoConnectOverIPMasquerade", host, timeout_ms, data_port, cp_port, udp_port)

    def set_ip_address(self, mac4: int, mac5: int, address: str) -> None:
        """Assigns address to the module whose MAC ends in mac4, mac5 (broadcast)."""
        self._native.call("ZuWexoSetIpAddress", mac4, mac5, *_ip_bytes(address))

    def set_first_found_ip_address(self, address: str, timeout_ms: int = 1000) -> None:
        """Assigns address to the first module that answers a discovery query."""
        self._native.call("ZuWexoFirstFoundSetIpAddress", timeout_ms, *_ip_bytes(address))

    def model_capabilities(self, model: int, unit_kind: int = 0) -> Capabilities:
        """What a model code offers on a unit kind, without a unit."""
        return _capabilities(self._native, "wexo_model_capabilities", model, unit_kind)

    def check_intel_hex(self, text: str) -> HexSummary:
        """What an Intel HEX text holds, and whether an update would load it."""
        summary = _HexSummary()
        valid = self._native.call("wexo_check_intel_hex", text, ctypes.byref(summary))
        return HexSummary(bool(valid), *(getattr(summary, name) for name in HexSummary._fields[1:]))
