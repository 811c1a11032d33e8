"""Simple shapes and sprites as a script sees them, drawn on OpenGL (llvmpipe)."""
import pytest
import vantor
from PIL import Image

C = vantor.constants
CLEAR = (0, 0, 255, 255)


def frame(device, window):
    device.Cameras("Default").Update()  # the camera's view and projection on the device
    device.Clear(0, 0, 1, 1)
    device.Render()
    device.Update()
    rgba = window.pixels()
    return lambda x, y: tuple(rgba[(y * window.width + x) * 4:(y * window.width + x) * 4 + 4])


@pytest.mark.parametrize("kind, add", [
    ("box", lambda s: s.AddBox("it", 3, 3, 3)),
    ("cylinder", lambda s: s.AddCylinder("it", 3, 1.5, 1.5)),
    ("polygon", lambda s: s.AddPolygon("it", 2, 6)),
    ("sphere", lambda s: s.AddSphere("it", 1.5)),
    ("teapot", lambda s: s.AddTeapot("it")),
    ("torus", lambda s: s.AddTorus("it", 16, 0.4, 1.5)),
])
def test_every_shape_kind_shows_in_the_middle_of_the_frame(device, window, kind, add):
    shape = add(device.SimpleObjects)
    assert device.SimpleObjects.Count == 1
    at = frame(device, window)
    probe = (80 + 12, 60) if kind == "torus" else (80, 60)  # the torus has a hole in the middle
    assert at(*probe) != CLEAR, kind
    assert at(2, 2) == CLEAR and at(157, 117) == CLEAR, kind
    shape.Free()
    assert frame(device, window)(*probe) == CLEAR  # a freed shape draws nothing


def test_a_shape_kind_that_does_not_exist_fails_and_leaves_no_shape(device):
    shape = device.SimpleObjects.AddSphere("ball", 1)
    with pytest.raises(vantor.COMError):
        shape.Type = 9
    assert shape.Type == 9
    with pytest.raises(vantor.COMError):
        shape.Render()


def test_a_png_sprite_appears_at_its_point_translucent(device, window, tmp_path):
    png = tmp_path / "logo.png"
    Image.new("RGBA", (8, 8), (255, 0, 0, 255)).save(png)
    texture = device.Textures.LoadFile(str(png))
    sprite = device.Sprites.Add("logo", 0.5)
    sprite.Texture = texture
    sprite.Position.X = 40
    sprite.Position.Y = 30
    sprite.ScaleFactor = 2
    at = frame(device, window)
    r, g, b, _ = at(40, 30)
    assert abs(r - 128) <= 3 and g <= 3 and abs(b - 127) <= 3  # half red over the blue clear colour
    assert at(40 + 6, 30) == (r, g, b, 255)  # scale 2: 16 pixels wide, centred on the point
    assert at(40 + 10, 30) == CLEAR
    with pytest.raises(vantor.COMError):
        sprite.Transparent = 1.5
