// Parts: the mesh file an Object loads and draws. Its own store of parts stays empty.
#include <vantor/backend/ddraw.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <cstring>
#include <memory>
#include <new>

#include "collections/collection.h"
#include "geometry/mesh_file.h"
#include "module/strings.h"
#include "texture/registry.h"

namespace vantor {

namespace {

ComPtr<IDirectDraw7> directdraw_of(IDirectDrawSurface7* surface) {
    ComPtr<IDirectDraw7> dd;
    void* p = nullptr;
    if (surface && SUCCEEDED(surface->GetDDInterface(&p))) dd = adopt(static_cast<IDirectDraw7*>(p));
    return dd;
}

// Remakes the surfaces that need it for `device`: containers without one, with a lost one, or
// with one made for another device. Surfaces that are fine are kept, and with them the images
// of containers that keep no image of their own.
void restore_needed(IDirect3DDevice7* device) {
    if (!device) return;
    ComPtr<IDirectDrawSurface7> target;
    if (FAILED(device->GetRenderTarget(target.put()))) return;
    ComPtr<IDirectDraw7> dd = directdraw_of(target.get());
    TextureRegistry& r = texture_registry();
    for (Container* c = r.head(); c; c = c->next) {
        IDirectDrawSurface7* s = c->surface.get();
        if (s && s->IsLost() == DD_OK && directdraw_of(s).get() == dd.get()) continue;
        r.restore(c, device);
    }
}

bool ends_in_x(const std::string& name) {
    return name.size() >= 2 && name[name.size() - 2] == '.' && (name.back() == 'x' || name.back() == 'X');
}

}  // namespace

class CParts final : public Collection<CParts, IParts, IPart> {
public:
    static constexpr const CLSID& kClsid = CLSID_Parts;

    HRESULT get__NewEnum(IUnknown** out) override { return Collection::get__NewEnum(out); }
    HRESULT Item(VARIANT index, VARIANT* item) override { return Collection::Item(index, item); }
    HRESULT get_Count(LONG* count) override { return Collection::get_Count(count); }
    HRESULT put_Device(LONG v) override { return Collection::put_Device(v); }
    HRESULT put_Direct3D(LONG v) override { return Collection::put_Direct3D(v); }

    HRESULT Load(BSTR Filename) override {
        return guard([&] {
            mesh_.reset();
            filename_ = u16(Filename);
            // Opened as given, up to a first zero character: the name tested for ".x" is the
            // name opened, never a longer one hiding another file behind a zero.
            std::string name = text::utf8(Filename);
            name.resize(std::strlen(name.c_str()));
            if (ends_in_x(name)) {
                mesh_.reset(new (std::nothrow) mesh::MeshFile);
                if (!mesh_) throw failure(E_OUTOFMEMORY, kStringOutOfMemory);
                trace("Loading X-File --> '%s'\n", name.c_str());
                HRESULT hr = mesh_->load(name);
                if (FAILED(hr)) {
                    mesh_.reset();
                    throw failure(hr, "Failed to Load the requested X File.");
                }
            }
            trace("Restoring Textures.\n");
            restore_needed(device_.get());
            return S_OK;
        });
    }

    HRESULT Render() override {
        IDirect3DDevice7* d = device_.get();
        if (!d) return E_FAIL;
        if (!mesh_) return S_OK;
        trace("Restoring Textures.\n");
        restore_needed(d);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
        d->SetRenderState(D3DRENDERSTATE_DITHERENABLE, 1);
        d->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, 0);
        d->SetRenderState(D3DRENDERSTATE_ZENABLE, 1);
        d->SetRenderState(D3DRENDERSTATE_NORMALIZENORMALS, 1);
        trace("Rendering X-File.\n");
        HRESULT hr = mesh_->render(d);
        if (FAILED(hr)) trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
        return hr;
    }

    // For the engine's own checks: the loaded tree, or null.
    const mesh::MeshFile* mesh() const { return mesh_.get(); }

private:
    std::u16string filename_;
    std::unique_ptr<mesh::MeshFile> mesh_;
};

template <> HRESULT create_class<IParts>(IUnknown* o, REFIID r, void** p) { return CParts::create(o, r, p); }

}  // namespace vantor
