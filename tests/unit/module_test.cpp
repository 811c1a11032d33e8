// The component's framework: entry points, factories, aggregation, registration, error
// reporting, the result table, tracing and child creation.
#include "component.h"

#include "module/create.h"
#include "module/failure.h"
#include "module/results.h"
#include "module/trace.h"

#include <vantor/registry.h>
#include <vantor/stream.h>
#include <vantor/system.h>

#include <algorithm>
#include <cstdio>
#include <string>

using namespace vantor;
using namespace vantor::test;

namespace {

std::string read_value(HKEY root, const std::string& key, const char* name = "") {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
    char buf[1024];
    DWORD size = sizeof buf, type = 0;
    LONG e = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    return e == ERROR_SUCCESS ? std::string(buf) : "<no value>";
}

bool has_key(const std::string& key) { return read_value(HKEY_CLASSES_ROOT, key) != "<no key>"; }

}  // namespace

using ModuleTest = ComponentTest;

TEST_F(ModuleTest, FailureDescriptionsJoinSystemTextAndLiteral) {
    EXPECT_EQ(text::utf8(failure(E_POINTER, "Fog Not Initialised.").description()), "Invalid pointer\nFog Not Initialised.");
    EXPECT_EQ(text::utf8(failure(E_FAIL, "Exception Raised.").description()), "Unspecified error\nException Raised.");
    // Back-end codes (facilities 0x876 and 0x877) have no system text: the literal alone.
    EXPECT_EQ(text::utf8(failure(static_cast<HRESULT>(0x88760306), "Viewport Has No Device Set.").description()),
              "Viewport Has No Device Set.");
    EXPECT_EQ(text::utf8(failure(static_cast<HRESULT>(0xC8770BD9), "Colour Depth Too Low!").description()),
              "Colour Depth Too Low!");
    // String ids load from the string table; one that does not load gives an empty description.
    EXPECT_EQ(text::utf8(failure(E_FAIL, 104u).description()), "Unknown Error.");
    EXPECT_EQ(text::utf8(failure(E_FAIL, 157u).description()), "Unable to find DDRAW.DLL");
    EXPECT_EQ(text::utf8(failure(E_FAIL, 125u).description()), "");
    EXPECT_EQ(failure(E_OUTOFMEMORY, 125u).hr(), E_OUTOFMEMORY);
}

TEST_F(ModuleTest, ReportSetsThreadErrorInformationWithProgIdAndReturnsCode) {
    HRESULT hr = failure(E_POINTER, "Fog Not Initialised.").Report(CLSID_Fog, IID_IFog);
    EXPECT_EQ(hr, E_POINTER);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    GUID g;
    info->GetGUID(&g);
    EXPECT_EQ(g, IID_IFog);
    Bstr s, d, h;
    info->GetSource(s.out());
    info->GetDescription(d.out());
    info->GetHelpFile(h.out());
    EXPECT_EQ(s.str(), "Vantor.Fog.1");
    EXPECT_EQ(d.str(), "Invalid pointer\nFog Not Initialised.");
    EXPECT_EQ(static_cast<BSTR>(h), nullptr);
    info->Release();
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE) << "GetErrorInfo takes the information away";
}

TEST_F(ModuleTest, GuardedTurnsAnyOtherExceptionIntoExceptionRaised) {
    HRESULT hr = guarded(CLSID_Colour, IID_IColour, []() -> HRESULT { throw missing_reference{}; });
    EXPECT_EQ(hr, E_FAIL);
    ErrorText e = take_error();
    EXPECT_EQ(e.source, "Vantor.Colour.1");
    EXPECT_EQ(e.description, "Unspecified error\nException Raised.");
    EXPECT_EQ(guarded(CLSID_Colour, IID_IColour, [] { return S_FALSE; }), S_FALSE);
}

