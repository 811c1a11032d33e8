"""A model viewer for DirectX .x files.

    python3 -m vantor.view FILE.x                 an X11 window when a display exists
    python3 -m vantor.view FILE.x --png OUT.png   renders one frame off screen to a PNG

The model is centred and framed from the bounds of its vertices (text files), or from what it
covers in trial frames (binary and compressed files), lit by a directional light from the viewer. In a window: the arrow keys (or dragging with the left mouse button) orbit the
camera, `w` toggles the object's FillMode (recorded by the engine, which draws meshes solid
whatever it says), Escape or `q` quits. The load time, the vertex and face counts and
the frame rate are drawn as debug text. A file that cannot be loaded is reported on one line
(file, result code and description) with exit status 1.
"""
import argparse
import ctypes
import ctypes.util
import math
import os
import re
import shutil
import subprocess
import sys
import time

import vantor

from ._errors import COMError

# The camera's projection: a 90 degree field of view, near plane 1, far plane 1000.
_HALF_FOV = math.pi / 4
_NEAR, _FAR = 1.0, 1000.0
_CLEAR = (0.15, 0.15, 0.2, 1.0)


# --------------------------------------------------------------------------------------------
# Bounds and counts
# --------------------------------------------------------------------------------------------

_TOKEN = re.compile(r'"[^"]*"|<[^>]*>|[{};,]|[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?|[A-Za-z_][\w.-]*')
_NUMBER = re.compile(r'[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?$')


