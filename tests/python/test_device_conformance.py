"""Resizing an open device: sizes beyond the largest render target are refused before the
context's buffers are touched, as Initialise refuses them."""
import pytest
import vantor

E_INVALIDARG = -2147024809


def _pixel(window, x, y):
    rgba = window.pixels()
    i = (y * window.width + x) * 4
    return tuple(rgba[i:i + 4])


@pytest.mark.parametrize("width,height", [(8193, 64), (64, 8193), (2147483647, 1)])
def test_resize_beyond_the_largest_render_target_is_refused_and_the_frame_goes_on(device, window, width, height):
    with pytest.raises(vantor.COMError) as e:
        device.Resize(width, height)
    assert e.value.hresult == E_INVALIDARG
    assert e.value.source == "Vantor.Device3D.1"
    assert e.value.description.endswith("The render target may be at most 8192 x 8192 pixels.")
    # The buffers are those Initialise made: a whole frame still draws and shows.
    device.Clear(0, 0, 1, 1)
    device.Render()
    device.Update()
    assert _pixel(window, 150, 110) == (0, 0, 255, 255)
    device.Resize(8192, 1)  # the largest side is still taken
