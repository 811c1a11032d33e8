// Part: a published class whose members do nothing; the engine never creates one itself.
#include "module/object.h"

#include <vantor/vantor.h>

namespace vantor {

class CPart final : public CoClass<CPart, IPart> {
public:
    static constexpr const CLSID& kClsid = CLSID_Part;
    HRESULT Render() override { return S_OK; }
    HRESULT Move(FLOAT, FLOAT, FLOAT) override { return S_OK; }
    HRESULT Rotate(FLOAT, FLOAT, FLOAT) override { return S_OK; }
    HRESULT Scale(FLOAT) override { return S_OK; }
};

template <> HRESULT create_class<IPart>(IUnknown* o, REFIID r, void** p) { return CPart::create(o, r, p); }

}  // namespace vantor
