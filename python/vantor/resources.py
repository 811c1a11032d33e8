"""The host program's bitmap resources, which the engine looks up before files.

    vantor.resources.add_bitmap("wood.bmp", "/path/to/wood.bmp")
    vantor.resources.remove("wood.bmp")
"""
from . import _vantor

__all__ = ["add_bitmap", "remove"]


def add_bitmap(name, path):
    """Registers the Windows bitmap file at `path` as the host's bitmap resource `name`."""
    with open(path, "rb") as f:
        data = f.read()
    _vantor.add_bitmap_resource(name, data)


def remove(name):
    """Removes the bitmap resource `name`; False when there was none."""
    return _vantor.remove_bitmap_resource(name)
