"""Errors raised by the Vantor host."""


class COMError(Exception):
    """A failed call into a Vantor object.

    hresult      the result, a signed 32-bit integer (-2147467259 is E_FAIL)
    description  the text the object reported (or the system's text for the result)
    source       the ProgID of the class that reported it ("Vantor.Fog.1"), "" when none did
    """

    def __init__(self, hresult, description="", source=""):
        super().__init__(hresult, description, source)
        self.hresult = hresult
        self.description = description
        self.source = source

    def __str__(self):
        where = f"{self.source}: " if self.source else ""
        text = self.description.replace("\n", " ").strip()
        return f"{where}{text} (0x{self.hresult & 0xFFFFFFFF:08X})"


class MemberNotFoundError(COMError, AttributeError):
    """A name that is not a member of the object (DISP_E_MEMBERNOTFOUND)."""
