"""What the host does with a script's values: strings that cannot become C strings, strings that
only UTF-16 can hold, hex colours for long parameters, enumerators, and automatic registration."""
import pytest
import vantor

HKCR = "HKEY_CLASSES_ROOT"
HKCU = "HKEY_CURRENT_USER"
E_INVALIDARG = -2147024809
CO_E_CLASSSTRING = -2147221005
DISP_E_UNKNOWNNAME = -2147352570


def refused(call, error=vantor.COMError):
    with pytest.raises(error) as e:
        call()
    return e.value


@pytest.mark.parametrize("call, hresult", [
    (lambda: vantor.Dispatch("Vantor.Device3D\0junk"), CO_E_CLASSSTRING),
    (lambda: vantor.Dispatch("Vantor.Colour\0"), CO_E_CLASSSTRING),
    (lambda: getattr(vantor.Dispatch("Vantor.Colour"), "Red\0x"), DISP_E_UNKNOWNNAME),
    (lambda: setattr(vantor.Dispatch("Vantor.Colour"), "Red\0x", 1.0), DISP_E_UNKNOWNNAME),
    (lambda: vantor.Dispatch("Vantor.Colour").Save(**{"f\0": 1}), DISP_E_UNKNOWNNAME),
    (lambda: vantor.registry.set_value(HKCU, "Software\\Rel\0Hidden", "n", "v"), E_INVALIDARG),
    (lambda: vantor.registry.set_value(HKCU, "Software\\Rel", "n\0m", "v"), E_INVALIDARG),
    (lambda: vantor.registry.set_value(HKCU, "Software\\Rel", "n", "a\0b"), E_INVALIDARG),
    (lambda: vantor.registry.get_value(HKCU, "Software\\Rel\0Hidden", "n"), E_INVALIDARG),
    (lambda: vantor.registry.delete_key(HKCU, "Software\\Rel\0Hidden"), E_INVALIDARG),
    (lambda: vantor.registry.subkeys(HKCU, "Software\0"), E_INVALIDARG),
])
def test_a_nul_in_a_name_is_refused_not_cut_short(call, hresult):
    vantor.registry.set_value(HKCU, "Software\\Rel", "n", "kept")
    assert refused(call).hresult == hresult
    assert vantor.registry.get_value(HKCU, "Software\\Rel", "n") == "kept"
    assert vantor.registry.subkeys(HKCU, "Software") == ["Rel"]


def test_a_nul_in_a_resource_name_is_refused(tmp_path):
    bitmap = tmp_path / "one.bmp"
    bitmap.write_bytes(b"BM")
    with pytest.raises(ValueError):
        vantor.resources.add_bitmap("wood\0.bmp", str(bitmap))
    with pytest.raises(ValueError):
        vantor.resources.remove("wood\0.bmp")


def test_a_nul_in_a_window_title_is_refused():
    with pytest.raises(ValueError):
        vantor.Window(8, 8, title="a\0b")
    with vantor.Window(8, 8, title="kept") as w:
        with pytest.raises(ValueError):
            w.title = "x\0y"
        assert w.title == "kept"


@pytest.mark.parametrize("text", ["a\0b", "\ud800", "x\udfffy", "\udc00\ud800", "😀\ud83d", "plain"])
def test_data_strings_keep_nuls_and_lone_surrogates(device, text):
    d = device
    camera = d.Cameras.Add(text)
    assert camera.Name == text
    d.Name = text
    assert d.Name == text


def test_a_name_with_a_lone_surrogate_is_no_member():
    colour = vantor.Dispatch("Vantor.Colour")
    assert refused(lambda: getattr(colour, "Red\ud800"), vantor.MemberNotFoundError).hresult == DISP_E_UNKNOWNNAME
    assert refused(lambda: vantor.Dispatch("Vantor.\udc00")).hresult == CO_E_CLASSSTRING
    assert not hasattr(colour, "Red\ud800")


@pytest.mark.parametrize("value", [None, 3, b"Vantor.Colour", ["Vantor.Colour"]])
def test_dispatch_of_what_is_no_string_is_a_type_error_naming_the_argument(value):
    error = refused(lambda: vantor.Dispatch(value), TypeError)
    assert "progid" in str(error)


def test_long_parameters_take_unsigned_32_bit_values_as_twos_complement(device):
    d = device
    d.Debug(1, 1, 0xFFFFFFFF, "white")  # an ARGB colour written in hex
    d.Debug(1, 1, 0x80000000, "lowest")
    d.Outline = 0xFFFF0000
    assert d.Outline == -65536
    for too_large in (0x100000000, -0x80000001):
        with pytest.raises(vantor.COMError):
            d.Outline = too_large
    # A float parameter takes a large whole number as a number, not as a bit pattern.
    colour = vantor.Dispatch("Vantor.Colour")
    colour.Red = 0xFFFFFFFF
    assert colour.Red == 4294967296.0


def test_new_enum_is_a_late_bound_enumerator(device):
    d = device
    for name in ("b", "c", "d"):
        d.Cameras.Add(name)
    names = [c.Name for c in d.Cameras]
    e = d.Cameras._NewEnum
    assert [c.Name for c in e.Next(2)] == names[:2]
    copy = e.Clone()
    assert e.Skip(1) is True
    assert [c.Name for c in e.Next(10)] == names[3:]
    assert e.Next() == [] and e.Skip(1) is False
    assert [c.Name for c in copy.Next(1)] == names[2:3]
    e.Reset()
    assert [c.Name for c in e] == names
    with pytest.raises(ValueError):
        e.Next(-1)
    assert not hasattr(vantor.Dispatch("Vantor.Colour"), "_NewEnum")  # no collection


def test_subkeys_lists_names_of_any_length():
    names = sorted(["a" * 1023, "b" * 1024, "c" * 5000, "short"])
    for name in names:
        vantor.registry.set_value(HKCU, "Long\\" + name, "", "v")
    assert vantor.registry.subkeys(HKCU, "Long") == names


def test_registration_happens_only_when_no_class_is_registered(fresh_registry):
    vantor.Dispatch("Vantor.Colour")  # a fresh registry: the component registers
    assert vantor.registry.delete_key(HKCR, "Vantor.Fog")
    clsid = vantor.registry.get_value(HKCR, "Vantor.Fog.1\\CLSID", "")
    assert vantor.registry.delete_key(HKCR, "Vantor.Fog.1")
    assert vantor.registry.delete_key(HKCR, "CLSID\\" + clsid)
    with pytest.raises(vantor.COMError):
        vantor.Dispatch("Vantor.Fog")
    assert vantor.registry.get_value(HKCR, "Vantor.Fog", "") is None
    assert vantor.registry.get_value(HKCR, "CLSID\\" + clsid, "") is None
    vantor.Dispatch("Vantor.Colour")
