"""Colour and Position through late binding, as a script uses them."""
import math

import pytest
import vantor


def test_new_values_are_zero_and_store_anything_unclamped():
    colour = vantor.Dispatch("Vantor.Colour")
    assert (colour.Red, colour.Green, colour.Blue, colour.Alpha) == (0.0, 0.0, 0.0, 0.0)
    colour.Red = -2.5
    colour.Alpha = 7
    colour.Green = 1e30
    colour.Blue = float("inf")
    assert colour.Red == -2.5
    assert colour.Alpha == 7.0
    assert colour.Green == pytest.approx(1e30, rel=1e-6)
    assert colour.Blue == math.inf
    position = vantor.Dispatch("Vantor.Position.1")
    assert (position.X, position.Y, position.Z) == (0.0, 0.0, 0.0)
    position.X, position.Y, position.Z = 1, -2.25, "3.5"
    assert (position.X, position.Y, position.Z) == (1.0, -2.25, 3.5)


def test_values_are_single_precision():
    colour = vantor.Dispatch("Vantor.Colour")
    colour.Red = 0.1
    assert colour.Red != 0.1
    assert colour.Red == pytest.approx(0.1, rel=1e-7)
    colour.Red = math.nan
    assert math.isnan(colour.Red)


def test_names_are_case_insensitive_and_objects_are_distinct():
    a = vantor.Dispatch("Vantor.Colour")
    b = vantor.Dispatch("Vantor.Colour")
    a.red = 0.5
    assert a.RED == 0.5
    assert b.Red == 0.0
    assert a != b and a == a
    assert sorted(dir(a)) == ["Alpha", "Blue", "Green", "Load", "Red", "Save"]


def test_creation_by_clsid_and_every_published_class_without_behaviour():
    clsid = vantor.registry.get_value("HKEY_CLASSES_ROOT", "Vantor.Colour\\CLSID", "")
    assert clsid is None  # nothing registered yet: Dispatch registers on first use
    vantor.Dispatch("Vantor.Colour")
    clsid = vantor.registry.get_value("HKEY_CLASSES_ROOT", "Vantor.Colour\\CLSID", "")
    colour = vantor.Dispatch(clsid)
    colour.Blue = 0.25
    assert colour.Blue == 0.25
    for name in ("Flare", "Flares", "TextureFormat", "TextureFormats", "Part"):
        assert vantor.Dispatch(f"Vantor.{name}") is not None
    formats = vantor.Dispatch("Vantor.TextureFormats")
    assert formats.Count == 0 and formats.Item(1) is None and formats(1) is None
    part = vantor.Dispatch("Vantor.Part")
    assert part.Move(1, 2, 3) is None and part.Scale(2) is None
