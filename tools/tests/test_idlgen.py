"""The IDL generator: what it accepts, what it refuses (with the line), and what it emits."""
import ast
import os
import re
import sys

import pytest

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROOT = os.path.dirname(TOOLS)
sys.path.insert(0, TOOLS)

import idlgen  # noqa: E402

HEAD = """
[uuid(00000000-0000-0000-0000-000000000001), version(1.2), helpstring("Test Library")]
library TestLib
{
    typedef [uuid(00000000-0000-0000-0000-000000000002), helpstring("Modes.")]
    enum Modes { md_A = 1, md_B, md_C = -7, md_D = 0x10 } Modes;
"""
ITF = """
    [object, uuid(00000000-0000-0000-0000-000000000003), dual, helpstring("IThing Interface")]
    interface IThing : IDispatch
    {{
{members}
    }};
"""
TAIL = """
    [uuid(00000000-0000-0000-0000-000000000004)] dispinterface _IThingEvents {{ properties: methods: }};
    [uuid(00000000-0000-0000-0000-000000000005), helpstring("Thing Class")]
    coclass Thing {{ [default] interface IThing; [default, source] dispinterface _IThingEvents; }};
}};
"""


def idl(members):
    return HEAD + ITF.format(members=members) + TAIL.format()


def test_parses_enums_members_parameters_and_defaults():
    lib = idlgen.parse(idl("""
        [propget, id(1), helpstring("Value")] HRESULT Value([out, retval] float* pVal);
        [propput, id(1)] HRESULT Value([in] float newVal);
        [propget, id(DISPID_NEWENUM)] HRESULT _NewEnum([out, retval] IUnknown** pVal);
        [id(0x2)] HRESULT Add([in] BSTR Name, [in, optional, defaultvalue(-1)] VARIANT_BOOL Visible,
                              [in, optional, defaultvalue(md_C)] Modes Mode, [out, retval] IDispatch** pVal);
        [id(3)] HRESULT Nothing(void);
    """))
    assert lib.name == "TestLib" and lib.version == (1, 2)
    assert lib.enums[0].members == [("md_A", 1), ("md_B", 2), ("md_C", -7), ("md_D", 16)]
    members = lib.interfaces[0].members
    assert [(m.name, m.kind, m.dispid) for m in members] == [
        ("Value", "propget", 1), ("Value", "propput", 1), ("_NewEnum", "propget", -4), ("Add", "method", 2),
        ("Nothing", "method", 3)]
    add = members[3]
    assert [p.name for p in add.params] == ["Name", "Visible", "Mode", "pVal"]
    assert add.params[1].default == -1 and add.params[2].default == -7
    assert add.params[3].retval and add.params[3].type == "IDispatch*"
    assert lib.coclasses[0].default == "IThing" and lib.coclasses[0].source == "_IThingEvents"


@pytest.mark.parametrize("members, message", [
    ('[id(1)] HRESULT A([in] widget w);', "unknown type 'widget'"),
    ('[id(1)] HRESULT A(); [id(1)] HRESULT B();', "dispatch id 1 is used by A, B"),
    ('[id(1)] HRESULT A([out, retval] long* a, [in] long b);', "the retval must be the one last parameter"),
    ('[propget, id(1)] HRESULT A([in] long a);', "a property get needs an out parameter"),
    ('[propput, id(1)] HRESULT A([out] long* a);', "a property put takes in parameters only"),
    ('[id(1)] HRESULT A([in, optional] long a, [in] long b);', "b follows an optional parameter"),
    ('[id(1)] HRESULT A([in, defaultvalue(md_Z)] Modes m);', "md_Z is not a member of Modes"),
    ('[id(1)] HRESULT A([in, defaultvalue("x")] float f);', "must be a number"),
    ('[id(1)] HRESULT A([in] long* a);', "must not be a pointer"),
    ('HRESULT A();', "A has no id"),
    ('[id(1)] long A();', "members must return HRESULT"),
])
def test_refuses_bad_declarations_naming_the_line(members, message):
    with pytest.raises(idlgen.IdlError) as e:
        idlgen.parse(idl(members), "test.idl")
    assert message in str(e.value)
    assert str(e.value).startswith("test.idl:")


def test_refuses_reused_guids_and_unknown_interfaces():
    text = idl("").replace("00000000-0000-0000-0000-000000000005", "00000000-0000-0000-0000-000000000003")
    with pytest.raises(idlgen.IdlError, match="reuses the GUID of IThing"):
        idlgen.parse(text)
    text = idl("").replace("[default] interface IThing;", "[default] interface IOther;")
    with pytest.raises(idlgen.IdlError, match="unknown interface IOther"):
        idlgen.parse(text)


