"""Device3D on OpenGL (llvmpipe) as a script sees it: initialising, frames, pixels, errors."""
import pytest
import vantor

E_POINTER = -2147467261
E_INVALIDARG = -2147024809


def pixel(window, x, y):
    rgba = window.pixels()
    i = (y * window.width + x) * 4
    return tuple(rgba[i:i + 4])


def test_initialise_opens_the_device_with_a_default_camera(device, window):
    assert device.Status == vantor.constants.sm_Ready
    assert device.Cameras.Count == 1 and device.Cameras(1).Name == "Default"
    assert (device.Left, device.Top, device.Right, device.Bottom) == (0, 0, 160, 120)
    assert device.DirectDraw != 0 and device.Window == window.handle
    assert device.Lights.Max >= 1
    assert device.Fog is not None and device.Ambient.Red == 0.0


def test_debug_text_puts_glyph_pixels_in_its_box_only(device, window):
    device.Clear(0, 0, 0, 1)
    device.Debug(0.25, 0.5, vantor.constants.White, "XX")
    device.Update()
    rgba = window.pixels()
    lit = [(i // 4) % 160 for i in range(0, len(rgba), 4) if rgba[i] > 128]
    rows = [(i // 4) // 160 for i in range(0, len(rgba), 4) if rgba[i] > 128]
    assert lit, "the text drew nothing"
    assert min(lit) >= 40 and max(lit) < 40 + 40  # from x = 0.25 * 160, two characters wide
    assert min(rows) >= 60 and max(rows) < 60 + 24  # from y = 0.5 * 120, one line high


def test_resize_and_the_utility_layers_own_refusals(device, window):
    device.Resize(320, 240)
    device.Clear(0, 1, 0, 1)
    device.Update()
    assert pixel(window, 10, 10) == (0, 255, 0, 255)
    with pytest.raises(vantor.COMError) as e:
        device.Resize(0, 0)
    assert e.value.source == "Vantor.Device3D.1" and e.value.description == "Resize Failed."


def test_two_devices_on_two_windows_show_their_clear_colours_exactly(window):
    with vantor.Window(64, 48) as other:
        a, b = vantor.Dispatch("Vantor.Device3D"), vantor.Dispatch("Vantor.Device3D")
        a.Window, b.Window = window.handle, other.handle
        a.Initialise(0, 160, 120)
        b.Initialise(0, 64, 48)
        a.Clear(1, 0, 0, 1)
        b.Clear(0, 1, 0, 1)
        b.Update()
        a.Render()
        a.Update()
        assert pixel(window, 0, 0) == pixel(window, 159, 119) == (255, 0, 0, 255)
        assert pixel(other, 32, 24) == (0, 255, 0, 255)
        a.Clear(0.5, 0.5, 0.5, 1)
        a.Update()
        assert pixel(window, 80, 60) == (127, 127, 127, 255)
        a.Free()
        b.Clear(0, 0, 1, 1)
        b.Update()
        assert pixel(other, 1, 1) == (0, 0, 255, 255)
        b.Free()


def test_errors_descriptions_and_sources_as_a_script_sees_them(window):
    device = vantor.Dispatch("Vantor.Device3D")
    with pytest.raises(vantor.COMError) as e:
        device.Resize(10, 10)
    assert e.value.source == "Vantor.Device3D.1" and e.value.description.endswith("Context Not Initialised.")
    with pytest.raises(vantor.COMError) as e:
        device.SurfaceFormat
    assert e.value.hresult == E_POINTER and e.value.source == ""
    device.Window = 12345  # not a window
    with pytest.raises(vantor.COMError) as e:
        device.Initialise(0, 64, 64)
    assert e.value.source == "Vantor.Device3D.1" and device.Status == 0
    device.Window = window.handle
    with pytest.raises(vantor.COMError) as e:
        device.Initialise(0, -5, 64)
    assert device.Status == 0
    device.Initialise(0, 160, 120)
    device.Debug(0, 0, vantor.constants.Cyan, "")
    device.Debug(0, 0, vantor.constants.Cyan, "long " * 2000)
    device.Ambient.Red = 2.0
    device.Render()  # an ambient light out of range is reported, and the frame goes on
    device.Free()


def test_devices_lists_the_machines_rendering_devices():
    devices = vantor.Dispatch("Vantor.Devices")
    assert devices.Count >= 1
    names = [d.Name for d in devices]
    assert any("llvmpipe" in n for n in names), names
    first = devices(1)
    assert devices[first.Name] == first
    assert first.Level in (-2, -3, -4, -5, -6)
    with pytest.raises(vantor.COMError) as e:
        devices.Item(0)
    assert e.value.hresult == E_INVALIDARG


def test_an_enumerated_device_answers_after_its_collection_is_gone():
    level = vantor.Dispatch("Vantor.Devices")(1).Level  # the temporary collection is released first
    assert level in (-2, -3, -4, -5, -6)


def test_initialise_and_free_in_any_order_leave_nothing_behind(window):
    device = vantor.Dispatch("Vantor.Device3D")
    device.Window = window.handle
    device.Initialise(0, 160, 120)
    device.Initialise(0, 160, 120)  # a new context over the old one; "Default" replaced
    assert device.Cameras.Count == 1
    device.Free()
    assert device.Status == 0 and device.Window == 0 and device.DirectDraw == 0 and device.Cameras is None
    with pytest.raises(vantor.COMError) as e:
        device.Free()  # no context left to take DirectDraw from
    assert e.value.description.endswith("Exception Raised.")
    device.Window = window.handle
    device.Initialise(0, 160, 120)
    device.Clear(0, 1, 1, 1)
    device.Update()
    assert pixel(window, 3, 3) == (0, 255, 255, 255)
    device.Free()
    del device
