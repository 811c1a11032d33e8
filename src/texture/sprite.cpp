// Sprite: one texture drawn flat at a screen point with a transparency, a scale and a rotation;
// Sprites: the device's named collection, drawn in one pass after the shapes.
#include <vantor/vantor.h>

#include <cmath>

#include "collections/collection.h"
#include "module/kit.h"
#include "module/object.h"
#include "module/strings.h"
#include "module/trace.h"

namespace vantor {

namespace {

bool is_transparency(FLOAT v) { return v >= 0.0f && v <= 1.0f; }  // false for NaN

}  // namespace

class CSprite final : public CoClass<CSprite, ISprite> {
public:
    static constexpr const CLSID& kClsid = CLSID_Sprite;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        guard([&] {
            ComPtr<IPosition>* children[] = {&position_, &top_left_, &top_right_, &bottom_left_, &bottom_right_};
            for (ComPtr<IPosition>* c : children) {
                *c = adopt(CreateRegisteredObject<IPosition>(CLSID_Position));
                if (!*c) throw failure(E_POINTER, "Failed to initialise Position.");
            }
            return S_OK;
        });
        return S_OK;  // the sprite exists even without its positions
    }
    ~CSprite() { Free(); }

    HRESULT get_Transparent(FLOAT* v) override { return get(transparent_, v); }
    HRESULT put_Transparent(FLOAT v) override {
        return guard([&] {
            if (!is_transparency(v)) throw failure(E_FAIL, "Transparency Setting must be between 0.0 amd 1.0.");
            transparent_ = v;
            return S_OK;
        });
    }
    HRESULT put_Device(LONG v) override { return device_.put(v); }
    HRESULT get_ScaleFactor(FLOAT* v) override { return get(scale_, v); }
    HRESULT put_ScaleFactor(FLOAT v) override { return set(scale_, v); }
    HRESULT get_Rotation(FLOAT* v) override { return get(rotation_, v); }
    HRESULT put_Rotation(FLOAT v) override { return set(rotation_, v); }

    HRESULT Render() override {
        return guard([&] {
            if (!enabled_) return S_OK;
            IDirect3DDevice7* d = device_.get();
            if (!d) {
                direct("VTR: (ERROR) Device Not Initialised.\n");
                throw failure(E_POINTER, "Device Not Initialised.");
            }
            if (!position_) throw failure(E_POINTER, "Position Not Initialised.");
            const D3DVECTOR p = read_position(position_.get());
            const D3DXVECTOR3 at{p.x, p.y, p.z};
            // The surface through the texture's handle: a texture freed or never loaded gives none.
            LONG handle = 0;
            if (texture_) texture_->get_Handle(&handle);
            IDirectDrawSurface7* surface = backend::from_handle<IDirectDrawSurface7>(static_cast<uint32_t>(handle));
            HRESULT hr = backend::backend().D3DXDrawSpriteSimple(surface, d, &at, transparent_, scale_, rotation_,
                                                                  nullptr, nullptr);
            if (FAILED(hr)) {
                trace("D3DXDrawSpriteSimple Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                switch (static_cast<uint32_t>(hr)) {
                    case static_cast<uint32_t>(DDERR_INVALIDPARAMS):
                        direct("VTR: (ERROR) D3DXDrawSprite3D Failed (Invalid Parameters).\n");
                        throw failure(hr, kStringInvalidParameter);
                    case static_cast<uint32_t>(DDERR_INVALIDOBJECT):
                        direct("VTR: (ERROR) D3DXDrawSprite3D Failed (Invalid Object).\n");
                        throw failure(hr, kStringInvalidObject);
                    case static_cast<uint32_t>(D3DXERR_NULLPOINTER):
                        direct("VTR: (ERROR) D3DXDrawSprite3D Failed (Null Pointer).\n");
                        throw failure(hr, 112u);
                    default:
                        direct("VTR: (ERROR) D3DXDrawSprite3D Failed (Unknown Error).\n");
                        throw failure(hr, kStringUnknownError);
                }
            }
            return S_OK;
        });
    }

