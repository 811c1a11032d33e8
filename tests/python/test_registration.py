"""Registration as a script meets it: on first use, a corrupt registry, the lock count, registry values.
(The keys registration writes and removes are the C++ module tests'.)"""
import pytest
import vantor

HKCR = "HKEY_CLASSES_ROOT"


def test_dispatch_registers_a_fresh_registry_on_first_use(fresh_registry):
    assert not fresh_registry.exists()
    vantor.Dispatch("Vantor.Colour")
    assert fresh_registry.exists()
    assert vantor.registry.get_value(HKCR, "Vantor.Part.1", "") == "Part Class"


def test_objects_hold_the_component():
    colour = vantor.Dispatch("Vantor.Colour")
    assert not vantor.can_unload_now()
    del colour
    assert vantor.can_unload_now()


def test_a_corrupt_registry_is_reported_and_left_alone(fresh_registry):
    fresh_registry.write_text("[HKEY_CLASSES_ROOT\\Broken]\nthis line is not a value\n")
    with pytest.raises(vantor.COMError) as e:
        vantor.Dispatch("Vantor.Colour")
    assert "corrupt" in e.value.description and "line 2" in e.value.description
    assert vantor.registry.problem().startswith("line 2")
    assert fresh_registry.read_text() == "[HKEY_CLASSES_ROOT\\Broken]\nthis line is not a value\n"
    with pytest.raises(vantor.COMError):
        vantor.registry.set_value(HKCR, "Anything", "", "x")


def test_registry_values_for_scripts(fresh_registry):
    root, key = "HKEY_LOCAL_MACHINE", "Software\\Microsoft\\DirectX"
    vantor.registry.set_value(root, key, "DXSDK Samples Path", "/media/samples")
    vantor.registry.set_value(root, key, "Count", 3)
    assert vantor.registry.get_value(root, key, "DXSDK Samples Path") == "/media/samples"
    assert vantor.registry.get_value(root, key.upper(), "count") == 3
    assert vantor.registry.subkeys(root, "Software\\Microsoft") == ["DirectX"]
    assert vantor.registry.delete_key(root, "Software")
    assert vantor.registry.get_value(root, key, "Count") is None
    with pytest.raises(ValueError):
        vantor.registry.get_value("HKEY_NOWHERE", key, "")
    with pytest.raises(TypeError):
        vantor.registry.set_value(root, key, "x", 1.5)