TEST_F(ModuleTest, ResultTableRecognisesResultsOnlyAtTheirSites) {
    struct Case {
        uint32_t hr;
        Site site;
        unsigned id;
    } cases[] = {
        {0x887601C2, Site::Device3DUpdate, 107},      // DDERR_SURFACELOST
        {0x887601C2, Site::LightUpdate, 104},         // not a Light.Update result
        {0x887600FF, Site::TextureLoadBitmap, 151},   // DDERR_NOTFOUND
        {0x887600FF, Site::Device3DUpdate, 104},      // unlisted at Update
        {0x80070057, Site::LightEnabled, 102},        // DDERR_INVALIDPARAMS: every site
        {0x80070057, Site::PointsRender, 102},
        {0x8876024E, Site::Device3DInitialise, 105},  // DDERR_UNSUPPORTEDMODE shares "Unsupported."
        {0x88760240, Site::Device3DUpdate, 120},      // NODDROPSHW and NORASTEROPHW share 120
        {0xC8770BC2, Site::Device3DInitialise, 159},
        {0xC8770BC9, Site::Device3DDebug, 111},
        {0x887602EE, Site::LightEnabled, 138},
        {0x88760999, Site::Device3DInitialise, 104},  // a result in no row at all
    };
    for (const Case& c : cases) {
        EXPECT_EQ(message_for(static_cast<HRESULT>(c.hr), c.site), c.id) << std::hex << c.hr;
    }
    failure f = backend_failure(static_cast<HRESULT>(0x887600FF), Site::Device3DUpdate);
    EXPECT_EQ(f.hr(), static_cast<HRESULT>(0x887600FF)) << "the back end's own result is returned";
    EXPECT_EQ(text::utf8(f.description()), "Unknown Error.");
    EXPECT_STREQ(result_name(static_cast<HRESULT>(0x8876021C)), "DDERR_WASSTILLDRAWING");
}

TEST_F(ModuleTest, TraceFiltersByCategoryAndLevelAndCutsAt511Characters) {
    DebugCapture out;
    Trace(0x20, 0, "Setting %s --> ", "Shade Mode");
    Trace(0, 0, "category zero");
    Trace(0x20, 1, "level one");
    trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(0x88760234));
    EXPECT_EQ(out.text(), "Setting Shade Mode --> Failed. (Error Code=88760234).\n");
    out.clear();
    std::string long_text(600, 'x');
    trace("%s", long_text.c_str());
    EXPECT_EQ(out.text(), std::string(511, 'x'));
    out.clear();
    direct("VTR: (ERROR) SimpleObject Draw --> ");
    EXPECT_EQ(out.text(), "VTR: (ERROR) SimpleObject Draw --> ");
}

TEST_F(ModuleTest, CreateRegisteredObjectWritesItsTwoFailureLines) {
    DebugCapture out;
    IUnknown* p = CreateRegisteredObject(CLSID_Colour, IID_IPosition);  // Colour has no IPosition
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(out.text(), "CoCreateInstanceEx Failed. (No Interface).\n");
    out.clear();
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + guid(CLSID_Position)).c_str()), ERROR_SUCCESS);
    EXPECT_EQ(CreateRegisteredObject<IPosition>(CLSID_Position), nullptr);
    EXPECT_EQ(out.text(), "CoCreateInstanceEx Failed.\n");
    out.clear();
    IColour* c = CreateRegisteredObject<IColour>(CLSID_Colour);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(out.text(), "");
    c->Release();
}

