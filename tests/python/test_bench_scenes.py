"""The standard benchmark scenes: their files load and draw as described, both measured ways cover
the same pixels, and the callgrind split puts each instruction with the object that ran it."""
import json
import os
import subprocess
import sys

import pytest
import vantor

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))

import scene_assets  # noqa: E402
import scenes  # noqa: E402

SCENES_BINARY = os.path.join(ROOT, "build", "bin", "scenes")


@pytest.fixture(scope="module")
def assets(tmp_path_factory):
    return scene_assets.write(str(tmp_path_factory.mktemp("assets")))


def test_the_cube_draws_with_its_targa_chequer_and_the_sphere_fills_its_outline(assets):
    previous = os.getcwd()
    os.chdir(assets)  # the cube names its texture relative to its folder
    try:
        with vantor.Window(64, 64) as window:
            device = vantor.Dispatch("Vantor.Device3D")
            device.Window = window.handle
            device.Initialise(0, 64, 64)
            camera = device.Cameras(1)
            camera.Position.Z = -6
            camera.Update()
            device.Lights.Add(vantor.constants.lt_Directional, 0, 0, 1, 1, 1, 1, 1)  # straight at the front face
            seen = {}
            for model in ("cube.x", "sphere.x"):
                o = device.Objects.LoadFile(model, "Model")
                device.Clear(0, 0, 0, 1)
                device.Render()
                device.Update()
                rgba = window.pixels()
                seen[model] = {tuple(rgba[i:i + 3]) for i in range(0, len(rgba), 4)}
                device.Objects.Clear()
                del o
            device.Free()
    finally:
        os.chdir(previous)
    # Lit head on, the cube's front shows its material's near-white times the texture: both chequer colours.
    orange = [c for c in seen["cube.x"] if c[0] > c[2] + 60]
    blue = [c for c in seen["cube.x"] if c[2] > c[0] + 60]
    assert orange and blue, sorted(seen["cube.x"])[:8]
    assert len(seen["sphere.x"]) > 1  # something besides the clear colour


@pytest.mark.skipif(not os.path.exists(SCENES_BINARY), reason="build/bin/scenes is not built (make build)")
@pytest.mark.parametrize("scene, count", [("s1", 3), ("s2", 1), ("shapes", 4), ("sprites", 20)])
def test_the_engine_and_the_bare_program_draw_the_same_picture(assets, fresh_registry, scene, count):
    # The same pixels covered, and the same mean brightness over them: lights, materials and
    # culling set alike in both ways.
    seen = {}
    for way in ("engine", "bare"):
        done = subprocess.run([SCENES_BINARY, "--scene", scene, "--count", str(count), "--way", way,
                               "--assets", assets, "--frames", "1"],
                              capture_output=True, text=True, timeout=120, env=dict(os.environ))
        assert done.returncode == 0, done.stderr
        result = json.loads(done.stdout.strip().splitlines()[-1])
        assert (result["frames"], result["draws"]) == (1, count)
        seen[way] = (result["covered"], result["brightness"])
    (engine, engine_light), (bare, bare_light) = seen["engine"], seen["bare"]
    assert bare > 500, seen
    assert abs(engine - bare) <= 0.02 * bare, seen
    assert abs(engine_light - bare_light) <= 3.0, seen


CALLGRIND = """# callgrind format
version: 1
events: Ir
ob=(1) /work/build/lib/libvantor.so
fl=(1) draw.cpp
fn=(1) draw
10 100
+2 50
cob=(2) /usr/lib/x86_64-linux-gnu/dri/swrast_dri.so
cfn=(2) st_draw
calls=1 0
12 9000
* 5
ob=(2)
fn=(2)
0 7000
ob=(3) ???
fn=(3) 0x49c0000
0 2000
ob=(4) /usr/lib/x86_64-linux-gnu/libc.so.6
fn=(4) memcpy
0 300
ob=(1)
fn=(1)
3 45
totals: 9500
"""


def test_callgrind_costs_go_to_the_object_that_ran_them_and_calls_are_not_counted_twice(tmp_path):
    path = tmp_path / "callgrind.out"
    path.write_text(CALLGRIND)
    costs = scenes.object_costs(str(path))
    assert sum(costs.values()) == 9500
    split = {}
    for obj, ir in costs.items():
        split[scenes.classify(obj)] = split.get(scenes.classify(obj), 0) + ir
    assert split == {"engine": 200, "mesa": 9000, "other": 300}
