// Devices, DeviceCaps, Device3D.Level and SurfaceFormat, and the texture registry's restore,
// on the recording back end.
#include "component.h"
#include "recording_backend.h"
#include "test_window.h"
#include "texture/registry.h"

#include <vantor/backend/backend.h>
#include <vantor/gdi.h>
#include <vantor/system.h>

using namespace vantor;
using namespace vantor::test;
using vantor::testing::RecordingBackend;
using vantor::testing::TestWindow;
namespace formats = vantor::testing::formats;

namespace {

class DevicesTest : public ComponentTest {
protected:
    void TearDown() override {
        EXPECT_EQ(rec.live_objects(), 0u) << rec.live_object_names_text();
        ComponentTest::TearDown();
    }

    RecordingBackend rec;
    vantor::testing::ScopedInstall installed{rec};
};

std::string name_of(IDispatch* d) {
    ComPtr<IDevice3D> dev;
    d->QueryInterface(IID_IDevice3D, reinterpret_cast<void**>(dev.put()));
    return text_of(dev.get(), &IDevice3D::get_Name);
}
std::string name_of(IDevices* devices, const Var& index) {
    return text_of(item_of<IDevice3D>(devices, index).get(), &IDevice3D::get_Name);
}

}  // namespace

TEST_F(DevicesTest, ListsTheUtilityLayersDevicesInDescendingNameOrder) {
    rec.config().devices = {vantor::testing::RecordingConfig::capable_device("beta"),
                            vantor::testing::RecordingConfig::capable_device("Alpha"),
                            vantor::testing::RecordingConfig::capable_device("alpha")};
    DebugCapture out;
    IDevices* devices = create<IDevices>(CLSID_Devices);
    EXPECT_EQ(out.text().find("Loading DirectDraw --> Succeeded.\nInitialising Direct3DX --> Succeeded.\n"
                              "Number of Devices detected: 3\n"),
              0u)
        << out.text();
    for (const char* name : {"beta", "Alpha", "alpha"})
        EXPECT_NE(out.text().find(std::string("\t \xC2\xBB '") + name + "'\n"), std::string::npos) << name;
    ASSERT_EQ(value_of(devices, &IDevices::get_Count), 3);
    std::vector<std::string> order;
    for (LONG i = 1; i <= 3; ++i) order.push_back(name_of(devices, Var::i4(i)));
    EXPECT_EQ(order, (std::vector<std::string>{"beta", "alpha", "Alpha"})) << "lower-case letters sort higher";
    // By name (exactly), and the same object as by position; an Index selects that device.
    EXPECT_EQ(value_of(item_of<IDevice3D>(devices, Var::text("Alpha")), &IDevice3D::get_Index, -1), 1);
    VARIANT item;
    item.vt = VT_I4;
    item.lVal = 77;
    EXPECT_EQ(devices->Item(Var::text("ALPHA"), &item), E_INVALIDARG);
    EXPECT_EQ(item.lVal, 77) << "a failed Item leaves the result untouched";
    Var zero = Var::i4(0), beyond = Var::i2(4), real, empty;
    VARIANT* r = real.out();
    r->vt = VT_R8;
    r->dblVal = 1;
    for (const Var* v : {&zero, &beyond, &real, &empty}) EXPECT_EQ(devices->Item(*v, &item), E_INVALIDARG) << v->get().vt;
    // Enumeration yields the same order.
    {
        ComPtr<IEnumVARIANT> e = enumerator_of(devices);
        ASSERT_TRUE(e);
        HRESULT next = S_OK;
        const auto got = next_items(e.get(), 4, &next);
        EXPECT_EQ(next, S_FALSE);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(name_of(got[0].get()), "beta");
    }
    devices->Release();
    EXPECT_EQ(rec.started(), 0) << "the collection ends the utility-layer start it made";
}

