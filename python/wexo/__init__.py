"""Python bindings for libWEXO, the client library for networked WEXO I/O units.

    import wexo

    with wexo.Library() as lib:
        units = lib.search(1000)
        with units[0].connect() as unit:
            print(f"inputs {unit.read_inputs():#04x}")
            unit.set_output(0, True)

The library is found as libWEXO.so.1 on the loader's path, or at the path in
the environment variable WEXO_LIBRARY; it must be version 1.x.
"""
from .errors import (AlreadyError, BadReplyError, IndexRangeError, LibraryError, NoMatchError,
                     NotConnectedError, NotFoundError, NotInitializedError, NotPossibleError,
                     TableFullError, WexoError, WexoOSError)
from .library import (Capabilities, CpModes, HexSummary, Library, OutputAlert, PulseAlert, PulseConfig,
                      SerialParameters, Thermocouple, Thresholds, TransmitScale, Unit)

__version__ = "1.3.0"

__all__ = [
    "AlreadyError", "BadReplyError", "Capabilities", "CpModes", "HexSummary", "IndexRangeError", "Library",
    "LibraryError", "NoMatchError", "NotConnectedError", "NotFoundError", "NotInitializedError",
    "NotPossibleError", "OutputAlert", "PulseAlert", "PulseConfig", "SerialParameters",
    "TableFullError", "Thermocouple", "Thresholds", "TransmitScale", "Unit", "WexoError",
    "WexoOSError",
]