TEST_F(ModuleTest, ClassFactoriesAreCachedAndUnknownClassesRefused) {
    IClassFactory *a = nullptr, *b = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_Colour, IID_IClassFactory, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(DllGetClassObject(CLSID_Colour, IID_IClassFactory, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(IID_IColour, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_OK) << "factories do not hold the module";
}

TEST_F(ModuleTest, EveryCoClassIsRegisteredAndCreatableExactlyWhenItsClassIsBuilt) {
    struct Class {
        const CLSID& clsid;
        const char* name;
    };
#define C(n) {CLSID_##n, #n}
    const Class classes[] = {C(Camera), C(Cameras), C(Colour), C(Device3D), C(DeviceCaps), C(Devices), C(Flare),
                             C(Flares), C(Fog), C(Light), C(Lights), C(Material), C(Object), C(Objects),
                             C(Part), C(Parts), C(Point), C(Points), C(Position), C(SimpleObject),
                             C(SimpleObjects), C(Sprite), C(Sprites), C(Texture), C(TextureCaps),
                             C(TextureFormat), C(TextureFormats), C(Textures)};
#undef C
    for (const Class& c : classes) {
        IClassFactory* f = nullptr;
        const HRESULT hr = DllGetClassObject(c.clsid, IID_IClassFactory, reinterpret_cast<void**>(&f));
        const bool registered = has_key(std::string("Vantor.") + c.name + ".1");
        EXPECT_EQ(SUCCEEDED(hr), registered) << c.name << ": registered exactly when creatable";
        EXPECT_TRUE(hr == S_OK || hr == CLASS_E_CLASSNOTAVAILABLE) << c.name;
        if (f) {
            IDispatch* object = nullptr;
            EXPECT_EQ(f->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK) << c.name;
            if (object) object->Release();
            take_error();  // what a class without its back end reported while it was built
            f->Release();
        }
        EXPECT_EQ(hr, S_OK) << c.name << ": every class of the type library is built";
    }
}

TEST_F(ModuleTest, LockServerAndLiveObjectsHoldTheModule) {
    IClassFactory* f = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_Position, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    f->LockServer(TRUE);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    f->LockServer(FALSE);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    IPosition* p = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IPosition, reinterpret_cast<void**>(&p)), S_OK);
    f->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    p->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

namespace {
// An outer object aggregating a Colour: its own identity, the inner's interfaces.
struct Outer final : IUnknown {
    ULONG refs = 1;
    IUnknown* inner = nullptr;
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
};
}  // namespace

TEST_F(ModuleTest, AggregatedObjectsDelegateToTheirOuterIdentity) {
    Outer outer;
    ASSERT_EQ(CoCreateInstance(CLSID_Colour, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    IColour* colour = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IColour, reinterpret_cast<void**>(&colour)), S_OK);
    EXPECT_EQ(outer.refs, 2u) << "the inner's interfaces count on the outer object";
    IUnknown* identity = nullptr;
    colour->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, &outer);
    identity->Release();
    colour->put_Red(0.5f);
    EXPECT_EQ(value_of(colour, &IColour::get_Red), 0.5f);
    colour->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    outer.inner->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    // Aggregation asks for the inner unknown only.
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Colour, &outer, CLSCTX_INPROC_SERVER, IID_IColour, &p), CLASS_E_NOAGGREGATION);
}

