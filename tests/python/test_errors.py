"""What a script sees when something goes wrong: COMError with hresult, description, source."""
import pytest
import vantor

E_INVALIDARG = -2147024809
DISP_E_MEMBERNOTFOUND = -2147352573
DISP_E_TYPEMISMATCH = -2147352571
DISP_E_PARAMNOTOPTIONAL = -2147352561
DISP_E_BADPARAMCOUNT = -2147352562
DISP_E_OVERFLOW = -2147352566
CO_E_CLASSSTRING = -2147221005
REGDB_E_CLASSNOTREG = -2147221164


def test_member_failures_carry_the_description_and_the_progid():
    colour = vantor.Dispatch("Vantor.Colour")
    with pytest.raises(vantor.COMError) as e:
        colour.Save(12345)  # not a world-file stream
    assert e.value.hresult == E_INVALIDARG
    assert e.value.source == "Vantor.Colour.1"
    assert e.value.description == "The parameter is incorrect.\nThe value given is not an open world-file stream."
    assert "Vantor.Colour.1" in str(e.value)


def test_unknown_names_are_member_not_found_and_attribute_errors():
    colour = vantor.Dispatch("Vantor.Colour")
    with pytest.raises(vantor.COMError) as e:
        colour.Purple
    assert e.value.hresult == DISP_E_MEMBERNOTFOUND
    assert "Purple" in e.value.description
    assert not hasattr(colour, "Purple")
    assert getattr(colour, "Purple", "fallback") == "fallback"
    with pytest.raises(vantor.MemberNotFoundError):
        colour.Purple = 1


def test_argument_types_counts_and_missing_arguments():
    colour = vantor.Dispatch("Vantor.Colour")
    with pytest.raises(vantor.COMError) as e:
        colour.Red = "not a number"
    assert e.value.hresult == DISP_E_TYPEMISMATCH and "argument 1" in e.value.description
    with pytest.raises(vantor.COMError) as e:
        colour.Red = None
    assert e.value.hresult == DISP_E_TYPEMISMATCH
    with pytest.raises(vantor.COMError) as e:
        colour.Red = 1e300
    assert e.value.hresult == DISP_E_OVERFLOW
    with pytest.raises(vantor.COMError) as e:
        colour.Red = [1, 2]
    assert e.value.hresult == DISP_E_TYPEMISMATCH and "list" in e.value.description
    with pytest.raises(vantor.COMError) as e:
        colour.Save()
    assert e.value.hresult == DISP_E_PARAMNOTOPTIONAL and "Save" in e.value.description
    with pytest.raises(vantor.COMError) as e:
        colour.Save(1, 2)
    assert e.value.hresult == DISP_E_BADPARAMCOUNT
    with pytest.raises(vantor.COMError) as e:
        colour.Save(f="2")  # by name, converted, then refused by the member
    assert e.value.hresult == E_INVALIDARG
    with pytest.raises(vantor.COMError) as e:
        colour.Save(stream=2)
    assert "stream" in e.value.description


def test_unregistered_progids_and_classes_taken_away(registered):
    with pytest.raises(vantor.COMError) as e:
        vantor.Dispatch("Vantor.NoSuchThing")
    assert e.value.hresult == CO_E_CLASSSTRING and "Vantor.NoSuchThing" in e.value.description
    with pytest.raises(vantor.COMError) as e:
        vantor.Dispatch("{00000000-0000-0000-0000-000000000001}")
    assert e.value.hresult == REGDB_E_CLASSNOTREG
    clsid = vantor.registry.get_value("HKEY_CLASSES_ROOT", "Vantor.Position\\CLSID", "")
    assert vantor.registry.delete_key("HKEY_CLASSES_ROOT", "CLSID\\" + clsid)
    with pytest.raises(vantor.COMError) as e:
        vantor.Dispatch("Vantor.Position")  # its ProgID remains: the host does not re-register
    assert e.value.hresult == REGDB_E_CLASSNOTREG
    assert vantor.registry.get_value("HKEY_CLASSES_ROOT", "CLSID\\" + clsid, "") is None
