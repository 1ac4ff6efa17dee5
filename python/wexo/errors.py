"""Exceptions of the wexo bindings.

A failed call raises WexoError, or the subclass named after its last-error
code, carrying the code, the C call that failed, the library's English text
(wexo_strerror) and its original Japanese message (ZuWexoGetLastErrorMessage).
"""
from __future__ import annotations

from typing import Dict, Optional, Type

SYSTEM_BASE = 10000  # codes from here on are errno + 10000


class LibraryError(RuntimeError):
    """libWEXO.so.1 could not be loaded, or is not a 1.x library."""


class WexoError(Exception):
    """A call of the library failed; `code` is its last-error code."""

    def __init__(self, code: int, call: str, message: str, japanese: str = "") -> None:
        super().__init__(f"{call} failed: {message} (code {code})")
        self.code = code
        self.call = call
        self.message = message
        self.japanese = japanese

    @property
    def errno(self) -> Optional[int]:
        """The operating system's error number of a code from 10000 on."""
        return self.code - SYSTEM_BASE if self.code >= SYSTEM_BASE else None


class NotInitializedError(WexoError):
    """Code 1: the library is not started (Library.init or `with Library()`)."""


class NotFoundError(WexoError):
    """Code 2: a search found no unit."""


class IndexRangeError(WexoError, IndexError):
    """Code 3: the device index is not below the number of records."""


class NoMatchError(WexoError, LookupError):
    """Code 4: no unit matches, or a directly addressed unit did not answer."""


class NotConnectedError(WexoError):
    """Code 5: the unit's command channel is not open."""


class NotPossibleError(WexoError, ValueError):
    """Code 6: not offered by this model, or a value out of range."""


class AlreadyError(WexoError):
    """Code 7: already connected, or a unit's configuration could not be read."""


class TableFullError(WexoError):
    """Code 8: the device table is full."""


class BadReplyError(WexoError):
    """Code 9: the unit's reply was unexpected, malformed or too long."""


class WexoOSError(WexoError, OSError):
    """Codes from 10000 on: a socket call failed with errno = code - 10000
    (10011 a receive time-out, 10110 a connect time-out, 10125 a cancelled
    firmware update)."""

    def __init__(self, code: int, call: str, message: str, japanese: str = "") -> None:
        WexoError.__init__(self, code, call, message, japanese)

    @property
    def errno(self) -> int:  # type: ignore[override]
        return self.code - SYSTEM_BASE


_BY_CODE: Dict[int, Type[WexoError]] = {
    1: NotInitializedError,
    2: NotFoundError,
    3: IndexRangeError,
    4: NoMatchError,
    5: NotConnectedError,
    6: NotPossibleError,
    7: AlreadyError,
    8: TableFullError,
    9: BadReplyError,
}


def error_for(code: int, call: str, message: str, japanese: str = "") -> WexoError:
    """The exception for a last-error code."""
    if code >= SYSTEM_BASE:
        return WexoOSError(code, call, message, japanese)
    return _BY_CODE.get(code, WexoError)(code, call, message, japanese)
