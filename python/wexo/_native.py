"""Loading libWEXO.so.1 and calling it through a table of C signatures.

Each exported call is one row: its name, how its result tells failure, and
one letter per parameter. Input letters take the caller's argument in turn;
output letters (">i" and the like) are pointers that `Native.call` allocates
and whose values it returns, so a getter needs no ctypes code of its own.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from typing import Any, Dict, List, Optional, Tuple

from ._signatures import SIGNATURES
from .errors import LibraryError, WexoError, error_for

SONAME = "libWEXO.so.1"
SUPPORTED_MAJOR = 1

# Inputs: i int, u unsigned, d double, q long long, s text (str, bytes or
# None), y bytes, p a caller-made buffer/array/struct pointer, f the firmware
# progress callback. Outputs: >i int*, >u unsigned*, >d double*, >q long long*,
# >h unsigned short*, >a char** (a pointer into the device table).
PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_void_p)
_INPUTS: Dict[str, Any] = {
    "i": ctypes.c_int, "u": ctypes.c_uint, "d": ctypes.c_double, "q": ctypes.c_longlong,
    "s": ctypes.c_char_p, "y": ctypes.c_char_p, "p": ctypes.c_void_p, "f": PROGRESS,
}
_OUTPUTS: Dict[str, Any] = {
    ">i": ctypes.c_int, ">u": ctypes.c_uint, ">d": ctypes.c_double, ">q": ctypes.c_longlong,
    ">h": ctypes.c_ushort, ">a": ctypes.POINTER(ctypes.c_char),
}

# Result kinds: ok (1 success, 0 failure), index (a count or device index,
# -1 failure), count (a count; 0 is a failure only when a code is left),
# value (never fails), text (const char*). SIGNATURES is generated from
# src/exports.tsv.

# ZuWexoGetLastErrorMessage needs room for 106 bytes with the NUL.
MESSAGE_SIZE = 106


def parse_signatures(table: str) -> Dict[str, Tuple[str, List[str]]]:
    rows = {}
    for line in table.strip().splitlines():
        name, kind, *letters = line.split()
        rows[name] = (kind, letters)
    return rows


def check_version(path: str, text: str) -> str:
    """text when it is a "MAJOR.MINOR.PATCH" of a supported major version."""
    parts = text.split(".")
    if len(parts) != 3 or not all(p.isdigit() for p in parts):
        raise LibraryError(f"{path}: wexo_version() gave {text!r}, not MAJOR.MINOR.PATCH")
    if int(parts[0]) != SUPPORTED_MAJOR:
        raise LibraryError(f"{path} is libWEXO {text}; these bindings need {SUPPORTED_MAJOR}.x")
    return text


def _open(path: Optional[str]) -> ctypes.CDLL:
    """The library named by path, else WEXO_LIBRARY, else the installed one."""
    named = path or os.environ.get("WEXO_LIBRARY")
    candidates: List[Optional[str]] = [named] if named else [SONAME, ctypes.util.find_library("WEXO")]
    reasons = []
    for candidate in filter(None, candidates):
        try:
            return ctypes.CDLL(candidate)
        except OSError as e:
            reasons.append(str(e))
    where = f"{named!r}" if named else f"{SONAME} (set WEXO_LIBRARY to its path if it is not installed)"
    raise LibraryError(f"cannot load {where}: " + "; ".join(reasons or ["not found"]))


class Native:
    """One loaded libWEXO: typed functions and the call wrapper.

    The last-error code is one global of the library, so a call and the
    reading of its code happen under one lock; calls from several threads
    therefore run one at a time.
    """

    def __init__(self, path: Optional[str] = None) -> None:
        self.cdll = _open(path)
        self.path = self.cdll._name
        try:
            version_fn = self.cdll["wexo_version"]
        except AttributeError:
            raise LibraryError(
                f"{self.path} has no wexo_version(): not libWEXO, or a version before 1.3") from None
        version_fn.restype = ctypes.c_char_p
        version_fn.argtypes = []
        self.version = check_version(self.path, (version_fn() or b"").decode("ascii", "replace"))

        self.lock = threading.RLock()
        self._rows: Dict[str, Tuple[str, List[str], Any]] = {}
        for name, (kind, letters) in parse_signatures(SIGNATURES).items():
            try:
                fn = self.cdll[name]
            except AttributeError:
                raise LibraryError(f"{self.path} lacks {name}: not a complete libWEXO {self.version}") from None
            fn.restype = ctypes.c_char_p if kind == "text" else ctypes.c_int
            fn.argtypes = [ctypes.POINTER(_OUTPUTS[l]) if l in _OUTPUTS else _INPUTS[l] for l in letters]
            self._rows[name] = (kind, letters, fn)

    def call(self, name: str, *args: Any) -> Any:
        """Calls name with args for its input parameters. Returns the output
        values (one value, or a tuple of several), or else the C result;
        raises the WexoError of the last-error code when the call failed."""
        kind, letters, fn = self._rows[name]
        if len(args) != sum(letter not in _OUTPUTS for letter in letters):
            raise TypeError(f"{name} takes {' '.join(letters) or 'no arguments'}, given {len(args)} inputs")
        given = iter(args)
        c_args: List[Any] = []
        outputs: List[Tuple[str, Any]] = []
        for letter in letters:
            if letter in _OUTPUTS:
                outputs.append((letter, _OUTPUTS[letter]()))
                c_args.append(ctypes.byref(outputs[-1][1]))
            else:
                value = next(given)
                c_args.append(value.encode() if letter == "s" and isinstance(value, str) else value)
        with self.lock:
            result = fn(*c_args)
            if self._failed(kind, result):
                raise self.error(name)
        if kind == "text":
            return result.decode("utf-8", "replace")
        if not outputs:
            return result
        values = [o if letter == ">a" else o.value for letter, o in outputs]
        return values[0] if len(values) == 1 else tuple(values)

    def _failed(self, kind: str, result: int) -> bool:
        if kind == "ok":
            return result == 0
        if kind == "index":
            return result < 0
        if kind == "count":
            return result == 0 and self.last_error() != 0
        return False

    def last_error(self) -> int:
        return int(self._rows["ZuWexoGetLastError"][2]())

    def japanese_message(self) -> str:
        buffer = ctypes.create_string_buffer(MESSAGE_SIZE)
        self._rows["ZuWexoGetLastErrorMessage"][2](buffer)
        return buffer.value.decode("utf-8", "replace")

    def strerror(self, code: int) -> str:
        return self._rows["wexo_strerror"][2](code).decode("utf-8", "replace")

    def error(self, call: str) -> WexoError:
        """The exception for the last-error code that call left."""
        code = self.last_error()
        return error_for(code, call, self.strerror(code), self.japanese_message())


_loaded: Dict[Optional[str], Native] = {}
_loaded_lock = threading.Lock()


def load(path: Optional[str] = None) -> Native:
    """The library for path (or the default search), loaded once per process."""
    key = path or os.environ.get("WEXO_LIBRARY")
    with _loaded_lock:
        if key not in _loaded:
            _loaded[key] = Native(path)
        return _loaded[key]
