// Published classes whose members do nothing: Flare and Flares (no members), and TextureFormat
// and TextureFormats, whose members answer S_OK and leave their out values as the caller gave them.
#include "module/classes.h"
#include "module/object.h"

#include <vantor/vantor.h>

namespace vantor {

class CFlare final : public CoClass<CFlare, IFlare> {
public:
    static constexpr const CLSID& kClsid = CLSID_Flare;
};

class CFlares final : public CoClass<CFlares, IFlares> {
public:
    static constexpr const CLSID& kClsid = CLSID_Flares;
};

class CTextureFormat final : public CoClass<CTextureFormat, ITextureFormat> {
public:
    static constexpr const CLSID& kClsid = CLSID_TextureFormat;
    HRESULT get_Count(LONG*) override { return S_OK; }
    HRESULT get_RGB(LONG*) override { return S_OK; }
    HRESULT get_Alpha(LONG*) override { return S_OK; }
    HRESULT get_Luminance(LONG*) override { return S_OK; }
};

class CTextureFormats final : public CoClass<CTextureFormats, ITextureFormats> {
public:
    static constexpr const CLSID& kClsid = CLSID_TextureFormats;
    HRESULT get__NewEnum(IUnknown**) override { return S_OK; }
    HRESULT Item(VARIANT, VARIANT*) override { return S_OK; }
    HRESULT get_Count(LONG*) override { return S_OK; }
    HRESULT put_Device(LONG) override { return S_OK; }
};

HRESULT create_flare(IUnknown* outer, REFIID riid, void** ppv) { return CFlare::create(outer, riid, ppv); }
HRESULT create_flares(IUnknown* outer, REFIID riid, void** ppv) { return CFlares::create(outer, riid, ppv); }
HRESULT create_texture_format(IUnknown* outer, REFIID riid, void** ppv) {
    return CTextureFormat::create(outer, riid, ppv);
}
HRESULT create_texture_formats(IUnknown* outer, REFIID riid, void** ppv) {
    return CTextureFormats::create(outer, riid, ppv);
}

}  // namespace vantor
