"""Volume.sample against the transcription of the sampling algorithm, bit for bit."""

import numpy as np
import pytest

from conftest import EDGE, f32, placed, reference_samples, same_bits

INF = np.inf
NAN = np.nan


def lattice_planes():
    """Every plane of the lattice along each axis, and the floats on either side of it."""
    planes = np.arange(EDGE + 1, dtype=f32) / f32(EDGE)
    below, above = np.nextafter(planes, f32(-1)), np.nextafter(planes, f32(2))
    coordinates = np.concatenate([planes, below, above])
    others = np.random.default_rng(3).random((coordinates.size, 2), dtype=f32)
    return np.concatenate(
        [np.insert(others, axis, coordinates, axis=1) for axis in range(3)]
    )


def wrapping_points():
    """Coordinates of every magnitude and sign: whole numbers, the floats beside them, beyond
    2^23 where every float is whole, and negatives whose remainder plus 1 rounds to 1."""
    rng = np.random.default_rng(4)
    values = np.ldexp(rng.uniform(-2, 2, 3000), rng.integers(-40, 30, 3000)).astype(f32)
    values = np.concatenate(
        [values, np.nextafter(np.round(values), f32(0)), [-0.0, 1e-45, -1e-45, -1e-30, -(2.0**-25)],
         [2.0**23 + 1, -(2.0**23 + 0.5), 2.0**24, -3e38, 1e30, -1, 1, 7]]
    ).astype(f32)
    return values[: values.size // 3 * 3].reshape(-1, 3)


def non_finite_points():
    points = np.random.default_rng(5).random((40, 3), dtype=f32)
    for row, value in enumerate([INF, -INF, NAN, -NAN] * 10):
        points[row, row % 3] = value
    points[-1] = [NAN, INF, -INF]
    return points


POINT_SETS = {
    "lattice planes": lattice_planes,
    "wrap": wrapping_points,
    "non-finite": non_finite_points,
}


@pytest.mark.parametrize("channels", [3, 4])
@pytest.mark.parametrize("points", POINT_SETS.values(), ids=POINT_SETS.keys())
def test_samples_equal_the_transcription(loaded, channels, points):
    volume, voxels = loaded(channels)
    texture_points = points()
    assert same_bits(volume.sample(texture_points), reference_samples(voxels, texture_points))


def test_every_batch_length_gives_each_point_its_own_bits(loaded):
    volume, voxels = loaded(4)
    points = np.random.default_rng(6).uniform(-2, 2, (300, 3)).astype(f32)
    expected = reference_samples(voxels, points)
    for count in range(points.shape[0] + 1):
        assert same_bits(volume.sample(points[:count]), expected[:count]), count


# Rotation-like entries whose products and sums round, so the order of operations shows.
PLACEMENT = np.array(
    [[0.8, -0.35, 0.1, 0], [0.3, 0.7, -0.45, 0], [-0.2, 0.4, 0.9, 0], [0.125, -1.3, 2.7, 1]], f32
)


def test_world_points_are_placed_as_the_node_places_them(loaded):
    volume, voxels = loaded(4)
    points = np.random.default_rng(7).uniform(-5, 5, (2000, 3)).astype(f32)
    expected = reference_samples(voxels, placed(points, PLACEMENT))
    assert same_bits(volume.sample(points, placement=PLACEMENT), expected)
    assert same_bits(volume.sample(points, placement=PLACEMENT.astype(np.float64)), expected)


def test_a_non_finite_world_coordinate_samples_the_origin_but_a_texture_coordinate_only_itself(
    loaded,
):
    volume, voxels = loaded(4)
    points = np.array([[INF, 0.25, 0.5], [0.25, NAN, 0.5]], f32)
    origin = reference_samples(voxels, np.zeros((2, 3), f32))
    assert same_bits(volume.sample(points, placement=np.eye(4)), origin)
    assert same_bits(volume.sample(points), reference_samples(voxels, points))
    assert not same_bits(volume.sample(points), origin)


# Other layouts and types of the same points, each giving the float32 points' samples.
POINT_FORMS = {
    "float64": lambda p: p.astype(np.float64),
    "nested lists": lambda p: p.tolist(),
    "every other row": lambda p: np.repeat(p, 2, axis=0)[::2],
    "Fortran order": np.asfortranarray,
    "reversed rows": lambda p: p[::-1].copy()[::-1],
    "unaligned": lambda p: np.frombuffer(b"\0" + p.tobytes(), f32, offset=1).reshape(p.shape),
    "big-endian": lambda p: p.astype(">f4"),
}


@pytest.mark.parametrize("form", POINT_FORMS.values(), ids=POINT_FORMS.keys())
def test_points_of_any_layout_and_real_type_sample_as_float32(loaded, form):
    volume, _ = loaded(3)
    points = np.random.default_rng(8).uniform(-1, 2, (257, 3)).astype(f32)
    assert same_bits(volume.sample(form(points)), volume.sample(points))


def test_integer_points_sample_as_the_same_floats(loaded):
    volume, _ = loaded(4)
    points = np.arange(-30, 30).reshape(-1, 3) * 7
    assert same_bits(volume.sample(points), volume.sample(points.astype(f32)))


BAD_POINTS = [
    (np.zeros((4, 3), bool), TypeError),
    (np.zeros((4, 3), np.complex64), TypeError),
    (np.array([["a", "b", "c"]]), TypeError),
    (np.zeros(3, f32), ValueError),
    (np.zeros((4, 2), f32), ValueError),
    (np.zeros((4, 4), f32), ValueError),
    (np.zeros((4, 3, 1), f32), ValueError),
]


@pytest.mark.parametrize("points, error", BAD_POINTS)
def test_points_of_other_shapes_and_types_are_refused(loaded, points, error):
    volume, _ = loaded(4)
    with pytest.raises(error, match="points"):
        volume.sample(points)


@pytest.mark.parametrize(
    "placement", [np.eye(3), np.eye(4)[:3], np.zeros(16), np.eye(4, dtype=bool)]
)
def test_placements_other_than_4x4_real_matrices_are_refused(loaded, placement):
    volume, _ = loaded(4)
    with pytest.raises((ValueError, TypeError), match="placement"):
        volume.sample(np.zeros((1, 3), f32), placement=placement)
