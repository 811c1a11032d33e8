// The back-end result table: for each result, its published name, its message (string id) and
// the reporting sites that recognise it.
#include "module/results.h"

namespace vantor {

namespace {

constexpr uint32_t I = static_cast<uint32_t>(Site::Device3DInitialise);
constexpr uint32_t D = static_cast<uint32_t>(Site::Device3DDebug);
constexpr uint32_t U = static_cast<uint32_t>(Site::Device3DUpdate);
constexpr uint32_t L = static_cast<uint32_t>(Site::TextureLoadBitmap);
constexpr uint32_t T = static_cast<uint32_t>(Site::SimpleObjectType);
constexpr uint32_t R = static_cast<uint32_t>(Site::SimpleObjectRender);
constexpr uint32_t LU = static_cast<uint32_t>(Site::LightUpdate);
constexpr uint32_t M = static_cast<uint32_t>(Site::LightsMax);
constexpr uint32_t P = static_cast<uint32_t>(Site::PointsRender);
constexpr uint32_t S = static_cast<uint32_t>(Site::SpriteRender);
constexpr uint32_t A = static_cast<uint32_t>(Site::TextureApply);
constexpr uint32_t C = static_cast<uint32_t>(Site::TextureCaps);
constexpr uint32_t E = static_cast<uint32_t>(Site::LightEnabled);
constexpr uint32_t ALL = 0xFFFFFFFFu;

struct Row {
    uint32_t hr;
    const char* name;
    unsigned id;
    uint32_t sites;
};

const Row kRows[] = {
    {0x80004001, "DDERR_UNSUPPORTED", 105, I | D | U | L},
    {0x80004005, "DDERR_GENERIC", 109, I | D | U | L},
    {0x80040110, "CLASS_E_NOAGGREGATION", 133, T | R},
    {0x8007000E, "DDERR_OUTOFMEMORY", 101, I | U | LU | T | R | L},
    {0x80070057, "DDERR_INVALIDPARAMS", 102, ALL},
    {0x8876000A, "DDERR_CANNOTATTACHSURFACE", 165, I},
    {0x8876005F, "DDERR_INCOMPATIBLEPRIMARY", 114, I | U | L},
    {0x88760064, "DDERR_INVALIDCAPS", 145, I | L},
    {0x8876006E, "DDERR_INVALIDCLIPLIST", 113, U},
    {0x88760082, "DDERR_INVALIDOBJECT", 103, I | D | U | M | T | R | S | A | L | C},
    {0x88760091, "DDERR_INVALIDPIXELFORMAT", 144, I | L},
    {0x88760096, "DDERR_INVALIDRECT", 116, U | L},
    {0x887600B4, "DDERR_NOALPHAHW", 117, I | U | L},
    {0x887600CD, "DDERR_NOCLIPLIST", 119, U},
    {0x887600D4, "DDERR_NOCOOPERATIVELEVELSET", 146, I | L},
    {0x887600E1, "DDERR_NOEXCLUSIVEMODE", 121, I | U | L},
    {0x887600E6, "DDERR_NOFLIPHW", 122, I | U | L},
    {0x887600FA, "DDERR_NOMIRRORHW", 124, U},
    {0x887600FF, "DDERR_NOTFOUND", 151, L},
    {0x88760104, "DDERR_NOOVERLAYHW", 150, I | L},
    {0x88760118, "DDERR_NORASTEROPHW", 120, U},
    {0x88760122, "DDERR_NOROTATIONHW", 126, U},
    {0x88760136, "DDERR_NOSTRETCHHW", 127, U},
    {0x88760140, "DDERR_NOT8BITCOLOR", 163, I},
    {0x88760154, "DDERR_NOZBUFFERHW", 128, I | U | L},
    {0x8876017C, "DDERR_OUTOFVIDEOMEMORY", 153, I | P | L},
    {0x8876019A, "DDERR_SURFACEALREADYATTACHED", 164, I},
    {0x887601AE, "DDERR_SURFACEBUSY", 129, U | L},
    {0x887601C2, "DDERR_SURFACELOST", 107, I | D | U | L},
    {0x8876021C, "DDERR_WASSTILLDRAWING", 106, I | D | U | P | T | R | L},
    {0x88760233, "DDERR_NODIRECTDRAWHW", 147, I | L},
    {0x88760234, "DDERR_PRIMARYSURFACEALREADYEXISTS", 154, L},
    {0x88760235, "DDERR_NOEMULATION", 148, I | L},
    {0x88760238, "DDERR_NOCLIPPERATTACHED", 160, I},
    {0x8876023C, "DDERR_NOPALETTEATTACHED", 161, I},
    {0x8876023D, "DDERR_NOPALETTEHW", 162, I},
    {0x8876023F, "DDERR_NOBLTHW", 118, U},
    {0x88760240, "DDERR_NODDROPSHW", 120, U},
    {0x88760246, "DDERR_NOTFLIPPABLE", 123, U},
    {0x88760248, "DDERR_NOTLOCKED", 152, L},
    {0x8876024B, "DDERR_WRONGMODE", 130, U},
    {0x8876024C, "DDERR_IMPLICITLYCREATED", 115, U},
    {0x8876024E, "DDERR_UNSUPPORTEDMODE", 105, I | L},
    {0x8876024F, "DDERR_NOMIPMAPHW", 149, I | L},
    {0x88760250, "DDERR_INVALIDSURFACETYPE", 108, I | D | U | L},
    {0x8876026C, "DDERR_DCALREADYCREATED", 110, D | U | L},
    {0x887602D0, "D3DERR_TEXTURE_NO_SUPPORT", 140, L},
    {0x887602E0, "D3DERR_INVALIDPRIMITIVETYPE", 136, P | T | R},
    {0x887602E1, "D3DERR_INVALIDVERTEXTYPE", 135, P | T | R},
    {0x887602E3, "D3DERR_INVALIDRAMPTEXTURE", 137, P | T | R},
    {0x887602EE, "D3DERR_LIGHT_SET_FAILED", 138, E},
    {0x887602F0, "D3DERR_LIGHTNOTINTHISVIEWPORT", 139, E},
    {0x88760352, "DXFILEERR_BADOBJECT", 400, 0},
    {0x88760353, "DXFILEERR_BADVALUE", 401, 0},
    {0x88760354, "DXFILEERR_BADTYPE", 402, 0},
    {0x88760357, "DXFILEERR_NOTFOUND", 403, 0},
    {0x88760358, "DXFILEERR_NOTDONEYET", 404, 0},
    {0x88760359, "DXFILEERR_FILENOTFOUND", 405, 0},
    {0x8876035D, "DXFILEERR_BADFILETYPE", 406, 0},
    {0x8876035E, "DXFILEERR_BADFILEVERSION", 407, 0},
    {0x8876035F, "DXFILEERR_BADFILEFLOATSIZE", 408, 0},
    {0x88760360, "DXFILEERR_BADFILECOMPRESSIONTYPE", 409, 0},
    {0x88760361, "DXFILEERR_BADFILE", 410, 0},
    {0x88760362, "DXFILEERR_PARSEERROR", 411, 0},
    {0x88760363, "DXFILEERR_NOTEMPLATE", 412, 0},
    {0x88760364, "DXFILEERR_BADARRAYSIZE", 413, 0},
    {0x88760365, "DXFILEERR_BADDATAREFERENCE", 414, 0},
    {0x88760367, "DXFILEERR_NOMOREOBJECTS", 415, 0},
    {0x88760800, "D3DERR_INVALIDVERTEXFORMAT", 132, T | R},
    {0x8876080D, "D3DERR_VBUF_CREATE_FAILED", 131, T | R},
    {0x8876080E, "D3DERR_VERTEXBUFFERLOCKED", 134, T | R},
    {0xC8770BB8, "D3DXERR_NOMEMORY", 101, I | T | R | L},
    {0xC8770BB9, "D3DXERR_NULLPOINTER", 112, I | D | T | R | S | L},
    {0xC8770BBF, "D3DXERR_NOZBUFFERAVAILABLE", 159, I},
    {0xC8770BC2, "D3DXERR_NOZBUFFER", 159, I},
    {0xC8770BC4, "D3DXERR_INVALIDPARAMETER", 102, I | T | R | L},
    {0xC8770BC5, "D3DXERR_INITFAILED", 158, I},
    {0xC8770BC7, "D3DXERR_D3DXNOTSTARTEDYET", 141, I | L},
    {0xC8770BC9, "D3DXERR_FAILEDDRAWTEXT", 111, D},
    {0xC8770BCC, "D3DXERR_UNSUPPORTEDFILEFORMAT", 142, L},
    {0xC8770BDA, "D3DXERR_INVALIDFILEFORMAT", 142, L},
    {0xC8770BDB, "D3DXERR_NOMATCHFOUND", 143, L},
};

const Row* find(HRESULT hr) {
    for (const Row& r : kRows)
        if (r.hr == static_cast<uint32_t>(hr)) return &r;
    return nullptr;
}

}  // namespace

unsigned message_for(HRESULT hr, Site site) {
    const Row* r = find(hr);
    return (r && (r->sites & static_cast<uint32_t>(site))) ? r->id : 104;
}

failure backend_failure(HRESULT hr, Site site) { return failure(hr, message_for(hr, site)); }

const char* result_name(HRESULT hr) {
    const Row* r = find(hr);
    return r ? r->name : nullptr;
}

}  // namespace vantor
