"""The build backend of the kavel Python package (PEP 517 and PEP 660).

pip builds a package in an isolated environment into which it would download
the backend named in pyproject.toml; this one lives in the tree and needs
nothing but the standard library, so ``pip install .`` works without a
network. It configures python/CMakeLists.txt with CMake, builds the extension
(which compiles core/ and the command line's file handling) and writes the
wheel with zipfile.

Settings (``pip install . --config-settings build-dir=DIR``): ``build-dir``
keeps the CMake build between runs (default: a fresh temporary folder).
The environment's CMAKE_BUILD_PARALLEL_LEVEL sets the jobs (default 2).
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PACKAGE = ROOT / "python" / "kavel"
NAME = "kavel"
SUMMARY = "Thresholding of 8-bit gray-tone images: the KAVEL core for numpy and Dask"


def _version() -> str:
    for line in (ROOT / "pyproject.toml").read_text().splitlines():
        if line.startswith("version"):
            return line.split("=", 1)[1].strip().strip('"')
    raise RuntimeError("pyproject.toml gives no version")


VERSION = _version()
DIST_INFO = f"{NAME}-{VERSION}.dist-info"


def _metadata() -> str:
    readme = (ROOT / "docs" / "python.md").read_text(encoding="utf-8")
    return (
        "Metadata-Version: 2.1\n"
        f"Name: {NAME}\nVersion: {VERSION}\nSummary: {SUMMARY}\n"
        "Requires-Python: >=3.9\nRequires-Dist: numpy\n"
        "Provides-Extra: dask\n"
        'Requires-Dist: dask[array]; extra == "dask"\n'
        'Requires-Dist: scipy; extra == "dask"\n'
        "Description-Content-Type: text/markdown\n\n" + readme
    )


def _tag() -> str:
    interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{interpreter}-{platform}"


def _build_extension(config_settings: dict | None) -> Path:
    """Builds the extension and gives its file."""
    settings = config_settings or {}
    build_dir = Path(settings["build-dir"]) if settings.get("build-dir") else Path(tempfile.mkdtemp(prefix="kavel-py-"))
    configure = [
        "cmake", "-S", str(ROOT / "python"), "-B", str(build_dir),
        "-DCMAKE_BUILD_TYPE=Release", f"-DPython3_EXECUTABLE={sys.executable}",
    ]
    if shutil.which("ninja") and not (build_dir / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"]
    env = dict(os.environ)
    env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    subprocess.run(configure, check=True, env=env, stdout=sys.stderr)
    subprocess.run(["cmake", "--build", str(build_dir)], check=True, env=env, stdout=sys.stderr)
    built = sorted((build_dir / "kavel").glob("_kavel*.so"))
    if not built:
        raise RuntimeError(f"the build in {build_dir} made no _kavel module")
    return built[0]


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(wheel_directory: str, files: dict[str, bytes]) -> str:
    files = dict(files)
    files[f"{DIST_INFO}/METADATA"] = _metadata().encode()
    files[f"{DIST_INFO}/WHEEL"] = (
        f"Wheel-Version: 1.0\nGenerator: kavel build_backend\nRoot-Is-Purelib: false\nTag: {_tag()}\n"
    ).encode()
    files[f"{DIST_INFO}/top_level.txt"] = b"kavel\n"
    record = f"{DIST_INFO}/RECORD"
    lines = [_record_line(name, data) for name, data in files.items()] + [f"{record},,"]
    files[record] = ("\n".join(lines) + "\n").encode()
    wheel_name = f"{NAME}-{VERSION}-{_tag()}.whl"
    with zipfile.ZipFile(Path(wheel_directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files.items():
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return wheel_name


def _package_files() -> dict[str, bytes]:
    return {
        f"kavel/{path.name}": path.read_bytes()
        for path in sorted(PACKAGE.iterdir())
        if path.suffix in (".py", ".pyi") or path.name == "py.typed"
    }


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    extension = _build_extension(config_settings)
    files = _package_files()
    files[f"kavel/{extension.name}"] = extension.read_bytes()
    return _write_wheel(wheel_directory, files)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """The package imported from python/ in the tree, the module copied beside it."""
    extension = _build_extension(config_settings)
    for old in PACKAGE.glob("_kavel*.so"):
        old.unlink()
    shutil.copy2(extension, PACKAGE / extension.name)
    return _write_wheel(wheel_directory, {"kavel_editable.pth": f"{ROOT / 'python'}\n".encode()})


_SDIST_PARTS = ["pyproject.toml", "README.md", "docs/python.md", "python", "core", "cli"]


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{VERSION}"
    name = f"{base}.tar.gz"
    with tarfile.open(Path(sdist_directory) / name, "w:gz") as archive:
        for part in _SDIST_PARTS:
            archive.add(
                ROOT / part,
                arcname=f"{base}/{part}",
                filter=lambda info: None if "__pycache__" in info.name or info.name.endswith(".so") else info,
            )
        data = _metadata().encode()
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size = len(data)
        archive.addfile(info, io.BytesIO(data))
    return name
