// texture/registry.h — the process-wide texture registry: named images and their surfaces.
//
//   TextureRegistry& r = texture_registry();
//   Container* c = r.create("wood.bmp", 0, 0);      // newest first; nothing loaded yet
//   ... c->bitmap = LoadImageA(...) or c->pixels = ...; c->width = ...; c->bits = ...
//   r.restore_all(device);                           // (re)makes every surface for the device
//   IDirectDrawSurface7* s = r.surface_of("WOOD.BMP");   // names compare case-insensitively
//   r.destroy_by_name("wood.bmp");
//
// restore() makes a container's surface for a device: the device's texture capabilities decide
// the size (powers of two, the maximum size, square-only) and the pixel format is the first the
// device offers that fits the image (Direct3D's EnumTextureFormats order); the image is copied
// in from its bitmap (through GDI) or its pixel data (through Lock). Names of any length are
// kept whole. The registry is used on the host's thread only and is not locked.
#pragma once

#include <vantor/com_ptr.h>

#include <vantor/backend/d3d.h>
#include <vantor/gdi.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vantor {

struct Container {
    Container* next = nullptr;  // the next (older) container
    std::string name;
    DWORD width = 0, height = 0;
    DWORD stage = 0;
    DWORD bits = 0;  // the image's bits per pixel
    DWORD flags = 0;
    bool has_alpha = false;
    ComPtr<IDirectDrawSurface7> surface;
    HBITMAP bitmap = 0;                // when the image came from a bitmap
    std::vector<uint32_t> pixels;      // when it came from pixel data: R<<24 | G<<16 | B<<8 | A
};

class TextureRegistry {
public:
    // A new, empty container at the head of the list.
    Container* create(const std::string& name, DWORD stage, DWORD flags);
    // Releases the surface, frees the image and unlinks the container.
    void destroy(Container* c);
    // The newest container whose name equals `name` ignoring letter case as the ANSI code page
    // (Windows-1252) does, Latin-1 letters included; nullptr if none.
    Container* find(const std::string& name) const;
    // The surface of find(name), nullptr when there is none.
    IDirectDrawSurface7* surface_of(const std::string& name) const;
    HRESULT destroy_by_name(const std::string& name);
    // Remakes the surface of find(name) for `device`; DDERR_NOTFOUND when there is no container.
    HRESULT restore(const std::string& name, IDirect3DDevice7* device);
    HRESULT restore(Container* c, IDirect3DDevice7* device);
    // A container under `name` with its image loaded from the host's bitmap resources or a
    // bitmap or Targa file (image_loading.cpp); S_OK at once when the name is already held.
    // E_INVALIDARG (no name), E_OUTOFMEMORY, E_FAIL (the image did not load; nothing is kept).
    HRESULT create_from_file(const std::string& name, DWORD stage, DWORD flags);
    // restore() for every container from the head (results ignored); S_OK.
    HRESULT restore_all(IDirect3DDevice7* device);
    // Releases every surface; containers and their images stay.
    void invalidate_all();

    // Whether `c` is still one of the registry's containers (a holder checks before using it).
    bool holds(const Container* c) const;

    Container* head() const { return head_; }
    size_t size() const;
    // Changes whenever a container is made or destroyed: what find() answered before still
    // holds while it stays the same.
    uint64_t generation() const { return generation_; }

private:
    Container* head_ = nullptr;
    uint64_t generation_ = 0;
};

TextureRegistry& texture_registry();

// find() for a holder that asks for the same name again and again (every frame): the name is
// compared with the containers' names again only after containers came or went. A holder
// whose name changes calls forget().
class NameLookup {
public:
    Container* find(const TextureRegistry& registry, const std::string& name) {
        if (generation_ != registry.generation()) {
            found_ = registry.find(name);
            generation_ = registry.generation();
        }
        return found_;
    }
    void forget() { generation_ = ~uint64_t{0}; }

private:
    Container* found_ = nullptr;
    uint64_t generation_ = ~uint64_t{0};
};

}  // namespace vantor
