"""The Tkinter example under Xvfb: the device draws into a Tk frame, after() animates it and
the buttons change what is drawn."""
import json
import os
import subprocess
import sys
import textwrap

import pytest
from PIL import Image

from conftest import ROOT

EXAMPLE = os.path.join(ROOT, "examples", "tk_embed.py")

# Drives the example's App: each step presses a button or runs frames through Tk's event loop;
# after every step the picture's middle (below the frame-rate text) is summed per channel.
DRIVER = """
    import json, sys, tkinter
    sys.path.insert(0, sys.argv[1])
    import tk_embed
    root = tkinter.Tk()
    app = tk_embed.App(root, 160, 120)
    shots = []
    for step in sys.argv[2].split(","):
        if step == "spin":
            app.spin_button.invoke()
        elif step == "colour":
            app.colour_button.invoke()
        else:
            app.run_frames(int(step))
        rgba = app.window.pixels()
        middle = [rgba[(y * 160 + x) * 4:(y * 160 + x) * 4 + 3] for y in range(30, 110) for x in range(20, 140)]
        shots.append({"frames": app.frames, "sums": [sum(p[c] for p in middle) for c in range(3)],
                      "middle": b"".join(middle).hex()})
    app.close()
    root.destroy()
    print(json.dumps(shots))
"""


def run(args, env_path):
    env = dict(os.environ, PYTHONPATH=env_path)
    done = subprocess.run([sys.executable, *args], env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-3000:]
    return done.stdout


@pytest.fixture
def package_path():
    pytest.importorskip("tkinter")
    return os.environ.get("VANTOR_PYTHON_PATH", os.path.join(ROOT, "build", "python"))


def test_the_frame_animates_and_the_buttons_change_the_picture(xdisplay, package_path):
    steps = ["4", "3", "spin", "2", "3", "colour", "2", "colour", "2"]
    shots = json.loads(run(["-c", textwrap.dedent(DRIVER), os.path.dirname(EXAMPLE), ",".join(steps)],
                           package_path))
    by = dict(zip(["start", "spun", "stop", "stopped", "still", "red", "red drawn", "green", "green drawn"], shots))
    assert by["start"]["frames"] == 5 and by["spun"]["frames"] == 8  # the first frame, then after()
    assert by["start"]["middle"] != by["spun"]["middle"], "the orbit did not move the picture"
    assert by["stopped"]["middle"] == by["still"]["middle"], "the picture moved after Stop"
    white, red, green = by["still"]["sums"], by["red drawn"]["sums"], by["green drawn"]["sums"]
    # A red light keeps the red the white one lit and takes green and blue away; a green one the same.
    assert red[0] >= white[0] * 0.95 and red[1] < white[1] * 0.9 and red[2] < white[2] * 0.9, (white, red)
    assert green[1] >= white[1] * 0.95 and green[0] < white[0] * 0.9 and green[2] < white[2] * 0.9, (white, green)


def test_the_command_line_writes_the_last_frame(xdisplay, package_path, tmp_path):
    png = tmp_path / "tk.png"
    run([EXAMPLE, "--frames", "3", "--png", str(png)], package_path)
    with Image.open(png) as image:
        assert image.size == (480, 360)
        clear = tuple(round(c * 255) for c in (0.08, 0.08, 0.12))
        assert image.getpixel((240, 200))[:3] != clear
