"""The C++ package as a user gets it: `cmake --install` into a fresh prefix, the example host
built against it with find_package and run from outside the source tree, vantor.pc, the
installed tools and libraries finding each other without LD_LIBRARY_PATH, and the version check."""
import os
import shutil
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("VANTOR_BUILD_DIR", os.path.join(ROOT, "build"))

pytestmark = pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake is not installed")


def clean_env(**extra):
    """The environment of a user's shell: no loader path pointing into a build tree."""
    env = {k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "PYTHONPATH", "CMAKE_PREFIX_PATH")}
    env.update(extra)
    return env


def run(args, **kwargs):
    kwargs.setdefault("env", clean_env())
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def generator():
    return ["-G", "Ninja"] if shutil.which("ninja") else []


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    prefix = tmp_path_factory.mktemp("prefix")
    r = run(["cmake", "--install", BUILD, "--prefix", str(prefix)])
    assert r.returncode == 0, r.stdout + r.stderr
    return prefix


@pytest.fixture(scope="module")
def example(prefix, tmp_path_factory):
    build = tmp_path_factory.mktemp("example-build")
    r = run(["cmake", "-S", os.path.join(ROOT, "examples", "cpp"), "-B", str(build), *generator(),
             f"-DCMAKE_PREFIX_PATH={prefix}", "-DCMAKE_BUILD_TYPE=Release"])
    assert r.returncode == 0, r.stdout + r.stderr
    r = run(["cmake", "--build", str(build)])
    assert r.returncode == 0, r.stdout + r.stderr
    return build / "vantor-frame"


@pytest.mark.parametrize("path", [
    "lib/libvantor.so", "lib/libvantor-runtime.so", "lib/libvantor-xfile.so", "bin/vantor-xdump", "bin/vantor-register",
    "include/vantor/vantor.h", "include/vantor/com.h", "include/vantor/window.h",
    "include/vantor/dxfile.h", "include/vantor/backend/backend.h",
    "lib/cmake/Vantor/VantorConfig.cmake", "lib/cmake/Vantor/VantorConfigVersion.cmake",
    "lib/pkgconfig/vantor.pc",
])
def test_install_puts_each_part_under_the_prefix(prefix, path):
    assert (prefix / path).is_file()


def test_example_built_with_find_package_draws_a_frame_from_outside_the_tree(example, prefix, tmp_path):
    from PIL import Image

    registry = tmp_path / "registry"
    r = run([str(example), "frame.png"], cwd=tmp_path, env=clean_env(VANTOR_REGISTRY=str(registry)))
    assert r.returncode == 0, r.stdout + r.stderr
    with Image.open(tmp_path / "frame.png") as im:
        assert im.size == (320, 240)
        colours = im.convert("RGB").getcolors(maxcolors=320 * 240)
    assert len(colours) > 1, "the frame is all one colour"
    count, background = max(colours)
    assert count > 320 * 240 // 2
    assert all(abs(got - want) <= 2 for got, want in zip(background, (26, 26, 77))), background
    # The host registered the installed component, not a build tree's.
    assert str(prefix / "lib" / "libvantor.so") in registry.read_text()


def test_installed_libraries_and_tools_find_each_other_through_their_run_path(prefix, tmp_path):
    model = os.path.join(ROOT, "examples", "models", "house.x")
    r = run([str(prefix / "bin" / "vantor-xdump"), model], cwd=tmp_path)
    assert r.returncode == 0, r.stdout + r.stderr
    assert "vert" in r.stdout.lower()
    for lib in ("libvantor.so", "libvantor-xfile.so"):
        r = run(["ldd", str(prefix / "lib" / lib)])
        resolved = {line.split()[0]: line.split()[2] for line in r.stdout.splitlines() if "=>" in line}
        assert resolved.get("libvantor-runtime.so") == str(prefix / "lib" / "libvantor-runtime.so"), r.stdout


def test_vantor_register_registers_the_component_installed_beside_it(prefix, tmp_path):
    registry = tmp_path / "registry"
    env = clean_env(VANTOR_REGISTRY=str(registry))
    installed = str(prefix / "lib" / "libvantor.so")
    steps = [([], True), (["--unregister"], False), ([], True)]
    for args, registered in steps:
        r = run([str(prefix / "bin" / "vantor-register"), *args], cwd=tmp_path, env=env)
        assert r.returncode == 0, r.stdout + r.stderr
        text = registry.read_text()
        assert (installed in text) == registered, (args, text)
        assert "libvantor.so" not in text.replace(installed, "")  # no other copy is named
    r = run([str(prefix / "bin" / "vantor-register"), "--bogus"], env=env)
    assert r.returncode == 2 and "usage" in r.stderr


@pytest.mark.skipif(shutil.which("pkg-config") is None, reason="pkg-config is not installed")
def test_pkg_config_gives_flags_that_build_a_host(prefix, tmp_path):
    env = clean_env(PKG_CONFIG_PATH=str(prefix / "lib" / "pkgconfig"))
    r = run(["pkg-config", "--cflags", "--libs", "vantor"], env=env)
    assert r.returncode == 0, r.stderr
    flags = r.stdout.split()
    assert os.path.realpath(flags[flags.index("-std=c++20") - 1][2:]) == str(prefix / "include")
    assert "-lvantor" in flags and "-lvantor-runtime" in flags
    source = tmp_path / "host.cpp"
    source.write_text('#include <vantor/vantor.h>\n'
                      '#include <cstring>\n'
                      'extern "C" HRESULT DllRegisterServer();\n'
                      'int main() {\n'
                      '  CLSID c{};\n'
                      '  if (DllRegisterServer() != S_OK || CLSIDFromProgID(u"Vantor.Colour", &c) != S_OK) return 1;\n'
                      '  return std::memcmp(&c, &CLSID_Colour, sizeof c) == 0 ? 0 : 2;\n'
                      '}\n')
    r = run(["c++", str(source), "-o", str(tmp_path / "host"), *flags], env=env)
    assert r.returncode == 0, r.stderr
    r = run([str(tmp_path / "host")], env=clean_env(VANTOR_REGISTRY=str(tmp_path / "registry")))
    assert r.returncode == 0, r.stdout + r.stderr


@pytest.mark.parametrize("version, accepted", [("1.0", True), ("1", True), ("2.0", False), ("0.9", False)])
def test_find_package_checks_the_version(prefix, tmp_path, version, accepted):
    (tmp_path / "CMakeLists.txt").write_text(
        "cmake_minimum_required(VERSION 3.25)\nproject(probe LANGUAGES NONE)\n"
        f"find_package(Vantor {version} CONFIG REQUIRED)\n")
    r = run(["cmake", "-S", str(tmp_path), "-B", str(tmp_path / "b"), f"-DCMAKE_PREFIX_PATH={prefix}"])
    if accepted:
        assert r.returncode == 0, r.stdout + r.stderr
    else:
        assert r.returncode != 0
        message = " ".join(r.stderr.split())  # CMake wraps its messages
        assert f'compatible with requested version "{version}"' in message
        assert "version: 1.0" in message  # the version found is named