TEST_F(DevicesTest, AnEnumeratedDeviceKeepsTheUtilityLayerStartedWhileItLives) {
    rec.config().devices = {vantor::testing::RecordingConfig::capable_device("only")};
    rec.config().devices[0].description.hwLevel = D3DX_HWLEVEL_TL;
    IDevices* devices = create<IDevices>(CLSID_Devices);
    ComPtr<IDevice3D> d = item_of<IDevice3D>(devices, Var::i4(1));
    ASSERT_TRUE(d);
    devices->Release();
    EXPECT_EQ(value_of(d, &IDevice3D::get_Level), hl_TnLHAL) << take_error().description;
    d.reset();
    EXPECT_EQ(rec.started(), 0) << "the device ends its start when it goes";
}

TEST_F(DevicesTest, DevicesWithTheSameDescriptionReplaceEachOther) {
    rec.config().devices = {vantor::testing::RecordingConfig::capable_device("same"),
                            vantor::testing::RecordingConfig::capable_device("same")};
    IDevices* devices = create<IDevices>(CLSID_Devices);
    EXPECT_EQ(value_of(devices, &IDevices::get_Count), 1);
    EXPECT_EQ(value_of(item_of<IDevice3D>(devices, Var::i4(1)), &IDevice3D::get_Index, -1), 1)
        << "the second takes the first one's place";
    devices->Release();
}

TEST_F(DevicesTest, EnumerationFailuresLeaveAnEmptyCollectionAndTheLastReport) {
    VantorSetLibraryAvailable("ddraw.dll", FALSE);
    IDevices* devices = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_Devices, nullptr, CLSCTX_INPROC_SERVER, IID_IDevices, reinterpret_cast<void**>(&devices)), S_OK);
    VantorSetLibraryAvailable("ddraw.dll", TRUE);
    ErrorText e = take_error();
    EXPECT_EQ(e.source, "Vantor.Devices.1");
    EXPECT_EQ(e.description, "Unspecified error\nFailed to Initialised Direct3D.");
    EXPECT_EQ(value_of(devices, &IDevices::get_Count, -1), 0);
    devices->Release();

    rec.fail("D3DXInitialize", D3DXERR_STARTUPFAILED, 1);
    ASSERT_EQ(CoCreateInstance(CLSID_Devices, nullptr, CLSCTX_INPROC_SERVER, IID_IDevices, reinterpret_cast<void**>(&devices)), S_OK);
    EXPECT_EQ(take_error().description, "Failed to Initialise Direct3DX.");
    devices->Release();
}

TEST_F(DevicesTest, DevicesRefusesAggregation) {
    struct Outer : IUnknown {
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 2; }
        ULONG Release() override { return 1; }
    } outer;
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Devices, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(CoCreateInstance(CLSID_Device3D, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), S_OK);
    static_cast<IUnknown*>(p)->Release();
}

TEST_F(DevicesTest, LevelNeedsAStartedUtilityLayer) {
    unregister_class(CLSID_Objects);  // a device stops making children there: no sprites or textures start the layer
    IDevice3D* d = create<IDevice3D>(CLSID_Device3D);
    take_error();
    HWLevels level;
    DebugCapture out;
    EXPECT_EQ(d->get_Level(&level), D3DXERR_D3DXNOTSTARTEDYET);
    EXPECT_EQ(take_error().description, "Direct3DX Not Started Yet.");
    EXPECT_EQ(out.text(), "Retrieving Device Description --> Failed, Direct3DX Not Started Yet. (Error Code=c8770bc7)\n");
    IDevices* devices = create<IDevices>(CLSID_Devices);  // starts the layer
    rec.config().devices[0].description.hwLevel = D3DX_HWLEVEL_TL;
    EXPECT_EQ(value_of(d, &IDevice3D::get_Level), hl_TnLHAL);
    d->put_Index(9);
    EXPECT_EQ(d->get_Level(&level), D3DXERR_INVALIDD3DXDEVICEINDEX);
    EXPECT_EQ(take_error().description, "Invalid Index.");
    devices->Release();
    SurfaceFormats format = static_cast<SurfaceFormats>(77);
    EXPECT_EQ(d->get_SurfaceFormat(&format), E_POINTER);
    EXPECT_EQ(take_error().source, "") << "no error information";
    EXPECT_EQ(format, 77);
    d->Release();
}

