"""python3 -m vantor.view: corpus models rendered headless, bad files refused on one line."""
import ctypes
import ctypes.util
import os
import subprocess
import sys
import zlib

import pytest

import vantor
from vantor import view

CORPUS = "/usr/share/assimp/models/X"
PACKAGE_PARENT = os.path.dirname(os.path.dirname(os.path.abspath(vantor.__file__)))
CLEAR = (38, 38, 51)   # the viewer's clear colour (0.15, 0.15, 0.2) in bytes


def run_view(*args, display=None):
    env = dict(os.environ, PYTHONPATH=PACKAGE_PARENT)
    env.pop("DISPLAY", None)
    if display:
        env["DISPLAY"] = display
    return subprocess.run([sys.executable, "-m", "vantor.view", *args], capture_output=True, text=True,
                          env=env, timeout=300)


def centre_pixel(path):
    from PIL import Image
    with Image.open(path) as im:
        return im.convert("RGB").getpixel((im.width // 2, im.height // 2))


@pytest.mark.parametrize("name", ["test.x", "test_cube_binary.x", "test_cube_compressed.x", "Testwuson.X",
                                  "fromtruespace_bin32.x"])
def test_a_corpus_model_is_framed_in_the_middle_of_the_picture(name, tmp_path):
    model = os.path.join(CORPUS, name)
    if not os.path.exists(model):
        pytest.skip(f"{model} is not installed")
    out = tmp_path / "frame.png"
    done = run_view(model, "--png", str(out), "--size", "160x120")
    assert done.returncode == 0, done.stderr
    pixel = centre_pixel(out)
    assert max(abs(a - b) for a, b in zip(pixel, CLEAR)) > 20, pixel


def test_without_a_display_it_renders_headless_next_to_where_it_runs(tmp_path):
    model = os.path.join(CORPUS, "test.x")
    if not os.path.exists(model):
        pytest.skip(f"{model} is not installed")
    env = dict(os.environ, PYTHONPATH=PACKAGE_PARENT)
    env.pop("DISPLAY", None)
    done = subprocess.run([sys.executable, "-m", "vantor.view", model, "--size", "64x48"], cwd=tmp_path,
                          capture_output=True, text=True, env=env, timeout=300)
    assert done.returncode == 0, done.stderr
    assert centre_pixel(tmp_path / "test.png") != CLEAR


def write(path, data):
    path.write_bytes(data)
    return str(path)


PNG = b"\x89PNG\r\n\x1a\n" + b"\0" * 40


@pytest.mark.parametrize("case, make, result", [
    ("missing", lambda d: str(d / "nothing.x"), "0x88760359"),
    ("a folder", lambda d: str(d), "0x88760359"),
    ("plain text", lambda d: write(d / "notes.txt", b"not a model\n"), "0x8876035D"),
    ("a PNG named .x", lambda d: write(d / "picture.x", PNG), "0x8876035D"),
    ("truncated mesh", lambda d: write(d / "cut.x", b"xof 0302txt 0032\nMesh { 3; 1.0; 2.0"), "0x88760364"),
    ("no mesh", lambda d: write(d / "empty.x", b"xof 0302txt 0032\n"), "no mesh"),
])
def test_a_file_it_cannot_show_is_one_line_and_status_1(case, make, result, tmp_path):
    path = make(tmp_path)
    out = tmp_path / "out.png"
    done = run_view(path, "--png", str(out))
    assert done.returncode == 1, case
    lines = done.stderr.splitlines()
    assert len(lines) == 1 and "Traceback" not in done.stderr, done.stderr
    assert lines[0].startswith(f"{path}: cannot load: ") and result in lines[0], lines[0]
    assert not out.exists()


def matrix(*rows):
    return ",".join(f"{v:.1f}" for row in rows for v in row) + ";;"


TRIANGLE = "Mesh tri { 3; 0.0;0.0;0.0;, 2.0;0.0;0.0;, 0.0;4.0;0.0;; 1; 3;0,1,2;; }"
MOVE = matrix((1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 0), (10, 20, 30, 1))


@pytest.mark.parametrize("case, body, bounds", [
    ("a bare mesh", TRIANGLE, ((0, 0, 0), (2, 4, 0))),
    ("a moved frame (z turned to the left-handed axis)",
     f"Frame f {{ FrameTransformMatrix {{ {MOVE} }} {TRIANGLE} }}", ((10, 20, -30), (12, 24, -30))),
    ("nested frames add up", f"Frame a {{ FrameTransformMatrix {{ {MOVE} }} Frame b {{ FrameTransformMatrix "
     f"{{ {MOVE} }} {TRIANGLE} }} }}", ((20, 40, -60), (22, 44, -60))),
    ("templates are skipped", "template Mesh { <3D82AB44-62DA-11cf-AB39-0020AF71E433> DWORD n; } " + TRIANGLE,
     ((0, 0, 0), (2, 4, 0))),
    ("no mesh", "Frame f { }", None),
])
def test_bounds_of_a_text_file(case, body, bounds, tmp_path):
    path = write(tmp_path / "m.x", b"xof 0302txt 0032\n" + body.encode())
    got = view.text_bounds(path)
    if bounds is None:
        assert got is None, case
    else:
        assert got[0] + got[1] == pytest.approx(bounds[0] + bounds[1]), case


def test_binary_and_compressed_files_have_no_text_bounds(tmp_path):
    for header in (b"xof 0302bin 0032", b"xof 0302bzip0032"):
        assert view.text_bounds(write(tmp_path / "b.x", header + zlib.compress(b"x" * 64))) is None


def test_in_a_window_it_draws_frames_and_quits_cleanly(xdisplay):
    model = os.path.join(CORPUS, "test.x")
    if not os.path.exists(model):
        pytest.skip(f"{model} is not installed")
    done = run_view(model, "--frames", "5", "--size", "160x120", display=xdisplay)
    assert done.returncode == 0, done.stderr


# Run in a process of its own: the runtime keeps its display connection for the process's life,
# and the private X server goes away with the fixture.
SEND_EVENTS = r"""
import ctypes, ctypes.util
import vantor
from vantor import view


class XKeyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("root", ctypes.c_ulong),
                ("subwindow", ctypes.c_ulong), ("time", ctypes.c_ulong), ("x", ctypes.c_int), ("y", ctypes.c_int),
                ("x_root", ctypes.c_int), ("y_root", ctypes.c_int), ("state", ctypes.c_uint),
                ("keycode", ctypes.c_uint), ("same_screen", ctypes.c_int), ("pad", ctypes.c_char * 96)]


x = ctypes.CDLL(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XKeysymToKeycode.restype = ctypes.c_ubyte


def send(display, xid, kind, mask, keysym=0, px=0, py=0, state=0):
    event = XKeyEvent(type=kind, window=xid, x=px, y=py, state=state, same_screen=1)
    if keysym:
        event.keycode = x.XKeysymToKeycode(ctypes.c_void_p(display), ctypes.c_ulong(keysym))
    x.XSendEvent(ctypes.c_void_p(display), ctypes.c_ulong(xid), 0, ctypes.c_long(mask), ctypes.byref(event))
    x.XSync(ctypes.c_void_p(display), 0)


with vantor.Window(100, 80, visible=True) as win:
    listener = view._X11Input(win.xid)
    display = x.XOpenDisplay(None)
    for keysym in (0x77, 0xFF51, 0xFF54, 0x61):   # w, Left, Down, and an `a` it ignores
        send(display, win.xid, 2, 1 << 0, keysym=keysym)
    send(display, win.xid, 6, 1 << 8, px=10, py=10, state=1 << 8)
    send(display, win.xid, 6, 1 << 8, px=14, py=7, state=1 << 8)
    print(listener.events())
    listener.close()
    x.XCloseDisplay(ctypes.c_void_p(display))
"""


def test_keys_and_dragging_reach_the_viewer(xdisplay):
    if not ctypes.util.find_library("X11"):
        pytest.skip("libX11 is not there")
    env = dict(os.environ, PYTHONPATH=PACKAGE_PARENT, DISPLAY=xdisplay)
    done = subprocess.run([sys.executable, "-c", SEND_EVENTS], capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "[('key', 'w'), ('key', 'left'), ('key', 'down'), ('drag', 4, -3)]"


def test_orbiting_turns_the_model_and_w_switches_its_fill_mode():
    model = os.path.join(CORPUS, "test.x")
    if not os.path.exists(model):
        pytest.skip(f"{model} is not installed")

    def picture(viewer):
        device = viewer.device        # the model alone, without the debug text
        device.Clear(*view._CLEAR)
        device.Render()
        device.Update()
        return viewer.window.pixels()

    with vantor.Window(96, 72) as window:
        viewer = view.Viewer(model, window)
        try:
            first = picture(viewer)
            viewer.orbit(0.6, 0.2)
            assert picture(viewer) != first
            viewer.orbit(-0.6, -0.2)
            assert picture(viewer) == first
            viewer.orbit(0, 10)           # over the top is held short of the pole
            assert viewer.pitch == pytest.approx(1.5)
            modes = []
            for _ in range(2):
                viewer.toggle_wireframe()
                modes.append(viewer.model.FillMode)
            assert modes == [vantor.constants.fm_Wireframe, vantor.constants.fm_Solid]
        finally:
            viewer.free()
            del viewer
