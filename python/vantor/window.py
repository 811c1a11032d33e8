"""Windows for scripts: a virtual window (off screen, always available) or an X11 window.

    win = vantor.Window(640, 480, title="Demo")                 # virtual
    win = vantor.Window(640, 480, title="Demo", visible=True)   # X11 when $DISPLAY is set
    dev.Window = win.handle
    ...
    win.save_png("frame.png"); rgba = win.pixels()              # RGBA bytes, rows top to bottom
"""
import os
import struct
import zlib

from . import _vantor
from ._errors import COMError

_VIRTUAL, _X11 = 1, 2
E_FAIL = -2147467259


class Window:
    """A window the engine can render into. `handle` is what Device3D.Window takes."""

    def __init__(self, width, height, title="", visible=False, _handle=None):
        if _handle is None:
            if width <= 0 or height <= 0:
                raise ValueError("a window needs a positive width and height")
            if visible and os.environ.get("DISPLAY"):
                handle = _vantor.window_create_x11(width, height, title, True)
            else:
                handle = _vantor.window_create_virtual(width, height, title)
            if not handle:
                raise COMError(E_FAIL, f"Could not create a {width} x {height} window.", "")
        else:
            handle = _handle
        self._handle = handle

    @classmethod
    def attach(cls, xid):
        """Wraps an X11 window made by any toolkit (Tk's winfo_id(), GTK, Qt, SDL...)."""
        handle = _vantor.window_attach(int(xid))
        if not handle:
            raise COMError(E_FAIL, f"0x{int(xid):x} is not a window on the X display.", "")
        return cls(0, 0, _handle=handle)

    @property
    def handle(self):
        return self._handle

    @property
    def kind(self):
        return {_VIRTUAL: "virtual", _X11: "x11"}.get(_vantor.window_kind(self._handle), "none")

    @property
    def xid(self):
        return _vantor.window_xid(self._handle)

    @property
    def width(self):
        size = _vantor.window_client_size(self._handle)
        return size[0] if size else 0

    @property
    def height(self):
        size = _vantor.window_client_size(self._handle)
        return size[1] if size else 0

    @property
    def title(self):
        return _vantor.window_title(self._handle)

    @title.setter
    def title(self, text):
        _vantor.window_set_title(self._handle, text)

    @property
    def closed(self):
        """True once the user or the window manager closed an X11 window (or it was closed here)."""
        return _vantor.window_closed(self._handle)

    def pump(self):
        """Handles pending X11 events; False once the window has been closed."""
        return _vantor.window_pump(self._handle)

    def resize(self, width, height):
        if not _vantor.window_resize(self._handle, width, height):
            raise COMError(E_FAIL, f"Could not resize the window to {width} x {height}.", "")

    def pixels(self):
        """The window's image: RGBA bytes, rows top to bottom, width * height * 4 long."""
        got = _vantor.window_pixels(self._handle)
        if got is None:
            raise COMError(E_FAIL, "The window's pixels cannot be read.", "")
        return got[2]

    def save_png(self, path):
        """Writes the window's image to a PNG file."""
        got = _vantor.window_pixels(self._handle)
        if got is None:
            raise COMError(E_FAIL, "The window's pixels cannot be read.", "")
        width, height, rgba = got
        write_png(path, width, height, rgba)

    def close(self):
        if self._handle:
            _vantor.window_destroy(self._handle)
            self._handle = 0

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        return f"<vantor.Window {self.kind} {self.width}x{self.height} handle={self._handle}>"


def write_png(path, width, height, rgba):
    """A minimal PNG writer (8-bit RGBA, no filtering)."""
    stride = width * 4
    raw = b"".join(b"\x00" + rgba[y * stride:(y + 1) * stride] for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 6))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)
