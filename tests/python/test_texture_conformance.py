"""Textures and sprites: the name a texture keeps is the file it opened, letting one go frees it,
an image too large for memory leaves its mesh drawn untextured, and sprites need a real device."""
import gc
import os
import struct
import subprocess
import sys

import pytest
import vantor
from PIL import Image


@pytest.fixture
def bitmap(tmp_path):
    path = tmp_path / "red.bmp"
    Image.new("RGB", (8, 4), (255, 0, 0)).save(path)
    return str(path)


@pytest.mark.parametrize("suffix", ["\0", "\0other.bmp"])
def test_a_file_name_ends_at_a_zero_character(device, bitmap, suffix):
    texture = device.Textures.LoadFile(bitmap + suffix)
    assert texture.Name == bitmap
    assert (texture.width, texture.Height) == (8, 4)
    texture.Free()


@pytest.mark.parametrize("name", ["RED.BMP", "Red.bmp"])
def test_a_file_named_in_another_letter_case_or_with_backslashes_is_found(device, bitmap, name):
    folder = os.path.dirname(bitmap)
    texture = device.Textures.LoadFile(folder.replace("/", "\\") + "\\" + name)
    assert (texture.width, texture.Height) == (8, 4)
    texture.Free()


@pytest.mark.parametrize("name", ["\0", "\0red.bmp"])
def test_a_name_with_nothing_before_its_zero_character_is_no_name(name):
    texture = vantor.Dispatch("Vantor.Texture")
    with pytest.raises(vantor.COMError) as e:
        texture.LoadBitmap(name)
    assert e.value.description.endswith("Invalid Filename.")
    assert texture.Name == ""


@pytest.mark.parametrize("count", [1, 2])
def test_dropping_the_last_reference_to_a_texture_frees_it(count):
    with vantor.debug_output() as out:
        textures = [vantor.Dispatch("Vantor.Texture") for _ in range(count)]
        del textures
        gc.collect()
    assert out.text.count("Releasing Texture Memory.\n") == count



# A red square across the whole view whose material names `image`.
MESH = ("xof 0302txt 0032\nMesh Square { 4; -20;-20;0;, -20;20;0;, 20;20;0;, 20;-20;0;;"
        " 2; 4;0,1,2,3;, 4;3,2,1,0;; MeshMaterialList { 1; 2; 0, 0;;"
        " Material { 0;0;0;1;; 0; 0;0;0;; 1;0;0;; TextureFilename { \"%s\"; } } } }\n")
# Loads the mesh while the address space is held to what the process uses plus `headroom`,
# then draws it with the limit lifted and prints the centre pixel.
LOW_MEMORY_LOAD = """
import resource, sys, vantor
w = vantor.Window(64, 64)
d = vantor.Dispatch('Vantor.Device3D')
d.Window = w.handle
d.Initialise(0, 64, 64)
with open('/proc/self/status') as f:
    used = next(int(l.split()[1]) * 1024 for l in f if l.startswith('VmSize:'))
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (used + int(sys.argv[2]), hard))
d.Objects.LoadFile(sys.argv[1], 'o')
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
d.Cameras('Default').Update()
d.Clear(0, 0, 1, 1)
d.Render()
d.Update()
at = (32 * 64 + 32) * 4
print(tuple(w.pixels()[at:at + 4]))
d.Free()
"""


def test_an_image_too_large_for_memory_leaves_the_mesh_drawn_untextured(tmp_path):
    """A run-length Targa file of a few megabytes can describe gigabytes of pixels."""
    side = 16384  # a gigabyte of pixels
    image = tmp_path / "large.tga"
    header = bytes([0, 0, 10]) + bytes(9) + struct.pack("<HHBB", side, side, 32, 0x20)
    image.write_bytes(header + bytes([0xFF, 1, 2, 3, 4]) * (side * side // 128))
    mesh = tmp_path / "large.x"
    mesh.write_text(MESH % image)
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(vantor.__file__))))
    done = subprocess.run([sys.executable, "-c", LOW_MEMORY_LOAD, str(mesh), str(256 << 20)], env=env,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "(255, 0, 0, 255)"


@pytest.mark.parametrize("address", [1, 0x12345678, -1])
def test_sprites_refuse_to_draw_on_an_address_that_names_no_device(address):
    sprites = vantor.Dispatch("Vantor.Sprites")
    sprites.Device = address
    with pytest.raises(vantor.COMError) as e:
        sprites.Render()
    assert e.value.hresult & 0xFFFFFFFF == 0x80004003
    assert e.value.description.endswith("Device Not Initialised.")
