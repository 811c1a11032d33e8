// Fuzzes the world-file readers: any bytes as the file, read by the camera, fog, light, texture,
// object and colour records and their collections, bound to a recording device so every setter runs.
#include "fuzz_temp.h"
#include "recording_backend.h"
#include "test_window.h"

#include <vantor/stream.h>
#include <vantor/vantor.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" HRESULT DllRegisterServer();

namespace {

std::string g_path, g_registry;
vantor::testing::RecordingBackend* g_rec;
ICameras* g_cameras;
ILights* g_lights;
IFog* g_fog;
IColour* g_colour;
ITextures* g_textures;
IObjects* g_objects;

template <class I>
I* make(REFCLSID clsid) {
    I* p = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(&p)))) std::abort();
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& scratch = vantor::fuzz::make_scratch("world");
    std::string registry = scratch + "/registry";
    g_path = scratch + "/world";
    setenv("VANTOR_REGISTRY", registry.c_str(), 1);
    CoInitialize(nullptr);
    if (DllRegisterServer() != S_OK) std::abort();
    g_rec = new vantor::testing::RecordingBackend;
    vantor::backend::install(g_rec);
    static vantor::testing::TestWindow window(64, 64);
    g_rec->D3DXInitialize();
    ID3DXContext* context = nullptr;
    if (FAILED(g_rec->D3DXCreateContext(D3DX_DEFAULT, 0, window.handle(), 64, 64, &context))) std::abort();
    IDirect3DDevice7* device = nullptr;
    IDirect3D7* d3d = nullptr;
    context->GetD3DDevice(&device);
    context->GetD3D(&d3d);
    const LONG dev = static_cast<LONG>(vantor::backend::to_handle(device));
    const LONG direct3d = static_cast<LONG>(vantor::backend::to_handle(d3d));
    g_cameras = make<ICameras>(CLSID_Cameras);
    g_cameras->put_Device(dev);
    g_lights = make<ILights>(CLSID_Lights);
    g_lights->put_Direct3D(direct3d);
    g_lights->put_Device(dev);
    g_fog = make<IFog>(CLSID_Fog);
    g_fog->put_Device(dev);
    g_colour = make<IColour>(CLSID_Colour);
    g_textures = make<ITextures>(CLSID_Textures);
    g_textures->put_Device(dev);
    g_objects = make<IObjects>(CLSID_Objects);
    g_objects->put_Device(dev);
    g_objects->put_Direct3D(direct3d);
    return 0;  // the context and device live for the whole run
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    uint32_t stream = VantorStreamOpen(g_path.c_str(), "r");
    if (!stream) return 0;
    const LONG s = static_cast<LONG>(stream);
    g_cameras->Load(s);
    g_fog->Load(s);
    g_lights->Load(s);
    g_textures->Load(s);
    g_objects->Load(s);
    g_colour->Load(s);
    VantorStreamClose(stream);
    g_rec->clear_calls();
    SetErrorInfo(0, nullptr);
    return 0;
}
