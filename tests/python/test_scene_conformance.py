"""Fog density through late binding: NaN, which lies in no range, is refused like a value outside 0 to
1 and leaves the device's density as it was."""
import math

import pytest
import vantor

E_FAIL = -2147467259


@pytest.mark.parametrize("density", [math.nan, -math.nan])
def test_nan_density_is_refused_and_the_state_kept(device, density):
    fog = device.Fog
    fog.Density = 0.25
    with pytest.raises(vantor.COMError) as e:
        fog.Density = density
    assert e.value.hresult == E_FAIL
    assert e.value.description.endswith("\nDensity must be between 0.0 and 1.0 inclusive.")
    assert fog.Density == 0.25
