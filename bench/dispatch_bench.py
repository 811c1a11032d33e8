"""Late-bound property put and get and a method call from Python, against a direct pybind11
property and method, in one run.

    make bench       (or: PYTHONPATH=build/python:build/bench /usr/bin/python3 bench/dispatch_bench.py)

Prints calls per second of each and the ratio (direct / late-bound: how many times slower the
late-bound call is); the best of several repeats is used for each, measured side by side.
"""
import os
import tempfile
import timeit

os.environ.setdefault("VANTOR_REGISTRY", os.path.join(tempfile.mkdtemp(), "registry"))

import vantor  # noqa: E402
import _vantor_bench  # noqa: E402

N = 200_000
REPEATS = 5


def rate(statement, setup_globals):
    best = min(timeit.repeat(statement, globals=setup_globals, number=N, repeat=REPEATS))
    return N / best


def main():
    colour = vantor.Dispatch("Vantor.Colour")
    camera = vantor.Dispatch("Vantor.Camera")  # its Reset does nothing
    trivial = _vantor_bench.Trivial()
    g = {"colour": colour, "camera": camera, "trivial": trivial}
    rows = []
    for what, late, direct in (("put", "colour.Red = 0.5", "trivial.Red = 0.5"),
                               ("get", "colour.Red", "trivial.Red"),
                               ("method", "camera.Reset()", "trivial.Reset()")):
        late_rate = rate(late, g)
        direct_rate = rate(direct, g)
        rows.append((what, late_rate, direct_rate))
    print(f"{'call':<10}{'late-bound/s':>16}{'pybind11/s':>16}{'ratio':>10}")
    for what, late_rate, direct_rate in rows:
        print(f"{what:<10}{late_rate:>16,.0f}{direct_rate:>16,.0f}{direct_rate / late_rate:>10.1f}")


if __name__ == "__main__":
    main()
