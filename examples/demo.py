"""Vantor demo: a lit, fogged, textured village of `.x` models, seen from a moving camera.

    make demo            (or: PYTHONPATH=build/python /usr/bin/python3 examples/demo.py)

    --frames N     how many frames to draw (default 180)
    --out PATH     where the last frame goes as a PNG (default demo.png)
    --window       draw into an X11 window when a display exists (else off screen)
    --size WxH     the frame size (default 640x480)

The models and textures are in examples/models/ (made by examples/make_models.py): houses and
trees under frames of one file, brick and grass bitmaps, a Targa leaf texture and translucent
window panes, and a PNG logo drawn as a sprite.
"""
import argparse
import math
import os
import time

import vantor

C = vantor.constants
MODELS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "models")


def set_colour(colour, r, g, b, a=1.0):
    colour.Red, colour.Green, colour.Blue, colour.Alpha = r, g, b, a


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=180, help="how many frames to draw")
    parser.add_argument("--out", default="demo.png", help="where to write the last frame")
    parser.add_argument("--window", action="store_true", help="an X11 window when a display exists")
    parser.add_argument("--size", default="640x480", help="window size, WIDTHxHEIGHT")
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    out = os.path.abspath(args.out)

    visible = args.window and bool(os.environ.get("DISPLAY"))
    window = vantor.Window(width, height, title="Vantor demo", visible=visible)
    print(f"Window: {window.kind}, {window.width} x {window.height}")

    device = vantor.Dispatch("Vantor.Device3D")
    device.Window = window.handle
    device.Initialise(0, width, height)

    # The models name their textures relative to their own folder.
    previous = os.getcwd()
    os.chdir(MODELS)
    try:
        start = time.monotonic()
        village = device.Objects.LoadFile("village.x", "Village")
        print(f"Loaded village.x in {(time.monotonic() - start) * 1000:.0f} ms")
        logo = device.Textures.LoadFile("logo.png")
    finally:
        os.chdir(previous)

    # A low, warm sun and a cool fill light from the other side, over a little ambient light.
    sun = device.Lights.Add(C.lt_Directional, -0.5, -0.8, 0.4, 1, 1, 1, 1)
    set_colour(sun.Diffuse, 1.0, 0.92, 0.78)
    sun.Update()
    fill = device.Lights.Add(C.lt_Directional, 0.6, -0.3, -0.7, 1, 1, 1, 1)
    set_colour(fill.Diffuse, 0.25, 0.3, 0.42)
    fill.Update()
    set_colour(device.Ambient, 0.28, 0.28, 0.32)

    sky = (0.62, 0.74, 0.86)
    fog = device.Fog
    fog.Mode = C.fm_Linear
    fog.StartingPos = 14
    fog.EndPosition = 42
    set_colour(fog.Colour, *sky)
    fog.Enabled = True
    fog.Update()

    # The logo as a sprite in the top-right corner, over everything else.
    badge = device.Sprites.Add("Logo", 0.9)
    badge.Texture = logo
    badge.Position.X, badge.Position.Y = width - 44, 44

    camera = device.Cameras("Default")
    frames = 0
    start = time.monotonic()
    for frames in range(1, args.frames + 1):
        if window.kind == "x11" and not window.pump():
            print("The window was closed.")
            break
        # Once round the village, slowly rising and falling.
        t = frames / max(args.frames, 1)
        angle = 1.1 + t * 2 * math.pi * 0.3
        camera.Position.X = 14 * math.cos(angle)
        camera.Position.Z = 14 * math.sin(angle) - 2
        camera.Position.Y = 4.5 + 1.5 * math.sin(t * math.pi)
        camera.LookAt.X, camera.LookAt.Y, camera.LookAt.Z = 0, 1.2, -2
        camera.Update()
        device.Clear(*sky, 1.0)
        device.Render()
        device.Debug(0.02, 0.02, C.White, f"Vantor  {device.FrameRate:6.1f} fps")
        device.Debug(0.02, 0.07, C.White, f"frame {frames}  village.x: {device.Objects.Count} object")
        device.Update()
    elapsed = time.monotonic() - start

    window.save_png(out)
    print(f"Drew {frames} frames in {elapsed:.1f} s ({frames / max(elapsed, 1e-9):.0f} frames per second); "
          f"the last frame is in {args.out}")
    del village, badge, logo
    device.Free()
    window.close()


if __name__ == "__main__":
    main()
