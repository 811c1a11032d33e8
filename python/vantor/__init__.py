"""Vantor: a scriptable real-time 3D engine.

    import vantor
    colour = vantor.Dispatch("Vantor.Colour")
    colour.Red = 0.5
    print(colour.Red, vantor.constants.fm_Linear)

Every object is reached by late binding (names looked up at run time); failures raise
vantor.COMError with .hresult, .description and .source.
"""
import os as _os

from . import _vantor
from . import registry, resources
from ._errors import COMError, MemberNotFoundError
from .window import Window

__all__ = ["Window", "Dispatch", "COMError", "MemberNotFoundError", "constants", "debug_output", "register",
           "unregister", "can_unload_now", "registry", "resources", "component_path", "type_library"]


def component_path():
    """The component this package was built with (libvantor.so): beside the package when it is
    installed, in the build tree's lib folder when it runs from there."""
    here = _os.path.dirname(_os.path.abspath(__file__))
    installed = _os.path.join(here, "libvantor.so")
    if _os.path.exists(installed):
        return installed
    return _os.path.normpath(_os.path.join(here, "..", "..", "lib", "libvantor.so"))


def register():
    """Registers the package's component into the current registry (DllRegisterServer)."""
    hr = _vantor.call_component(component_path(), "DllRegisterServer")
    if hr < 0:
        raise COMError(hr, _registration_text(hr, "registering"), "")


def unregister():
    """Removes the package's component from the current registry (DllUnregisterServer)."""
    hr = _vantor.call_component(component_path(), "DllUnregisterServer")
    if hr < 0:
        raise COMError(hr, _registration_text(hr, "unregistering"), "")


def can_unload_now():
    """True when no object of the component is alive and no server lock is held."""
    return _vantor.call_component(component_path(), "DllCanUnloadNow") == 0


def _registration_text(hr, doing):
    text = f"{_vantor.system_text(hr)} ({doing} {component_path()} in {registry.path()})"
    problem = registry.problem()
    return f"{text}: {problem}" if problem else text


_classes = None


def _component_classes():
    global _classes
    if _classes is None:
        _classes = _vantor.type_library_classes(component_path())
    return _classes


def _one_of_ours(progid):
    """Whether the name asks for a class of this package's component."""
    classes = _component_classes()
    if progid.startswith("{"):
        return any(clsid.upper() == progid.upper() for clsid in classes.values())
    parts = progid.split(".")
    return len(parts) in (2, 3) and parts[0] == "Vantor" and parts[1] in classes


def _same_file(a, b):
    try:
        return _os.path.samefile(a, b)
    except (OSError, ValueError):
        return False


def _registration_needed():
    """Whether Dispatch should register the package's component first: when the registry knows
    none of its classes, or when a class it knows is served by another file (a build tree that
    was removed, another copy of the package). Classes a host removed are not looked at."""
    ours = component_path()
    registered = [clsid for clsid in _component_classes().values() if _vantor.key_exists(f"CLSID\\{clsid}")]
    if not registered:
        return True
    for clsid in registered:
        server = registry.get_value("HKEY_CLASSES_ROOT", f"CLSID\\{clsid}\\InprocServer32", "")
        if isinstance(server, str) and server and not _same_file(server, ours):
            return True
    return False


def Dispatch(progid):
    """Creates an object by ProgID ("Vantor.Device3D", "Vantor.Device3D.1") or "{CLSID}".

    When the registry knows none of this package's classes, or knows them as served by another
    file (a removed build tree, another copy of the package), this package's component is
    registered first, so a first script works on a fresh machine and an installed package uses
    its own component. Otherwise nothing is registered again: a class key that a host removed
    stays removed.
    """
    if not isinstance(progid, str):
        raise TypeError(f"Dispatch() argument 'progid' must be str, not {type(progid).__name__}")
    if "\0" not in progid and _one_of_ours(progid):
        _ensure_registered()
    return _vantor.Dispatch(progid)


# The registry file as it was when it last served this package's component: (path, inode, size,
# modification time). Looking at every class costs milliseconds; a stat costs microseconds.
_verified = None


def _registry_stamp():
    path = registry.path()
    try:
        st = _os.stat(path)
    except OSError:
        return None
    return path, st.st_ino, st.st_size, st.st_mtime_ns


def _ensure_registered():
    global _verified
    stamp = _registry_stamp()
    if stamp is not None and stamp == _verified:
        return
    if _registration_needed():
        register()
    _verified = _registry_stamp()


def type_library():
    """The component's type library as plain data: its enumerations (with help strings and
    members), interfaces (members with dispatch ids, kinds, parameters and defaults) and classes."""
    return _vantor.type_library_description(component_path())


class _Constants:
    """Every enumeration member of the type library, by name: constants.fm_Linear."""

    def __init__(self):
        self._values = None
        self._enums = None

    def _load(self):
        if self._values is None:
            self._enums = _vantor.type_library_enums(component_path())
            self._values = {}
            for members in self._enums.values():
                self._values.update(members)

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        self._load()
        try:
            return self._values[name]
        except KeyError:
            raise AttributeError(f"vantor.constants has no member {name!r}") from None

    def __dir__(self):
        self._load()
        return sorted(self._values)

    def enumerations(self):
        """{enumeration name: {member: value}}"""
        self._load()
        return {k: dict(v) for k, v in self._enums.items()}


constants = _Constants()


class debug_output:
    """Captures the debugger output written inside the block.

        with vantor.debug_output() as out:
            device.Initialise(0, 640, 480)
        print(out.text)
    """

    def __init__(self):
        self._capture = _vantor.DebugCapture()

    def __enter__(self):
        self._capture.start()
        return self

    def __exit__(self, *exc):
        self._capture.stop()
        return False

    @property
    def text(self):
        return self._capture.text

    def clear(self):
        self._capture.clear()
