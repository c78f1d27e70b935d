"""Times voxlum's Volume.sample from Python: 2^20 points a call, on one thread and on two.

The volume and the points are voxlum_bench's (bench/BenchSupport.cpp: random RGBA voxels from
std::mt19937 seeded 7, the coherent plane, and uniform points from std::mt19937 seeded 2024),
remade here bit for bit, so the rows compare with its sampleTrilinearBatch/interleaved rows,
which make the same call from C++:

    PYTHONPATH=build/release/python/site /usr/bin/python3 bench/python_sample.py
    build/bench/bench/voxlum_bench --benchmark_filter=interleaved --benchmark_repetitions=9

Per sample is wall-clock time over every sample of every thread, as voxlum_bench's per_sample
with threads; each row is the median of the repetitions.
"""

import argparse
import pathlib
import statistics
import tempfile
import threading
import time

import numpy as np

import voxlum

EDGE = 128
SIDE = 1024  # the coherent plane's rows and columns
f32 = np.float32


def mt19937_words(seed, count):
    """The first `count` outputs of std::mt19937(seed): NumPy's legacy generator seeds alike."""
    return np.random.RandomState(seed).randint(0, 2**32, count, dtype=np.uint32)


def bench_voxels():
    """testfiles::randomBody(4, 7): each byte the top eight bits of one word."""
    words = mt19937_words(7, EDGE**3 * 4)
    return (words >> 24).astype(np.uint8).reshape(EDGE, EDGE, EDGE, 4)


def coherent_points():
    """A 1024 x 1024 grid on a tilted plane, an eighth of a voxel apart, wrapped, in float32."""
    across = np.array([0.8, 0.35, -0.15], f32) / f32(SIDE)
    down = np.array([-0.2, 0.55, 0.65], f32) / f32(SIDE)
    steps = np.arange(SIDE, dtype=np.int64) - SIDE // 2
    column = steps.astype(f32)[None, :, None]
    row = steps.astype(f32)[:, None, None]
    placed = f32(0.5) + across * column + down * row
    return (placed - np.floor(placed)).astype(f32).reshape(-1, 3)


def uniform_points():
    """std::uniform_real_distribution<float>(0, 1) over std::mt19937(2024): a word over 2^32 in
    float, kept below 1."""
    units = mt19937_words(2024, SIDE * SIDE * 3).astype(f32) / f32(2**32)
    return np.minimum(units, np.nextafter(f32(1), f32(0))).reshape(-1, 3)


def wall_time_of(volume, points, threads, calls):
    """Seconds from the threads' common start until the last has sampled the points `calls`
    times."""
    start = threading.Barrier(threads + 1)

    def sample():
        start.wait()
        for _ in range(calls):
            volume.sample(points)

    workers = [threading.Thread(target=sample) for _ in range(threads)]
    for worker in workers:
        worker.start()
    start.wait()
    began = time.perf_counter()
    for worker in workers:
        worker.join()
    return time.perf_counter() - began


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=9)
    parser.add_argument("--calls", type=int, default=20, help="calls per repetition and thread")
    arguments = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        path = pathlib.Path(folder) / "bench.vol"
        voxlum.write(path, bench_voxels())
        volume = voxlum.read(path)

    print(f"{'row':<34} {'ns/sample':>10} {'vs 1 thread':>12}")
    for pattern, points in (("coherent", coherent_points()), ("random", uniform_points())):
        volume.sample(points)  # the output's memory, and the voxels, warm
        one_thread = None
        for threads in (1, 2):
            samples = arguments.calls * threads * len(points)
            per_sample = statistics.median(
                wall_time_of(volume, points, threads, arguments.calls) / samples
                for _ in range(arguments.repetitions)
            )
            one_thread = one_thread or per_sample
            name = f"Volume.sample/{pattern}/threads:{threads}"
            print(f"{name:<34} {per_sample * 1e9:>10.2f} {one_thread / per_sample:>11.2f}x")


if __name__ == "__main__":
    main()
