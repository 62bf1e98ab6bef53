"""KAVEL on Dask arrays: images of any size, chunked any way, on one machine
or a cluster, with the results of the whole-image functions of :mod:`kavel`.

``treat`` gives a lazy dask array; the small results (``histogram``,
``tones``, ``threshold``, ``suggest``, ``measure``) are computed at once with
the current scheduler (a ``dask.distributed`` Client when one is active).
A numpy array is taken as one chunk.
"""

from __future__ import annotations

from typing import Union

import dask
import dask.array as da
import numpy as np

import kavel
from kavel import Counts, Kind, Measurements, Suggestion, _kind, _tone

Source = Union[da.Array, np.ndarray]

__all__ = ["histogram", "measure", "suggest", "threshold", "tones", "treat"]


def _as_dask(image: object) -> da.Array:
    if isinstance(image, np.ndarray):
        image = da.from_array(image, chunks=image.shape or -1)
    if not isinstance(image, da.Array):
        raise TypeError(f"image must be a dask or numpy array of uint8, not {type(image).__name__}")
    if image.dtype != np.uint8:
        raise TypeError(f"image must have dtype uint8, not {image.dtype}")
    if image.ndim != 2:
        raise ValueError(f"image must be 2-D (lines, columns), not {image.ndim}-D")
    return image


_DEPTH = {0: 1, 1: 1}


def _edge(minimum: int) -> dict:
    """What goes around the image when a block borders it: the tone
    ``minimum``, which is selected whenever anything is. A selected neighbour
    is what the edge of the image counts as, so every block's border is the
    whole image's border."""
    return {0: minimum, 1: minimum}


def _with_halo(image: da.Array, minimum: int) -> da.Array:
    """Each block with one line and column of its neighbours around it."""
    return da.overlap.overlap(image, depth=_DEPTH, boundary=_edge(minimum))


def treat(
    image: Source,
    min: int,
    max: int,
    kind: Kind = "whole",
    item: int = 255,
    border: int = 255,
    background: int = 0,
) -> da.Array:
    """:func:`kavel.treat` chunk by chunk: byte-identical to it on the whole
    image for every chunking. The result is lazy, chunked as ``image``."""
    image = _as_dask(image)
    lo, hi = _tone("min", min), _tone("max", max)
    _kind(kind)
    tones = dict(item=_tone("item", item), border=_tone("border", border), background=_tone("background", background))
    if kind in ("whole", "none") or 0 in image.shape:
        # No neighbour is looked at: no halo needed.
        return image.map_blocks(kavel.treat, min=lo, max=hi, kind=kind, dtype=np.uint8, **tones)
    return image.map_overlap(
        kavel.treat, depth=_DEPTH, boundary=_edge(lo), min=lo, max=hi, kind=kind, dtype=np.uint8, **tones
    )


def _block_histogram(block: np.ndarray) -> np.ndarray:
    return kavel.histogram(block).reshape(1, 1, 256)


def histogram(image: Source) -> np.ndarray:
    """The 256 tone counts (uint64), summed over the chunks."""
    image = _as_dask(image)
    parts = image.map_blocks(
        _block_histogram,
        new_axis=2,
        chunks=((1,) * image.numblocks[0], (1,) * image.numblocks[1], (256,)),
        dtype=np.uint64,
    )
    return parts.sum(axis=(0, 1), dtype=np.uint64).compute()


def _counts_of(image_or_histogram: object) -> object:
    if isinstance(image_or_histogram, da.Array):
        return histogram(image_or_histogram)
    return image_or_histogram


def tones(image: Source) -> int:
    """The number of distinct tones in the image."""
    return int(np.count_nonzero(histogram(image)))


def threshold(image_or_histogram: Union[Source, Counts], method: str = "Default") -> int:
    """:func:`kavel.threshold` of the image's histogram."""
    return kavel.threshold(_counts_of(image_or_histogram), method)


def suggest(image_or_histogram: Union[Source, Counts]) -> list[Suggestion]:
    """:func:`kavel.suggest` of the image's histogram."""
    return kavel.suggest(_counts_of(image_or_histogram))


def _structure(connectivity: int) -> np.ndarray:
    return np.ones((3, 3), bool) if connectivity == 8 else np.array([[0, 1, 0], [1, 1, 1], [0, 1, 0]], bool)


def _measure_block(halo: np.ndarray, minimum: int, maximum: int, connectivity: int) -> dict:
    """What one block adds to the measurements, from the block with its halo:
    its tone counts, its border pixels, its regions, and the labels of its four
    edges so that regions meeting across blocks can be joined."""
    from scipy import ndimage

    treated = kavel.treat(halo, minimum, maximum, kind="item-border", item=1, border=2, background=0)
    inner = (slice(1, -1), slice(1, -1))
    block = halo[inner]
    marks = kavel.histogram(treated[inner])
    labels, count = ndimage.label((block >= minimum) & (block <= maximum), structure=_structure(connectivity))
    return {
        "histogram": kavel.histogram(block),
        "border": int(marks[2]),
        "regions": int(count),
        "top": labels[0].copy(),
        "bottom": labels[-1].copy(),
        "left": labels[:, 0].copy(),
        "right": labels[:, -1].copy(),
    }


