"""Shared helpers: the kavel-cli of the same tree, and images written for it."""

import json
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
SAMPLES = ROOT / "samples"


def _cli_path() -> Path:
    given = os.environ.get("KAVEL_CLI")
    path = Path(given) if given else ROOT / "build" / "ci" / "cli" / "kavel-cli"
    if not os.access(path, os.X_OK):
        pytest.fail(f"no kavel-cli at {path}: build it, or set KAVEL_CLI", pytrace=False)
    return path


class Cli:
    """Runs kavel-cli and keeps what it printed."""

    def __init__(self, path: Path, folder: Path):
        self.path = path
        self.folder = folder
        self.count = 0

    def run(self, *args, check=True) -> subprocess.CompletedProcess:
        done = subprocess.run([str(self.path), *map(str, args)], capture_output=True)
        if check and done.returncode != 0:
            raise AssertionError(f"kavel-cli {' '.join(map(str, args))}: {done.stderr.decode()}")
        return done

    def json(self, *args):
        return json.loads(self.run(*args, "--format", "json").stdout)

    def raw_input(self, image: np.ndarray) -> Path:
        """The image as a raw file with its descriptor, written without kavel."""
        self.count += 1
        path = self.folder / f"in{self.count}.raw"
        path.write_bytes(np.ascontiguousarray(image).tobytes())
        path.with_suffix(".txt").write_text(f"{image.shape[0]}\r\n{image.shape[1]}\r\n")
        return path

    def treat(self, source: Path, shape, *options) -> np.ndarray:
        self.count += 1
        out = self.folder / f"out{self.count}.raw"
        # The command line refuses an empty interval unless told it is meant.
        self.run("treat", source, "-o", out, "--allow-empty", *options)
        return np.frombuffer(out.read_bytes(), np.uint8).reshape(shape)


@pytest.fixture(scope="session")
def cli(tmp_path_factory) -> Cli:
    return Cli(_cli_path(), tmp_path_factory.mktemp("cli"))


def random_image(seed: int, shape, kind: str = "blobs") -> np.ndarray:
    """Noise, or blobs of light tones on a dark ground (many regions and borders)."""
    rng = np.random.default_rng(seed)
    if kind == "noise":
        return rng.integers(0, 256, shape, dtype=np.uint8)
    light = rng.random(shape) < 0.45
    return (light * 180 + rng.integers(0, 60, shape)).astype(np.uint8)


# Shapes where the edges matter: single lines and columns, odd sizes.
SHAPES = [(1, 1), (1, 37), (29, 1), (2, 2), (31, 45), (64, 129)]
