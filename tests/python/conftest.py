"""Test setup: the built package, a fresh registry per test, and no object left alive."""
import gc
import os
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
