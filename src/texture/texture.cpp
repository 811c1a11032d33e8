// Texture: one image file in a container of the texture registry, made into a surface by the
// utility layer, with the texture-stage settings it is drawn with.
#include <vantor/backend/d3dx.h>
#include <vantor/backend/ddraw.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <bit>

#include "module/object.h"
#include "module/strings.h"
#include "module/trace.h"
#include "texture/registry.h"

namespace vantor {

class CTexture final : public CoClass<CTexture, ITexture> {
public:
    static constexpr const CLSID& kClsid = CLSID_Texture;

    ~CTexture() {
        Free();  // its container leaves the registry with it
        if (started_) backend::backend().D3DXUninitialize();
    }

    HRESULT put_Device(LONG v) override { return device_.put(v); }
    HRESULT put_DirectDraw(LONG) override { return S_OK; }

    HRESULT get_Name(BSTR* out) override { return get_text(text::utf16(name_), out); }
    HRESULT put_Name(BSTR v) override {
        if (!name_.empty()) release_image();
        return LoadBitmap(v);
    }

    HRESULT LoadBitmap(BSTR file) override {
        return guard([&] {
            name_.clear();
            lookup_.forget();
            // The name ends at a first zero character, as a narrow C string does: the name kept,
            // shown and looked up is the file that is opened.
            std::string name = SysStringLen(file) ? text::utf8z(file) : std::string();
            if (name.empty()) throw failure(E_FAIL, "Invalid Filename.");
            name_ = std::move(name);
            trace("Deleting Previous Container object.\n");
            release_container();
            trace("Creating Fresh Container object.\n");
            container_ = texture_registry().create(name_, 0, 0);
            if (!container_) {
                trace("Failed to Allocate Memory for Texture Container Object.\n");
                throw failure(E_OUTOFMEMORY, kStringOutOfMemory);
            }
            trace("Initialising Direct3DX.\n");
            if (HRESULT hr = start_utility_layer(); FAILED(hr)) {
                trace("D3DXInitialize Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                if (hr == D3DXERR_NOMEMORY) throw failure(hr, kStringOutOfMemory);
                if (hr == D3DXERR_STARTUPFAILED) throw failure(hr, "D3DX Startup Failed.");
                throw failure(hr, kStringUnknownError);
            }
            trace("Creating Texture from File --> '%s' --> ", name_.c_str());
            IDirect3DDevice7* d = device_.get();
            DWORD flags = 0, width = D3DX_DEFAULT, height = D3DX_DEFAULT;
            D3DX_SURFACEFORMAT format = D3DX_SF_UNKNOWN;
            const HRESULT hr = backend::backend().D3DXCreateTextureFromFile(
                d, &flags, &width, &height, &format, nullptr, container_->surface.put(), nullptr,
                const_cast<char*>(name_.c_str()), D3DX_FT_DEFAULT);
            if (FAILED(hr)) {
                trace("Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                throw backend_failure(hr, Site::TextureLoadBitmap);
            }
            trace("Succeeded.\n");
            if (d) d->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, TRUE);
            return S_OK;
        });
    }

    HRESULT Apply() override {
        return guard([&] {
            if (name_.empty()) throw failure(E_POINTER, kStringNoFilename);
            IDirect3DDevice7* d = device_.require();
            IDirectDrawSurface7* surface = own_surface();
            if (!surface) return S_OK;  // the last load failed: nothing to draw with
            const DWORD s = static_cast<DWORD>(stage_);
            stage(d, s, D3DTSS_MAGFILTER, mag_, "MagFilter Failed. (Error Code=%x).\n",
                  "Failed to Apply MagFilter to Texture.");
            stage(d, s, D3DTSS_MINFILTER, min_, "MinFilter Failed. (Error Code=%x).\n",
                  "Failed to Apply MinFilter to Texture.");
            stage(d, s, D3DTSS_ADDRESS, wrap_, "Wrapping Failed. (Error Code=%x).\n",
                  "Failed to Apply Wrapping to Texture.");
            // The blending fields are kept for scripts but not sent: their defaults would blend
            // every textured object with what lies behind it.
            stage(d, s, D3DTSS_COLOROP, colour_op_, "ColourOp Failed. (Error Code=%x).\n",
                  "Failed to Apply Colour Operation to Texture.");
            stage(d, s, D3DTSS_COLORARG1, colour_arg1_, "D3DTSS_COLORARG1 Failed. (Error Code=%x).\n",
                  "Failed to Apply ColorArg1 to Texture.");
            stage(d, s, D3DTSS_COLORARG2, colour_arg2_, "D3DTSS_COLORARG2 Failed. (Error Code=%x).\n",
                  "Failed to Apply ColorArg2 to Texture.");
            stage(d, s, D3DTSS_ALPHAARG1, alpha_arg1_, "D3DTSS_ALPHAARG1 Failed. (Error Code=%x).\n",
                  "Failed to Apply AlphaArg1 to Texture.");
            stage(d, s, D3DTSS_ALPHAARG2, alpha_arg2_, "D3DTSS_ALPHAARG2 Failed. (Error Code=%x).\n",
                  "Failed to Apply AlphaArg2 to Texture.");
            stage(d, s, D3DTSS_ALPHAOP, alpha_op_, "D3DTSS_ALPHAOP Failed. (Error Code=%x).\n",
                  "Failed to Apply Alpha Operation to Texture.");
            stage(d, s, D3DTSS_TEXCOORDINDEX, coords_, "CoordIndex Failed. (Error Code=%x).\n",
                  "Failed to Apply Coordinate Index to Texture.");
            d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
            d->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
            d->SetRenderState(D3DRENDERSTATE_WRAP0, D3DWRAP_U | D3DWRAP_V);
            if (HRESULT hr = d->SetTexture(s, surface); FAILED(hr)) {
                trace("Unable to Set Texture. (Error Code=%x)\n", static_cast<unsigned>(hr));
                if (hr == DDERR_INVALIDPARAMS) throw failure(hr, kStringInvalidParameter);
                if (hr == DDERR_INVALIDOBJECT) throw failure(hr, kStringInvalidObject);
                throw failure(hr, kStringUnknownError);
            }
            return S_OK;
        });
    }

    HRESULT get_width(LONG* out) override { return size_of(out, true); }
    HRESULT get_Height(LONG* out) override { return size_of(out, false); }

    HRESULT get_Handle(LONG* out) override {
        if (!out) return E_POINTER;
        // Sprites ask for it every frame: the name is looked up again only after containers
        // came or went.
        const Container* c = name_.empty() ? nullptr : lookup_.find(texture_registry(), name_);
        *out = static_cast<LONG>(backend::to_handle(c ? c->surface.get() : nullptr));
        return S_OK;
    }

    HRESULT Free() override {
        trace("Releasing Texture Memory.\n");
        release_image();
        device_.put(0);
        return S_OK;
    }

    HRESULT get_Wrap(TextureWraps* v) override { return get(wrap_, v); }
    HRESULT put_Wrap(TextureWraps v) override { return set(wrap_, v); }
    HRESULT get_MagFilter(TextureMags* v) override { return get(mag_, v); }
    HRESULT put_MagFilter(TextureMags v) override { return set(mag_, v); }
    HRESULT get_MinFilter(TextureMags* v) override { return get(min_, v); }
    HRESULT put_MinFilter(TextureMags v) override { return set(min_, v); }
    HRESULT get_Coords(TextureCoordIndexes* v) override { return get(coords_, v); }
    HRESULT put_Coords(TextureCoordIndexes v) override { return set(coords_, v); }
    HRESULT get_SourceBlending(TextureBlendTypes* v) override { return get(source_blend_, v); }
    HRESULT put_SourceBlending(TextureBlendTypes v) override { return set(source_blend_, v); }
    HRESULT get_DestBlending(TextureBlendTypes* v) override { return get(dest_blend_, v); }
    HRESULT put_DestBlending(TextureBlendTypes v) override { return set(dest_blend_, v); }
    HRESULT get_ColourOp(TextureColourOps* v) override { return get(colour_op_, v); }
    HRESULT put_ColourOp(TextureColourOps v) override { return set(colour_op_, v); }
    HRESULT get_AlphaOp(TextureColourOps* v) override { return get(alpha_op_, v); }
    HRESULT put_AlphaOp(TextureColourOps v) override { return set(alpha_op_, v); }
    HRESULT get_ColourArg1(TextureArgs* v) override { return get(colour_arg1_, v); }
    HRESULT put_ColourArg1(TextureArgs v) override { return set(colour_arg1_, v); }
    HRESULT get_ColourArg2(TextureArgs* v) override { return get(colour_arg2_, v); }
    HRESULT put_ColourArg2(TextureArgs v) override { return set(colour_arg2_, v); }
    HRESULT get_AlphaArg1(TextureArgs* v) override { return get(alpha_arg1_, v); }
    HRESULT put_AlphaArg1(TextureArgs v) override { return set(alpha_arg1_, v); }
    HRESULT get_AlphaArg2(TextureArgs* v) override { return get(alpha_arg2_, v); }
    HRESULT put_AlphaArg2(TextureArgs v) override { return set(alpha_arg2_, v); }
    HRESULT get_Stage(LONG* v) override { return get(stage_, v); }
    HRESULT put_Stage(LONG v) override { return set(stage_, v); }

    // The bump-map values go to the device at once; the texture remembers the value last put so
    // that reading one answers it without touching the device.
    HRESULT get_BumpMapOffsetLuminance(FLOAT* v) override { return get(bump_[kOffset], v); }
    HRESULT put_BumpMapOffsetLuminance(FLOAT v) override { return bump(kOffset, D3DTSS_BUMPENVLOFFSET, v); }
    HRESULT get_BumpMapScaleLuminance(FLOAT* v) override { return get(bump_[kScale], v); }
    HRESULT put_BumpMapScaleLuminance(FLOAT v) override { return bump(kScale, D3DTSS_BUMPENVLSCALE, v); }
    HRESULT get_BumpEnvMat00(FLOAT* v) override { return get(bump_[k00], v); }
    HRESULT put_BumpEnvMat00(FLOAT v) override { return bump(k00, D3DTSS_BUMPENVMAT00, v); }
    HRESULT get_BumpEnvMat01(FLOAT* v) override { return get(bump_[k01], v); }
    HRESULT put_BumpEnvMat01(FLOAT v) override { return bump(k01, D3DTSS_BUMPENVMAT01, v); }
    HRESULT get_BumpEnvMat10(FLOAT* v) override { return get(bump_[k10], v); }
    HRESULT put_BumpEnvMat10(FLOAT v) override { return bump(k10, D3DTSS_BUMPENVMAT10, v); }
    HRESULT get_BumpEnvMat11(FLOAT* v) override { return get(bump_[k11], v); }
    HRESULT put_BumpEnvMat11(FLOAT v) override { return bump(k11, D3DTSS_BUMPENVMAT11, v); }

    // A texture's record is empty: neither its file name nor its settings are kept in a world.
    HRESULT Load(LONG) override { return S_OK; }
    HRESULT Save(LONG) override { return S_OK; }

private:
    enum Bump { kOffset, kScale, k00, k01, k10, k11, kBumps };

    static void stage(IDirect3DDevice7* d, DWORD s, D3DTEXTURESTAGESTATETYPE state, LONG value,
                      const char* trace_format, const char* text) {
        check(d->SetTextureStageState(s, state, static_cast<DWORD>(value)), trace_format, text);
    }

    HRESULT bump(Bump which, D3DTEXTURESTAGESTATETYPE state, FLOAT v) {
        return guard([&] {
            IDirect3DDevice7* d = device_.require();
            d->SetTextureStageState(static_cast<DWORD>(stage_), state,
                                    std::bit_cast<DWORD>(v));  // result ignored
            bump_[which] = v;
            return S_OK;
        });
    }

    HRESULT size_of(LONG* out, bool width) {
        return guard([&] {
            IDirectDrawSurface7* s = name_.empty() ? nullptr : texture_registry().surface_of(name_);
            if (!s)
                throw failure(E_FAIL,
                              width ? "Failed to Obtain Surface for Texture." : "Failed to Obtain Surface.");
            DDSURFACEDESC2 desc{};
            desc.dwSize = sizeof desc;
            check(s->GetSurfaceDesc(&desc), "GetSurfaceDesc Failed. (Error Code=%x)\n",
                  "Failed to obtain Surface Details.");
            if (out) *out = static_cast<LONG>(width ? desc.dwWidth : desc.dwHeight);
            return S_OK;
        });
    }

    // The utility layer, started once for the texture's lifetime.
    HRESULT start_utility_layer() {
        if (started_) return S_OK;
        const HRESULT hr = backend::backend().D3DXInitialize();
        started_ = SUCCEEDED(hr);
        return hr;
    }

    // The surface of the texture's own container, when that container is still in the registry.
    IDirectDrawSurface7* own_surface() const {
        return container_ && texture_registry().holds(container_) ? container_->surface.get() : nullptr;
    }
    void release_container() {
        if (container_ && texture_registry().holds(container_)) texture_registry().destroy(container_);
        container_ = nullptr;
    }
    void release_image() {
        release_container();
        name_.clear();
        lookup_.forget();
    }

    std::string name_;
    NameLookup lookup_;  // the container name_ finds (not always container_: names may repeat)
    Container* container_ = nullptr;
    DeviceLink device_;
    TextureCoordIndexes coords_ = tci_CameraSpaceRefVector;
    TextureMags mag_ = tm_Point, min_ = tm_Point;
    TextureWraps wrap_ = tw_Wrap;
    TextureColourOps colour_op_ = tco_Modulate, alpha_op_ = tco_Modulate;
    TextureArgs colour_arg1_ = ta_Texture, colour_arg2_ = ta_Diffuse, alpha_arg1_ = ta_Texture,
                alpha_arg2_ = ta_Diffuse;
    TextureBlendTypes source_blend_ = tbt_SourceColour, dest_blend_ = tbt_DestColour;
    LONG stage_ = 0;
    bool started_ = false;
    FLOAT bump_[kBumps] = {};
};

template <>
HRESULT create_class<ITexture>(IUnknown* o, REFIID r, void** p) {
    return CTexture::create(o, r, p);
}

}  // namespace vantor
