"""Capturing the debugger output from a script."""
import pytest
import vantor


def test_debug_output_captures_traces_inside_the_block_only():
    colour = vantor.Dispatch("Vantor.Colour")
    with vantor.debug_output() as out:
        with pytest.raises(vantor.COMError):
            colour.Load(99)
        assert out.text == "Loading Colour.\n"
    with pytest.raises(vantor.COMError):
        colour.Save(99)
    assert out.text == "Loading Colour.\n"
    with vantor.debug_output() as outer:
        with vantor.debug_output() as inner:
            with pytest.raises(vantor.COMError):
                colour.Save(98)
        with pytest.raises(vantor.COMError):
            colour.Save(97)
    assert inner.text == "Saving Colour.\n"
    assert outer.text == "Saving Colour.\nSaving Colour.\n"
