"""PEP 517 backend for the wexo package, from the standard library alone.

The package is a folder of Python files; a wheel is a zip of them with three
metadata files, so nothing needs to be fetched to build it.
"""
import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PACKAGE = "wexo"
# Fixed times keep the archives reproducible (zip cannot store before 1980).
ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def _project():
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    try:
        import tomllib
    except ImportError:  # before Python 3.11: the [project] table holds plain strings
        section = text.split("[project]", 1)[1].split("\n[", 1)[0]
        return dict(re.findall(r'^([\w-]+)\s*=\s*"([^"]*)"', section, re.M))
    return tomllib.loads(text)["project"]


def _metadata():
    p = _project()
    return (f"Metadata-Version: 2.1\nName: {p['name']}\nVersion: {p['version']}\n"
            f"Summary: {p['description']}\nRequires-Python: {p['requires-python']}\n")


def _dist_info():
    p = _project()
    return f"{p['name']}-{p['version']}.dist-info"


def _package_files():
    for path in sorted((ROOT / PACKAGE).rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts:
            yield path.relative_to(ROOT).as_posix(), path.read_bytes()


def _write_wheel(directory, files):
    p = _project()
    name = f"{p['name']}-{p['version']}-py3-none-any.whl"
    info = _dist_info()
    files = list(files) + [
        (f"{info}/METADATA", _metadata().encode()),
        (f"{info}/WHEEL", b"Wheel-Version: 1.0\nGenerator: wexo_build\nRoot-Is-Purelib: true\n"
                          b"Tag: py3-none-any\n"),
    ]
    record = io.StringIO()
    with zipfile.ZipFile(os.path.join(directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for arcname, data in files:
            wheel.writestr(zipfile.ZipInfo(arcname, ZIP_TIME), data, zipfile.ZIP_DEFLATED)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            record.write(f"{arcname},sha256={digest},{len(data)}\n")
        record.write(f"{info}/RECORD,,\n")
        wheel.writestr(zipfile.ZipInfo(f"{info}/RECORD", ZIP_TIME), record.getvalue(), zipfile.ZIP_DEFLATED)
    return name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, _package_files())


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    # A path file puts this folder on sys.path, so edits take effect at once.
    return _write_wheel(wheel_directory, [(f"{PACKAGE}.pth", f"{ROOT}\n".encode())])


def build_sdist(sdist_directory, config_settings=None):
    p = _project()
    base = f"{p['name']}-{p['version']}"
    name = f"{base}.tar.gz"

    def add(tar, arcname, data):
        entry = tarfile.TarInfo(f"{base}/{arcname}")
        entry.size = len(data)
        entry.mode = 0o644
        tar.addfile(entry, io.BytesIO(data))

    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as tar:
        add(tar, "PKG-INFO", _metadata().encode())
        add(tar, "pyproject.toml", (ROOT / "pyproject.toml").read_bytes())
        add(tar, "build_backend/wexo_build.py", Path(__file__).read_bytes())
        for arcname, data in _package_files():
            add(tar, arcname, data)
    return name
