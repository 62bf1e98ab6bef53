"""kavel.dask against the whole-image functions, for chunkings down to one pixel."""

import dask
import dask.array as da
import numpy as np
import pytest

import kavel
import kavel.dask as kd
from conftest import random_image


def _patterns():
    """Images whose regions and borders cross chunk edges in every way."""
    checker = (np.indices((11, 13)).sum(axis=0) % 2 * 200).astype(np.uint8)  # corners only
    diagonal = np.zeros((12, 12), np.uint8)
    np.fill_diagonal(diagonal, 220)
    anti = diagonal[:, ::-1].copy()
    ring = np.full((15, 15), 210, np.uint8)
    ring[3:-3, 3:-3] = 10  # one region around a hole
    return {"checker": checker, "diagonal": diagonal, "anti-diagonal": anti, "ring": ring}


CASES = [(name, image, chunks) for name, image in _patterns().items() for chunks in [(1, 1), (2, 3), (5, 4)]] + [
    ("blobs", random_image(11, (13, 17)), (1, 1)),
    ("blobs", random_image(12, (47, 53)), (7, 5)),
    ("blobs", random_image(13, (64, 64)), (64, 1)),
    ("blobs", random_image(14, (33, 40)), ((1, 15, 17), (39, 1))),
    ("noise", random_image(15, (29, 37), "noise"), (3, 11)),
]


@pytest.fixture(autouse=True)
def synchronous():
    with dask.config.set(scheduler="synchronous"):
        yield


@pytest.mark.parametrize("name,image,chunks", CASES, ids=[f"{n}-{c}" for n, _, c in CASES])
def test_dask_gives_the_whole_image_results(name, image, chunks):
    lazy = da.from_array(image, chunks=chunks)
    for kind in ("whole", "border", "item-border", "none"):
        treated = kd.treat(lazy, 150, 255, kind=kind, item=1, border=2, background=3)
        assert isinstance(treated, da.Array) and treated.chunks == lazy.chunks
        np.testing.assert_array_equal(
            treated.compute(), kavel.treat(image, 150, 255, kind=kind, item=1, border=2, background=3), kind
        )
    assert kd.histogram(lazy).tolist() == kavel.histogram(image).tolist()
    assert kd.tones(lazy) == kavel.tones(image)
    assert kd.suggest(lazy) == kavel.suggest(image)
    for bounds in [(150, 255), (0, 255), (30, 20)]:
        for connectivity in (4, 8):
            assert kd.measure(lazy, *bounds, connectivity=connectivity) == kavel.measure(
                image, *bounds, connectivity=connectivity
            ), (bounds, connectivity)


def test_patterns_have_the_regions_they_should():
    # A check that the patterns test what they claim, independent of kavel.
    patterns = _patterns()
    assert kavel.measure(patterns["checker"], 150, 255, 8).regions == 1
    assert kavel.measure(patterns["checker"], 150, 255, 4).regions == (11 * 13) // 2
    assert kavel.measure(patterns["diagonal"], 150, 255, 8).regions == 1
    assert kavel.measure(patterns["anti-diagonal"], 150, 255, 4).regions == 12
    assert kavel.measure(patterns["ring"], 150, 255, 4).regions == 1


def test_threaded_scheduler_and_numpy_input():
    image = random_image(16, (90, 70))
    with dask.config.set(scheduler="threads"):
        lazy = da.from_array(image, chunks=(17, 13))
        np.testing.assert_array_equal(kd.treat(lazy, 150, 255, kind="border").compute(),
                                      kavel.treat(image, 150, 255, kind="border"))
        assert kd.measure(lazy, 150, 255) == kavel.measure(image, 150, 255)
    assert kd.threshold(image, "Otsu") == kavel.threshold(image, "Otsu")


def test_empty_images():
    for shape in [(0, 5), (5, 0)]:
        lazy = da.zeros(shape, dtype=np.uint8, chunks=2)
        assert kd.treat(lazy, 0, 9, kind="border").compute().shape == shape
        assert kd.tones(lazy) == 0 and kd.measure(lazy, 0, 9) == kavel.measure(np.zeros(shape, np.uint8), 0, 9)


def test_dask_bad_input():
    cases = [
        (lambda: kd.treat(da.zeros((4, 4), dtype=np.float32), 0, 9), TypeError),
        (lambda: kd.treat(da.zeros((2, 4, 4), dtype=np.uint8), 0, 9), ValueError),
        (lambda: kd.treat([[1]], 0, 9), TypeError),
        (lambda: kd.treat(da.zeros((4, 4), dtype=np.uint8), 0, 300), ValueError),
        (lambda: kd.measure(da.zeros((4, 4), dtype=np.uint8), 0, 9, connectivity=5), ValueError),
    ]
    for call, error in cases:
        with pytest.raises(error):
            call()
