"""The bindings without a unit: every export is wrapped, the library's
version is checked, and failures become the exception of their code."""
from __future__ import annotations

import ctypes.util
import errno
import inspect
import re

import pytest

import wexo
from wexo import _native, library
from conftest import TOP


def exported_functions() -> list:
    rows = (re.split(r"\t+", line) for line in (TOP / "src/exports.tsv").read_text().splitlines()
            if line and not line.startswith("#"))
    return [row[0] for row in rows if row[2] != "data"]


def test_every_exported_call_has_a_signature_and_a_wrapper():
    names = exported_functions()
    assert len(names) > 100
    rows = _native.parse_signatures(_native.SIGNATURES)
    assert sorted(rows) == sorted(names)
    wrapped = inspect.getsource(library) + inspect.getsource(_native)
    assert [n for n in names if f'"{n}"' not in wrapped] == []


@pytest.mark.parametrize("text, accepted", [
    ("1.3.0", True), ("1.0.12", True), ("2.0.0", False), ("0.9.1", False), ("1.3", False), ("", False),
    ("1.x.0", False),
])
def test_version_check_accepts_major_1_only(text, accepted):
    if accepted:
        assert _native.check_version("lib", text) == text
    else:
        with pytest.raises(wexo.LibraryError, match="lib"):
            _native.check_version("lib", text)


def test_the_loaded_library_is_version_1():
    lib = wexo.Library()
    assert lib.version.startswith("1.")
    assert lib.dll_version == 130


@pytest.mark.parametrize("path, reason", [
    ("/nonexistent/libWEXO.so.1", "cannot load"),
    (ctypes.util.find_library("c"), "no wexo_version"),
])
def test_a_wrong_library_is_refused_with_the_reason(path, reason, monkeypatch):
    monkeypatch.setenv("WEXO_LIBRARY", path)
    with pytest.raises(wexo.LibraryError, match=reason):
        wexo.Library()


def test_failures_raise_the_exception_of_their_code():
    lib = wexo.Library()
    lib.end()
    with pytest.raises(wexo.NotInitializedError) as before_init:
        lib.search(0)
    with lib:
        with pytest.raises(wexo.NotPossibleError) as bad_index:
            lib.unit(300).model
        with pytest.raises(wexo.IndexRangeError) as no_record:
            lib.unit(200).model
        with pytest.raises(wexo.WexoOSError) as refused:  # nothing listens on port 1
            lib.connect_direct("127.0.0.1", 500, data_port=1)
        with pytest.raises(ValueError):
            lib.select_network_device("not an address")

    cases = [(before_init, 1, "ZuWexoSearch"), (bad_index, 6, "ZuWexoGetModel"),
             (no_record, 3, "ZuWexoGetModel"), (refused, 10000 + errno.ECONNREFUSED, "ZuWexoConnectDirect2")]
    for caught, code, call in cases:
        e = caught.value
        assert (e.code, e.call) == (code, call)
        assert e.message == lib.strerror(code) != "unknown error code"
        assert e.japanese and str(e) == f"{call} failed: {e.message} (code {code})"
    assert refused.value.errno == errno.ECONNREFUSED and isinstance(refused.value, OSError)
    assert refused.value.japanese == f"err:{10000 + errno.ECONNREFUSED}"
    assert before_init.value.japanese != no_record.value.japanese
