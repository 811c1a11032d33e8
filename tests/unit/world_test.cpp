// The world file through Device3D.Save and Load: hostile files refused with the world exactly
// as it was, writes that cannot finish leaving the old file, and worlds that read back as written.
// A live device on the OpenGL back end (a virtual window); the recording back end only where a
// call's exact argument or an injected refusal is the point.
#include "component.h"
#include "recording_backend.h"

#include <vantor/backend/backend.h>
#include <vantor/stream.h>
#include <vantor/window.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace vantor;
using namespace vantor::test;
namespace fs = std::filesystem;

namespace {

void write_all(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

const std::string kNoTexturesNoObjects = "0\r\n0\r\n";

// One camera, a fog, one light: the lines a well-formed world holds (CR LF ends as written).
std::string world_text(const std::string& camera_x = "0.000000", const std::string& camera_count = "1") {
    std::string t = camera_count + "\r\n// Camera\r\nEye\r\n" + camera_x +
                    "\r\n0.000000\r\n0.000000\r\n1.000000\r\n2.000000\r\n3.000000\r\n0.000000\r\n0.000000\r\n0.000000\r\n";
    t += "// Fog\r\n0.500000\r\n0.000000\r\n0.000000\r\n1\r\n4294967295\r\n0\r\n// Colour\r\n1.0\r\n0.5\r\n0.25\r\n0.0\r\n";
    t += "1\r\n// Light\r\nLamp\r\n1\r\n0\r\n";
    for (int i = 0; i < 13; ++i) t += "1.000000\r\n";
    for (int i = 0; i < 4; ++i) t += "// Colour\r\n0.100000\r\n0.200000\r\n0.300000\r\n0.400000\r\n";
    return t + kNoTexturesNoObjects;
}

class WorldTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        dir = fs::path(::testing::TempDir()) / ("world-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        window = VantorCreateVirtualWindow(160, 120, "World");
        device = create<IDevice3D>(CLSID_Device3D);
        ASSERT_TRUE(device);
        device->put_Window(static_cast<LONG>(window));
        ASSERT_EQ(device->Initialise(0, 160, 120, VARIANT_FALSE, 1), S_OK);
    }
    void TearDown() override {
        if (device) {
            device->Free();
            device->Release();
        }
        DestroyWindow(window);
        fs::remove_all(dir);
        ComponentTest::TearDown();
    }

    HRESULT save(const fs::path& p) { return device->Save(Bstr(text::utf16(p.string()))); }
    HRESULT load(const fs::path& p) { return device->Load(Bstr(text::utf16(p.string()))); }
    // The whole world as the device writes it: the exact state a test compares.
    std::string state() {
        const fs::path p = dir / "state.txt";
        EXPECT_EQ(save(p), S_OK);
        return read_file(p);
    }
    ComPtr<ICameras> cameras() { return child_of<ICameras>(device, &IDevice3D::get_Cameras); }
    ComPtr<IFog> fog() { return child_of<IFog>(device, &IDevice3D::get_Fog); }
    ComPtr<ILights> lights() { return child_of<ILights>(device, &IDevice3D::get_Lights); }

    fs::path dir;
    HWND window = 0;
    IDevice3D* device = nullptr;
};

}  // namespace

