"""KAVEL: thresholding of 8-bit gray-tone images, for numpy arrays.

An image is a 2-D ``uint8`` array of any strides, line 0 at the top. Every
function gives exactly what ``kavel-cli`` gives for the same image and
parameters, and releases the GIL while it works on the pixels, so threads run
in parallel.

>>> import numpy as np, kavel
>>> image = kavel.read("samples/scene.raw")
>>> t = kavel.threshold(image, "Otsu")
>>> border = kavel.treat(image, 0, t, kind="border")
>>> kavel.measure(image, 0, t).regions
"""

from __future__ import annotations

import os
import warnings
from dataclasses import dataclass
from typing import Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _kavel

__all__ = [
    "METHODS",
    "Measurements",
    "NoThreshold",
    "Suggestion",
    "histogram",
    "measure",
    "read",
    "suggest",
    "threshold",
    "tones",
    "treat",
    "write",
]

#: A 2-D uint8 array, line 0 at the top.
Image = npt.NDArray[np.uint8]
Kind = Literal["whole", "border", "item-border", "none"]
Counts = Union[npt.NDArray[np.integer], Sequence[int]]

#: The sixteen threshold methods, in the order ``kavel-cli suggest`` lists them.
METHODS: Tuple[str, ...] = tuple(_kavel.METHODS)

_KINDS = {"none": 0, "whole": 1, "border": 2, "item-border": 3}


class NoThreshold(ValueError):
    """A threshold method found no threshold; the message says why."""


@dataclass(frozen=True)
class Measurements:
    """What ``kavel-cli measure --format json`` reports for one image.

    ``border`` and ``inside`` are the selected pixels that ``treat`` draws as
    border and as item; ``mean``, ``median``, ``mode`` and ``std_dev`` are of
    the selected pixels' tones (lower median, lowest of equal modes,
    population deviation) and None when nothing is selected; ``regions`` is
    the number of connected regions of the selection.
    """

    min: int
    max: int
    pixels: int
    selected: int
    border: int
    inside: int
    area_fraction: float
    tones: int
    mean: Optional[float]
    median: Optional[int]
    mode: Optional[int]
    std_dev: Optional[float]
    regions: int


@dataclass(frozen=True)
class Suggestion:
    """One method's threshold t and the intervals it implies, as
    ``kavel-cli suggest --format json`` gives them: the dark item
    [0, t] and the light item [t + 1, 255]. When the method has no threshold,
    the numbers are None and ``failure`` says why."""

    method: str
    threshold: Optional[int]
    dark_min: Optional[int]
    dark_max: Optional[int]
    light_min: Optional[int]
    light_max: Optional[int]
    failure: Optional[str]


def _tone(name: str, value: object) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    if not 0 <= value <= 255:
        raise ValueError(f"{name} must be a tone in 0..255, not {value}")
    return int(value)


def _kind(kind: object) -> int:
    if not isinstance(kind, str) or kind not in _KINDS:
        raise ValueError(f"kind must be one of 'whole', 'border', 'item-border', 'none', not {kind!r}")
    return _KINDS[kind]


def _image(image: object) -> np.ndarray:
    if not isinstance(image, np.ndarray):
        raise TypeError(f"image must be a numpy array of uint8, not {type(image).__name__}")
    return image


def treat(
    image: Image,
    min: int,
    max: int,
    kind: Kind = "whole",
    item: int = 255,
    border: int = 255,
    background: int = 0,
    out: Optional[Image] = None,
) -> Image:
    """The result image of the treatment, byte for byte what ``kavel-cli treat`` writes.

    A pixel is selected when ``min <= tone <= max``. ``kind`` is ``"whole"``
    (selected pixels in ``item``), ``"border"`` (selected pixels with an
    unselected pixel above, below, left or right inside the image, in
    ``border``), ``"item-border"`` (both) or ``"none"``; every other pixel
    gets ``background``. The edge of the image is not a border by itself.

    ``image`` is a 2-D uint8 array of any strides; it is not copied. The
    result goes into a new C-contiguous array, or into ``out`` (a writable
    uint8 array of the same shape, any strides, which may be ``image``
    itself). Bounds and tones are 0..255.
    """
    image = _image(image)
    lo, hi = _tone("min", min), _tone("max", max)
    code = _kind(kind)
    tones = _tone("item", item), _tone("border", border), _tone("background", background)
    if isinstance(out, np.ndarray) and out is not image and np.may_share_memory(image, out):
        # Overlapping views would read lines already written.
        image = image.copy()
    return _kavel.treat(image, out, code, lo, hi, *tones)


