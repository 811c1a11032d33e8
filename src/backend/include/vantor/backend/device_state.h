// vantor/backend/device_state.h — Direct3D 7's device rules, kept once for every back end:
// which render and texture stage states exist and where they start, the legacy render states
// that set stage 0, the transform slots, and the light table with its rules.
//
//   if (!render_state_valid(state)) return DDERR_INVALIDPARAMS;
//   render_[state] = value;
//   for (const StageWrite& w : stage_aliases(state, value)) store_stage_state(0, w.state, w.value);
//
//   LightTable lights;                      // a device's lights
//   HRESULT hr = lights.set(index, light);  // D3D_OK or DDERR_INVALIDPARAMS (bad type, ...)
//   hr = lights.enable(9, TRUE);            // D3DERR_LIGHT_SET_FAILED past eight at once
//
// Choices where Direct3D 7 leaves room are listed beside each rule.
#pragma once

#include <vantor/backend/d3d.h>

#include <array>
#include <map>
#include <span>

namespace vantor::backend {

// ----- Render states --------------------------------------------------------------------------

// True for the ids the version 7 device stores: 2..60 but 42, the stipple patterns 64..95,
// 128..148, VERTEXBLEND and CLIPPLANEENABLE. TEXTUREHANDLE (1) and TEXTUREMAPBLEND (21)
// belong to the earlier interfaces and are refused, as everything else, with DDERR_INVALIDPARAMS.
bool render_state_valid(DWORD state);
// Direct3D 7's initial value of a valid render state (0 for the others). Where Direct3D 7
// gives none: ZENABLE is TRUE when a depth buffer was attached to the target at creation,
// TEXTUREFACTOR 0xFFFFFFFF, CLIPPING TRUE, AMBIENTMATERIALSOURCE D3DMCS_MATERIAL.
DWORD render_state_default(DWORD state, bool depth_attached);

// A stage state that a render state writes through to.
struct StageWrite {
    D3DTEXTURESTAGESTATETYPE state;
    DWORD value;
};
// The legacy render states that set stage 0 (TEXTUREADDRESS, TEXTUREADDRESSU/V, TEXTUREMAG,
// TEXTUREMIN, BORDERCOLOR, MIPMAPLODBIAS, ANISOTROPY) and the stage-0 states they write,
// in order; empty for every other state. TEXTUREMAG: D3DFILTER_NEAREST (1) is point
// sampling, every other filter linear. TEXTUREMIN: the six D3DFILTER_* values split into a
// minification and a mip filter; other values write nothing.
bool render_state_sets_stage(DWORD state);
std::span<const StageWrite> stage_aliases(DWORD state, DWORD value, StageWrite (&storage)[2]);

// ----- Texture stage states -------------------------------------------------------------------

constexpr DWORD kMaxTextureStages = 8;

// True for stages 0..7 and the ids COLOROP..TEXTURETRANSFORMFLAGS (1..24).
bool stage_state_valid(DWORD stage, DWORD state);
// Direct3D 7's initial value: COLOROP MODULATE and ALPHAOP SELECTARG1 on stage 0, DISABLE
// on the others; TEXCOORDINDEX the stage number; filters POINT/POINT/NONE; addressing WRAP;
// MAXANISOTROPY 1; the rest 0 (0.0f for the float states).
DWORD stage_state_default(DWORD stage, DWORD state);
// ADDRESS sets ADDRESSU and ADDRESSV too: the ids one write stores, `state` first.
std::span<const D3DTEXTURESTAGESTATETYPE> stage_state_targets(D3DTEXTURESTAGESTATETYPE state);
// The id a read answers from: ADDRESS reads back as ADDRESSU, every other id as itself.
D3DTEXTURESTAGESTATETYPE stage_state_source(D3DTEXTURESTAGESTATETYPE state);

// ----- Transforms -----------------------------------------------------------------------------

// WORLD, VIEW, PROJECTION, WORLD1..3 and TEXTURE0..7 as slots 0..13 of a table; -1 otherwise.
constexpr int kTransformSlots = 14;
int transform_slot(DWORD state);

// ----- Lights ---------------------------------------------------------------------------------

// At most this many lights shine at once (GetCaps' dwMaxActiveLights).
constexpr int kMaxActiveLights = 8;

// D3D_OK, or DDERR_INVALIDPARAMS for a null record, a type other than POINT, SPOT and
// DIRECTIONAL, or a negative (or NaN) attenuation on a point or spot light. Like Wine's
// Direct3D, nothing else is refused: a zero direction, a negative range or cones beyond pi
// are stored as given and shaded as light_for_shading() says.
HRESULT check_light(const D3DLIGHT7* light);
// The light LightEnable creates at an index never set: directional, white diffuse (alpha 0),
// along +z, everything else 0.
D3DLIGHT7 default_light();
// How a stored light shines. `shines` is false for a light that lights nothing: a spot or
// directional light with a zero (or non-finite) direction, a point or spot light whose range
// is negative or NaN, and any light with a non-finite colour or position. Otherwise the record
// is the stored one with its direction normalised (spot and directional) and its cone angles
// clamped to 0..pi (spot).
struct ShadingLight {
    bool shines = false;
    D3DLIGHT7 light{};
};
ShadingLight light_for_shading(const D3DLIGHT7& light);

// ----- Sprites --------------------------------------------------------------------------------

// What D3DXPrepareDeviceForSprite sets, in order: stage 0 takes its colour from the texture and
// its alpha from texture times diffuse, filtered linearly; then source-alpha blending and the
// depth test as asked.
struct RenderWrite {
    D3DRENDERSTATETYPE state;
    DWORD value;
};
constexpr StageWrite kSpriteStageStates[] = {
    {D3DTSS_COLORARG1, D3DTA_TEXTURE}, {D3DTSS_COLOROP, D3DTOP_SELECTARG1}, {D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
    {D3DTSS_ALPHAARG2, D3DTA_DIFFUSE}, {D3DTSS_ALPHAOP, D3DTOP_MODULATE},   {D3DTSS_MINFILTER, D3DTFN_LINEAR},
    {D3DTSS_MAGFILTER, D3DTFG_LINEAR}};
inline std::array<RenderWrite, 4> sprite_render_states(BOOL z_enable) {
    return {{{D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA},
             {D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA},
             {D3DRENDERSTATE_ALPHABLENDENABLE, TRUE},
             {D3DRENDERSTATE_ZENABLE, z_enable ? DWORD(TRUE) : DWORD(FALSE)}}};
}

// ----- Capabilities ---------------------------------------------------------------------------

// What a fixed-function device of `type` (RGB, HAL or T&L HAL) answers to GetCaps: every
// comparison, blend, stencil and texture operation, 8 stages, kMaxActiveLights lights, render
// targets of 16 and 32 bits, depth buffers of 16, 24 and 32, textures of any size from 1 to
// `max_texture_size`, and anisotropic filtering when `max_anisotropy` is above 1.
D3DDEVICEDESC7 device_caps(const GUID& type, DWORD max_texture_size, float max_anisotropy);

// The utility layer's texture size rule: a size fitted to the device's texture capabilities
// (rounded up to powers of two, made square, clamped to the maximum and minimum sizes).
void fit_texture_size(const D3DDEVICEDESC7& caps, DWORD* width, DWORD* height);

// A device's lights: any DWORD index, made on first use.
class LightTable {
public:
    struct Slot {
        D3DLIGHT7 light{};
        bool enabled = false;
    };

    // SetLight: check_light's results; DDERR_OUTOFMEMORY when the slot cannot be made.
    HRESULT set(DWORD index, const D3DLIGHT7* light);
    // GetLight: DDERR_INVALIDPARAMS for a null record or an index never set.
    HRESULT get(DWORD index, D3DLIGHT7* light) const;
    // LightEnable: an index never set first gets default_light() (so GetLight answers for it
    // whatever follows); enabling beyond kMaxActiveLights lights at once then fails with
    // D3DERR_LIGHT_SET_FAILED and leaves the light off. `changed` (optional) says whether an
    // enable flag changed.
    HRESULT enable(DWORD index, BOOL on, bool* changed = nullptr);
    // GetLightEnable: TRUE (1) or FALSE; DDERR_INVALIDPARAMS for null or an index never set.
    HRESULT get_enable(DWORD index, BOOL* on) const;
    // Whether a change to light `index` matters to what is drawn (it is enabled).
    bool is_enabled(DWORD index) const;

    // Every slot in index order.
    const std::map<DWORD, Slot>& slots() const { return slots_; }

private:
    std::map<DWORD, Slot> slots_;
};

}  // namespace vantor::backend
