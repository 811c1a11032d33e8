"""What the host remembers between late-bound calls: a member found once per type and spelling,
never one type's member for another's, nothing kept from a call that failed, and no reference
left behind by a put or a bound member."""
import gc
import sys

import pytest
import vantor

DISP_E_MEMBERNOTFOUND = -2147352573
DISP_E_TYPEMISMATCH = -2147352571
DISP_E_OVERFLOW = -2147352566


@pytest.mark.parametrize("first, second, name, spellings, values", [
    # Name is a different DISPID on each type.
    ("Vantor.Camera", "Vantor.Light", "Name", ("Name", "name", "NAME"), ("eye", "lamp")),
    # X can be written on a position, only read on a camera.
    ("Vantor.Position", "Vantor.Camera", "X", ("X", "x"), (2.5, None)),
])
def test_one_name_on_two_types_reaches_each_types_own_member(first, second, name, spellings, values):
    a, b = vantor.Dispatch(first), vantor.Dispatch(second)
    before = getattr(b, name)
    for spelling in spellings:  # alternating, so a cache keyed by the name alone would cross over
        setattr(a, spelling, values[0])
        if values[1] is None:
            with pytest.raises(vantor.COMError) as e:
                setattr(b, spelling, 7.0)
            assert e.value.hresult == DISP_E_MEMBERNOTFOUND
        else:
            setattr(b, spelling, values[1])
        assert getattr(a, spelling) == values[0]
        assert getattr(b, spelling) == (before if values[1] is None else values[1])


@pytest.mark.parametrize("bad, hresult", [
    ("not a number", DISP_E_TYPEMISMATCH),
    (10 ** 400, DISP_E_OVERFLOW),  # too large for any number a member takes
    ([1.0], DISP_E_TYPEMISMATCH),  # refused before the call
], ids=["text", "huge integer", "list"])
def test_a_put_after_a_failed_put_reaches_the_member(bad, hresult):
    colour = vantor.Dispatch("Vantor.Colour")
    colour.Red = 0.25
    with pytest.raises(vantor.COMError) as e:
        colour.Red = bad
    assert e.value.hresult == hresult
    assert colour.Red == 0.25  # the failed put changed nothing
    colour.Red = 0.75
    assert colour.Red == 0.75


def test_a_name_that_failed_is_asked_again_and_fails_again():
    colour = vantor.Dispatch("Vantor.Colour")
    for _ in range(2):
        assert not hasattr(colour, "Redd")
        with pytest.raises(vantor.MemberNotFoundError):
            colour.Redd = 1.0
    colour.Red = 0.5
    assert colour.Red == 0.5


def test_a_bound_member_keeps_its_object_and_takes_named_arguments():
    reset = vantor.Dispatch("Vantor.Camera").Reset
    gc.collect()
    assert reset() is None and repr(reset) == "<bound member ICamera.Reset>"
    objects = vantor.Dispatch("Vantor.Objects")
    add = objects.Add
    assert add("hidden", Visible=False).Visible is False
    assert add(Name="shown").Visible is True  # the default
    with pytest.raises(vantor.COMError) as e:
        add("x", Hidden=True)
    assert "'Hidden' is not a parameter of Add" in e.value.description


@pytest.mark.parametrize("value", [float(1 << 60), "a string of some length", 1 << 40, True],
                         ids=["float", "str", "large int", "bool"])
def test_puts_and_calls_leave_no_reference_behind(value):
    colour = vantor.Dispatch("Vantor.Colour")
    camera = vantor.Dispatch("Vantor.Camera")
    held = sys.getrefcount(value), sys.getrefcount(camera)
    for _ in range(50):
        try:
            colour.Red = value
        except vantor.COMError:
            pass
        camera.Reset()
        bound = camera.Reset
        del bound
    assert (sys.getrefcount(value), sys.getrefcount(camera)) == held