def histogram(image: Image) -> npt.NDArray[np.uint64]:
    """The 256 tone counts of the image (uint64), count k of tone k."""
    return _kavel.histogram(_image(image))


def tones(image: Image) -> int:
    """The number of distinct tones in the image."""
    return _kavel.tones(_image(image))


def _counts(image_or_histogram: object) -> np.ndarray:
    data = image_or_histogram
    if isinstance(data, np.ndarray) and data.ndim == 1:
        if data.shape != (256,):
            raise ValueError(f"a histogram has 256 counts, not {data.shape[0]}")
        if data.dtype.kind not in "ui":
            raise TypeError(f"a histogram holds integer counts, not {data.dtype}")
        if data.dtype.kind == "i" and (data < 0).any():
            raise ValueError("a histogram count is negative")
        return data.astype(np.uint64, copy=False)
    if isinstance(data, (list, tuple)):
        return _counts(np.asarray(data, dtype=np.int64))
    return histogram(data)


def threshold(image_or_histogram: Union[Image, Counts], method: str = "Default") -> int:
    """The threshold t of a method for an image or its 256-count histogram.

    The dark class is [0, t], the light class [t + 1, 255]. ``method`` is one
    of :data:`METHODS` in any letter case ("otsu", "MinErrorI"). Raises
    :class:`NoThreshold` (a ValueError) with the method's reason when it has
    none, for instance for an image of a single tone.
    """
    if not isinstance(method, str):
        raise TypeError(f"method must be a name, not {type(method).__name__}")
    ((name, t, failure),) = _kavel.suggest(_counts(image_or_histogram), [method])
    if t is None:
        raise NoThreshold(f"{name}: {failure}")
    return t


def suggest(image_or_histogram: Union[Image, Counts]) -> list[Suggestion]:
    """The threshold of every one of the sixteen methods, in the order of :data:`METHODS`."""
    rows = _kavel.suggest(_counts(image_or_histogram), list(METHODS))
    return [
        Suggestion(name, t, 0, t, t + 1, 255, None) if t is not None
        else Suggestion(name, None, None, None, None, None, failure)
        for name, t, failure in rows
    ]


def measure(image: Image, min: int, max: int, connectivity: Literal[4, 8] = 8) -> Measurements:
    """Measurements of the item [min, max] selects; see :class:`Measurements`.

    ``connectivity`` 8 counts pixels touching at a corner as one region, 4
    only those touching at a side. The image is copied once.
    """
    lo, hi = _tone("min", min), _tone("max", max)
    if connectivity not in (4, 8) or isinstance(connectivity, bool):
        raise ValueError(f"connectivity must be 4 or 8, not {connectivity!r}")
    fields = _kavel.measure(_image(image), lo, hi, int(connectivity))
    return Measurements(min=lo, max=hi, **fields)


def read(path: Union[str, os.PathLike], size: Optional[Tuple[int, int]] = None) -> Image:
    """An image file as kavel-cli reads it: ``.bmp`` an 8-bit bitmap, any other
    name raw bytes sized by the descriptor beside it (NAME.txt), or by
    ``size=(lines, columns)``.

    A short raw file reads with the missing pixels at 0 and a RuntimeWarning.
    A missing or unreadable file raises OSError with the file name; a file
    KAVEL does not read raises ValueError saying what it is.
    """
    name = os.fspath(path)
    if not isinstance(name, str):
        name = os.fsdecode(name)
    image, notes = _kavel.read(name, None if size is None else (int(size[0]), int(size[1])))
    for note in notes:
        warnings.warn(note, RuntimeWarning, stacklevel=2)
    return image


def write(path: Union[str, os.PathLike], image: Image) -> None:
    """Writes the image as kavel-cli writes a result: a name ending in ``.raw``
    gives the raw bytes and the five-line descriptor (out.raw: out.txt), one
    ending in ``.bmp`` an 8-bit bitmap with the gray ramp. Each file is
    replaced only once it is complete. A failure raises OSError with the name.
    """
    name = os.fspath(path)
    if not isinstance(name, str):
        name = os.fsdecode(name)
    _kavel.write(name, _image(image))
