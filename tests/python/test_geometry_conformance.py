"""Files as objects and textures load them: what is opened, and which materials a mesh keeps."""
import os
import subprocess
import sys

import pytest
import vantor

CLEAR = (0, 0, 255, 255)
# A square across the whole view, both windings, with the given material lists.
SQUARE = """xof 0302txt 0032
Mesh Square {{ 4; -20;-20;0;, -20;20;0;, 20;20;0;, 20;-20;0;;
  2; 4;0,1,2,3;, 4;3,2,1,0;;
  {lists} }}
"""


def material_list(emissive):
    r, g, b = emissive
    return f"MeshMaterialList {{ 1; 2; 0, 0;; Material {{ 0;0;0;1;; 0; 0;0;0;; {r};{g};{b};; }} }}"


def centre_of_frame(device, window):
    device.Cameras("Default").Update()
    device.Clear(0, 0, 1, 1)
    device.Render()
    device.Update()
    rgba = window.pixels()
    at = (window.height // 2 * window.width + window.width // 2) * 4
    return tuple(rgba[at:at + 4])


@pytest.mark.parametrize("lists, expected", [
    ([(1, 0, 0)], (255, 0, 0, 255)),
    # Only the first list shares the faces out; a later one still gives its materials.
    ([(1, 0, 0), (0, 1, 0)], (0, 255, 0, 255)),
])
def test_every_material_list_of_a_mesh_gives_its_materials(device, window, tmp_path, lists, expected):
    path = tmp_path / "square.x"
    path.write_text(SQUARE.format(lists=" ".join(material_list(e) for e in lists)))
    device.Objects.LoadFile(str(path), "square")
    assert centre_of_frame(device, window) == expected


def test_a_name_is_opened_only_up_to_a_zero_character(device, window, tmp_path):
    """'mesh<zero>.x' does not end in .x once cut where the name ends, so nothing is opened."""
    hidden = tmp_path / "mesh"
    hidden.write_text(SQUARE.format(lists=material_list((1, 0, 0))))
    obj = device.Objects.Add("o")
    with vantor.debug_output() as out:
        obj.LoadFile(str(hidden) + "\0.x")
    assert "Enumerating object" not in out.text
    assert centre_of_frame(device, window) == CLEAR


# How a script loads each kind of file, and what it is told when the file is a pipe (None:
# any failure, or nothing drawn, as long as the load returns).
PIPE_LOADS = {
    "pipe.x": ("parts = vantor.Dispatch('Vantor.Parts')\nparts.Load(PATH)\n",
               "Failed to Load the requested X File."),
    "pipe.png": ("DEVICE\nd.Textures.LoadFile(PATH)\n", None),
    "pipe.tga": ("DEVICE\nd.Textures.LoadFile(PATH)\n", None),
    # Images a mesh's material names go through the texture registry's own readers.
    "material.tga": ("DEVICE\nd.Objects.LoadFile(MESH, 'o')\nd.Render()\n", None),
    "material.bmp": ("DEVICE\nd.Objects.LoadFile(MESH, 'o')\nd.Render()\n", None),
}
DEVICE = ("w = vantor.Window(64, 64)\nd = vantor.Dispatch('Vantor.Device3D')\nd.Window = w.handle\n"
          "d.Initialise(0, 64, 64)")
TEXTURED = ("Mesh M {{ 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;"
            " MeshMaterialList {{ 1; 1; 0;; Material {{ 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename {{ \"{}\"; }} }} }} }}")


@pytest.mark.parametrize("name", sorted(PIPE_LOADS))
def test_a_pipe_named_like_a_model_or_an_image_is_refused_without_waiting_for_a_writer(tmp_path, name):
    """The load runs in a child process so that a load stuck on the pipe fails this test
    instead of holding up the run."""
    pipe = tmp_path / name
    os.mkfifo(pipe)
    mesh = tmp_path / "textured.x"
    mesh.write_text("xof 0302txt 0032\n" + TEXTURED.format(pipe))
    steps, message = PIPE_LOADS[name]
    steps = steps.replace("DEVICE", DEVICE).replace("PATH", repr(str(pipe))).replace("MESH", repr(str(mesh)))
    script = ("import vantor\ntry:\n" + "".join("    " + line + "\n" for line in steps.splitlines()) +
              "    print('loaded')\nexcept vantor.COMError as e:\n    print(e.description)\n")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(vantor.__file__))))
    try:
        done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=120)
    except subprocess.TimeoutExpired:
        pytest.fail(f"loading {name} waited for a writer")
    assert done.returncode == 0, done.stderr
    if message:
        assert done.stdout.strip() == message, done.stderr
