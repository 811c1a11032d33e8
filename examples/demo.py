"""Vantor demo: a window, a device, a few seconds of frames, the last one saved as a PNG.

    make demo            (or: PYTHONPATH=build/python /usr/bin/python3 examples/demo.py)

An X11 window when $DISPLAY is set, else an off-screen (virtual) window.
"""
import argparse
import colorsys
import os
import time

import vantor


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default="demo.png", help="where to write the last frame")
    parser.add_argument("--seconds", type=float, default=3.0, help="how long to draw")
    parser.add_argument("--size", default="640x480", help="window size, WIDTHxHEIGHT")
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))

    visible = bool(os.environ.get("DISPLAY"))
    window = vantor.Window(width, height, title="Vantor demo", visible=visible)
    print(f"Window: {window.kind}, {window.width} x {window.height}")

    levels = {value: name for name, value in vantor.constants.enumerations()["HWLevels"].items()}
    devices = vantor.Dispatch("Vantor.Devices")
    for device in devices:
        level = levels.get(device.Level, device.Level)
        print(f"Rendering device {device.Index}: {device.Name} (level {level})")

    device = vantor.Dispatch("Vantor.Device3D")
    device.Window = window.handle
    device.Initialise(0, width, height)
    print(f"Device ready (status {device.Status}), {device.Cameras.Count} camera "
          f"named {device.Cameras(1).Name!r}, up to {device.Lights.Max} lights")

    frames = 0
    start = time.monotonic()
    while time.monotonic() - start < args.seconds:
        if window.kind == "x11" and not window.pump():
            print("The window was closed.")
            break
        hue = ((time.monotonic() - start) / 6.0) % 1.0
        r, g, b = colorsys.hsv_to_rgb(hue, 0.6, 0.45)
        device.Clear(r, g, b, 1.0)
        device.Render()
        device.Debug(0.02, 0.02, vantor.constants.White, f"Vantor  {device.FrameRate:7.1f} fps")
        device.Debug(0.02, 0.08, vantor.constants.Yellow, f"frame {frames}  clear ({r:.2f}, {g:.2f}, {b:.2f})")
        device.Update()
        frames += 1
    elapsed = time.monotonic() - start

    window.save_png(args.out)
    print(f"Drew {frames} frames in {elapsed:.1f} s ({frames / elapsed:.0f} frames per second); "
          f"the last frame is in {args.out}")
    device.Free()
    window.close()


if __name__ == "__main__":
    main()
