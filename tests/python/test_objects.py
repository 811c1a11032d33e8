"""Objects, meshes and points from Python, as a script uses them, on a real device."""
import math
import os

import pytest
import vantor

C = vantor.constants
CORPUS = "/usr/share/assimp/models/X/test_cube_text.x"
OWN = """xof 0302txt 0032
Frame Body {
  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0.5,0,1;; }
  Mesh Roof { 3; -1;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;
    MeshMaterialList { 1; 1; 0;; Material { 0.8;0.2;0.1;1.0;; 5.0; 0;0;0;; 0;0;0;; } } }
}
"""


def test_a_new_object_and_its_members():
    o = vantor.Dispatch("Vantor.Object")
    assert (o.Visible, o.FillMode, o.ScaleFactor, o.X, o.Y, o.Z, o.Name) == (True, C.fm_Solid, 1.0, 0, 0, 0, "")
    with pytest.raises(vantor.COMError) as e:
        o.Texture
    assert "Texture Not Initialised." in str(e.value)
    o.Move(1, 2, 3)
    o.Move(1, 2, 3)
    o.Move()
    o.Scale(5, 5, 5)
    o.Rotate(90, 0, 0)
    assert (o.X, o.Y, o.Z) == (2, 4, 6)
    o.FillMode = 7
    assert o.FillMode == 7
    o.Visible = False
    with pytest.raises(vantor.COMError) as e:
        o.Render()  # no device, even when invisible
    assert "Device Not Initialised." in str(e.value)
    assert o.Filename == ""  # nothing loaded yet (a null string)
    o.Free()
    for member in ("Material", "Colour", "Position", "Points", "Parts"):
        with pytest.raises(vantor.COMError):
            getattr(o, member)  # the children went with Free


@pytest.mark.parametrize("start, angles, end", [
    ((1, 0, 0), (0, 0, 90), (0, 1, 0)),
    ((1, 0, 0), (0, 90, 0), (0, 0, -1)),
    ((0, 1, 0), (90, 90, 0), (1, 0, 0)),
    ((3, -2, 7), (0, 0, 0), (3, -2, 7)),
])
def test_points_rotate_about_the_origin(start, angles, end):
    points = vantor.Dispatch("Vantor.Points")
    p = points.Add(*start)
    points.Rotate(*angles)
    assert (p.Position.X, p.Position.Y, p.Position.Z) == pytest.approx(end, abs=1e-6)


def test_points_scale_then_move_and_keys():
    points = vantor.Dispatch("Vantor.Points")
    p = points.Add(1, 1, 1)
    assert points(1) == p and points("Point0") == p
    p.Scale(2, 2, 2)
    p.Move(1, 2, 3)
    assert (p.Position.X, p.Position.Y, p.Position.Z) == (3, 4, 5)
    points.Add(0, 0, 0)
    points.Render()  # two points draw nothing, with or without a device
    assert points.Count == 2


def test_models_load_draw_and_the_world_round_trips(device, tmp_path):
    own = tmp_path / "house.x"
    own.write_text(OWN)
    objects = device.Objects
    house = objects.LoadFile(str(own), "House")
    assert house.Name == "House" and house.Filename == str(own)
    if os.path.exists(CORPUS):
        objects.LoadFile(CORPUS, "Cube").Move(2, 0, 0)
    missing = objects.LoadFile(str(tmp_path / "missing.x"), "Missing")
    assert missing.Name == "Missing"  # kept, though its file did not load
    with pytest.raises(vantor.COMError) as e:
        missing.LoadFile(str(tmp_path / "missing.x"))
    assert "Failed to Load the requested X File." in str(e.value)
    house.Material.Diffuse.Red = 0.5
    device.Lights.Add(C.lt_Directional, 0, 0, 1, 1, 1, 1, 1)
    camera = device.Cameras("Default")
    camera.Position.Z = 8
    camera.Update()
    device.Fog.Enabled = True
    for _ in range(2):
        device.Clear(0, 0, 0, 1)
        device.Render()
        device.Update()

    first = tmp_path / "world.txt"
    device.Save(str(first))
    with vantor.Window(96, 96) as window:
        other = vantor.Dispatch("Vantor.Device3D")
        other.Window = window.handle
        other.Initialise(0, 96, 96)
        other.Load(str(first))
        assert other.Objects.Count == objects.Count
        assert other.Objects("House").Material.Diffuse.Red == 0.5
        assert other.Cameras.Count == 1 and other.Lights.Count == 1 and other.Fog.Enabled
        second = tmp_path / "again.txt"
        other.Save(str(second))
        assert second.read_bytes() == first.read_bytes()
        other.Free()


def test_the_demo_draws_its_village(tmp_path):
    """The shipped models load and the demo writes its last frame: not the sky colour alone."""
    import subprocess
    import sys

    from PIL import Image

    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = tmp_path / "demo.png"
    # The demo imports the same vantor package these tests use, wherever it was found.
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(vantor.__file__))))
    subprocess.run([sys.executable, os.path.join(root, "examples", "demo.py"), "--frames", "3", "--out", str(out),
                    "--size", "160x120"], check=True, env=env, capture_output=True)
    image = Image.open(out).convert("RGB")
    assert image.size == (160, 120)
    green = sum(1 for r, g, b in image.getdata() if g > r + 30 and g > b + 30)
    assert green > 160 * 120 // 4  # the grass of the ground at least
