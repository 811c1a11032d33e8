// Shared by the three `.x` fuzz targets: reads one input through the file API with the standard
// templates registered, and walks everything it yields (data blocks and every member of them,
// children, references resolved), so that any read outside the parsed data is caught.
#pragma once

#include <vantor/dxfile.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace xfile_fuzz {

inline IDirectXFile* file_api() {
    static IDirectXFile* file = [] {
        IDirectXFile* f = nullptr;
        if (FAILED(DirectXFileCreate(&f))) __builtin_trap();
        if (FAILED(f->RegisterTemplates(const_cast<unsigned char*>(D3DRM_XTEMPLATES), D3DRM_XTEMPLATE_BYTES)))
            __builtin_trap();
        return f;
    }();
    return file;
}

inline volatile uint8_t g_sink;

inline void touch(const void* p, DWORD n) {
    const auto* b = static_cast<const uint8_t*>(p);
    uint8_t x = 0;
    for (DWORD i = 0; i < n; ++i) x ^= b[i];
    g_sink = x;
}

inline void walk(IDirectXFileData* d, int depth) {
    DWORD size = 0;
    void* data = nullptr;
    if (FAILED(d->GetData(nullptr, &size, &data))) __builtin_trap();
    touch(data, size);
    const GUID* type = nullptr;
    if (FAILED(d->GetType(&type)) || !type) __builtin_trap();
    static const char* const kMembers[] = {"nVertices",    "faces", "nFaces",      "filename", "weights",
                                           "matrixOffset", "keys",  "faceNormals", "nothing"};
    for (const char* m : kMembers) {
        DWORD n = 0;
        void* p = nullptr;
        if (SUCCEEDED(d->GetData(m, &n, &p))) {
            if (static_cast<uint8_t*>(p) < static_cast<uint8_t*>(data) ||
                static_cast<uint8_t*>(p) + n > static_cast<uint8_t*>(data) + size)
                __builtin_trap();
        }
    }
    char name[64];
    DWORD len = sizeof name;
    d->GetName(name, &len);
    IDirectXFileObject* child = nullptr;
    while (SUCCEEDED(d->GetNextObject(&child))) {
        IDirectXFileData* cd = nullptr;
        IDirectXFileDataReference* ref = nullptr;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&cd)))) {
            if (depth > 300) __builtin_trap();  // nesting is capped by the reader
            walk(cd, depth + 1);
            cd->Release();
        } else if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference,
                                                   reinterpret_cast<void**>(&ref)))) {
            IDirectXFileData* target = nullptr;
            if (SUCCEEDED(ref->Resolve(&target))) {
                DWORD n;
                void* p;
                target->GetData(nullptr, &n, &p);
                touch(p, n);
                target->Release();
            }
            ref->Release();
        }
        child->Release();
    }
}

// Reads `data` with its header's format code replaced by `format` (or with a header added when
// the input has none), and walks the result.
inline int run(const uint8_t* data, size_t size, const char* format) {
    std::vector<uint8_t> image;
    if (size >= 16 && std::memcmp(data, "xof ", 4) == 0) {
        image.assign(data, data + size);
        std::memcpy(image.data() + 8, format, 4);
    } else {
        const char* header = "xof 0303txt 0032";
        image.assign(header, header + 16);
        std::memcpy(image.data() + 8, format, 4);
        image.insert(image.end(), data, data + size);
    }
    DXFILELOADMEMORY memory{image.data(), DWORD(image.size())};
    IDirectXFileEnumObject* objects = nullptr;
    if (FAILED(file_api()->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &objects))) return 0;
    IDirectXFileData* d = nullptr;
    HRESULT hr;
    while (SUCCEEDED(hr = objects->GetNextDataObject(&d))) {
        walk(d, 0);
        d->Release();
    }
    if (hr == S_OK) __builtin_trap();
    objects->Release();
    return 0;
}

}  // namespace xfile_fuzz
