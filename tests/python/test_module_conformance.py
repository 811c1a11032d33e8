"""What a script sees of the component's registration, the shared registry file and the error
record a failed creation leaves."""
import os
import subprocess
import sys

import pytest

import vantor
from vantor import registry

HKCR = "HKEY_CLASSES_ROOT"


def test_a_failed_creation_never_shows_an_earlier_objects_error_record(registered):
    # A material without its colours still exists, but it leaves its report on the thread; the
    # creation that fails next reports nothing of its own and must not wear that record.
    colour = registry.get_value(HKCR, "Vantor.Colour\\CLSID", "")
    assert registry.delete_key(HKCR, "CLSID\\" + colour)
    material = vantor.Dispatch("Vantor.Material")
    with pytest.raises(vantor.COMError) as failed:
        vantor.Dispatch("Vantor.Colour")
    assert failed.value.hresult == -2147221164  # REGDB_E_CLASSNOTREG
    assert failed.value.source == ""
    assert "Not Registered." not in failed.value.description
    del material


def _in_child(script, **env):
    """Runs a script in a child process, so that one blocked on a FIFO cannot stop the test run."""
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(vantor.__file__)), **env)
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=120)
    return done.stdout.splitlines(), done.stdout + done.stderr


def _unusable(kind, tmp_path):
    place = tmp_path / "unusable"
    if kind == "folder":
        place.mkdir()
    elif kind == "fifo":
        os.mkfifo(place)
    elif kind == "link to a device":
        place.symlink_to("/dev/null")
    return place


@pytest.mark.parametrize("kind", ["folder", "fifo", "link to a device"])
def test_a_registry_path_that_is_not_a_regular_file_is_refused_and_left_alone(kind, tmp_path):
    place = _unusable(kind, tmp_path)
    before = os.lstat(place)
    script = (
        "import vantor\n"
        "for step in (vantor.register, vantor.unregister):\n"
        "    try:\n"
        "        step(); print('succeeded')\n"
        "    except vantor.COMError as e:\n"
        "        print('refused', e.hresult)\n"
        "print(vantor.registry.problem())\n"
    )
    lines, output = _in_child(script, VANTOR_REGISTRY=str(place))
    # ERROR_BADDB as an HRESULT, for registering and for unregistering alike.
    assert lines[:2] == ["refused -2147023887", "refused -2147023887"], output
    assert lines[2] == "it is not a regular file"
    after = os.lstat(place)
    assert (after.st_mode, after.st_ino) == (before.st_mode, before.st_ino)
    assert os.path.realpath("/dev/null") == "/dev/null" and not os.path.isfile("/dev/null")


def test_registry_helpers_refuse_what_they_cannot_store(registered):
    cases = [
        ("whole root deleted", lambda: registry.delete_key(HKCR, "")),
        ("root named by separators", lambda: registry.delete_key(HKCR, "\\\\")),
        ("lone surrogate", lambda: registry.set_value(HKCR, "Scratch", "v", "\ud800")),
        ("number beyond 64 bits", lambda: registry.set_value(HKCR, "Scratch", "v", 2**70)),
    ]
    for name, call in cases:
        with pytest.raises(ValueError):
            call()
        assert registry.get_value(HKCR, "Scratch", "v") is None, name
        # The component's classes are all still there.
        assert registry.get_value(HKCR, "Vantor.Device3D\\CLSID", ""), name


def test_a_class_served_by_a_fifo_is_refused_without_waiting(registered, tmp_path):
    fifo = tmp_path / "server.so"
    os.mkfifo(fifo)
    clsid = "{0B1D5C8E-5A49-4C4B-9E8A-7F1E2D3C4B5A}"
    registry.set_value(HKCR, f"CLSID\\{clsid}\\InprocServer32", "", str(fifo))
    script = (
        "import vantor\n"
        "try:\n"
        f"    vantor.Dispatch('{clsid}'); print('created')\n"
        "except vantor.COMError as e:\n"
        "    print('refused', e.hresult)\n"
    )
    lines, output = _in_child(script)
    assert lines == ["refused -2147221000"], output  # CO_E_DLLNOTFOUND


@pytest.mark.parametrize("kind", ["folder", "fifo"])
def test_bitmap_resources_are_read_from_regular_files_only(kind, tmp_path):
    place = _unusable(kind, tmp_path)
    # A FIFO without a writer would block a plain read for ever.
    with pytest.raises(OSError):
        vantor.resources.add_bitmap("wood.bmp", str(place))
    assert not vantor.resources.remove("wood.bmp")
