// module/results.h — back-end results and the message each reporting site gives them.
//
//   HRESULT hr = context->UpdateFrame(D3DX_UPDATE_NOVSYNC);
//   if (FAILED(hr)) throw backend_failure(hr, Site::Device3DUpdate);
//
// Each site recognises only the results listed for it; any other failed result there reads
// "Unknown Error." (string 104). The HRESULT returned is always the back end's own.
#pragma once

#include "module/failure.h"

namespace vantor {

enum class Site : uint32_t {
    Device3DInitialise = 1u << 0,
    Device3DDebug = 1u << 1,
    Device3DUpdate = 1u << 2,
    TextureLoadBitmap = 1u << 3,
    SimpleObjectType = 1u << 4,
    SimpleObjectRender = 1u << 5,
    LightUpdate = 1u << 6,
    LightsMax = 1u << 7,
    PointsRender = 1u << 8,
    SpriteRender = 1u << 9,
    TextureApply = 1u << 10,
    TextureCaps = 1u << 11,
    LightEnabled = 1u << 12,
};

// The string id a site gives `hr` (104 when the site does not recognise it).
unsigned message_for(HRESULT hr, Site site);

// failure(hr, message_for(hr, site))
failure backend_failure(HRESULT hr, Site site);

// The published name of a back-end result ("DDERR_SURFACELOST"), or nullptr.
const char* result_name(HRESULT hr);

}  // namespace vantor
