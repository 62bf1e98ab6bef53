from dataclasses import dataclass
from os import PathLike
from typing import Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

Image = npt.NDArray[np.uint8]
Kind = Literal["whole", "border", "item-border", "none"]
Counts = Union[npt.NDArray[np.integer], Sequence[int]]

METHODS: Tuple[str, ...]

class NoThreshold(ValueError): ...

@dataclass(frozen=True)
class Measurements:
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
    method: str
    threshold: Optional[int]
    dark_min: Optional[int]
    dark_max: Optional[int]
    light_min: Optional[int]
    light_max: Optional[int]
    failure: Optional[str]

def treat(
    image: Image,
    min: int,
    max: int,
    kind: Kind = "whole",
    item: int = 255,
    border: int = 255,
    background: int = 0,
    out: Optional[Image] = None,
) -> Image: ...
def histogram(image: Image) -> npt.NDArray[np.uint64]: ...
def tones(image: Image) -> int: ...
def threshold(image_or_histogram: Union[Image, Counts], method: str = "Default") -> int: ...
def suggest(image_or_histogram: Union[Image, Counts]) -> list[Suggestion]: ...
def measure(image: Image, min: int, max: int, connectivity: Literal[4, 8] = 8) -> Measurements: ...
def read(path: Union[str, PathLike[str]], size: Optional[Tuple[int, int]] = None) -> Image: ...
def write(path: Union[str, PathLike[str]], image: Image) -> None: ...
