"""The type library as a host reads it: enumerations (constants), interfaces and classes."""
import vantor

lib = vantor.type_library()


def test_library_identity():
    assert lib["name"] == "VantorLib"
    assert lib["help"] == "Vantor 1.0 Type Library"
    assert lib["version"] == (1, 0)
    assert len(lib["classes"]) == 28
    for name, cls in lib["classes"].items():
        assert cls["interface"] == "I" + name
        assert cls["events"] == "_I" + name + "Events"
        assert cls["help"] == name + " Class"
        assert lib["interfaces"][cls["events"]]["members"] == []


def test_constants_come_from_the_enumerations():
    c = vantor.constants
    assert c.fm_Linear == 3 and c.fm_Wireframe == 0 and c.sm_Ready == 1
    assert c.Cyan == c.Yellow == 16776960
    assert c.ERR_BAD_DEVICE == -931722294 and c.ERR_NULL_POINTER == -931722311
    assert c.bd_1Bit == 262145 and c.tci_CameraSpaceRefVector == 196608
    assert c.am_Force_DWORD == 2147483647 and c.hl_TnLHAL == -6
    enums = lib["enumerations"]
    assert enums["FogModes"]["help"] == "List of Fog Modes."
    assert enums["HWLevels"]["help"] == "Hardware Acceleration Level Constants"
    assert enums["BitDepths"]["help"] == "DirectDraw Bit Depths."
    assert list(enums["CullModes"]["members"].items()) == [("cm_None", 1), ("cm_Clockwise", 2), ("cm_CounterClockwise", 3)]
    assert len(enums) == 20


def member(interface, name, kind=None):
    for m in lib["interfaces"][interface]["members"]:
        if m["name"] == name and (kind is None or m["kind"] == kind):
            return m
    raise KeyError(name)


def test_members_have_their_ids_kinds_parameters_and_defaults():
    init = member("IDevice3D", "Initialise")
    assert init["id"] == 0xF and init["kind"] == "method"
    assert [p["name"] for p in init["params"]] == ["hInstance", "width", "Height", "Fullscreen", "BackBuffers"]
    assert [p["default"] for p in init["params"]][3:] == [False, 1]
    add = member("ILights", "Add")
    assert add["kind"] == "propget" and add["id"] == 6
    defaults = {p["name"]: p["default"] for p in add["params"] if p["optional"]}
    assert defaults == {"FallOff": 1.0, "InnerCone": 0.5, "OuterCone": 1.0, "Range": 100.0}
    assert add["params"][0]["type"] == "LightTypes" and add["params"][-1]["retval"]
    item = member("IParts", "Item")
    assert item["params"][1]["out"] and not item["params"][1]["retval"]
    assert member("ICameras", "_NewEnum")["id"] == -4
    assert member("IColour", "Red", "propput")["id"] == 1
    assert member("IDevice3D", "Graphics")["id"] == 0x21
    assert member("IDevice3D", "Load")["id"] == 40
    render = member("IPoints", "Render")
    assert render["params"][0]["default"] == vantor.constants.fm_Solid
