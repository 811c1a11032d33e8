"""The host program's bitmap resources, which the engine looks up before files.

    vantor.resources.add_bitmap("wood.bmp", "/path/to/wood.bmp")
    vantor.resources.remove("wood.bmp")
"""
import errno as _errno
import os as _os
import stat as _stat

from . import _vantor

__all__ = ["add_bitmap", "remove"]


def add_bitmap(name, path):
    """Registers the Windows bitmap file at `path` as the host's bitmap resource `name`.

    Only a regular file is read (OSError otherwise): a FIFO without a writer would never end."""
    fd = _os.open(path, _os.O_RDONLY | _os.O_NONBLOCK | getattr(_os, "O_CLOEXEC", 0))
    try:
        if not _stat.S_ISREG(_os.fstat(fd).st_mode):
            raise OSError(_errno.EINVAL, "not a regular file", str(path))
        _os.set_blocking(fd, True)
        with _os.fdopen(fd, "rb") as f:
            fd = -1
            data = f.read()
    finally:
        if fd >= 0:
            _os.close(fd)
    _vantor.add_bitmap_resource(name, data)


def remove(name):
    """Removes the bitmap resource `name`; False when there was none."""
    return _vantor.remove_bitmap_resource(name)