TEST_F(DevicesTest, DeviceCapsReadsTheBitDepthsOfTheBoundDevice) {
    IDeviceCaps* caps = create<IDeviceCaps>(CLSID_DeviceCaps);
    BitDepths depth;
    EXPECT_EQ(caps->get_Depth(&depth), E_FAIL);
    EXPECT_EQ(take_error().description, "Unspecified error\nFailed to obtain Render Depth.");
    TestWindow window(64, 64);
    rec.D3DXInitialize();
    ID3DXContext* context = nullptr;
    ASSERT_EQ(rec.D3DXCreateContext(D3DX_DEFAULT, 0, window.handle(), 64, 64, &context), S_OK);
    caps->put_Device(static_cast<LONG>(backend::to_handle(rec.last_device())));
    EXPECT_EQ(value_of(caps, &IDeviceCaps::get_Depth), 0x500) << "16 and 32 bits";
    rec.config().devices[0].caps.dwDeviceZBufferBitDepth = DDBD_16 | DDBD_24;
    EXPECT_EQ(value_of(caps, &IDeviceCaps::get_ZBufferDepth), DDBD_16 | DDBD_24) << "read again on every call";
    rec.fail("Device.GetCaps", DDERR_INVALIDOBJECT, 1);
    EXPECT_EQ(caps->get_Depth(&depth), E_FAIL);
    context->Release();
    rec.D3DXUninitialize();
    EXPECT_EQ(caps->get_Depth(&depth), E_FAIL) << "a released device's handle resolves to nothing";
    caps->Release();
}

// ---- texture registry ----------------------------------------------------------------------------

class RegistryRestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        rec.D3DXInitialize();
        ASSERT_EQ(rec.D3DXCreateContext(D3DX_DEFAULT, 0, window.handle(), 64, 64, context.put()), S_OK);
        context->GetD3DDevice(device.put());
    }
    void TearDown() override {
        while (texture_registry().head()) texture_registry().destroy(texture_registry().head());
        device.reset();
        context.reset();
        rec.D3DXUninitialize();
        EXPECT_EQ(rec.live_objects(), 0u) << rec.live_object_names_text();
    }
    Container* image(const char* name, DWORD w, DWORD h, DWORD bits) {
        Container* c = texture_registry().create(name, 0, 0);
        c->width = w;
        c->height = h;
        c->bits = bits;
        c->pixels.assign(static_cast<size_t>(w) * h, 0xFF0000FFu);  // opaque red
        return c;
    }
    DDSURFACEDESC2 surface_desc(const char* name) {
        DDSURFACEDESC2 d{};
        d.dwSize = sizeof d;
        IDirectDrawSurface7* s = texture_registry().surface_of(name);
        if (s) s->GetSurfaceDesc(&d);
        return d;
    }
    D3DDEVICEDESC7& caps() { return rec.config().devices[0].caps; }

    RecordingBackend rec;
    TestWindow window{64, 64};
    ComPtr<ID3DXContext> context;
    ComPtr<IDirect3DDevice7> device;
};

TEST_F(RegistryRestoreTest, SizesFollowTheDevicesTextureCapabilities) {
    image("a.tga", 100, 60, 16);
    caps().dpcTriCaps.dwTextureCaps |= D3DPTEXTURECAPS_POW2;
    caps().dwMaxTextureWidth = caps().dwMaxTextureHeight = 256;
    ASSERT_EQ(texture_registry().restore("a.tga", device.get()), S_OK);
    EXPECT_EQ(surface_desc("a.tga").dwWidth, 128u);
    EXPECT_EQ(surface_desc("a.tga").dwHeight, 64u);
    caps().dpcTriCaps.dwTextureCaps |= D3DPTEXTURECAPS_SQUAREONLY;
    ASSERT_EQ(texture_registry().restore("A.TGA", device.get()), S_OK) << "names compare ignoring case";
    EXPECT_EQ(surface_desc("a.tga").dwWidth, 128u);
    EXPECT_EQ(surface_desc("a.tga").dwHeight, 128u);
    caps().dpcTriCaps.dwTextureCaps = 0;
    caps().dwMaxTextureWidth = 64;
    caps().dwMaxTextureHeight = 0;  // 0 counts as 256
    ASSERT_EQ(texture_registry().restore("a.tga", device.get()), S_OK);
    EXPECT_EQ(surface_desc("a.tga").dwWidth, 64u);
    EXPECT_EQ(surface_desc("a.tga").dwHeight, 60u);
    EXPECT_EQ(texture_registry().restore("missing.tga", device.get()), DDERR_NOTFOUND);
}

