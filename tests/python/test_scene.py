"""Cameras, lights and fog through late binding on a real device: the values only a script passes
(NaN, infinities, floats for singles) and the OpenGL device's own limits. Defaults, clamps, names
and the messages are the C++ scene tests'."""
import math

import pytest
import vantor

C = vantor.constants


def test_camera_children_and_views_a_script_can_break(device):
    camera = device.Cameras("Default")
    assert (camera.Position.X, camera.Position.Y, camera.Position.Z) == (0.0, 0.0, 10.0)
    assert camera.Position == camera.Position  # the same child every time
    camera.Position.Y, camera.Position.Z = 10, 0
    camera.Update()  # the eye above the target: the fallback up vector
    camera.LookAt.Y = 10
    camera.Update()  # the eye on the target: the previous view stays
    camera.Rotate(math.nan, 0, 0)
    assert math.isnan(camera.X)
    with vantor.debug_output() as out:
        camera.Reset()
    assert out.text == ""


def test_lights_take_infinities_and_nan_and_the_device_keeps_those_beyond_its_limit(device):
    lights = device.Lights
    light = lights.Add(C.lt_Point, 1, 2, 3, 1, 1, 1, 1)
    light.Range = math.inf
    assert light.Range == pytest.approx(1.8446743e19, rel=1e-7)
    light.InnerCone = math.nan
    assert math.isnan(light.InnerCone)
    lights.Add(C.lt_Directional, 0, 0, 0, 1, 1, 1, 1).Update()  # no direction: lights nothing
    bulb = lights.Add(C.lt_Point, 0, 0, 0, 1, 1, 1, 1)
    bulb.Range = -5  # reaches nothing
    bulb.Update()
    made = [lights.Add(C.lt_Point, 0, 0, i, 1, 1, 1, 1) for i in range(lights.Max)]
    for each in made:
        each.Update()
    assert lights.Count == 3 + lights.Max
    assert lights("Light9").Enabled is False  # beyond the eight that shine, but readable
    device.Clear(0, 0, 0, 1)
    device.Render()


def test_fog_with_unbounded_distances_still_renders(device):
    fog = device.Fog
    fog.Mode = C.fm_Linear
    fog.Enabled = fog.RangeBased = True
    fog.StartingPos = math.inf
    fog.EndPosition = -1e30
    fog.Update()
    device.Clear(0, 0, 0, 1)
    device.Render()
    device.Update()
