"""World files that must read back whole: lights freed before saving, lights saved under indices
Add would not give, and objects or cameras whose records share one name."""
import pytest
import vantor

C = vantor.constants


def _lines(path):
    return path.read_text().splitlines()


def test_a_freed_light_still_saves_its_record_and_the_rest_of_the_world(device, tmp_path):
    kept = device.Lights.Add(C.lt_Point, 1, 2, 3, 0.5, 0.5, 0.5, 1)
    freed = device.Lights.Add(C.lt_Spot, 4, 5, 6, 1, 1, 1, 1)
    freed.Free()
    device.Objects.Add("After")
    path = tmp_path / "world.txt"
    device.Save(str(path))
    lines = _lines(path)
    light = lines.index("Light1") - 1  # the freed light's record, written first
    assert lines[light:light + 4] == ["// Light", "Light1", str(C.lt_Spot), "1"]
    assert lines[light + 4:light + 10] == ["0.000000"] * 6, "a freed light has no position or direction"
    assert lines[light + 17:light + 22] == ["// Colour"] + ["0.000000"] * 4
    device.Load(str(path))
    assert device.Lights.Count == 2 and device.Objects.Count == 1
    assert device.Lights("Light0").Position.Z == kept.Position.Z == 3


@pytest.mark.parametrize("collection,count", [("Objects", 3), ("Objects", 12), ("Cameras", 3)])
def test_records_sharing_a_name_all_load_and_keep_their_order(device, tmp_path, collection, count):
    items = getattr(device, collection)
    items.Clear()
    for i in range(count):
        item = items.Add(f"key{i:02}")
        if collection == "Cameras":
            item.Name = "Same"  # objects added with Add are all saved under the name "(null)"
            item.Position.X = i
        else:
            item.Move(i, 0, 0)
    first = tmp_path / "first.txt"
    device.Save(str(first))
    written = [line for line in _lines(first) if line in ("(null)", "Same")]
    assert len(written) == count
    device.Load(str(first))
    assert items.Count == count, "every record of the file is in the collection"
    xs = [(item.Position.X if collection == "Cameras" else item.X) for item in items]
    assert sorted(xs) == list(range(count))
    again = tmp_path / "again.txt"
    device.Save(str(again))
    assert again.read_bytes() == first.read_bytes(), "the records keep the order they were written in"
    device.Load(str(again))
    assert items.Count == count


@pytest.mark.parametrize("line,enabled", [("4294967295", True), ("1", True), ("65536", True), ("0", False)])
def test_any_non_zero_fog_flag_loads_as_true(device, tmp_path, line, enabled):
    path = tmp_path / "world.txt"
    device.Save(str(path))
    lines = _lines(path)
    fog = lines.index("// Fog")
    lines[fog + 5] = lines[fog + 6] = line  # Enabled, RangeBased
    path.write_text("\n".join(lines) + "\n")
    device.Load(str(path))
    assert device.Fog.Enabled == enabled and device.Fog.RangeBased == enabled


def _device(window):
    d = vantor.Dispatch("Vantor.Device3D")
    d.Window = window.handle
    d.Initialise(0, window.width, window.height)
    return d


def test_loaded_lights_shine_at_the_indices_they_were_saved_with(window, tmp_path):
    """Lights at indices 1 and 2 (the first one removed) load into a fresh device where Add gives
    0 and 1: both must be on at 1 and 2, and index 0 off."""
    saved = _device(window)
    for i in range(3):
        saved.Lights.Add(C.lt_Directional, 0, 0, 1, 1, 1, 1, 1)
    saved.Lights.Remove("Light0")
    path = tmp_path / "world.txt"
    saved.Save(str(path))
    saved.Free()
    loaded = _device(window)
    try:
        loaded.Load(str(path))
        assert sorted(light.ID for light in loaded.Lights) == [1, 2]
        assert all(light.Enabled for light in loaded.Lights)
        probe = loaded.Lights.Add(C.lt_Point, 0, 0, 0, 0, 0, 0, 0)
        probe.ID = 0
        assert not probe.Enabled, "the index Add used for loading is off again"
    finally:
        loaded.Free()
