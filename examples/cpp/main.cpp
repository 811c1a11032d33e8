// vantor-frame: a C++ host of the installed component. It registers the component, creates a
// device on an off-screen window, draws one frame (a clear and a line of debug text) and writes
// the window's pixels to a PNG.
//
//   vantor-frame [OUT.png]        (default frame.png; the registry is $VANTOR_REGISTRY)
#include <vantor/com.h>
#include <vantor/vantor.h>
#include <vantor/window.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" HRESULT DllRegisterServer();  // exported by libvantor.so

namespace {

// --- A minimal PNG writer: 8-bit RGBA, stored (uncompressed) deflate blocks -------------------

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void put_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put_u32(out, static_cast<uint32_t>(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_u32(out, crc32(out.data() + start, out.size() - start));
}

bool write_png(const char* path, const uint8_t* rgba, int width, int height) {
    std::vector<uint8_t> raw;  // each row: filter byte 0, then the pixels
    raw.reserve(static_cast<size_t>(height) * (width * 4 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgba + static_cast<size_t>(y) * width * 4, rgba + static_cast<size_t>(y + 1) * width * 4);
    }
    std::vector<uint8_t> z = {0x78, 0x01};  // zlib header, no compression
    uint32_t a = 1, b = 0;                  // Adler-32
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t at = 0; at < raw.size() || at == 0;) {
        size_t n = std::min<size_t>(65535, raw.size() - at);
        bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
        at += n;
        if (last) break;
    }
    put_u32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put_u32(header, static_cast<uint32_t>(width));
    put_u32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", z);
    put_chunk(png, "IEND", {});

    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
}

// --- Errors: the result code and the engine's description -------------------------------------

int fail(const char* what, HRESULT hr) {
    std::string text;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description) {
            for (const OLECHAR* c = description; *c; ++c) text += *c < 0x80 ? static_cast<char>(*c) : '?';
            SysFreeString(description);
        }
        info->Release();
    }
    std::fprintf(stderr, "vantor-frame: %s failed: 0x%08X %s\n", what, static_cast<unsigned>(hr), text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* out = argc > 1 ? argv[1] : "frame.png";
    const int width = 320, height = 240;

    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) return fail("CoInitialize", hr);
    // The component registers itself (its own path) into the registry, so activation finds it.
    if (FAILED(hr = DllRegisterServer())) return fail("DllRegisterServer", hr);

    HWND window = VantorCreateVirtualWindow(width, height, "Vantor frame");
    IDevice3D* device = nullptr;
    hr = CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IDevice3D),
                          reinterpret_cast<void**>(&device));
    if (FAILED(hr)) return fail("creating Vantor.Device3D", hr);

    int status = 0;
    BSTR text = SysAllocString(u"Hello from C++");
    if (FAILED(hr = device->put_Window(static_cast<LONG>(window))) ||
        FAILED(hr = device->Initialise(0, width, height, VARIANT_FALSE, 1))) {
        status = fail("Initialise", hr);
    } else if (FAILED(hr = device->Clear(0.1f, 0.1f, 0.3f, 1.0f)) || FAILED(hr = device->Render()) ||
               FAILED(hr = device->Debug(0.05f, 0.05f, White, text)) || FAILED(hr = device->Update())) {
        status = fail("drawing the frame", hr);
    } else {
        std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
        if (!VantorWindowReadPixels(window, rgba.data(), width * 4)) {
            std::fprintf(stderr, "vantor-frame: reading the window's pixels failed\n");
            status = 1;
        } else if (!write_png(out, rgba.data(), width, height)) {
            std::fprintf(stderr, "vantor-frame: cannot write %s\n", out);
            status = 1;
        } else {
            std::printf("vantor-frame: wrote %s (%dx%d)\n", out, width, height);
        }
    }
    SysFreeString(text);
    device->Free();
    device->Release();
    DestroyWindow(window);
    CoUninitialize();
    return status;
}
