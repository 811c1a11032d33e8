"""The world file as a script sees it: hostile files refused with the world as it was, and writes
that keep the old file when they cannot happen. (Round trips, locales and injected write failures
are the C++ world tests'.)"""
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
        "a huge count": (b"\r\n".join([b"2147483647"] + lines[1:]), E_FAIL, "more than the 16384 records"),
        "more records than lines": (b"\r\n".join([b"9"] + lines[1:]), E_FAIL, "more records than"),
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