TEST_F(ModuleTest, ErrorSupportAndConnectionPointContainer) {
    IColour* c = create<IColour>(CLSID_Colour);
    ISupportErrorInfo* s = nullptr;
    ASSERT_EQ(c->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&s)), S_OK);
    EXPECT_EQ(s->InterfaceSupportsErrorInfo(IID_IColour), S_OK);
    EXPECT_EQ(s->InterfaceSupportsErrorInfo(IID_IPosition), S_FALSE);
    EXPECT_EQ(s->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    s->Release();
    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(c->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
    IConnectionPoint* cp = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(cpc->FindConnectionPoint(DIID__IColourEvents, &cp), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp, nullptr);
    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(cpc->EnumConnectionPoints(&points), S_OK);
    ULONG fetched = 7;
    EXPECT_EQ(points->Next(1, &cp, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    points->Release();
    cpc->Release();
    c->Release();
}

TEST_F(ModuleTest, RegistrationWritesTheClassKeysAndRemovalKeepsClsid) {
    const std::string clsid = guid(CLSID_Colour), key = "CLSID\\" + clsid;
    const std::string lib = "TypeLib\\" + guid(LIBID_VantorLib);
    const std::pair<std::string, std::string> values[] = {
        {"Vantor.Colour.1", "Colour Class"},      {"Vantor.Colour.1\\CLSID", clsid},
        {"Vantor.Colour", "Colour Class"},        {"Vantor.Colour\\CLSID", clsid},
        {"Vantor.Colour\\CurVer", "Vantor.Colour.1"}, {key, "Colour Class"},
        {key + "\\ProgID", "Vantor.Colour.1"},    {key + "\\VersionIndependentProgID", "Vantor.Colour"},
        {key + "\\TypeLib", guid(LIBID_VantorLib)}, {lib + "\\1.0", "Vantor 1.0 Type Library"},
    };
    for (const auto& [k, v] : values) EXPECT_EQ(read_value(HKEY_CLASSES_ROOT, k), v) << k;
    EXPECT_TRUE(has_key(key + "\\Programmable"));
    EXPECT_NE(read_value(HKEY_CLASSES_ROOT, key + "\\InprocServer32").find("libvantor.so"), std::string::npos);
    EXPECT_EQ(read_value(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_NE(read_value(HKEY_CLASSES_ROOT, lib + "\\1.0\\0\\linux64").find("libvantor.so"), std::string::npos);
    EXPECT_TRUE(has_key("CLSID\\" + guid(CLSID_Sprites)));

    ASSERT_EQ(DllUnregisterServer(), S_OK);
    for (const std::string& gone : {std::string("Vantor.Colour.1"), std::string("Vantor.Colour"), key, lib})
        EXPECT_FALSE(has_key(gone)) << gone;
    EXPECT_TRUE(has_key("CLSID")) << "the CLSID key itself is never removed";
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Colour, nullptr, CLSCTX_INPROC_SERVER, IID_IColour, &p), REGDB_E_CLASSNOTREG);
}

TEST_F(ModuleTest, UnregisteringWithoutOleautSkipsTheTypeLibrary) {
    VantorSetLibraryAvailable("oleaut32.dll", FALSE);
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    VantorSetLibraryAvailable("oleaut32.dll", TRUE);
    EXPECT_FALSE(has_key("Vantor.Colour.1"));
    EXPECT_TRUE(has_key("TypeLib\\" + guid(LIBID_VantorLib))) << "the type library stays registered";
}

TEST_F(ModuleTest, RegistrationStopsAtTheFirstFailingScript) {
    // A registry file that cannot be parsed is never overwritten: registration fails.
    char path[4096];
    VantorRegistryPath(path, sizeof path);
    FILE* f = std::fopen(path, "w");
    ASSERT_NE(f, nullptr);
    std::fputs("[HKEY_CLASSES_ROOT\\X]\nthis is not a value line\n", f);
    std::fclose(f);
    EXPECT_EQ(DllRegisterServer(), HRESULT_FROM_WIN32(ERROR_BADDB));
    f = std::fopen(path, "r");
    char line[128] = {};
    std::fgets(line, sizeof line, f);
    std::fclose(f);
    EXPECT_STREQ(line, "[HKEY_CLASSES_ROOT\\X]\n") << "the file that could not be parsed is left as it was";
    std::remove(path);
    EXPECT_EQ(DllRegisterServer(), S_OK);
}

TEST_F(ModuleTest, PublishedClassesWithoutBehaviourAnswerSOk) {
    ITextureFormat* tf = create<ITextureFormat>(CLSID_TextureFormat);
    LONG value = 1234;
    EXPECT_EQ(tf->get_RGB(&value), S_OK);
    EXPECT_EQ(value, 1234) << "the out value is left as the caller gave it";
    tf->Release();
    ITextureFormats* tfs = create<ITextureFormats>(CLSID_TextureFormats);
    VARIANT item;
    item.vt = VT_I4;
    item.lVal = 77;
    EXPECT_EQ(tfs->Item(Var(), &item), S_OK);
    EXPECT_EQ(item.lVal, 77) << "the out value is left as the caller gave it";
    tfs->Release();
}

TEST_F(ModuleTest, ColourRecordRoundTripsThroughAStreamHandle) {
    const std::string path = ::testing::TempDir() + "colour_record.txt";
    IColour* c = create<IColour>(CLSID_Colour);
    c->put_Red(1.0f);
    c->put_Green(-2.5f);
    c->put_Blue(0.125f);
    c->put_Alpha(7.0f);
    uint32_t f = VantorStreamOpen(path.c_str(), "w");
    ASSERT_NE(f, 0u);
    EXPECT_EQ(c->Save(static_cast<LONG>(f)), S_OK);
    VantorStreamClose(f);
    EXPECT_EQ(read_file(path), "// Colour\r\n1.000000\r\n-2.500000\r\n0.125000\r\n7.000000\r\n");

    IColour* d = create<IColour>(CLSID_Colour);
    f = VantorStreamOpen(path.c_str(), "r");
    EXPECT_EQ(d->Load(static_cast<LONG>(f)), S_OK);
    VantorStreamClose(f);
    auto channels = [&] {
        return std::vector<float>{value_of(d, &IColour::get_Red), value_of(d, &IColour::get_Green),
                                  value_of(d, &IColour::get_Blue), value_of(d, &IColour::get_Alpha)};
    };
    const std::vector<float> loaded = {1.0f, -2.5f, 0.125f, 7.0f};
    EXPECT_EQ(channels(), loaded);

    // A closed stream's handle, or any other number, is refused and nothing changes.
    for (LONG bogus : {static_cast<LONG>(f), 0, 12345, -1}) {
        EXPECT_EQ(d->Load(bogus), E_INVALIDARG);
        ErrorText e = take_error();
        EXPECT_EQ(e.source, "Vantor.Colour.1");
        EXPECT_NE(e.description.find("world-file stream"), std::string::npos) << e.description;
        EXPECT_EQ(d->Save(bogus), E_INVALIDARG);
    }
    EXPECT_EQ(channels(), loaded);
    c->Release();
    d->Release();
    std::remove(path.c_str());
}
