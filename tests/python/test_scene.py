"""Cameras, lights and fog through late binding on a real device."""
import math

import pytest
import vantor

C = vantor.constants


@pytest.fixture
def device():
    with vantor.Window(96, 96) as window:
        d = vantor.Dispatch("Vantor.Device3D")
        d.Window = window.handle
        d.Initialise(0, 96, 96)
        yield d
        d.Free()


def test_cameras(device):
    camera = device.Cameras("Default")
    assert (camera.X, camera.Y, camera.Z) == (0.0, 0.0, 0.0)
    assert (camera.Position.X, camera.Position.Y, camera.Position.Z) == (0.0, 0.0, 10.0)
    assert camera.Position == camera.Position  # the same child every time
    camera.Position.Y = 10
    camera.Position.Z = 0
    camera.Update()  # the eye above the target: the fallback up vector
    camera.LookAt.Y = 10
    camera.Update()  # the eye on the target: the previous view stays
    camera.Name = "Renamed"
    assert device.Cameras("Default").Name == "Renamed"  # the key stays
    camera.Rotate(math.nan, 0, 0)
    assert math.isnan(camera.X)
    with vantor.debug_output() as out:
        camera.Reset()
    assert out.text == ""


def test_lights(device):
    lights = device.Lights
    light = lights.Add(C.lt_Point, 1, 2, 3, 1, 1, 1, 1)
    assert light.Name == "Light0" and light.ID == 0 and light.Enabled is True
    assert (light.FallOff, light.InnerCone, light.OuterCone, light.Range) == (1.0, 0.5, 1.0, 100.0)
    assert (light.Position.X, light.Direction.Z) == (1.0, 3.0)
    assert light.Colour.Red == 1.0 and light.Diffuse.Red == 0.0
    light.Diffuse.Red = 1
    light.Update()
    light.Enabled = False
    assert light.Enabled is False
    light.Range = math.inf
    assert light.Range == pytest.approx(1.8446743e19, rel=1e-7)
    light.InnerCone = math.nan
    assert math.isnan(light.InnerCone)
    for _ in range(10):
        lights.Add(C.lt_Directional, 0, 0, 1, 1, 1, 1, 1)
    assert lights.Count == 11 and lights(1).Name == "Light9"
    lights.Remove("Light0")
    assert lights.Add(C.lt_Point, 0, 0, 0, 0, 0, 0, 0).Name == "Light10"  # the count was 10


def test_lights_beyond_the_active_limit_are_reported_or_kept(device):
    lights = device.Lights
    made = [lights.Add(C.lt_Point, 0, 0, i, 1, 1, 1, 1) for i in range(lights.Max + 2)]
    for light in made:
        light.Update()
    assert lights.Count == len(made)


def test_lights_that_reach_nothing_still_update_and_every_light_answers(device):
    lights = device.Lights
    sun = lights.Add(C.lt_Directional, 0, 0, 0, 1, 1, 1, 1)  # no direction: lights nothing
    sun.Update()
    bulb = lights.Add(C.lt_Point, 0, 0, 0, 1, 1, 1, 1)
    bulb.Range = -5  # reaches nothing
    bulb.Update()
    for i in range(lights.Max):
        lights.Add(C.lt_Point, 0, 0, i, 1, 1, 1, 1)
    assert lights("Light9").Enabled is False  # beyond the eight that shine, but readable


def test_fog(device):
    fog = device.Fog  # the mode rules and their messages are the C++ scene tests'
    fog.Density = 0.0
    fog.Mode = C.fm_Linear
    fog.StartingPos = 10
    fog.EndPosition = 100
    assert (fog.StartingPos, fog.EndPosition, fog.Mode) == (10.0, 100.0, C.fm_Linear)
    fog.Enabled = True
    fog.RangeBased = True
    assert fog.Enabled is True and fog.RangeBased is True
    fog.Colour.Red = 1
    fog.Update()
    fog.StartingPos = math.inf
    fog.EndPosition = -1e30
    device.Clear(0, 0, 0, 1)
    device.Render()
    device.Update()
