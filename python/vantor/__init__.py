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
    """The component this package was built with (libvantor.so)."""
    here = _os.path.dirname(_os.path.abspath(__file__))
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


def _registered_at_all(progid):
    """Whether the registry knows the class asked for by any of its names."""
    classes = _component_classes()
    name = None
    if progid.startswith("{"):
        for cls, clsid in classes.items():
            if clsid.upper() == progid.upper():
                name = cls
    else:
        parts = progid.split(".")
        if len(parts) in (2, 3) and parts[0] == "Vantor" and parts[1] in classes:
            name = parts[1]
    if name is None:
        return True  # not one of this package's classes: leave it to the registry
    clsid = classes[name]
    return any(_vantor.key_exists(k) for k in (f"Vantor.{name}", f"Vantor.{name}.1", f"CLSID\\{clsid}"))


def Dispatch(progid):
    """Creates an object by ProgID ("Vantor.Device3D", "Vantor.Device3D.1") or "{CLSID}".

    A class of this package's component that the registry does not know at all is registered
    first, so a first script works on a fresh machine.
    """
    if not _registered_at_all(progid):
        register()
    return _vantor.Dispatch(progid)


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
