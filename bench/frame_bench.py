"""The empty frame loop (Clear, Render, Update) at 640x480 on a virtual window, three ways in one
run: late-bound from Python, through the C++ interfaces, and a bare OpenGL program that clears and
presents the same target. Prints frames per second and the ratios.

    make bench      (or: PYTHONPATH=build/python /usr/bin/python3 bench/frame_bench.py)
"""
import json
import os
import subprocess
import sys
import tempfile
import time

os.environ.setdefault("VANTOR_REGISTRY", os.path.join(tempfile.mkdtemp(), "registry"))

import vantor  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SECONDS = 3.0


def python_frames_per_second():
    with vantor.Window(640, 480) as window:
        device = vantor.Dispatch("Vantor.Device3D")
        device.Window = window.handle
        device.Initialise(0, 640, 480)
        clear, render, update = device.Clear, device.Render, device.Update
        best = 0.0
        for _ in range(3):
            frames, start = 0, time.perf_counter()
            while time.perf_counter() - start < SECONDS / 3:
                clear(0.2, 0.3, 0.4, 1.0)
                render()
                update()
                frames += 1
            best = max(best, frames / (time.perf_counter() - start))
        device.Free()
    return best


def cpp_frames_per_second():
    binary = os.path.join(ROOT, "build", "bin", "frame_bench")
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_repetitions=3",
                          "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            results[b["run_name"].split("/")[0]] = (b["items_per_second"], b.get("allocations_per_frame", 0.0))
    return results


def main():
    cpp = cpp_frames_per_second()
    python = python_frames_per_second()
    engine, engine_allocations = cpp["BM_EngineFrame"]
    bare, _ = cpp["BM_BareOpenGLFrame"]
    print(f"{'empty frame, 640x480':<36}{'frames/s':>12}{'vs bare GL':>12}")
    print(f"{'bare OpenGL (clear + present)':<36}{bare:>12,.0f}{1.0:>12.2f}")
    print(f"{'C++ through the interfaces':<36}{engine:>12,.0f}{engine / bare:>12.2f}")
    print(f"{'Python, late-bound':<36}{python:>12,.0f}{python / bare:>12.2f}")
    print(f"C++ allocations per engine frame: {engine_allocations:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