def _multiply(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def _identity():
    return [[1.0 if i == j else 0.0 for j in range(4)] for i in range(4)]


def text_bounds(path):
    """The bounds ((min x, y, z), (max x, y, z)) of every mesh vertex of a text .x file, with
    the frame transforms applied; None when the file is not text or holds no vertices."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 16 or data[:4] != b"xof " or data[8:12] != b"txt ":
        return None
    tokens = _TOKEN.findall(data[16:].decode("latin-1"))
    lo, hi = [math.inf] * 3, [-math.inf] * 3
    stack = [("", _identity())]          # (block kind, world matrix of the enclosing frame)
    i, n = 0, len(tokens)

    def numbers(start, count):
        out, j = [], start
        while j < n and len(out) < count:
            if _NUMBER.match(tokens[j]):
                out.append(float(tokens[j]))
            elif tokens[j] in ("{", "}"):
                break
            j += 1
        return out, j

    while i < n:
        t = tokens[i]
        if t == "{":
            # The block's kind is the identifier before its optional name.
            kind = ""
            back = [tokens[k] for k in range(max(0, i - 2), i)]
            if back and back[-1] not in ("{", "}", ";", ","):
                kind = back[-1]
                if len(back) == 2 and back[0] not in ("{", "}", ";", ","):
                    kind = back[0]
            world = stack[-1][1]
            if kind == "template":
                depth = 1
                i += 1
                while i < n and depth:
                    depth += {"{": 1, "}": -1}.get(tokens[i], 0)
                    i += 1
                continue
            if kind == "FrameTransformMatrix":
                values, i = numbers(i + 1, 16)
                if len(values) == 16 and stack[-1][0] == "Frame":
                    for k in (2, 8, 6, 9, 14):      # the loader's change of handedness
                        values[k] = -values[k]
                    local = [values[r * 4:r * 4 + 4] for r in range(4)]
                    parent = stack[-2][1] if len(stack) > 1 else _identity()
                    stack[-1] = ("Frame", _multiply(local, parent))
                stack.append((kind, world))
                continue
            if kind == "Mesh":
                head, j = numbers(i + 1, 1)
                if head:
                    values, j = numbers(j, 3 * int(head[0]))
                    for v in range(len(values) // 3):
                        x, y, z = values[3 * v:3 * v + 3]
                        p = [x * world[0][c] + y * world[1][c] + z * world[2][c] + world[3][c] for c in range(3)]
                        for c in range(3):
                            lo[c] = min(lo[c], p[c])
                            hi[c] = max(hi[c], p[c])
                stack.append((kind, world))
                i = j
                continue
            stack.append((kind, world))
        elif t == "}" and len(stack) > 1:
            stack.pop()
        i += 1
    if lo[0] == math.inf:
        return None
    return tuple(lo), tuple(hi)


def _xdump_path():
    here = os.path.dirname(os.path.abspath(__file__))
    for candidate in (os.path.join(here, "vantor-xdump"),  # an installed package
                      os.path.join(here, "..", "..", "bin", "vantor-xdump")):  # the build tree
        if os.path.exists(candidate):
            return os.path.normpath(candidate)
    return shutil.which("vantor-xdump")


class LoadError(Exception):
    """A file the viewer cannot show; the text names the reader's result and description."""


def read_counts(path):
    """(vertices, faces) summed over every mesh of the file, read by the engine's .x reader
    (vantor-xdump); None when the tool is not installed. Raises LoadError with the reader's
    result code and description when the file cannot be read, or holds no mesh."""
    tool = _xdump_path()
    if not tool:
        if not os.path.isfile(path):
            raise LoadError("the file could not be opened")
        return None
    try:
        done = subprocess.run([tool, path], capture_output=True, text=True, errors="replace", timeout=120)
    except (OSError, subprocess.SubprocessError):
        return None
    if done.returncode != 0:
        lines = [line for line in done.stderr.splitlines() if line.strip()]
        text = lines[-1] if lines else f"the reader failed (status {done.returncode})"
        prefix = f"{path}: error "
        raise LoadError(text[len(prefix):] if text.startswith(prefix) else text)
    found = re.findall(r"^Mesh .*?: (\d+) vertices, (\d+) faces", done.stdout, re.M)
    if not found:
        raise LoadError("the file holds no mesh")
    return sum(int(v) for v, _ in found), sum(int(f) for _, f in found)


# --------------------------------------------------------------------------------------------
# Input from an X11 window (a second connection to the display listening to the same window)
# --------------------------------------------------------------------------------------------

class _X11Input:
    _KEY_PRESS, _MOTION = 2, 6
    _KEY_PRESS_MASK, _BUTTON1_MOTION_MASK = 1 << 0, 1 << 8
    _BUTTON1 = 1 << 8
    XK = {0xFF51: "left", 0xFF52: "up", 0xFF53: "right", 0xFF54: "down", 0x77: "w", 0x57: "w",
          0x71: "q", 0xFF1B: "q"}

    def __init__(self, xid):
        self._x = None
        name = ctypes.util.find_library("X11")
        if not name or not xid:
            return
        x = ctypes.CDLL(name)
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XLookupKeysym.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XLookupKeysym.restype = ctypes.c_ulong
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x.XFlush.argtypes = [ctypes.c_void_p]
        self._display = x.XOpenDisplay(None)
        if not self._display:
            return
        x.XSelectInput(self._display, xid, self._KEY_PRESS_MASK | self._BUTTON1_MOTION_MASK)
        x.XFlush(self._display)
        self._x = x
        self._event = ctypes.create_string_buffer(192)
        self._last = None

    def events(self):
        """('key', name) and ('drag', dx, dy) for the events since the last call."""
        out = []
        if not self._x:
            return out
        while self._x.XPending(self._display):
            self._x.XNextEvent(self._display, self._event)
            kind = int.from_bytes(self._event.raw[0:4], "little")
            if kind == self._KEY_PRESS:
                name = self.XK.get(self._x.XLookupKeysym(self._event, 0))
                if name:
                    out.append(("key", name))
            elif kind == self._MOTION:
                px = int.from_bytes(self._event.raw[64:68], "little", signed=True)
                py = int.from_bytes(self._event.raw[68:72], "little", signed=True)
                state = int.from_bytes(self._event.raw[80:84], "little")
                if state & self._BUTTON1 and self._last:
                    out.append(("drag", px - self._last[0], py - self._last[1]))
                self._last = (px, py)
        return out

    def close(self):
        if self._x:
            self._x.XCloseDisplay(self._display)
            self._x = None


# --------------------------------------------------------------------------------------------
# The viewer
# --------------------------------------------------------------------------------------------

class Viewer:
    def __init__(self, path, window):
        self.path = os.path.abspath(path)
        self.window = window
        self.counts = read_counts(self.path)   # the reader's verdict before the engine loads it
        self.device = vantor.Dispatch("Vantor.Device3D")
        self.device.Window = window.handle
        self.device.Initialise(0, window.width, window.height)
        folder = os.path.dirname(self.path)
        previous = os.getcwd()
        os.chdir(folder)            # the model names its textures relative to its own folder
        try:
            start = time.monotonic()
            self.model = self.device.Objects.LoadFile(os.path.basename(self.path), "Model")
            self.load_ms = (time.monotonic() - start) * 1000
        finally:
            os.chdir(previous)
        bounds = text_bounds(self.path)
        fitted = bounds is not None
        if bounds is None:
            bounds = ((-1.0, -1.0, -1.0), (1.0, 1.0, 1.0))
        lo, hi = bounds
        self.centre = tuple((a + b) / 2 for a, b in zip(lo, hi))
        radius = max(math.dist(lo, hi) / 2, 1e-3)
        # Far enough that the bounding sphere fills the view and stays beyond the near plane.
        self.distance = min(max(radius / math.sin(_HALF_FOV) * 1.1, radius + _NEAR * 1.05), _FAR - radius)
        self.yaw, self.pitch = 0.5, 0.35
        self.wireframe = False
        self.light = self.device.Lights.Add(vantor.constants.lt_Directional, 0, 0, 1, 1, 1, 1, 1)
        diffuse = self.light.Diffuse
        diffuse.Red = diffuse.Green = diffuse.Blue = 1.0
        ambient = self.device.Ambient
        ambient.Red = ambient.Green = ambient.Blue = 0.25
        self.place_camera()
        if not fitted:
            self.fit_from_pixels()

    def covered(self):
        """The rows and columns (first, last) of the frame the model covers; None when empty."""
        self.device.Clear(*_CLEAR)
        self.device.Render()
        self.device.Update()
        rgba = self.window.pixels()
        width, height = self.window.width, self.window.height
        clear = bytes(round(c * 255) for c in _CLEAR[:3])
        stride = width * 4
        rows, left, right = [], width, -1
        for y in range(height):
            row = rgba[y * stride:(y + 1) * stride]
            hits = [x for x in range(width) if row[4 * x:4 * x + 3] != clear]
            if hits:
                rows.append(y)
                left, right = min(left, hits[0]), max(right, hits[-1])
        if not rows:
            return None
        return rows[0], rows[-1], left, right, width, height

    def fit_from_pixels(self):
        """Frames a model whose vertices were not read here by looking at what it covers: back off
        while it touches the edges, come closer while it is small."""
        for _ in range(12):
            got = self.covered()
            if got is None:
                self.distance = min(self.distance * 3, _FAR / 2)
            else:
                top, bottom, left, right, width, height = got
                share = max((bottom - top + 1) / height, (right - left + 1) / width)
                if top == 0 or left == 0 or bottom == height - 1 or right == width - 1:
                    self.distance = min(self.distance * 1.6, _FAR / 2)
                elif share < 0.4:
                    self.distance = max(self.distance * max(share / 0.7, 0.3), _NEAR * 1.5)
                else:
                    # Off the middle: move the point looked at under the middle of what it covers.
                    ox = ((left + right) / 2 - width / 2) / (width / 2)
                    oy = ((top + bottom) / 2 - height / 2) / (height / 2)
                    if max(abs(ox), abs(oy)) < 0.1:
                        return
                    self.shift(ox * self.distance * math.tan(_HALF_FOV), -oy * self.distance * math.tan(_HALF_FOV))
            self.place_camera()

    def shift(self, right, up):
        """Moves the centre by the given amounts along the camera's right and up directions."""
        fx = math.cos(self.pitch) * -math.sin(self.yaw)
        fy = -math.sin(self.pitch)
        fz = math.cos(self.pitch) * math.cos(self.yaw)
        norm = math.hypot(fz, fx) or 1.0
        rx, rz = fz / norm, -fx / norm
        ux, uy, uz = -fx * fy, fx * fx + fz * fz, -fy * fz
        unorm = math.sqrt(ux * ux + uy * uy + uz * uz) or 1.0
        self.centre = (self.centre[0] + right * rx + up * ux / unorm, self.centre[1] + up * uy / unorm,
                       self.centre[2] + right * rz + up * uz / unorm)

    def place_camera(self):
        cx, cy, cz = self.centre
        d = self.distance
        eye = (cx + d * math.cos(self.pitch) * math.sin(self.yaw), cy + d * math.sin(self.pitch),
               cz - d * math.cos(self.pitch) * math.cos(self.yaw))
        camera = self.device.Cameras("Default")
        camera.Position.X, camera.Position.Y, camera.Position.Z = eye
        camera.LookAt.X, camera.LookAt.Y, camera.LookAt.Z = self.centre
        camera.Update()
        # The light shines from the viewer towards the model.
        direction = self.light.Direction
        direction.X, direction.Y, direction.Z = (c - e for c, e in zip(self.centre, eye))
        self.light.Update()

    def orbit(self, yaw, pitch):
        self.yaw += yaw
        self.pitch = max(-1.5, min(1.5, self.pitch + pitch))
        self.place_camera()

    def toggle_wireframe(self):
        self.wireframe = not self.wireframe
        c = vantor.constants
        self.model.FillMode = c.fm_Wireframe if self.wireframe else c.fm_Solid

    def draw(self):
        d = self.device
        d.Clear(*_CLEAR)
        d.Render()
        white = vantor.constants.White
        step = max(0.04, 16 / max(self.window.height, 1))
        d.Debug(0.02, 0.02, white, f"{os.path.basename(self.path)}: loaded in {self.load_ms:.0f} ms")
        if self.counts:
            d.Debug(0.02, 0.02 + step, white, f"{self.counts[0]} vertices, {self.counts[1]} faces")
        d.Debug(0.02, 0.02 + 2 * step, white, f"{d.FrameRate:.0f} fps")
        if self.wireframe:
            # The object records its fill mode; the engine draws meshes solid whatever it says.
            d.Debug(0.02, 0.02 + 3 * step, white, "wireframe set on the object (meshes draw solid)")
        d.Update()

    def free(self):
        self.device.Free()


def _size(text):
    try:
        w, h = (int(v) for v in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not WIDTHxHEIGHT") from None
    if w <= 0 or h <= 0:
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive size")
    return w, h


def main(argv=None):
    ap = argparse.ArgumentParser(prog="python3 -m vantor.view", description=__doc__.splitlines()[0])
    ap.add_argument("file", help="a DirectX .x file")
    ap.add_argument("--png", metavar="OUT", help="render one frame off screen and write it to OUT")
    ap.add_argument("--size", type=_size, default=(800, 600), help="WIDTHxHEIGHT (default 800x600)")
    ap.add_argument("--frames", type=int, default=0, help="in a window: stop after N frames (0: until closed)")
    args = ap.parse_args(argv)

    headless = bool(args.png) or not os.environ.get("DISPLAY")
    width, height = args.size
    window = None
    try:
        window = vantor.Window(width, height, title=f"Vantor: {os.path.basename(args.file)}",
                               visible=not headless)
        viewer = Viewer(args.file, window)
    except LoadError as e:
        print(f"{args.file}: cannot load: {e}", file=sys.stderr)
        window.close()
        return 1
    except COMError as e:
        text = e.description.replace("\n", " ").strip() or "failed"
        print(f"{args.file}: cannot load: {text} (0x{e.hresult & 0xFFFFFFFF:08X})", file=sys.stderr)
        if window:
            window.close()
        return 1
    try:
        if headless:
            viewer.draw()
            out = args.png or os.path.splitext(os.path.basename(args.file))[0] + ".png"
            window.save_png(out)
            print(f"{out}: {width} x {height}")
            return 0
        _run_window(viewer, window, args.frames)
        return 0
    except COMError as e:
        print(f"{args.file}: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 0
    finally:
        viewer.free()
        window.close()


def _run_window(viewer, window, frames):
    keys = _X11Input(window.xid)
    step = math.radians(5)
    drawn = 0
    try:
        while window.pump():
            for event in keys.events():
                if event == ("key", "q"):
                    return
                if event == ("key", "w"):
                    viewer.toggle_wireframe()
                elif event[0] == "key":
                    dy, dp = {"left": (-step, 0), "right": (step, 0), "up": (0, step), "down": (0, -step)}[event[1]]
                    viewer.orbit(dy, dp)
                else:
                    viewer.orbit(event[1] * 0.01, event[2] * 0.01)
            viewer.draw()
            drawn += 1
            if frames and drawn >= frames:
                return
            time.sleep(0.01)
    finally:
        keys.close()


if __name__ == "__main__":
    sys.exit(main())
