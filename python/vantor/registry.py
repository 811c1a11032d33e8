"""The registry that Vantor components and hosts share (a text file).

Roots are named "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE" and "HKEY_CURRENT_USER"; the file is
$VANTOR_REGISTRY, else ~/.config/vantor/registry.

    vantor.registry.set_value("HKEY_LOCAL_MACHINE", "Software\\\\Microsoft\\\\DirectX",
                              "DXSDK Samples Path", "/data/media")
    vantor.registry.get_value("HKEY_CLASSES_ROOT", "Vantor.Colour\\\\CLSID", "")
"""
from . import _vantor

__all__ = ["get_value", "set_value", "delete_key", "subkeys", "path", "problem"]


def get_value(root, key, name=""):
    """The value (str or int) of `name` under `key`; "" is the default value. None when absent."""
    return _vantor.registry_get(root, key, name)


def set_value(root, key, name, value):
    """Sets a str or int (32-bit unsigned) value, creating the key as needed."""
    _vantor.registry_set(root, key, name, value)


def delete_key(root, key):
    """Deletes the key and everything under it; False when there was no such key."""
    return _vantor.registry_delete(root, key)


def subkeys(root, key):
    """The names of the key's subkeys, sorted; [] when there is no such key."""
    return _vantor.registry_subkeys(root, key)


def path():
    """The registry file in use."""
    return _vantor.registry_path()


def problem():
    """Why the registry file was set aside (unreadable or corrupt), or "" when it is healthy."""
    return _vantor.registry_problem()
