// Loading a container's image: the host's bitmap resources, then the file relative to the
// working directory, then under the media path; bitmaps through LoadImageA, Targa files through
// the reader of targa.h.
//
// Names are written Windows-style by scripts and mesh files: a backslash separates directories
// wherever it appears. A file not found as named is looked for once more ignoring letter case in
// its directory ("Wood.BMP" for "wood.bmp"), and a name with directories that is found nowhere
// is tried by its last component, in the working directory and then under the media path
// (mesh files name textures "C:\...\bottom.tga").
#include <strings.h>
#include <vantor/backend/ddraw.h>
#include <vantor/file.h>
#include <vantor/registry.h>
#include <vantor/system.h>

#include <new>

#include "texture/registry.h"
#include "texture/targa.h"

namespace vantor {

namespace {

// The media directory with a trailing separator: the "DXSDK Samples Path" value followed by
// D3DIM/Media/, or "" when the value is not there.
std::string media_path() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    char path[1024] = {};
    DWORD size = sizeof path - 1, type = 0;
    const LONG r =
        RegQueryValueExA(key, "DXSDK Samples Path", nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ) return "";
    path[size < sizeof path ? size : sizeof path - 1] = '\0';
    return with_slashes(std::string(path) + "\\D3DIM\\Media\\");
}

// Where the image of `name` is: as named, under the media path, then by its last component.
std::string locate(const std::string& name) {
    const std::string media = media_path();
    const std::string given = with_slashes(name);
    std::string path = find_file(given);
    if (path.empty() && !media.empty()) path = find_file(media + given);
    const size_t slash = given.rfind('/');
    if (path.empty() && slash != std::string::npos && slash + 1 < given.size()) {
        const std::string leaf = given.substr(slash + 1);
        path = find_file(leaf);
        if (path.empty() && !media.empty()) path = find_file(media + leaf);
    }
    return path;
}

HRESULT load_image(Container& c) {
    // The host's bitmap resources come first.
    if (HANDLE b =
            LoadImageA(GetModuleHandleA(nullptr), c.name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)) {
        c.bitmap = static_cast<HBITMAP>(b);
        return S_OK;
    }
    const std::string path = locate(c.name);
    if (path.empty()) return DDERR_NOTFOUND;
    const std::string given = with_slashes(c.name);
    const size_t slash = given.rfind('/');
    const size_t dot = given.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return E_NOTIMPL;
    const std::string kind = given.substr(dot);
    if (::strcasecmp(kind.c_str(), ".bmp") == 0) {
        HANDLE b = LoadImageA(0, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
        if (!b) return DDERR_NOTFOUND;
        c.bitmap = static_cast<HBITMAP>(b);
        return S_OK;
    }
    if (::strcasecmp(kind.c_str(), ".tga") == 0) {
        TargaImage image;
        if (HRESULT hr = read_targa_file(path, &image); FAILED(hr)) return hr;
        c.width = image.width;
        c.height = image.height;
        c.bits = image.bits;
        c.pixels = std::move(image.pixels);
        return S_OK;
    }
    return E_NOTIMPL;
}

}  // namespace

HRESULT TextureRegistry::create_from_file(const std::string& name, DWORD stage, DWORD flags) {
    if (name.empty()) return E_INVALIDARG;
    if (find(name)) return S_OK;
    Container* c = create(name, stage, flags);
    if (!c) return E_OUTOFMEMORY;
    HRESULT hr;
    try {
        hr = load_image(*c);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {  // nothing is kept: the name may load another time
        destroy(c);
        return E_FAIL;
    }
    if (c->bitmap) {
        BITMAP bm{};
        if (GetObjectA(c->bitmap, sizeof bm, &bm)) {
            c->width = static_cast<DWORD>(bm.bmWidth);
            c->height = static_cast<DWORD>(bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight);
            c->bits = bm.bmBitsPixel;
        }
    }
    return S_OK;
}

}  // namespace vantor