TEST_F(RegistryRestoreTest, PixelFormatIsTheFirstOfferedThatFits) {
    image("rgb16.tga", 4, 4, 16);
    image("rgb32.tga", 4, 4, 32);
    image("palette.bmp", 4, 4, 8);
    image("odd.tga", 4, 4, 24);
    rec.config().texture_formats = {formats::A8L8(), formats::V8U8(), formats::A4R4G4B4(), formats::X1R5G5B5(),
                                    formats::R5G6B5(), formats::X8R8G8B8(), formats::A8R8G8B8(), formats::P8()};
    texture_registry().restore_all(device.get());
    EXPECT_EQ(formats::name(surface_desc("rgb16.tga").ddpfPixelFormat), "X1R5G5B5") << "luminance and bump skipped; 4444 alpha mask never fits";
    EXPECT_EQ(formats::name(surface_desc("rgb32.tga").ddpfPixelFormat), "X8R8G8B8") << "no alpha wished, so not A8R8G8B8";
    EXPECT_EQ(formats::name(surface_desc("palette.bmp").ddpfPixelFormat), "P8");
    EXPECT_EQ(formats::name(surface_desc("odd.tga").ddpfPixelFormat), "X1R5G5B5") << "no 24-bit format: 16 bits instead";
    rec.config().texture_formats = {formats::A8L8()};
    texture_registry().restore_all(device.get());
    EXPECT_EQ(texture_registry().surface_of("rgb16.tga"), nullptr) << "nothing fits: no surface";
}

TEST_F(RegistryRestoreTest, PixelDataIsConvertedIntoTheSurfaceFormat) {
    Container* c = image("px.tga", 2, 1, 16);
    c->pixels = {0xFF000000u | 0xFF, 0x00FF00FFu};  // red, green (RGBA words)
    rec.config().texture_formats = {formats::R5G6B5()};
    ASSERT_EQ(texture_registry().restore(c, device.get()), S_OK);
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(c->surface->Lock(nullptr, &d, DDLOCK_WAIT, 0), S_OK);
    const uint16_t* row = static_cast<const uint16_t*>(d.lpSurface);
    EXPECT_EQ(row[0], 0xF800);
    EXPECT_EQ(row[1], 0x07E0);
    c->surface->Unlock(nullptr);
}

TEST_F(RegistryRestoreTest, BitmapsAreCopiedThroughGdiWithTheirPalette) {
    // An 8-bit DIB section with a two-colour table: index 1 is blue.
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colours[256];
    } info{};
    info.h = {sizeof(BITMAPINFOHEADER), 4, 4, 1, 8, BI_RGB, 0, 0, 0, 2, 0};
    info.colours[1] = {255, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(0, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, 0, 0);
    ASSERT_NE(bmp, 0u);
    std::memset(bits, 1, 16);
    Container* c = texture_registry().create("bmp.bmp", 0, 0);
    c->bitmap = bmp;
    c->width = c->height = 4;
    c->bits = 8;
    rec.config().texture_formats = {formats::P8(), formats::X8R8G8B8()};
    ASSERT_EQ(texture_registry().restore(c, device.get()), S_OK);
    ComPtr<IDirectDrawPalette> palette;
    ASSERT_EQ(c->surface->GetPalette(palette.put()), S_OK);
    PALETTEENTRY entries[2];
    palette->GetEntries(0, 0, 2, entries);
    EXPECT_EQ(entries[1].peRed, 0);
    EXPECT_EQ(entries[1].peBlue, 255) << "GDI's blue-green-red order swapped into DirectDraw's";
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(c->surface->Lock(nullptr, &d, DDLOCK_WAIT, 0), S_OK);
    EXPECT_EQ(static_cast<const uint8_t*>(d.lpSurface)[0], 1);
    c->surface->Unlock(nullptr);
}

