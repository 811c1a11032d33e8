// Flare and Flares: published classes without members.
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

template <> HRESULT create_class<IFlare>(IUnknown* o, REFIID r, void** p) { return CFlare::create(o, r, p); }
template <> HRESULT create_class<IFlares>(IUnknown* o, REFIID r, void** p) { return CFlares::create(o, r, p); }

}  // namespace vantor
