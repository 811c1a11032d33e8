"""Test setup: the built package, a fresh registry per test, no object left alive, and a device on a
160 x 120 window for the tests that draw."""
import gc
import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.environ.get("VANTOR_PYTHON_PATH", os.path.join(ROOT, "build", "python")))

import vantor  # noqa: E402


@pytest.fixture(autouse=True)
def fresh_registry(request, tmp_path, monkeypatch):
    """Each test starts with an empty registry of its own; the package registers on demand."""
    path = tmp_path / "registry"
    monkeypatch.setenv("VANTOR_REGISTRY", str(path))
    yield path
    # This fixture is torn down last; pytest still holds the other fixtures' values until the
    # test is over, so they are dropped here before the component's lock count is read.
    request.node.funcargs.clear()
    gc.collect()
    assert vantor.can_unload_now(), "an object of the component is still alive at the end of the test"


@pytest.fixture
def registered(fresh_registry):
    vantor.register()
    return fresh_registry


@pytest.fixture
def window():
    with vantor.Window(160, 120, title="Test") as w:
        yield w


@pytest.fixture
def device(window):
    """A Device3D initialised on `window`, freed after the test."""
    d = vantor.Dispatch("Vantor.Device3D")
    d.Window = window.handle
    d.Initialise(0, 160, 120)
    yield d
    d.Free()


@pytest.fixture
def xdisplay(monkeypatch):
    """A private Xvfb server for the test, as $DISPLAY; the test is skipped without Xvfb."""
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        pytest.skip("Xvfb is not installed")
    read, write = os.pipe()
    server = subprocess.Popen([xvfb, "-displayfd", str(write), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                              pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    monkeypatch.setenv("DISPLAY", f":{number}")
    yield f":{number}"
    server.terminate()
    server.wait()
