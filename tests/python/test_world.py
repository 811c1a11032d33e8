"""The world file as a script sees it: hostile files refused with the world as it was, writes
that keep the old file when they cannot finish, and worlds that read back as they were written."""
import os

import pytest
import vantor

C = vantor.constants
E_FAIL = -2147467259
E_POINTER = -2147467261
E_INVALIDARG = -2147024809


@pytest.fixture
def device():
    with vantor.Window(64, 64) as window:
        d = vantor.Dispatch("Vantor.Device3D")
        d.Window = window.handle
        d.Initialise(0, 64, 64)
        yield d
        d.Free()


def saved(device, path):
    device.Save(str(path))
    return path.read_bytes()


def populate(device):
    device.Cameras.Add("Second").Position.X = 4
    device.Cameras("Second").Rotate(0.25, 0.5, 0)
    light = device.Lights.Add(C.lt_Spot, 1, 2, 3, 1, 1, 1, 1)
    light.Diffuse.Green = 0.5
    device.Fog.Mode = C.fm_Linear
    device.Fog.StartingPos = 5
    device.Fog.EndPosition = 50
    device.Fog.Enabled = True


def hostile_files(tmp_path, good):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    (tmp_path / "folder").mkdir()
    lines = good.split(b"\r\n")
    cases = {
        "a directory": (tmp_path / "folder", E_INVALIDARG, "not a regular file"),
        "a FIFO": (fifo, E_INVALIDARG, "not a regular file"),
        "/dev/zero": ("/dev/zero", E_INVALIDARG, "not a regular file"),
        "/proc/self/mem": ("/proc/self/mem", E_FAIL, "cannot be read"),
        "empty": (b"", E_FAIL, "Line 1 "),
        "truncated": (b"\r\n".join(lines[:30]), E_FAIL, "Line "),
        "a word for an angle": (b"\r\n".join(lines[:3] + [b"east"] + lines[4:]), E_FAIL, "Line 4 of the world file is not a number"),
        "a negative count": (b"\r\n".join([b"-2"] + lines[1:]), E_FAIL, "negative count"),
        "a huge count": (b"\r\n".join([b"2147483647"] + lines[1:]), E_FAIL, "more records than"),
        "a long line": (b"1\r\n// Camera\r\n" + b"n" * 70000 + b"\r\n", E_FAIL, "Line 3 of the world file is longer than 64 KB"),
    }
    for name, (content, hr, text) in cases.items():
        if isinstance(content, bytes):
            path = tmp_path / (name.replace(" ", "-") + ".txt")
            path.write_bytes(content)
            content = path
        yield name, str(content), hr, text


def test_hostile_files_are_refused_and_the_world_stays_exactly_as_it_was(device, tmp_path):
    populate(device)
    before = saved(device, tmp_path / "before.txt")
    for name, path, hr, text in hostile_files(tmp_path, before):
        with pytest.raises(vantor.COMError) as e:
            device.Load(path)
        assert e.value.hresult == hr, name
        assert text in e.value.description, (name, e.value.description)
        assert saved(device, tmp_path / "after.txt") == before, name
    assert device.Cameras("Second").Position.X == 4.0


def test_save_load_save_gives_identical_bytes_and_every_value_comes_back(device, tmp_path):
    populate(device)
    device.Cameras.Add("Multi\nLine")
    first = saved(device, tmp_path / "first.txt")
    assert b"\r\nMulti Line\r\n" in first
    device.Cameras.Clear()
    device.Fog.Mode = C.fm_None
    device.Load(str(tmp_path / "first.txt"))
    assert saved(device, tmp_path / "second.txt") == first
    fog = device.Fog
    assert (fog.Mode, fog.StartingPos, fog.EndPosition, fog.Enabled) == (C.fm_Linear, 5.0, 50.0, True)
    second = device.Cameras("Second")
    assert (second.X, second.Y, second.Position.X) == (0.25, 0.5, 4.0)
    assert sorted(c.Name for c in device.Cameras) == ["Default", "Multi Line", "Second"]


def test_save_keeps_the_old_file_when_there_is_nothing_or_nowhere_to_write(tmp_path):
    folder = tmp_path / "worlds"
    folder.mkdir()
    path = folder / "world.txt"
    path.write_bytes(b"precious")
    with vantor.Window(64, 64) as window:
        device = vantor.Dispatch("Vantor.Device3D")
        device.Window = window.handle
        device.Initialise(0, 64, 64)
        with pytest.raises(vantor.COMError) as e:
            device.Save(str(path) + "\0.bak")
        assert e.value.hresult == E_INVALIDARG
        with pytest.raises(vantor.COMError) as e:
            device.Save(str(folder / "no-such-folder" / "world.txt"))
        assert path.read_bytes() == b"precious"
        device.Free()
        with pytest.raises(vantor.COMError) as e:
            device.Save(str(path))
        assert e.value.hresult == E_POINTER
        del device
    assert path.read_bytes() == b"precious"
    assert os.listdir(folder) == ["world.txt"]  # no temporary file left behind


def test_initialise_refuses_a_render_target_beyond_the_maximum_at_once():
    with vantor.Window(64, 64) as window:
        d = vantor.Dispatch("Vantor.Device3D")
        d.Window = window.handle
        with pytest.raises(vantor.COMError) as e:
            d.Initialise(0, 16384, 16384)
        assert e.value.hresult == E_INVALIDARG
        assert d.Status == C.sm_NotInitialised
        del d