def _touching(first: np.ndarray, second: np.ndarray, connectivity: int) -> list[np.ndarray]:
    """Label pairs of two lines of pixels side by side: equal positions, and
    for 8-connectivity the positions one apart."""
    shifts = (0, 1, -1) if connectivity == 8 else (0,)
    pairs = []
    n = len(first)
    for s in shifts:
        a = first[max(0, -s) : n - max(0, s)]
        b = second[max(0, s) : n - max(0, -s)]
        both = (a > 0) & (b > 0)
        pairs.append(np.stack([a[both], b[both]]))
    return pairs


def _joined_regions(parts: np.ndarray, connectivity: int) -> int:
    """The regions of the whole image from those of its blocks: labels of
    different blocks whose pixels touch across a block edge are one region."""
    from scipy.sparse import coo_matrix
    from scipy.sparse.csgraph import connected_components

    rows, columns = parts.shape
    offset = 0
    glob = np.empty(parts.shape, dtype=object)
    for i in range(rows):
        for j in range(columns):
            part = parts[i, j]
            shifted = {}
            for edge in ("top", "bottom", "left", "right"):
                labels = part[edge].astype(np.int64)
                shifted[edge] = np.where(labels > 0, labels + offset, 0)
            glob[i, j] = shifted
            offset += part["regions"]
    pairs = []
    for i in range(rows - 1):
        above = np.concatenate([glob[i, j]["bottom"] for j in range(columns)])
        below = np.concatenate([glob[i + 1, j]["top"] for j in range(columns)])
        pairs += _touching(above, below, connectivity)
    for j in range(columns - 1):
        left = np.concatenate([glob[i, j]["right"] for i in range(rows)])
        right = np.concatenate([glob[i, j + 1]["left"] for i in range(rows)])
        pairs += _touching(left, right, connectivity)
    edges = np.concatenate(pairs, axis=1) if pairs else np.zeros((2, 0), np.int64)
    if edges.shape[1] == 0:
        return offset
    nodes, index = np.unique(edges, return_inverse=True)
    index = index.reshape(2, -1)
    graph = coo_matrix((np.ones(index.shape[1]), (index[0], index[1])), shape=(len(nodes), len(nodes)))
    components, _ = connected_components(graph, directed=False)
    return offset - (len(nodes) - components)


def _summary(counts: np.ndarray, minimum: int, maximum: int, pixels: int, border: int, regions: int) -> Measurements:
    # The same sums in the same order as the whole-image measure, so the
    # floating-point results are the same to the last bit.
    selected = [int(counts[g]) if minimum <= g <= maximum else 0 for g in range(256)]
    total = sum(selected)
    mean = median = mode = std_dev = None
    if total:
        mean = sum(float(n) * g for g, n in enumerate(selected)) / total
        squares, below = 0.0, 0
        for g, n in enumerate(selected):
            if n == 0:
                continue
            squares += float(n) * (g - mean) * (g - mean)
            if median is None and 2 * (below + n) >= total:
                median = g
            below += n
            if mode is None or n > selected[mode]:
                mode = g
        std_dev = float(np.sqrt(squares / total))
    return Measurements(
        min=minimum,
        max=maximum,
        pixels=pixels,
        selected=total,
        border=border,
        inside=total - border,
        area_fraction=total / pixels if pixels else 0.0,
        tones=sum(1 for n in selected if n),
        mean=mean,
        median=median,
        mode=mode,
        std_dev=std_dev,
        regions=regions,
    )


def measure(image: Source, min: int, max: int, connectivity: int = 8) -> Measurements:
    """:func:`kavel.measure` over the chunks, in one pass over the pixels;
    regions that cross chunk edges are counted once."""
    image = _as_dask(image)
    lo, hi = _tone("min", min), _tone("max", max)
    if connectivity not in (4, 8) or isinstance(connectivity, bool):
        raise ValueError(f"connectivity must be 4 or 8, not {connectivity!r}")
    pixels = int(image.shape[0]) * int(image.shape[1])
    if pixels == 0:
        return _summary(np.zeros(256, np.uint64), lo, hi, 0, 0, 0)
    blocks = _with_halo(image, lo).to_delayed()
    tasks = [dask.delayed(_measure_block)(block, lo, hi, connectivity) for block in blocks.ravel()]
    parts = np.empty(blocks.shape, dtype=object)
    for k, part in enumerate(dask.compute(*tasks)):
        parts.flat[k] = part
    counts = np.sum([part["histogram"] for part in parts.flat], axis=0, dtype=np.uint64)
    border = sum(part["border"] for part in parts.flat)
    return _summary(counts, lo, hi, pixels, border, _joined_regions(parts, connectivity))