TEST_F(RegistryRestoreTest, ManagedTexturesForHardwareDevicesSystemMemoryOtherwise) {
    image("m.tga", 8, 8, 16);
    rec.config().devices[0].set_type(IID_IDirect3DHALDevice);
    texture_registry().restore("m.tga", device.get());
    EXPECT_EQ(surface_desc("m.tga").ddsCaps.dwCaps2 & DDSCAPS2_TEXTUREMANAGE, static_cast<DWORD>(DDSCAPS2_TEXTUREMANAGE));
    rec.config().devices[0].set_type(IID_IDirect3DRGBDevice);
    texture_registry().restore("m.tga", device.get());
    EXPECT_TRUE(surface_desc("m.tga").ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
}

TEST_F(RegistryRestoreTest, NamesOfAnyLengthAndNewestFirst) {
    std::string long_name(300, 'n');
    Container* older = texture_registry().create(long_name, 0, 0);
    Container* newer = texture_registry().create(long_name, 0, 0);
    EXPECT_EQ(texture_registry().find(long_name), newer);
    EXPECT_EQ(texture_registry().find(long_name.substr(0, 79)), nullptr) << "names are kept whole";
    texture_registry().destroy_by_name(long_name);
    EXPECT_EQ(texture_registry().find(long_name), older);
    image("s.tga", 2, 2, 16);
    texture_registry().restore_all(device.get());
    EXPECT_NE(texture_registry().surface_of("s.tga"), nullptr);
    texture_registry().invalidate_all();
    EXPECT_EQ(texture_registry().surface_of("s.tga"), nullptr);
    EXPECT_NE(texture_registry().find("s.tga"), nullptr) << "containers stay";
}

TEST_F(RegistryRestoreTest, EightBitPixelDataFillsAnExactlySizedSurface) {
    rec.config().pitch_alignment = 1;  // rows of exactly 3 bytes: a byte written past the last pixel is caught
    Container* c = image("p8.bmp", 3, 1, 8);
    rec.config().texture_formats = {formats::P8()};
    ASSERT_EQ(texture_registry().restore(c, device.get()), S_OK);
    EXPECT_EQ(formats::name(surface_desc("p8.bmp").ddpfPixelFormat), "P8");
    EXPECT_EQ(surface_desc("p8.bmp").lPitch, 3);
}

TEST_F(RegistryRestoreTest, NamesCompareIgnoringCaseAsTheAnsiCodePageDoes) {
    struct Case {
        const char* stored;
        const char* asked;
        bool found;
    };
    const Case cases[] = {
        {"Wood.BMP", "wood.bmp", true},
        {"\xC3\x89t\xC3\xA9.bmp", "\xC3\xA9T\xC3\x89.BMP", true},      // Été / éTÉ in UTF-8
        {"\xC3\x80\xC3\x9E.x", "\xC3\xA0\xC3\xBE.x", true},              // ÀÞ / àþ
        {"\xC5\xA0\xC5\x92\xC5\xBD\xC5\xB8", "\xC5\xA1\xC5\x93\xC5\xBE\xC3\xBF", true},  // ŠŒŽŸ / šœžÿ
        {"\xC9t\xE9.bmp", "\xC3\xA9t\xC3\xA9.bmp", true},                // Windows-1252 bytes / UTF-8
        {"\x8A.bmp", "\xC5\xA1.bmp", true},                               // Š as a 1252 byte / š
        {"\xC3\x97.bmp", "\xC3\xB7.bmp", false},                          // × and ÷ are not letters
        {"\xC3\x9F.bmp", "SS.bmp", false},                                // ß has no capital here
        {"wood.bmp", "wood.bm", false},
        {"wood.bm", "wood.bmp", false},
    };
    for (const Case& c : cases) {
        Container* stored = texture_registry().create(c.stored, 0, 0);
        EXPECT_EQ(texture_registry().find(c.asked) == stored, c.found) << c.stored << " / " << c.asked;
        texture_registry().destroy(stored);
    }
}
