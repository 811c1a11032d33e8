"""vantor.Window: virtual windows everywhere, X11 windows under a private Xvfb."""

import pytest
import vantor

PIL = pytest.importorskip("PIL.Image")


def test_virtual_window_size_title_pixels_and_png(tmp_path):
    with vantor.Window(64, 32, title="Démo") as win:
        assert win.kind == "virtual" and win.handle > 0
        assert (win.width, win.height, win.title) == (64, 32, "Démo")
        rgba = win.pixels()
        assert len(rgba) == 64 * 32 * 4
        assert rgba[:4] == b"\x00\x00\x00\xff"  # opaque black before anything is presented
        path = tmp_path / "frame.png"
        win.save_png(path)
        image = PIL.open(path)
        assert image.size == (64, 32) and image.mode == "RGBA"
        assert image.getpixel((63, 31)) == (0, 0, 0, 255)
        win.resize(20, 10)
        assert (win.width, win.height) == (20, 10)
        win.title = "Renamed"
        assert win.title == "Renamed"
    assert win.kind == "none"


def test_bad_sizes_and_foreign_windows_are_refused():
    with pytest.raises(ValueError):
        vantor.Window(0, 10)
    with pytest.raises(vantor.COMError):
        vantor.Window.attach(0x7FFFFFF0)


def test_x11_window_when_visible_and_a_display_is_there(xdisplay):
    with vantor.Window(120, 80, title="X", visible=True) as win:
        assert win.kind == "x11" and win.xid != 0
        assert (win.width, win.height, win.title) == (120, 80, "X")
        assert win.pump() and not win.closed
        assert len(win.pixels()) == 120 * 80 * 4
        other = vantor.Window.attach(win.xid)
        assert other.handle == win.handle  # the same window
