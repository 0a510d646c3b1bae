"""Throughput of the Python package against the command line.

1. A 60 s stereo float WAV at 48 kHz through the gain example at block size
   512: `semhost render` on the file (process start included) against
   Module.render on the same samples as an array, isolated. Alternating
   runs; the figure is the ratio of the medians, command line / Python
   (goal: at least 0.9).
2. render_many over 16 files of 10 s (input and output paths), and over
   their samples as arrays, with a process pool of 1 and of 2 workers: the
   ratio of the medians (2 cores: close to 2).

Run by scripts/python-bench.sh on the linux64 build.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import semhost
from semhost import program, wavfile


def timed(run):
    start = time.perf_counter()
    run()
    return time.perf_counter() - start


def single(gain, folder, runs, seconds):
    x = np.random.default_rng(1).uniform(-1, 1, size=(2, 48000 * seconds)).astype(np.float32)
    source, target = os.path.join(folder, "in.wav"), os.path.join(folder, "cli.wav")
    wavfile.write(source, x, 48000)
    m = semhost.load(gain)
    command = [program.program(), "render", gain, "--in", source, "--out", target, "--set", "Gain=0.5", "--block-size", "512"]
    # The command line again with both files in memory (/dev/shm), as Python's are.
    memory = tempfile.mkdtemp(dir=wavfile.shared_folder())
    wavfile.write(os.path.join(memory, "in.wav"), x, 48000)
    in_memory = [command[0], "render", gain, "--in", os.path.join(memory, "in.wav"), "--out",
                 os.path.join(memory, "cli.wav"), *command[7:]]
    cli, cli_memory, python = [], [], []
    for _ in range(runs):
        cli.append(timed(lambda: subprocess.run(command, check=True, capture_output=True)))
        cli_memory.append(timed(lambda: subprocess.run(in_memory, check=True, capture_output=True)))
        python.append(timed(lambda: m.render(x, sample_rate=48000, block_size=512, set={"Gain": 0.5})))
    shutil.rmtree(memory)
    same = np.array_equal(wavfile.read(target)[0].view(np.uint32),
                          m.render(x, sample_rate=48000, set={"Gain": 0.5}).view(np.uint32))
    c, cm, p = statistics.median(cli), statistics.median(cli_memory), statistics.median(python)
    print(f"render {seconds} s stereo, block 512: command line {c:.3f} s (files in /dev/shm: {cm:.3f} s), "
          f"Python isolated {p:.3f} s; command line / Python {c / p:.2f} ({cm / p:.2f} in memory); "
          f"bit-identical: {same}; medians of {runs}")


def batch(gain, folder, runs):
    rng = np.random.default_rng(2)
    arrays = [rng.uniform(-1, 1, size=(2, 48000 * 10)).astype(np.float32) for _ in range(16)]
    files = []
    for i, x in enumerate(arrays):
        files.append((os.path.join(folder, f"in{i}.wav"), os.path.join(folder, f"out{i}.wav")))
        wavfile.write(files[-1][0], x, 48000)
    m = semhost.load(gain)
    for label, items in (("files (input, output)", files), ("arrays", arrays)):
        medians = {}
        for workers in (1, 2):
            times = [timed(lambda: semhost.render_many(m, items, set={"Gain": 0.5}, max_workers=workers))
                     for _ in range(runs)]
            medians[workers] = statistics.median(times)
        print(f"render_many, 16 {label} of 10 s stereo: 1 worker {medians[1]:.3f} s, 2 workers {medians[2]:.3f} s, "
              f"speed-up {medians[1] / medians[2]:.2f} (medians of {runs}, {os.cpu_count()} cores)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("gain", help="the gain example, Gain.sem")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--seconds", type=int, default=60)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:  # the command line reads and writes a disk folder
        single(args.gain, folder, args.runs, args.seconds)
        batch(args.gain, folder, max(5, args.runs // 2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
