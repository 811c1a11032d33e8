"""The generated stubs: scripts type-check against them, and mistakes in a script are caught."""
import os
import re
import shutil
import subprocess
import sys

import pytest

import vantor

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGE_PARENT = os.path.dirname(os.path.dirname(os.path.abspath(vantor.__file__)))


def mypy_command():
    try:
        import mypy  # noqa: F401
        return [sys.executable, "-m", "mypy"]
    except ImportError:
        pass
    if shutil.which("mypy"):
        return ["mypy"]
    pytest.skip("mypy is not installed")


def mypy(tmp_path, *files):
    env = dict(os.environ, MYPYPATH=PACKAGE_PARENT)
    done = subprocess.run([*mypy_command(), "--no-error-summary", "--show-error-codes", "--no-incremental",
                           "--cache-dir", str(tmp_path / "cache"), *files],
                          capture_output=True, text=True, env=env, cwd=tmp_path, timeout=600)
    return done.returncode, done.stdout + done.stderr


def readme_script(tmp_path):
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        script = re.search(r"## A first script\n\n```python\n(.*?)```", f.read(), re.S).group(1)
    path = tmp_path / "first.py"
    path.write_text(script)
    return str(path)


def test_the_readme_script_and_the_examples_type_check(tmp_path):
    code, out = mypy(tmp_path, readme_script(tmp_path), os.path.join(ROOT, "examples", "demo.py"),
                     os.path.join(ROOT, "python", "vantor", "view.py"))
    assert code == 0, out


MISTAKES = [
    ("a member that does not exist", 'd.Cameras("Default").Position.W = 1', "has no attribute"),
    ("a string where a float goes", 'd.Clear("red", 0, 0, 1)', "arg-type"),
    ("a camera is not a light", 'lt: vantor.ILight = d.Cameras("Default")', "assignment"),
    ("a read-only property", "d.FrameRate = 60", "read-only"),
    ("a float where a str goes", 'd.Debug(0, 0, vantor.constants.White, 3.5)', "arg-type"),
    ("a wrong count of arguments", "d.Initialise(0, 640)", "call-arg"),
]


def test_mistakes_in_a_script_are_reported_with_the_line(tmp_path):
    head = 'import vantor\nd = vantor.Dispatch("Vantor.Device3D")\n'
    script = tmp_path / "wrong.py"
    script.write_text(head + "\n".join(line for _, line, _ in MISTAKES) + "\n")
    code, out = mypy(tmp_path, str(script))
    assert code == 1
    for number, (case, _, expected) in enumerate(MISTAKES, start=3):
        lines = [line for line in out.splitlines() if f"wrong.py:{number}:" in line]
        assert lines and expected in " ".join(lines), f"{case}: {out}"


def test_the_stubs_name_what_the_objects_answer():
    """Every member the stubs give a class is one its object answers (no invented names)."""
    with open(os.path.join(PACKAGE_PARENT, "vantor", "__init__.pyi"), encoding="utf-8") as f:
        text = f.read()
    classes = dict(re.findall(r"^class (I\w+):\n((?:    .*\n)+)", text, re.M))
    window = vantor.Window(32, 32)
    device = vantor.Dispatch("Vantor.Device3D")
    objects = {"IDevice3D": device, "ICamera": None, "IColour": vantor.Dispatch("Vantor.Colour"),
               "IPosition": vantor.Dispatch("Vantor.Position")}
    device.Window = window.handle
    device.Initialise(0, 32, 32)
    objects["ICamera"] = device.Cameras("Default")
    try:
        for name, obj in objects.items():
            members = set(re.findall(r"^    (?:def )?([A-Z]\w*)", classes[name], re.M))
            assert members and members <= set(dir(obj)), (name, members - set(dir(obj)))
    finally:
        objects.clear()
        device.Free()
        del device
        window.close()
