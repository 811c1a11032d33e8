// TextureFormat and TextureFormats: published classes whose members answer S_OK and leave their
// out values as the caller gave them.
#include "module/object.h"

#include <vantor/vantor.h>

namespace vantor {

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

template <> HRESULT create_class<ITextureFormat>(IUnknown* o, REFIID r, void** p) {
    return CTextureFormat::create(o, r, p);
}
template <> HRESULT create_class<ITextureFormats>(IUnknown* o, REFIID r, void** p) {
    return CTextureFormats::create(o, r, p);
}

}  // namespace vantor
