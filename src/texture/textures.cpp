// Textures: the device's named collection of Texture objects, and TextureCaps, the device's
// texture limits and texture-memory figures read afresh on every call.
#include <vantor/text.h>
#include <vantor/vantor.h>

#include "collections/collection.h"
#include "module/strings.h"
#include "module/trace.h"
#include "texture/registry.h"

namespace vantor {

class CTextureCaps final : public CoClass<CTextureCaps, ITextureCaps> {
public:
    static constexpr const CLSID& kClsid = CLSID_TextureCaps;

    HRESULT put_Device(LONG v) override { return device_.put(v); }
    HRESULT get_MaxWidth(LONG* out) override {
        return read(out, [](const Figures& f) { return f.caps.dwMaxTextureWidth; });
    }
    HRESULT get_MaxHeight(LONG* out) override {
        return read(out, [](const Figures& f) { return f.caps.dwMaxTextureHeight; });
    }
    HRESULT get_MinWidth(LONG* out) override {
        return read(out, [](const Figures& f) { return f.caps.dwMinTextureWidth; });
    }
    HRESULT get_MinHeight(LONG* out) override {
        return read(out, [](const Figures& f) { return f.caps.dwMinTextureHeight; });
    }
    HRESULT get_MemoryAlloc(LONG* out) override {
        return read(out, [](const Figures& f) { return f.memory.dwTotalBytes; });
    }
    HRESULT get_MemoryUsed(LONG* out) override {
        return read(out, [](const Figures& f) { return f.memory.dwWorkingSetBytes; });
    }

private:
    struct Figures {
        D3DDEVINFO_TEXTUREMANAGER memory{};
        D3DDEVICEDESC7 caps{};
    };

    // Both blocks start zeroed, so a device that answers only part of them never reports garbage.
    Figures refresh() const {
        Figures f;
        IDirect3DDevice7* d = device_.require();
        check(d->GetInfo(D3DDEVINFOID_TEXTUREMANAGER, &f.memory, sizeof f.memory), nullptr,
              "Failed to Get Device Information.");
        const HRESULT hr = d->GetCaps(&f.caps);
        if (hr == DDERR_INVALIDPARAMS) throw failure(hr, kStringInvalidParameter);
        if (hr == DDERR_INVALIDOBJECT) throw failure(hr, kStringInvalidObject);
        check(hr, nullptr, "Failed to Get Device Capabilities.");
        return f;
    }

    template <class Field>
    HRESULT read(LONG* out, Field field) {
        Figures f;
        if (FAILED(guard([&] {
                f = refresh();
                return S_OK;
            })))
            return guard(
                []() -> HRESULT { throw failure(E_POINTER, "Failed to obtain Device Information."); });
        if (out) *out = static_cast<LONG>(field(f));
        return S_OK;
    }

    DeviceLink device_;
};

class CTextures final : public Collection<CTextures, ITextures, ITexture> {
public:
    static constexpr const CLSID& kClsid = CLSID_Textures;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        guard([&] {
            caps_ = create_child<ITextureCaps>(CLSID_TextureCaps, "TextureCaps Not Registered.");
            return S_OK;
        });
        return S_OK;
    }

    HRESULT put_DirectDraw(LONG) override { return S_OK; }

    HRESULT put_Device(LONG v) override {
        device_.put(v);
        if (caps_) caps_->put_Device(v);
        return S_OK;
    }

    HRESULT get_Caps(IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!caps_) return E_POINTER;
        return caps_.query(out);
    }

    // The texture is loaded before it is stored: a file that does not load stores nothing.
    HRESULT get_LoadFile(BSTR file, IDispatch** out) override {
        return add(
            out, CLSID_Texture, "Texture Not Registered.", key_of(file), [] {},
            [&](ITexture* t) {
                t->put_Device(device_.handle());
                trace("Loading Texture: %s\n", text::utf8(file).c_str());
                if (HRESULT hr = t->LoadBitmap(file); FAILED(hr)) {
                    trace("Texture Load Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                    throw failure(hr, "Failed to Load Texture.");
                }
            },
            [](ITexture*) {});
    }

    HRESULT get_Add(IDispatch** out) override {
        return add(
            out, CLSID_Texture, "Texture Not Registered.", u"Unnamed", [] {},
            [&](ITexture* t) { t->put_Device(device_.handle()); }, [](ITexture*) {});
    }

    HRESULT Free() override {
        store_.clear();
        if (IDirect3DDevice7* d = device_.get())
            for (DWORD stage = 0; stage < 7; ++stage) d->SetTexture(stage, nullptr);
        texture_registry().invalidate_all();
        device_.put(0);
        return S_OK;
    }

    HRESULT Save(LONG f) override { return save_all(f, "Textures"); }
    HRESULT Load(LONG f) override {
        return load_each(
            f, "Textures", 0,
            [&] {
                IDispatch* added = nullptr;
                HRESULT hr = get_Add(&added);
                return element_of(hr, added);
            },
            [](ITexture*) { return std::u16string(u"Unnamed"); });
    }

private:
    ComPtr<ITextureCaps> caps_;
};

template <>
HRESULT create_class<ITextureCaps>(IUnknown* o, REFIID r, void** p) {
    return CTextureCaps::create(o, r, p);
}
template <>
HRESULT create_class<ITextures>(IUnknown* o, REFIID r, void** p) {
    return CTextures::create(o, r, p);
}

}  // namespace vantor
