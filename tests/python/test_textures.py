"""Textures, texture capabilities and materials as a script sees them, as standalone objects."""
import pytest
import vantor

C = vantor.constants
E_FAIL = -2147467259
E_POINTER = -2147467261


def test_new_texture_settings_and_name():
    t = vantor.Dispatch("Vantor.Texture")
    expected = {"Wrap": C.tw_Wrap, "MagFilter": C.tm_Point, "MinFilter": C.tm_Point,
                "Coords": C.tci_CameraSpaceRefVector, "ColourOp": C.tco_Modulate, "AlphaOp": C.tco_Modulate,
                "ColourArg1": C.ta_Texture, "ColourArg2": C.ta_Diffuse, "AlphaArg1": C.ta_Texture,
                "AlphaArg2": C.ta_Diffuse, "SourceBlending": 3, "DestBlending": 9, "Stage": 0, "Name": ""}
    assert {name: getattr(t, name) for name in expected} == expected
    assert t.Handle == 0
    t.MagFilter = C.tm_Linear
    assert t.MagFilter == C.tm_Linear
    with pytest.raises(vantor.COMError) as e:
        t.Apply()
    assert (e.value.hresult, e.value.description.endswith("No Filename was given.")) == (E_POINTER, True)
    with pytest.raises(vantor.COMError) as e:
        t.LoadBitmap("")
    assert e.value.hresult == E_FAIL and e.value.description.endswith("Invalid Filename.")
    with pytest.raises(vantor.COMError) as e:
        t.BumpEnvMat00 = 0.5
    assert e.value.hresult == E_POINTER and e.value.description.endswith("Device Not Initialised.")
    assert t.BumpEnvMat00 == 0.0
    with pytest.raises(vantor.COMError) as e:
        t.width
    assert e.value.description.endswith("Failed to Obtain Surface for Texture.")


def test_textures_without_a_device():
    textures = vantor.Dispatch("Vantor.Textures")
    with pytest.raises(vantor.COMError) as e:
        textures.Caps.MaxWidth
    assert e.value.hresult == E_POINTER and e.value.description.endswith("Failed to obtain Device Information.")
    with pytest.raises(vantor.COMError) as e:
        textures.LoadFile("wood.png")
    assert e.value.description.endswith("Failed to Load Texture.")
    assert textures.Count == 0
    first = textures.Add
    second = textures.Add
    assert textures.Count == 1 and textures("Unnamed").Stage == 0
    second.Stage = 3
    assert textures("Unnamed").Stage == 3
    textures.Free()
    assert textures.Count == 0
    del first, second


def test_material_colours_and_power():
    m = vantor.Dispatch("Vantor.Material")
    assert (m.Power, m.Handle) == (0.0, 0)
    m.Diffuse.Red = 1
    m.Power = -3
    assert (m.Diffuse.Red, m.Ambient.Red, m.Power) == (1.0, 0.0, -3.0)
    assert m.Diffuse == m.Diffuse
    with pytest.raises(vantor.COMError) as e:
        m.Apply()
    assert e.value.hresult == E_POINTER and e.value.description.endswith("Device Not Initialised.")