def test_emits_vtable_order_stubs_and_defaults():
    lib = idlgen.parse(idl("""
        [propget, id(1)] HRESULT Mode([out, retval] Modes* pVal);
        [id(2)] HRESULT Take([in] Modes m, [in] VARIANT v, [in, optional, defaultvalue(0.5)] float f, [out] VARIANT* o);
    """))
    header = idlgen.header(lib, "t.idl")
    assert "virtual HRESULT get_Mode(Modes* pVal) = 0;" in header
    assert "virtual HRESULT Take(Modes m, VARIANT v, FLOAT f, VARIANT* o) = 0;" in header
    assert "enum Modes : int32_t {" in header
    source = idlgen.source(lib, "t.idl")
    assert "r->vt = VT_I4; r->lVal = static_cast<LONG>(v);" in source
    assert "->Take(static_cast<Modes>(a[0].lVal), a[1], a[2].fltVal, a[3].pvarVal)" in source
    assert '{"f", VT_R4, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, -1, VT_R4, 0.5, nullptr}' in source
    assert '{"m", VT_I4, PARAMFLAG_FIN, 0, VT_EMPTY' in source


def test_the_component_idl_is_valid_and_its_reference_is_current():
    with open(os.path.join(ROOT, "idl", "vantor.idl"), encoding="utf-8") as f:
        text = f.read()
    lib = idlgen.parse(text, "vantor.idl")
    assert len(lib.coclasses) == 28 and len(lib.enums) == 20
    with open(os.path.join(ROOT, "docs", "api.md"), encoding="utf-8") as f:
        assert f.read() == idlgen.docs(lib, "vantor.idl"), "docs/api.md is stale: run `make docs`"


CLASSES = HEAD + ITF.format(members="") + """
    [uuid(00000000-0000-0000-0000-000000000004)] dispinterface _IThingEvents { properties: methods: };
    [uuid(00000000-0000-0000-0000-000000000005), helpstring("Thing Class")@THING@]
    coclass Thing { [default] interface IThing; [default, source] dispinterface _IThingEvents; };
    [object, uuid(00000000-0000-0000-0000-000000000006), dual] interface IAble : IDispatch { };
    [uuid(00000000-0000-0000-0000-000000000007), helpstring("Able Class")@ABLE@]
    coclass Able { [default] interface IAble; };
};
"""


def classes_idl(thing, able):
    return CLASSES.replace("@THING@", thing).replace("@ABLE@", able)


def test_class_table_rows_are_alphabetical_with_scripts_aggregation_and_weak_creators():
    lib = idlgen.parse(classes_idl(", registry_script(201)", ", registry_script(7), aggregatable"))
    assert [(c.name, c.script, c.aggregatable) for c in lib.coclasses] == [("Thing", 201, False), ("Able", 7, True)]
    table = idlgen.classes(lib, "t.idl")
    able = table.index('{&CLSID_Able, "Able", 7, true, &create_class<IAble>},')
    thing = table.index('{&CLSID_Thing, "Thing", 201, false, &create_class<IThing>},')
    assert able < thing
    for itf in ("IAble", "IThing"):
        assert f"template <> HRESULT create_class<{itf}>(IUnknown*, REFIID, void**) __attribute__((weak));" in table
    assert "if (e.create) rows.push_back(e);" in table, "a class that is not built stays out of the table"


@pytest.mark.parametrize("thing, able, message", [
    ("", ", registry_script(7)", "coclass Thing has no registry_script"),
    (", registry_script(7)", ", registry_script(7)", "coclass Able reuses registry script 7 of Thing"),
])
def test_class_table_refuses_missing_and_reused_scripts(thing, able, message):
    lib = idlgen.parse(classes_idl(thing, able), "t.idl")
    with pytest.raises(idlgen.IdlError, match=message):
        idlgen.classes(lib, "t.idl", "t.idl")


@pytest.mark.parametrize("script", ["0", "65536", '"x"'])
def test_refuses_a_registry_script_that_is_not_a_resource_id(script):
    with pytest.raises(idlgen.IdlError, match="registry_script of coclass Thing must be a resource id"):
        idlgen.parse(classes_idl(f", registry_script({script})", ""))


def test_the_component_registers_every_co_class_and_only_devices_refuses_aggregation():
    with open(os.path.join(ROOT, "idl", "vantor.idl"), encoding="utf-8") as f:
        lib = idlgen.parse(f.read(), "vantor.idl")
    table = idlgen.classes(lib, "vantor.idl")
    assert table.count("&create_class<") == 28
    assert [c.name for c in lib.coclasses if not c.aggregatable] == ["Devices"]
    assert '{&CLSID_Device3D, "Device3D", 201, true, &create_class<IDevice3D>},' in table