    HRESULT get_Name(BSTR* v) override { return get_text(name_, v); }
    HRESULT put_Name(BSTR v) override {
        direct("VTR: Setting Sprite Name --> \n");
        return put_text(name_, v);
    }
    HRESULT get_Enabled(VARIANT_BOOL* v) override {
        if (!v) return E_POINTER;
        *v = enabled_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT put_Enabled(VARIANT_BOOL v) override {
        enabled_ = v != 0;
        direct(enabled_ ? "VTR: Sprite --> Enabled.\n" : "VTR: Sprite --> Disabled.\n");
        return S_OK;
    }

    HRESULT get_Position(IDispatch** out) override { return corner(position_, out); }
    HRESULT get_TopLeft(IDispatch** out) override { return corner(top_left_, out); }
    HRESULT get_TopRight(IDispatch** out) override { return corner(top_right_, out); }
    HRESULT get_BottomLeft(IDispatch** out) override { return corner(bottom_left_, out); }
    HRESULT get_BottomRight(IDispatch** out) override { return corner(bottom_right_, out); }

    HRESULT get_Texture(IDispatch** out) override { return child(texture_, out, ChildRule::refuse("Texture Has Not Been Assigned.")); }
    // Only a texture is kept: anything else leaves the current one in place.
    HRESULT put_Texture(IDispatch* v) override {
        return guard([&] {
            ComPtr<ITexture> t;
            if (v && (FAILED(v->QueryInterface(IID_ITexture, reinterpret_cast<void**>(t.put()))) || !t))
                throw failure(E_INVALIDARG, kStringInvalidParameter);
            direct("VTR: Setting Sprite Texture --> \n");
            texture_ = std::move(t);
            return S_OK;
        });
    }

    HRESULT Free() override {
        direct("VTR: Freeing Sprite Resources.\n");
        texture_.reset();
        device_.put(0);
        position_.reset();
        top_left_.reset();
        top_right_.reset();
        bottom_left_.reset();
        bottom_right_.reset();
        return S_OK;
    }

private:
    HRESULT corner(const ComPtr<IPosition>& p, IDispatch** out) {
        return child(p, out, ChildRule::refuse("Position Not Initialised."));
    }

    ComPtr<IPosition> position_, top_left_, top_right_, bottom_left_, bottom_right_;
    ComPtr<ITexture> texture_;
    std::u16string name_;
    FLOAT rotation_ = 0.0f, scale_ = 1.0f, transparent_ = 1.0f;
    DeviceLink device_;
    bool enabled_ = true;
};

class CSprites final : public Collection<CSprites, ISprites, ISprite> {
public:
    static constexpr const CLSID& kClsid = CLSID_Sprites;

    HRESULT FinalConstruct() {
        // Balanced in the destructor, so the layer stops when its last user goes.
        started_ = SUCCEEDED(backend::backend().D3DXInitialize());
        return S_OK;
    }
    ~CSprites() {
        store_.clear();
        if (started_) backend::backend().D3DXUninitialize();
    }

    HRESULT get__NewEnum(IUnknown** out) override { return Collection::get__NewEnum(out); }
    HRESULT Item(VARIANT index, VARIANT* out) override { return Collection::Item(index, out); }
    HRESULT get_Count(LONG* out) override { return Collection::get_Count(out); }
    HRESULT Remove(VARIANT index) override { return Collection::Remove(index); }
    HRESULT put_Device(LONG v) override { return Collection::put_Device(v); }

    HRESULT Render() override {
        return guard([&] {
            IDirect3DDevice7* d = device_.require();  // an address that names no device is none
            if (store_.count() > 0) backend::backend().D3DXPrepareDeviceForSprite(d, FALSE);
            for (auto& [name, sprite] : store_)
                if (HRESULT hr = sprite->Render(); FAILED(hr)) throw failure(hr, "Sprite Failed to Render.");
            return S_OK;
        });
    }

    HRESULT get_Add(BSTR name, FLOAT transparent, FLOAT rotation, FLOAT scale, IDispatch** out) override {
        return add(
            out, CLSID_Sprite, "Sprite Not Registered.", key_of(name),
            [&] {
                if (!is_transparency(transparent))
                    throw failure(E_FAIL, "Transparency Setting Must be between 0.0 and 1.0.");
            },
            [&](ISprite* s) {
                s->put_Device(device_.handle());
                s->put_Transparent(transparent);
                s->put_Rotation(rotation);
                s->put_Name(name);
                s->put_ScaleFactor(scale);
            },
            [](ISprite*) {});
    }

private:
    bool started_ = false;
};

template <> HRESULT create_class<ISprite>(IUnknown* o, REFIID r, void** p) { return CSprite::create(o, r, p); }
template <> HRESULT create_class<ISprites>(IUnknown* o, REFIID r, void** p) { return CSprites::create(o, r, p); }

}  // namespace vantor
