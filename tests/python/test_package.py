"""The package as users install it: which component the first Dispatch registers, and a wheel
built from this tree, installed with pip into a temporary folder and used from outside the tree."""
import glob
import importlib.util
import json
import os
import shutil
import subprocess
import sys
import textwrap

import pytest
import vantor

from conftest import ROOT

HKCR = "HKEY_CLASSES_ROOT"


def server_of(progid):
    clsid = vantor.registry.get_value(HKCR, f"{progid}\\CLSID", "")
    return vantor.registry.get_value(HKCR, f"CLSID\\{clsid}\\InprocServer32", "")


def point_at(progid, path):
    clsid = vantor.registry.get_value(HKCR, f"{progid}\\CLSID", "")
    vantor.registry.set_value(HKCR, f"CLSID\\{clsid}\\InprocServer32", "", path)


@pytest.mark.parametrize("server", ["missing", "another file"])
def test_dispatch_registers_again_when_a_class_is_served_by_another_file(registered, tmp_path, server):
    other = tmp_path / "gone" / "lib" / "libvantor.so"
    if server == "another file":
        other.parent.mkdir(parents=True)
        shutil.copyfile(vantor.component_path(), other)
    point_at("Vantor.Fog", str(other))
    vantor.Dispatch("Vantor.Colour")
    assert server_of("Vantor.Fog") == vantor.component_path()
    vantor.Dispatch("Vantor.Fog")


# --------------------------------------------------------------------------------------------
# The wheel, installed with pip --target
# --------------------------------------------------------------------------------------------

@pytest.fixture(scope="session")
def installed(tmp_path_factory):
    """A folder holding the vantor package installed from a wheel of this tree."""
    for module, package in (("build", "python3-build"), ("pip", "python3-pip"),
                            ("setuptools", "python3-setuptools"), ("wheel", "python3-wheel")):
        if importlib.util.find_spec(module) is None:
            pytest.skip(f"building the wheel needs {package}")
    if shutil.which("cmake") is None:
        pytest.skip("building the wheel needs cmake")
    wheels = tmp_path_factory.mktemp("wheels")
    built = subprocess.run([sys.executable, "-m", "build", "--no-isolation", "--wheel", "--outdir", str(wheels), ROOT],
                           capture_output=True, text=True)
    assert built.returncode == 0, built.stdout[-3000:] + built.stderr[-3000:]
    [wheel] = glob.glob(str(wheels / "vantor-*.whl"))
    target = tmp_path_factory.mktemp("site")
    pip = subprocess.run([sys.executable, "-m", "pip", "install", "--no-deps", "--no-index", "--target", str(target),
                          wheel], capture_output=True, text=True)
    assert pip.returncode == 0, pip.stderr[-3000:]
    return target


def run_installed(installed, tmp_path, script):
    """Runs a script with only the installed package on the path, from a folder outside the tree,
    on a fontconfig setup that knows no font (a machine without fonts installed)."""
    env = {k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "VANTOR_PYTHON_PATH", "PYTHONPATH")}
    fonts = tmp_path / "fonts.conf"
    fonts.write_text(f'<?xml version="1.0"?>\n<fontconfig><cachedir>{tmp_path}/cache</cachedir></fontconfig>\n')
    env.update(PYTHONPATH=str(installed), VANTOR_REGISTRY=os.environ["VANTOR_REGISTRY"], FONTCONFIG_FILE=str(fonts))
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-3000:]
    return json.loads(done.stdout.splitlines()[-1])


DRAW_A_FRAME = """
    import json, vantor, vantor.view
    window = vantor.Window(64, 24)
    device = vantor.Dispatch("Vantor.Device3D")
    device.Window = window.handle
    device.Initialise(0, 64, 24)
    device.Clear(0, 1, 0, 1)
    device.Render()
    device.Debug(0, 0, vantor.constants.White, "WWWW")  # with the package's own font
    device.Update()
    rgba = window.pixels()
    pixel = list(rgba[-4:])
    text = sum(1 for i in range(0, len(rgba), 4) if rgba[i] > 128)
    clsid = vantor.registry.get_value("HKEY_CLASSES_ROOT", "Vantor.Device3D\\\\CLSID", "")
    server = vantor.registry.get_value("HKEY_CLASSES_ROOT", f"CLSID\\\\{clsid}\\\\InprocServer32", "")
    device.Free()
    print(json.dumps({"package": vantor.__file__, "server": server, "pixel": pixel, "text": text,
                      "xdump": vantor.view._xdump_path()}))
"""


@pytest.mark.parametrize("before", ["fresh", "built tree", "removed build tree"])
def test_the_installed_package_draws_with_its_own_component(installed, tmp_path, fresh_registry, before):
    if before != "fresh":
        vantor.register()  # the build tree's component, as a developer's registry holds it
    if before == "removed build tree":
        for progid in ("Vantor.Device3D", "Vantor.Colour"):
            point_at(progid, str(tmp_path / "removed" / "lib" / "libvantor.so"))
    got = run_installed(installed, tmp_path, DRAW_A_FRAME)
    package = os.path.join(str(installed), "vantor")
    assert got["package"] == os.path.join(package, "__init__.py")
    assert got["server"] == os.path.join(package, "libvantor.so")
    assert got["xdump"] == os.path.join(package, "vantor-xdump")
    assert got["pixel"] == [0, 255, 0, 255] and got["text"] > 20


TYPED = """
    import vantor
    device = vantor.Dispatch("Vantor.Device3D")
    z: float = device.Cameras("Default").Position.Z
    device.NoSuchMember()
"""


def test_the_installed_stubs_type_check_a_script(installed, tmp_path):
    if shutil.which("mypy") is None:
        pytest.skip("mypy is not installed")
    script = tmp_path / "script.py"
    script.write_text(textwrap.dedent(TYPED))
    done = subprocess.run(["mypy", "--no-incremental", str(script)], cwd=tmp_path,
                          env=dict(os.environ, MYPYPATH=str(installed)), capture_output=True, text=True)
    errors = [line for line in done.stdout.splitlines() if ": error:" in line]
    # Only the member the stubs do not have: the package is found, typed, and the rest checks.
    assert len(errors) == 1 and "script.py:5:" in errors[0] and "NoSuchMember" in errors[0], done.stdout

