"""Python threads sampling and writing at once."""

import os
import sys
import threading
import time

import numpy as np

import voxlum
from conftest import random_voxels, same_bits


def run_together(work, count=2):
    """Runs work(i) on `count` threads started together; returns their results, or raises the
    first thread's exception."""
    results = [None] * count
    failures = []
    start = threading.Barrier(count)

    def run(i):
        start.wait()
        try:
            results[i] = work(i)
        except Exception as failure:
            failures.append(failure)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if failures:
        raise failures[0]
    return results


def test_two_threads_sampling_one_volume_agree_with_one(loaded):
    volume, _ = loaded(4)
    points = np.random.default_rng(60).uniform(-3, 3, (300_000, 3)).astype(np.float32)
    alone = volume.sample(points)
    for result in run_together(lambda i: [volume.sample(points) for _ in range(5)]):
        assert all(same_bits(samples, alone) for samples in result)


def test_other_threads_run_while_one_samples(loaded):
    # With switching left to the interpreter's timer all but off, another thread can run during a
    # sample only if sampling lets go of the interpreter lock.
    volume, _ = loaded(4)
    points = np.random.default_rng(61).random((4_000_000, 3), dtype=np.float32)
    ticks = 0
    done = threading.Event()

    def tick():
        nonlocal ticks
        while not done.is_set():
            ticks += 1
            time.sleep(0.0005)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        ran_alongside = False
        for _ in range(5):
            before = ticks
            volume.sample(points)
            ran_alongside = ran_alongside or ticks > before
    finally:
        done.set()
        ticker.join()
        sys.setswitchinterval(interval)
    assert ran_alongside


def test_two_threads_writing_one_path_leave_one_whole_file(tmp_path):
    target = tmp_path / "shared.vol"
    contents = [random_voxels(4, 70), random_voxels(4, 71)]
    for _ in range(20):
        run_together(lambda i: voxlum.write(target, contents[i]))
        assert os.listdir(tmp_path) == ["shared.vol"]
        written = voxlum.read(target).voxels
        assert any(same_bits(written, voxels) for voxels in contents)
