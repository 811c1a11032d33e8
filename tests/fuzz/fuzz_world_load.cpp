// Fuzzes Device3D.Load itself: any bytes as the world file, loaded by a live device on a virtual
// window (the OpenGL back end). A file that loads must save, load and save again to the same
// bytes; a file that does not must leave the world exactly as it was.
#include "fuzz_temp.h"

#include <vantor/vantor.h>
#include <vantor/text.h>
#include <vantor/window.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

extern "C" HRESULT DllRegisterServer();

namespace {

std::string g_input, g_first, g_second, g_registry;
std::string g_world;  // the world as saved after the last load that succeeded
IDevice3D* g_device;

BSTR bstr(const std::string& s) {
    std::u16string w = vantor::text::utf16(s);
    return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

HRESULT call(HRESULT (IDevice3D::*member)(BSTR), const std::string& path) {
    BSTR b = bstr(path);
    HRESULT hr = (g_device->*member)(b);
    SysFreeString(b);
    return hr;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string saved(const std::string& path) {
    if (call(&IDevice3D::Save, path) != S_OK) std::abort();  // a live world always saves
    return read_all(path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every Save flushes its file: campaigns run faster with TMPDIR on a memory-backed folder.
    const std::string& scratch = vantor::fuzz::make_scratch("world-load");
    g_registry = scratch + "/registry";
    g_input = scratch + "/input";
    g_first = scratch + "/first";
    g_second = scratch + "/second";
    setenv("VANTOR_REGISTRY", g_registry.c_str(), 1);
    CoInitialize(nullptr);
    if (DllRegisterServer() != S_OK) std::abort();
    HWND window = VantorCreateVirtualWindow(64, 64, "Fuzz");
    if (FAILED(CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDevice3D, reinterpret_cast<void**>(&g_device))))
        std::abort();
    g_device->put_Window(static_cast<LONG>(window));
    if (g_device->Initialise(0, 64, 64, VARIANT_FALSE, 1) != S_OK) std::abort();
    g_world = saved(g_first);
    return 0;  // the device lives for the whole run
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(g_input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const HRESULT hr = call(&IDevice3D::Load, g_input);
    if (FAILED(hr)) {
        if (saved(g_second) != g_world) std::abort();  // a refused file changed the world
    } else {
        const std::string once = saved(g_first);
        if (call(&IDevice3D::Load, g_first) != S_OK) std::abort();  // what was saved must load
        g_world = saved(g_second);
        if (g_world != once) std::abort();                          // and save to the same bytes
    }
    SetErrorInfo(0, nullptr);
    return 0;
}