TEST_F(WorldTest, WhatCannotBeReadOrParsedIsRefusedAndTheWorldStaysExactlyAsItWas) {
    ASSERT_EQ(load([&] { write_all(dir / "good.txt", world_text()); return dir / "good.txt"; }()), S_OK);
    const std::string before = state();
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directories(dir / "folder");
    {
        std::FILE* big = std::fopen((dir / "big.txt").c_str(), "wb");
        ASSERT_EQ(ftruncate(fileno(big), (64 << 20) + 1), 0);
        std::fclose(big);
    }
    const std::string good = world_text();
    struct Case {
        const char* name;
        std::string bytes;  // written to the file first, unless it is a path below
        std::string path;   // a path that is not written
        HRESULT hr;
        const char* text;
    } cases[] = {
        {"a directory", "", (dir / "folder").string(), E_INVALIDARG, "not a regular file"},
        {"a FIFO never blocks", "", (dir / "fifo").string(), E_INVALIDARG, "not a regular file"},
        {"/dev/zero", "", "/dev/zero", E_INVALIDARG, "not a regular file"},
        {"/proc/self/mem", "", "/proc/self/mem", E_FAIL, "cannot be read"},
        {"a missing file", "", (dir / "missing.txt").string(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "missing.txt"},
        {"over 64 MB", "", (dir / "big.txt").string(), E_FAIL, "larger than 64 MB"},
        {"an empty file", "", "", E_FAIL, "Line 1 of the world file is missing"},
        {"a line over 64 KB", "1\n// Camera\n" + std::string(65537, 'x') + "\n", "", E_FAIL, "Line 3 of the world file is longer than 64 KB"},
        {"a word for a number", world_text("abc"), "", E_FAIL, "Line 4 of the world file is not a number: 'abc'"},
        {"a number with more after it", world_text("1.5kg"), "", E_FAIL, "Line 4 of the world file is not a number"},
        {"a negative count", world_text("0", "-1"), "", E_FAIL, "Line 1 of the world file holds the negative count -1"},
        {"a count beyond the lines left", world_text("0", "9"), "", E_FAIL, "Line 1 of the world file holds the count 9, more records than the 63 lines left"},
        {"more records than a collection holds", "16385\r\n" + std::string(16385 * 11, '\n'), "", E_FAIL,
         "Line 1 of the world file holds the count 16385, more than the 16384 records"},
        {"a count that is no count", world_text("0", "one"), "", E_FAIL, "Line 1 of the world file is not a count"},
        {"a record cut short", good.substr(0, good.find("// Fog")) + "// Fog\r\n0.5\r\n", "", E_FAIL,
         "Line 15 of the world file is missing: the file ends inside a record"},
        {"a boolean beyond 32 bits", [&] { std::string t = good; t.replace(t.find("4294967295"), 10, "4294967296"); return t; }(),
         "", E_FAIL, "Line 18 of the world file is not a number: '4294967296'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path p = c.path;
        if (p.empty()) {
            p = dir / "hostile.txt";
            write_all(p, c.bytes);
        }
        take_error();
        EXPECT_EQ(load(p), c.hr);
        const std::string why = take_error().description;
        EXPECT_NE(why.find(c.text), std::string::npos) << why;
        EXPECT_EQ(state(), before) << "the world in memory changed";
    }
    EXPECT_FALSE(fs::exists(dir / "missing.txt")) << "loading never creates a file";
    Bstr with_nul(std::u16string_view(u"a\0b", 3));
    EXPECT_EQ(device->Load(with_nul), E_INVALIDARG);
    EXPECT_EQ(device->Save(with_nul), E_INVALIDARG);
    EXPECT_FALSE(fs::exists("a")) << "a NUL never shortens the path";
    EXPECT_EQ(state(), before);
}

TEST_F(WorldTest, ValuesAPropertyRefusesAreItsErrorAndLoadingGoesOn) {
    std::string t = world_text();
    t.replace(t.find("0.500000"), 8, "5.000000");  // a density beyond 1
    write_all(dir / "w.txt", t);
    take_error();
    EXPECT_EQ(load(dir / "w.txt"), S_OK);
    EXPECT_NE(take_error().description.find("Density"), std::string::npos) << "the fog's refusal is recorded";
    EXPECT_EQ(value_of(fog(), &IFog::get_Enabled), VARIANT_TRUE) << "4294967295 reads as true";
    EXPECT_EQ(value_of(lights(), &ILights::get_Count), 1) << "the sections after the refused value still load";
}

TEST_F(WorldTest, SaveLoadSaveGivesIdenticalBytesAndLinearFogNamesAndAnglesRoundTrip) {
    ComPtr<ICameras> c = cameras();
    IDispatch* added = nullptr;
    c->get_Add(Bstr(u"Two\r\nLines"), &added);
    take_as<ICamera>(added)->Rotate(0.25f, -1.5f, 3.0f);
    ComPtr<IFog> f = fog();
    f->put_Mode(fm_Linear);
    f->put_StartingPos(5.0f);
    f->put_EndPosition(50.0f);
    f->put_Enabled(VARIANT_TRUE);
    ComPtr<ILights> l = lights();
    for (int i = 0; i < 11; ++i) {  // "Light10" sorts between "Light1" and "Light0"
        l->get_Add(i % 2 ? lt_Spot : lt_Point, 1, 2, static_cast<float>(i), 0.5f, 0.25f, 1, 1, 1, 0.1f, 0.7f, 20, &added);
        added->Release();
    }

    const std::string first = state();
    EXPECT_NE(first.find("\r\nTwo  Lines\r\n"), std::string::npos) << "a name's line breaks are written as spaces";
    ASSERT_EQ(load(dir / "state.txt"), S_OK);
    EXPECT_EQ(state(), first);
    EXPECT_EQ(value_of(f, &IFog::get_StartingPos), 5.0f);
    EXPECT_EQ(value_of(f, &IFog::get_EndPosition), 50.0f);
    EXPECT_EQ(value_of(c, &ICameras::get_Count), 2) << "each loaded camera is kept under its own name";
    ComPtr<ICamera> cam = item_of<ICamera>(c.get(), Var::text("Two  Lines"));
    ASSERT_TRUE(cam);
    EXPECT_EQ(value_of(cam, &ICamera::get_Y), -1.5f);
    EXPECT_EQ(text_of(item_of<ILight>(l.get(), Var::text("Light10")).get(), &ILight::get_Name), "Light10")
        << "a loaded light keeps the key it was saved under";
}

TEST_F(WorldTest, SaveReplacesTheFileOnlyWhenAllOfItWasWritten) {
    const fs::path p = dir / "keep.txt";
    write_all(p, "precious");
    chmod(p.c_str(), 0640);

    // A write cut short (the file-size limit) fails and leaves the old file and no temporary.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const HRESULT cut = save(p);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(cut, E_FAIL);
    EXPECT_NE(take_error().description.find("cannot be written"), std::string::npos);
    EXPECT_EQ(read_file(p), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "no temporary file is left";

    // A world that would not read back (a line over 64 KB) is not written.
    ComPtr<ICameras> c = cameras();
    IDispatch* added = nullptr;
    c->get_Add(Bstr(std::u16string(70000, u'n')), &added);
    added->Release();
    EXPECT_EQ(save(p), E_FAIL);
    EXPECT_NE(take_error().description.find("The world was not saved: Line 3 of the world file is longer than 64 KB"), std::string::npos);
    EXPECT_EQ(read_file(p), "precious");
    c->Clear();

    // What is not a regular file is never replaced; a missing folder is no place to write.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(save(dir / "fifo"), E_INVALIDARG);
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_TRUE(FAILED(save(dir / "no-such-folder" / "world.txt")));
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));

    // A whole write replaces the file and keeps its permission bits.
    ASSERT_EQ(save(p), S_OK);
    EXPECT_EQ(read_file(p).substr(0, 9), "0\r\n// Fog");
    struct stat st {};
    stat(p.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // After Free there is nothing to write: E_POINTER, and the file stays.
    device->Free();
    const std::string saved = read_file(p);
    EXPECT_EQ(save(p), E_POINTER);
    EXPECT_EQ(load(p), E_POINTER);
    EXPECT_EQ(read_file(p), saved);
}

TEST_F(WorldTest, NumbersUseAPointUnderAGermanLocale) {
    // The locale is built for the test where the system has the sources (no installed locale needed).
    const fs::path locales = dir / "locales";
    fs::create_directories(locales);
    const std::string build = "localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(build.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE here";
    setenv("LOCPATH", locales.c_str(), 1);
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char check[32];
    std::snprintf(check, sizeof check, "%.1f", 1.5);
    EXPECT_STREQ(check, "1,5") << "the German locale is in force";
    fog()->put_Density(0.5f);
    write_all(dir / "w.txt", world_text("1.500000"));
    EXPECT_EQ(load(dir / "w.txt"), S_OK);
    const std::string saved = state();
    std::setlocale(LC_ALL, previous.c_str());
    unsetenv("LOCPATH");
    EXPECT_NE(saved.find("// Camera\r\nEye\r\n1.500000\r\n"), std::string::npos) << saved.substr(0, 80);
    EXPECT_EQ(saved.find(','), std::string::npos);
}

TEST_F(WorldTest, RenderTargetsBeyondTheMaximumAreRefusedBeforeAnythingStarts) {
    device->Free();
    device->put_Window(static_cast<LONG>(window));
    for (auto [w, h] : {std::pair{16384, 16384}, {8193, 64}, {64, 100000}}) {
        EXPECT_EQ(device->Initialise(0, w, h, VARIANT_FALSE, 1), E_INVALIDARG) << w << "x" << h;
        EXPECT_NE(take_error().description.find("at most 8192 x 8192"), std::string::npos);
        EXPECT_EQ(value_of(device, &IDevice3D::get_Status, sm_Ready), sm_NotInitialised);
    }
    EXPECT_EQ(device->Initialise(0, 160, 120, VARIANT_FALSE, 1), S_OK) << "a later sensible size still works";
}

// ---- on the recording back end: exact calls and refusals injected -------------------------------

class WorldRecordsTest : public ComponentTest {
protected:
    vantor::testing::RecordingBackend rec;
    vantor::testing::ScopedInstall installed{rec};
};

TEST_F(WorldRecordsTest, ALoadedCameraSendsItsRotationAndRecordsThatCannotBeAddedAreSkipped) {
    HWND window = VantorCreateVirtualWindow(64, 64, "Records");
    IDevice3D* device = create<IDevice3D>(CLSID_Device3D);
    device->put_Window(static_cast<LONG>(window));
    ASSERT_EQ(device->Initialise(0, 64, 64, VARIANT_FALSE, 1), S_OK);
    const fs::path p = fs::path(::testing::TempDir()) / ("records-" + std::to_string(getpid()) + ".txt");
    std::string t = world_text("0.5");  // rotated 0.5 about x
    write_all(p, t);
    ASSERT_EQ(device->Load(Bstr(text::utf16(p.string()))), S_OK);
    D3DMATRIX world{};
    rec.last_device()->GetTransform(D3DTRANSFORMSTATE_WORLD, &world);
    EXPECT_FLOAT_EQ(world._22, std::cos(0.5f));
    EXPECT_FLOAT_EQ(world._23, std::sin(0.5f)) << "Update sends the rotation rebuilt from the loaded angles";

    // With point lights unsupported every light's Add fails: its record's lines are skipped
    // and what follows reads from the right line.
    rec.config().devices[0].caps.dwVertexProcessingCaps &= ~D3DVTXPCAPS_POSITIONALLIGHTS;
    ComPtr<ILights> lights = child_of<ILights>(device, &IDevice3D::get_Lights);
    std::string light = t.substr(t.find("1\r\n// Light"));
    light.resize(light.size() - kNoTexturesNoObjects.size());
    const std::string section = "2" + light.substr(1) + light.substr(3) + "// Colour\r\n0.5\r\n0.25\r\n0.125\r\n1\r\n";
    uint32_t f = VantorStreamOpenMemory(section.data(), static_cast<DWORD>(section.size()), "r");
    EXPECT_EQ(lights->Load(static_cast<LONG>(f)), S_OK);
    IColour* after = nullptr;
    CoCreateInstance(CLSID_Colour, nullptr, CLSCTX_INPROC_SERVER, IID_IColour, reinterpret_cast<void**>(&after));
    EXPECT_EQ(after->Load(static_cast<LONG>(f)), S_OK);
    EXPECT_EQ(value_of(after, &IColour::get_Green), 0.25f);
    VantorStreamClose(f);
    EXPECT_EQ(value_of(lights, &ILights::get_Count, -1), 0);

    // A section cut short leaves the collection as it was.
    const std::string cut = "1\r\n// Light\r\nLamp\r\n";
    f = VantorStreamOpenMemory(cut.data(), static_cast<DWORD>(cut.size()), "r");
    rec.config().devices[0].caps.dwVertexProcessingCaps |= D3DVTXPCAPS_POSITIONALLIGHTS;
    IDispatch* kept = nullptr;
    lights->get_Add(lt_Point, 0, 0, 0, 1, 1, 1, 1, 1, 0, 1, 10, &kept);
    kept->Release();
    EXPECT_EQ(lights->Load(static_cast<LONG>(f)), E_FAIL);
    EXPECT_EQ(value_of(lights, &ILights::get_Count), 1);
    VantorStreamClose(f);
    after->Release();
    lights.reset();
    device->Free();
    device->Release();
    DestroyWindow(window);
    std::remove(p.c_str());
}

TEST_F(WorldTest, ObjectsWithMaterialsAndTexturesRoundTripUnderTheirOwnNames) {
    const fs::path mesh = dir / "tri.x";
    write_all(mesh, "xof 0302txt 0032\nMesh T { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n");
    ComPtr<IObjects> objects = child_of<IObjects>(device, &IDevice3D::get_Objects);
    ASSERT_TRUE(objects);
    IDispatch* added = nullptr;
    ASSERT_EQ(objects->get_LoadFile(Bstr(text::utf16(mesh.string())), Bstr("Ship"), VARIANT_TRUE, &added), S_OK);
    ComPtr<IObject> ship = take_as<IObject>(added);
    ship->Move(1.5f, -2, 0.25f);
    ComPtr<IMaterial> material = child_of<IMaterial>(ship.get(), &IObject::get_Material);
    ComPtr<IColour> diffuse = child_of<IColour>(material.get(), &IMaterial::get_Diffuse);
    diffuse->put_Red(0.75f);
    diffuse->put_Alpha(0.5f);
    ASSERT_EQ(objects->get_Add(Bstr("Crate"), VARIANT_TRUE, &added), S_OK);  // its Name stays unset
    added->Release();
    if (ComPtr<ITextures> textures = child_of<ITextures>(device, &IDevice3D::get_Textures)) {
        ASSERT_EQ(textures->get_Add(&added), S_OK);
        added->Release();
    }

    const std::string first = state();
    EXPECT_NE(first.find("\r\n2\r\n// Ship\r\nShip\r\n1.500000\r\n-2.000000\r\n0.250000\r\n// Material\r\n"),
              std::string::npos)
        << "the objects in descending key order: Ship before Crate\n" << first;
    EXPECT_NE(first.find("// (null)\r\n(null)\r\n"), std::string::npos);
    ASSERT_EQ(load(dir / "state.txt"), S_OK);
    EXPECT_EQ(state(), first) << "save, load and save again give the same bytes";

    // A new device reads the same world: every object under its own loaded name.
    IDevice3D* other = create<IDevice3D>(CLSID_Device3D);
    other->put_Window(static_cast<LONG>(window));
    ASSERT_EQ(other->Initialise(0, 160, 120, VARIANT_FALSE, 1), S_OK);
    ASSERT_EQ(other->Load(Bstr(text::utf16((dir / "state.txt").string()))), S_OK);
    ComPtr<IObjects> loaded = child_of<IObjects>(other, &IDevice3D::get_Objects);
    EXPECT_EQ(value_of(loaded, &IObjects::get_Count), 2);
    ComPtr<IObject> again = item_of<IObject>(loaded.get(), Var::text("Ship"));
    ASSERT_TRUE(again);
    EXPECT_EQ(value_of(again, &IObject::get_X), 1.5f);
    ComPtr<IMaterial> loaded_material = child_of<IMaterial>(again.get(), &IObject::get_Material);
    EXPECT_EQ(value_of(child_of<IColour>(loaded_material.get(), &IMaterial::get_Diffuse), &IColour::get_Red), 0.75f);
    EXPECT_TRUE(item_of<IObject>(loaded.get(), Var::text("(null)")));
    again.reset();
    loaded.reset();
    other->Free();
    other->Release();
}
