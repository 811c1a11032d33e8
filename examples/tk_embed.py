"""A Tkinter window that hosts a Vantor device in one of its frames.

The device draws into the frame's own X11 window (winfo_id(), taken with vantor.Window.attach);
Tk's after() drives the frames, and the buttons below the picture start and stop the camera's
orbit around a house (examples/models/house.x) and change the colour of the light.

    PYTHONPATH=build/python /usr/bin/python3 examples/tk_embed.py
    /usr/bin/python3 examples/tk_embed.py --frames 30 --png tk.png   # 30 frames, then a picture
"""
import argparse
import math
import os
import sys
import tkinter as tk

import vantor

LIGHTS = [("White", (1.0, 1.0, 1.0)), ("Red", (1.0, 0.15, 0.1)), ("Green", (0.15, 1.0, 0.2)),
          ("Blue", (0.2, 0.35, 1.0))]
CLEAR = (0.08, 0.08, 0.12, 1.0)
FRAME_MS = 16
MODEL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "models", "house.x")


class App:
    def __init__(self, root, width=480, height=360):
        self.root = root
        root.title("Vantor in Tk")
        root.resizable(False, False)
        # No background: Tk must not paint over the device's picture when the frame is exposed.
        self.view = tk.Frame(root, width=width, height=height, background="")
        self.view.pack(side=tk.TOP)
        bar = tk.Frame(root)
        bar.pack(side=tk.TOP, fill=tk.X)
        self.spin_button = tk.Button(bar, text="Stop", width=8, command=self.toggle_spin)
        self.spin_button.pack(side=tk.LEFT)
        self.colour_button = tk.Button(bar, text=f"Light: {LIGHTS[0][0]}", width=12, command=self.next_light)
        self.colour_button.pack(side=tk.LEFT)
        tk.Button(bar, text="Quit", width=8, command=self.close).pack(side=tk.RIGHT)
        root.protocol("WM_DELETE_WINDOW", self.close)
        root.update()  # the frame must be on the display before the device takes it

        self.window = vantor.Window.attach(self.view.winfo_id())
        self.device = vantor.Dispatch("Vantor.Device3D")
        self.device.Window = self.window.handle
        self.device.Initialise(0, width, height)
        previous = os.getcwd()
        os.chdir(os.path.dirname(MODEL))  # the model names its textures relative to its folder
        try:
            self.device.Objects.LoadFile(os.path.basename(MODEL), "House")
        finally:
            os.chdir(previous)
        self.light = self.device.Lights.Add(vantor.constants.lt_Directional, 0, 0, 1, 1, 1, 1, 1)
        ambient = self.device.Ambient
        ambient.Red = ambient.Green = ambient.Blue = 0.15
        self.light_index = 0
        self.set_light(LIGHTS[0][1])
        self.angle = 0.0
        self.spinning = True
        self.frames = 0
        self.stop_at = None
        self.pending = None
        self.tick()

    def toggle_spin(self):
        self.spinning = not self.spinning
        self.spin_button.configure(text="Stop" if self.spinning else "Spin")

    def next_light(self):
        self.light_index = (self.light_index + 1) % len(LIGHTS)
        name, colour = LIGHTS[self.light_index]
        self.set_light(colour)
        self.colour_button.configure(text=f"Light: {name}")

    def set_light(self, colour):
        diffuse = self.light.Diffuse
        diffuse.Red, diffuse.Green, diffuse.Blue = colour
        self.light.Update()

    def place_camera(self):
        """The camera circles the house at the current angle; the light shines from it."""
        centre = (0.0, 1.7, 0.0)
        eye = (5.5 * math.sin(self.angle), 3.5, -5.5 * math.cos(self.angle))
        camera = self.device.Cameras("Default")
        camera.Position.X, camera.Position.Y, camera.Position.Z = eye
        camera.LookAt.X, camera.LookAt.Y, camera.LookAt.Z = centre
        camera.Update()
        direction = self.light.Direction
        direction.X, direction.Y, direction.Z = (c - e for c, e in zip(centre, eye))
        self.light.Update()

    def tick(self):
        self.pending = None
        if self.spinning:
            self.angle += 0.04
        self.place_camera()
        self.device.Clear(*CLEAR)
        self.device.Render()
        self.device.Debug(0.02, 0.02, vantor.constants.White, f"{self.device.FrameRate:.0f} fps")
        self.device.Update()
        self.frames += 1
        if self.stop_at is not None and self.frames >= self.stop_at:
            self.root.quit()
        else:
            self.pending = self.root.after(FRAME_MS, self.tick)

    def run_frames(self, count):
        """Runs Tk's event loop until `count` more frames have been drawn."""
        self.stop_at = self.frames + count
        if self.pending is None:
            self.pending = self.root.after(FRAME_MS, self.tick)
        self.root.mainloop()
        self.stop_at = None

    def close(self):
        if self.pending is not None:
            self.root.after_cancel(self.pending)
            self.pending = None
        if self.device is not None:
            self.device.Free()
            self.device = None
        self.root.quit()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=0, help="quit after this many frames (0: run until closed)")
    parser.add_argument("--png", help="with --frames: write the last frame to this PNG file")
    args = parser.parse_args(argv)
    try:
        root = tk.Tk()
    except tk.TclError as e:
        print(f"tk_embed: no display for Tk ({e})", file=sys.stderr)
        return 1
    app = App(root)
    if args.frames > 0:
        app.run_frames(args.frames)
        if args.png:
            app.window.save_png(args.png)
    else:
        root.mainloop()
    app.close()
    root.destroy()
    return 0


if __name__ == "__main__":
    sys.exit(main())