# A small library for the Python stubs: a collection of things, a thing with a colour, and the
# colour class a differently named member hands out.
STUB_IDL = HEAD + """
    [object, uuid(00000000-0000-0000-0000-000000000010), dual, helpstring("IColour Interface")]
    interface IColour : IDispatch { [propget, id(1)] HRESULT Red([out, retval] float* pVal);
                                    [propput, id(1)] HRESULT Red([in] float newVal); };
    [object, uuid(00000000-0000-0000-0000-000000000011), dual, helpstring("IThing Interface")]
    interface IThing : IDispatch {
        [propget, id(1)] HRESULT Colour([out, retval] IDispatch** pVal);
        [propget, id(2)] HRESULT Diffuse([out, retval] IDispatch** pVal);
        [propget, id(3)] HRESULT Mode([out, retval] Modes* pVal);
        [propput, id(3)] HRESULT Mode([in] Modes newVal);
        [propget, id(4)] HRESULT Level([out, retval] Modes* pVal);
        [propput, id(5)] HRESULT Device([in] long newVal);
        [id(6)] HRESULT Draw([in, optional, defaultvalue(md_C)] Modes How, [in, optional, defaultvalue(-1)] VARIANT_BOOL Show,
                             [in, optional, defaultvalue(0.5)] float Size, [in, optional, defaultvalue("a b")] BSTR Text);
        [propget, id(7)] HRESULT Other([out, retval] IDispatch** pVal);
    };
    [object, uuid(00000000-0000-0000-0000-000000000012), dual, helpstring("IThings Interface")]
    interface IThings : IDispatch {
        [propget, id(DISPID_NEWENUM)] HRESULT _NewEnum([out, retval] IUnknown** pVal);
        [id(0)] HRESULT Item([in] VARIANT Index, [out, retval] VARIANT* pItem);
        [propget, id(1)] HRESULT AddRound([in] BSTR Name, [out, retval] IDispatch** pVal);
        [propget, id(2)] HRESULT Count([out, retval] long* pVal);
    };
    [uuid(00000000-0000-0000-0000-000000000013)] coclass Colour { [default] interface IColour; };
    [uuid(00000000-0000-0000-0000-000000000014)] coclass Thing { [default] interface IThing; };
    [uuid(00000000-0000-0000-0000-000000000015)] coclass Things { [default] interface IThings; };
};
"""


def stub_class(text, name):
    return re.search(rf"^class {name}:\n((?:    .*\n)+)", text, re.M).group(1)


@pytest.mark.parametrize("where, line", [
    ("IThing", "    @property\n    def Colour(self) -> IColour: ..."),              # named after a class
    ("IThing", "    @property\n    def Diffuse(self) -> IColour: ..."),             # a colour by another name
    ("IThing", "    Mode: int\n"),                                                  # read and written
    ("IThing", "    @property\n    def Level(self) -> Modes: ..."),                 # read only, enum-typed
    ("IThing", "    Device: int\n"),                                                # written only
    ("IThing", "    def Draw(self, How: Modes | int = -7, Show: bool = True, Size: float = 0.5, "
               "Text: str = 'a b') -> None: ..."),
    ("IThing", "    def Other(self) -> Any: ..."),                                  # the library does not say
    ("IThings", "    def Item(self, Index: Any) -> IThing: ..."),
    ("IThings", "    def __call__(self, Index: int | str) -> IThing: ..."),
    ("IThings", "    def __iter__(self) -> Iterator[IThing]: ..."),
    ("IThings", "    def AddRound(self, Name: str) -> IThing: ..."),
    ("IThings", "    @property\n    def Count(self) -> int: ..."),
])
def test_stubs_type_each_member(where, line):
    text = idlgen.stubs(idlgen.parse(STUB_IDL), "t.idl")
    assert line in stub_class(text, where)


def test_stubs_are_python_with_constants_and_dispatch_overloads():
    text = idlgen.stubs(idlgen.parse(STUB_IDL), "t.idl")
    ast.parse(text)
    assert "Modes = NewType('Modes', int)" in text
    assert all(f"    {m}: Final[Modes]\n" in text for m in ("md_A", "md_B", "md_C", "md_D"))
    assert ("@overload\ndef Dispatch(progid: Literal['Vantor.Thing', 'Vantor.Thing.1', "
            "'{00000000-0000-0000-0000-000000000014}']) -> IThing: ...") in text
    assert text.rstrip().endswith("@overload\ndef Dispatch(progid: str) -> Any: ...")
    assert "_NewEnum" not in text


def test_stubs_of_the_component_type_the_readme_chain(tmp_path):
    out = tmp_path / "vantor" / "__init__.pyi"
    out.parent.mkdir()
    assert idlgen.main([os.path.join(ROOT, "idl", "vantor.idl"), "--stubs", str(out)]) == 0
    text = out.read_text()
    assert "def Dispatch(progid: Literal['Vantor.Device3D'," in text
    assert "def Cameras(self) -> ICameras: ..." in stub_class(text, "IDevice3D")
    assert "def __call__(self, Index: int | str) -> ICamera: ..." in stub_class(text, "ICameras")
    assert "def Position(self) -> IPosition: ..." in stub_class(text, "ICamera")
    assert "    Z: float\n" in stub_class(text, "IPosition")
    assert (tmp_path / "vantor" / "_vantor.pyi").exists()
