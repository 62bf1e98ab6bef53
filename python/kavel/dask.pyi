from typing import Literal, Sequence, Union

import dask.array as da
import numpy as np
import numpy.typing as npt

from kavel import Kind, Measurements, Suggestion

Source = Union[da.Array, npt.NDArray[np.uint8]]

def treat(
    image: Source,
    min: int,
    max: int,
    kind: Kind = "whole",
    item: int = 255,
    border: int = 255,
    background: int = 0,
) -> da.Array: ...
def histogram(image: Source) -> npt.NDArray[np.uint64]: ...
def tones(image: Source) -> int: ...
def threshold(image_or_histogram: Union[Source, Sequence[int]], method: str = "Default") -> int: ...
def suggest(image_or_histogram: Union[Source, Sequence[int]]) -> list[Suggestion]: ...
def measure(image: Source, min: int, max: int, connectivity: Literal[4, 8] = 8) -> Measurements: ...
