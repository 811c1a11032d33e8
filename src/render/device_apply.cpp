// Applying the device's shadowed Direct3D state to OpenGL at draw time: one handler per
// Direct3D render state and texture stage state, named after it.
#include "device.h"

#include "directdraw.h"
#include "surface.h"

#include <vantor/backend/matrix.h>

#include <algorithm>
#include <cmath>

namespace vantor::render {
namespace {

float bits_float(DWORD v) {
    float f;
    std::memcpy(&f, &v, sizeof f);
    return std::isfinite(f) ? f : 0.0f;
}

void colour_floats(D3DCOLOR c, float out[4]) {
    out[0] = ((c >> 16) & 0xFF) / 255.0f;
    out[1] = ((c >> 8) & 0xFF) / 255.0f;
    out[2] = (c & 0xFF) / 255.0f;
    out[3] = ((c >> 24) & 0xFF) / 255.0f;
}

void colour_floats(const D3DCOLORVALUE& c, float out[4]) {
    out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = c.a;
}

GLenum compare_func(DWORD f, GLenum fallback) {
    return (f >= D3DCMP_NEVER && f <= D3DCMP_ALWAYS) ? GL_NEVER + (f - D3DCMP_NEVER) : fallback;
}

GLenum blend_factor(DWORD b, GLenum fallback) {
    switch (b) {
        case D3DBLEND_ZERO: return GL_ZERO;
        case D3DBLEND_ONE: return GL_ONE;
        case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
        default: return fallback;
    }
}

GLenum stencil_operation(DWORD op) {
    switch (op) {
        case D3DSTENCILOP_ZERO: return GL_ZERO;
        case D3DSTENCILOP_REPLACE: return GL_REPLACE;
        case D3DSTENCILOP_INCRSAT: return GL_INCR;
        case D3DSTENCILOP_DECRSAT: return GL_DECR;
        case D3DSTENCILOP_INVERT: return GL_INVERT;
        case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
        case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
        default: return GL_KEEP;
    }
}

GLint address_mode(DWORD a) {
    switch (a) {
        case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
        case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
        case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
        default: return GL_REPEAT;
    }
}

}  // namespace

const Device::Handler* Device::render_state_handlers() {
    static const auto table = [] {
        struct Table {
            Handler h[D3DRENDERSTATE_MAX];
        } t;
        for (Handler& h : t.h) h = &Device::apply_nothing;
        t.h[D3DRENDERSTATE_WRAPU] = &Device::apply_wrap;
        t.h[D3DRENDERSTATE_WRAPV] = &Device::apply_wrap;
        t.h[D3DRENDERSTATE_ZENABLE] = &Device::apply_zenable;
        t.h[D3DRENDERSTATE_FILLMODE] = &Device::apply_fillmode;
        t.h[D3DRENDERSTATE_SHADEMODE] = &Device::apply_shademode;
        t.h[D3DRENDERSTATE_ZWRITEENABLE] = &Device::apply_zwriteenable;
        t.h[D3DRENDERSTATE_ALPHATESTENABLE] = &Device::apply_alphatestenable;
        t.h[D3DRENDERSTATE_SRCBLEND] = &Device::apply_srcblend;
        t.h[D3DRENDERSTATE_DESTBLEND] = &Device::apply_destblend;
        t.h[D3DRENDERSTATE_CULLMODE] = &Device::apply_cullmode;
        t.h[D3DRENDERSTATE_ZFUNC] = &Device::apply_zfunc;
        t.h[D3DRENDERSTATE_ALPHAREF] = &Device::apply_alpharef;
        t.h[D3DRENDERSTATE_ALPHAFUNC] = &Device::apply_alphafunc;
        t.h[D3DRENDERSTATE_DITHERENABLE] = &Device::apply_ditherenable;
        t.h[D3DRENDERSTATE_ALPHABLENDENABLE] = &Device::apply_alphablendenable;
        t.h[D3DRENDERSTATE_FOGENABLE] = &Device::apply_fogenable;
        t.h[D3DRENDERSTATE_SPECULARENABLE] = &Device::apply_specularenable;
        t.h[D3DRENDERSTATE_FOGCOLOR] = &Device::apply_fogcolor;
        t.h[D3DRENDERSTATE_FOGTABLEMODE] = &Device::apply_fogtablemode;
        t.h[D3DRENDERSTATE_FOGSTART] = &Device::apply_fogstart;
        t.h[D3DRENDERSTATE_FOGEND] = &Device::apply_fogend;
        t.h[D3DRENDERSTATE_FOGDENSITY] = &Device::apply_fogdensity;
        t.h[D3DRENDERSTATE_COLORKEYENABLE] = &Device::apply_colorkeyenable;
        t.h[D3DRENDERSTATE_ZBIAS] = &Device::apply_zbias;
        t.h[D3DRENDERSTATE_RANGEFOGENABLE] = &Device::apply_rangefogenable;
        t.h[D3DRENDERSTATE_STENCILENABLE] = &Device::apply_stencilenable;
        t.h[D3DRENDERSTATE_STENCILFAIL] = &Device::apply_stencilfail;
        t.h[D3DRENDERSTATE_STENCILZFAIL] = &Device::apply_stencilzfail;
        t.h[D3DRENDERSTATE_STENCILPASS] = &Device::apply_stencilpass;
        t.h[D3DRENDERSTATE_STENCILFUNC] = &Device::apply_stencilfunc;
        t.h[D3DRENDERSTATE_STENCILREF] = &Device::apply_stencilref;
        t.h[D3DRENDERSTATE_STENCILMASK] = &Device::apply_stencilmask;
        t.h[D3DRENDERSTATE_STENCILWRITEMASK] = &Device::apply_stencilwritemask;
        t.h[D3DRENDERSTATE_TEXTUREFACTOR] = &Device::apply_texturefactor;
        for (int w = D3DRENDERSTATE_WRAP0; w <= D3DRENDERSTATE_WRAP7; ++w) t.h[w] = &Device::apply_wrap;
        t.h[D3DRENDERSTATE_LIGHTING] = &Device::apply_lighting;
        t.h[D3DRENDERSTATE_AMBIENT] = &Device::apply_ambient;
        t.h[D3DRENDERSTATE_FOGVERTEXMODE] = &Device::apply_fogvertexmode;
        t.h[D3DRENDERSTATE_COLORVERTEX] = &Device::apply_colorvertex;
        t.h[D3DRENDERSTATE_LOCALVIEWER] = &Device::apply_localviewer;
        t.h[D3DRENDERSTATE_NORMALIZENORMALS] = &Device::apply_normalizenormals;
        t.h[D3DRENDERSTATE_DIFFUSEMATERIALSOURCE] = &Device::apply_diffusematerialsource;
        t.h[D3DRENDERSTATE_SPECULARMATERIALSOURCE] = &Device::apply_specularmaterialsource;
        t.h[D3DRENDERSTATE_AMBIENTMATERIALSOURCE] = &Device::apply_ambientmaterialsource;
        t.h[D3DRENDERSTATE_EMISSIVEMATERIALSOURCE] = &Device::apply_emissivematerialsource;
        t.h[D3DRENDERSTATE_VERTEXBLEND] = &Device::apply_vertexblend;
        // The legacy stage-0 states have no handler: SetRenderState writes them through to the
        // stage states (backend::stage_aliases). Stored only, with no OpenGL counterpart: ANTIALIAS, TEXTUREPERSPECTIVE (always on),
        // LINEPATTERN, LASTPIXEL, EDGEANTIALIAS, CLIPPING (GL always clips), EXTENTS,
        // COLORKEYBLENDENABLE, CLIPPLANEENABLE (no clip planes are offered), the stipple states
        // and the obsolete ones.
        return t;
    }();
    return table.h;
}

const Device::StageHandler* Device::stage_state_handlers() {
    static const auto table = [] {
        struct Table {
            StageHandler h[D3DTSS_MAX];
        } t;
        for (StageHandler& h : t.h) h = &Device::apply_stage_nothing;
        for (auto s : {D3DTSS_COLOROP, D3DTSS_COLORARG1, D3DTSS_COLORARG2, D3DTSS_ALPHAOP, D3DTSS_ALPHAARG1,
                       D3DTSS_ALPHAARG2, D3DTSS_TEXCOORDINDEX, D3DTSS_TEXTURETRANSFORMFLAGS})
            t.h[s] = &Device::apply_stage_key;
        for (auto s : {D3DTSS_BUMPENVMAT00, D3DTSS_BUMPENVMAT01, D3DTSS_BUMPENVMAT10, D3DTSS_BUMPENVMAT11})
            t.h[s] = &Device::apply_bumpenvmat;
        t.h[D3DTSS_ADDRESS] = &Device::apply_address;
        t.h[D3DTSS_ADDRESSU] = &Device::apply_addressu;
        t.h[D3DTSS_ADDRESSV] = &Device::apply_addressv;
        t.h[D3DTSS_BORDERCOLOR] = &Device::apply_bordercolor;
        t.h[D3DTSS_MAGFILTER] = &Device::apply_magfilter;
        t.h[D3DTSS_MINFILTER] = &Device::apply_minfilter;
        t.h[D3DTSS_MIPFILTER] = &Device::apply_mipfilter;
        t.h[D3DTSS_MIPMAPLODBIAS] = &Device::apply_mipmaplodbias;
        t.h[D3DTSS_MAXMIPLEVEL] = &Device::apply_maxmiplevel;
        t.h[D3DTSS_MAXANISOTROPY] = &Device::apply_maxanisotropy;
        t.h[D3DTSS_BUMPENVLSCALE] = &Device::apply_bumpenvlscale;
        t.h[D3DTSS_BUMPENVLOFFSET] = &Device::apply_bumpenvlscale;
        return t;
    }();
    return table.h;
}


// ----- Depth, raster and blending ---------------------------------------------------------------

void Device::update_depth() {
    // ZENABLE off turns off both the test and the write; USEW counts as on.
    bool test = rs(D3DRENDERSTATE_ZENABLE) != D3DZB_FALSE;
    if (test)
        glEnable(GL_DEPTH_TEST);
    else
        glDisable(GL_DEPTH_TEST);
    glDepthMask(test && rs(D3DRENDERSTATE_ZWRITEENABLE) ? GL_TRUE : GL_FALSE);
    glDepthFunc(compare_func(rs(D3DRENDERSTATE_ZFUNC), GL_LEQUAL));
}
void Device::apply_zenable() { update_depth(); }
void Device::apply_zwriteenable() { update_depth(); }
void Device::apply_zfunc() { update_depth(); }

void Device::apply_fillmode() {
    switch (rs(D3DRENDERSTATE_FILLMODE)) {
        case D3DFILL_POINT: glPolygonMode(GL_FRONT_AND_BACK, GL_POINT); break;
        case D3DFILL_WIREFRAME: glPolygonMode(GL_FRONT_AND_BACK, GL_LINE); break;
        default: glPolygonMode(GL_FRONT_AND_BACK, GL_FILL); break;
    }
}

void Device::apply_shademode() {
    // Flat shading takes the first vertex of each primitive in both APIs once GL's provoking
    // vertex is the first (set when the context is made); PHONG shades as GOURAUD.
    key_.flat = rs(D3DRENDERSTATE_SHADEMODE) == D3DSHADE_FLAT;
    dirty_key_ = true;
}

void Device::apply_cullmode() {
    // Direct3D culls by the winding seen on screen, CCW (the default) culling counter-clockwise
    // triangles. With clip control's upper-left origin GL sees the same winding, so the front
    // face is the winding that is kept (RenderRaster.CullModesUseLeftHandedWinding).
    switch (rs(D3DRENDERSTATE_CULLMODE)) {
        case D3DCULL_NONE: glDisable(GL_CULL_FACE); break;
        case D3DCULL_CW:
            glEnable(GL_CULL_FACE);
            glFrontFace(GL_CCW);
            glCullFace(GL_BACK);
            break;
        default:
            glEnable(GL_CULL_FACE);
            glFrontFace(GL_CW);
            glCullFace(GL_BACK);
            break;
    }
}

void Device::update_blend() {
    if (!rs(D3DRENDERSTATE_ALPHABLENDENABLE)) {
        glDisable(GL_BLEND);
        return;
    }
    glEnable(GL_BLEND);
    DWORD src = rs(D3DRENDERSTATE_SRCBLEND), dst = rs(D3DRENDERSTATE_DESTBLEND);
    // BOTHSRCALPHA and BOTHINVSRCALPHA set both factors and ignore DESTBLEND.
    if (src == D3DBLEND_BOTHSRCALPHA)
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    else if (src == D3DBLEND_BOTHINVSRCALPHA)
        glBlendFunc(GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA);
    else
        glBlendFunc(blend_factor(src, GL_ONE), blend_factor(dst, GL_ZERO));
}
void Device::apply_srcblend() { update_blend(); }
void Device::apply_destblend() { update_blend(); }
void Device::apply_alphablendenable() { update_blend(); }

void Device::apply_alphatestenable() {
    DWORD f = rs(D3DRENDERSTATE_ALPHAFUNC);
    key_.alpha_func = rs(D3DRENDERSTATE_ALPHATESTENABLE)
                          ? static_cast<uint8_t>(f >= D3DCMP_NEVER && f <= D3DCMP_ALWAYS ? f : DWORD{D3DCMP_ALWAYS})
                          : 0;
    dirty_key_ = true;
}
void Device::apply_alphafunc() { apply_alphatestenable(); }

void Device::apply_alpharef() {
    // ALPHAREF runs 0..255 and is compared with the alpha times 255 (RenderRasterAlphaTest.AlphaTestComparesAlphaTimes255WithTheReference).
    pixel_block_.alpha_ref[0] = static_cast<float>(rs(D3DRENDERSTATE_ALPHAREF));
    dirty_blocks_ |= 1u << kPixelBlock;
}

void Device::apply_ditherenable() {
    if (rs(D3DRENDERSTATE_DITHERENABLE))
        glEnable(GL_DITHER);
    else
        glDisable(GL_DITHER);
}

void Device::apply_zbias() {
    // ZBIAS 0..16 draws nearer as it grows: a negative polygon offset in depth-buffer units.
    DWORD bias = std::min<DWORD>(rs(D3DRENDERSTATE_ZBIAS), 16);
    if (bias) {
        glEnable(GL_POLYGON_OFFSET_FILL);
        glEnable(GL_POLYGON_OFFSET_LINE);
        glEnable(GL_POLYGON_OFFSET_POINT);
        glPolygonOffset(0.0f, -static_cast<float>(bias));
    } else {
        glDisable(GL_POLYGON_OFFSET_FILL);
        glDisable(GL_POLYGON_OFFSET_LINE);
        glDisable(GL_POLYGON_OFFSET_POINT);
    }
}

// ----- Stencil ----------------------------------------------------------------------------------

void Device::apply_stencilenable() {
    if (rs(D3DRENDERSTATE_STENCILENABLE))
        glEnable(GL_STENCIL_TEST);
    else
        glDisable(GL_STENCIL_TEST);
}
void Device::stencil_op() {
    glStencilOp(stencil_operation(rs(D3DRENDERSTATE_STENCILFAIL)), stencil_operation(rs(D3DRENDERSTATE_STENCILZFAIL)),
                stencil_operation(rs(D3DRENDERSTATE_STENCILPASS)));
}
void Device::stencil_func() {
    glStencilFunc(compare_func(rs(D3DRENDERSTATE_STENCILFUNC), GL_ALWAYS),
                  static_cast<GLint>(rs(D3DRENDERSTATE_STENCILREF) & 0xFF), rs(D3DRENDERSTATE_STENCILMASK));
}
void Device::apply_stencilfail() { stencil_op(); }
void Device::apply_stencilzfail() { stencil_op(); }
void Device::apply_stencilpass() { stencil_op(); }
void Device::apply_stencilfunc() { stencil_func(); }
void Device::apply_stencilref() { stencil_func(); }
void Device::apply_stencilmask() { stencil_func(); }
void Device::apply_stencilwritemask() { glStencilMask(rs(D3DRENDERSTATE_STENCILWRITEMASK)); }

// ----- Colours, fog, lighting -------------------------------------------------------------------

void Device::apply_texturefactor() {
    colour_floats(rs(D3DRENDERSTATE_TEXTUREFACTOR), pixel_block_.texture_factor);
    dirty_blocks_ |= 1u << kPixelBlock;
}

void Device::apply_fogcolor() {
    colour_floats(rs(D3DRENDERSTATE_FOGCOLOR), pixel_block_.fog_colour);
    dirty_blocks_ |= 1u << kPixelBlock;
}

void Device::apply_fogstart() {
    float start = bits_float(rs(D3DRENDERSTATE_FOGSTART)), end = bits_float(rs(D3DRENDERSTATE_FOGEND));
    pixel_block_.fog[0] = start;
    pixel_block_.fog[1] = end;
    pixel_block_.fog[3] = end != start ? 1.0f / (end - start) : 0.0f;
    dirty_blocks_ |= 1u << kPixelBlock;
}
void Device::apply_fogend() { apply_fogstart(); }

void Device::apply_fogdensity() {
    pixel_block_.fog[2] = bits_float(rs(D3DRENDERSTATE_FOGDENSITY));
    dirty_blocks_ |= 1u << kPixelBlock;
}

void Device::update_fog_key() {
    // Table fog wins when both modes are set. Both run as a WFOG device does: the distance is
    // the eye depth in camera units, so an engine that sets either mode sees the same fog
    // (RenderFog.TableAndVertexFogAgree).
    DWORD table = rs(D3DRENDERSTATE_FOGTABLEMODE), vertex = rs(D3DRENDERSTATE_FOGVERTEXMODE);
    if (!rs(D3DRENDERSTATE_FOGENABLE)) {
        key_.fog = kFogOff;
    } else if (table >= D3DFOG_EXP && table <= D3DFOG_LINEAR) {
        key_.fog = kFogTable;
        key_.fog_mode = static_cast<uint8_t>(table);
    } else if (vertex >= D3DFOG_EXP && vertex <= D3DFOG_LINEAR) {
        key_.fog = kFogVertex;
        key_.fog_mode = static_cast<uint8_t>(vertex);
    } else {
        // Neither mode: the factor is whatever the vertex brings in its specular alpha.
        key_.fog = kFogFromSpecularAlpha;
    }
    if (key_.fog == kFogOff || key_.fog == kFogFromSpecularAlpha) key_.fog_mode = 0;
    // Range-based fog exists only for vertex fog.
    key_.range_fog = key_.fog == kFogVertex && rs(D3DRENDERSTATE_RANGEFOGENABLE) ? 1 : 0;
    dirty_key_ = true;
}
void Device::apply_fogenable() { update_fog_key(); }
void Device::apply_fogtablemode() { update_fog_key(); }
void Device::apply_fogvertexmode() { update_fog_key(); }
void Device::apply_rangefogenable() { update_fog_key(); }

void Device::apply_specularenable() {
    key_.specular_enable = key_.specular_add = rs(D3DRENDERSTATE_SPECULARENABLE) ? 1 : 0;
    dirty_key_ = true;
}

void Device::apply_colorkeyenable() {
    key_.colour_key = rs(D3DRENDERSTATE_COLORKEYENABLE) ? 1 : 0;
    dirty_key_ = true;
}

void Device::apply_wrap() { dirty_stage_key_ = true; }

void Device::apply_lighting() {
    key_.lighting = rs(D3DRENDERSTATE_LIGHTING) ? 1 : 0;
    dirty_key_ = true;
}

void Device::apply_ambient() {
    // The ambient render state's alpha is ignored.
    colour_floats(rs(D3DRENDERSTATE_AMBIENT), lighting_block_.ambient);
    lighting_block_.ambient[3] = 0.0f;
    dirty_blocks_ |= 1u << kLightingBlock;
}

void Device::apply_colorvertex() {
    key_.colour_vertex = rs(D3DRENDERSTATE_COLORVERTEX) ? 1 : 0;
    dirty_key_ = true;
}
void Device::apply_localviewer() {
    key_.local_viewer = rs(D3DRENDERSTATE_LOCALVIEWER) ? 1 : 0;
    dirty_key_ = true;
}
void Device::apply_normalizenormals() {
    key_.normalize = rs(D3DRENDERSTATE_NORMALIZENORMALS) ? 1 : 0;
    dirty_key_ = true;
}

namespace {
uint8_t material_source(DWORD v) { return v <= D3DMCS_COLOR2 ? static_cast<uint8_t>(v) : uint8_t{D3DMCS_MATERIAL}; }
}  // namespace
void Device::apply_diffusematerialsource() {
    key_.diffuse_source = material_source(rs(D3DRENDERSTATE_DIFFUSEMATERIALSOURCE));
    dirty_key_ = true;
}
void Device::apply_specularmaterialsource() {
    key_.specular_source = material_source(rs(D3DRENDERSTATE_SPECULARMATERIALSOURCE));
    dirty_key_ = true;
}
void Device::apply_ambientmaterialsource() {
    key_.ambient_source = material_source(rs(D3DRENDERSTATE_AMBIENTMATERIALSOURCE));
    dirty_key_ = true;
}
void Device::apply_emissivematerialsource() {
    key_.emissive_source = material_source(rs(D3DRENDERSTATE_EMISSIVEMATERIALSOURCE));
    dirty_key_ = true;
}

void Device::apply_vertexblend() {
    // D3DVBLEND_1WEIGHT..3WEIGHTS blend WORLD with WORLD1..WORLD3.
    DWORD v = rs(D3DRENDERSTATE_VERTEXBLEND);
    key_.blend_weights = static_cast<uint8_t>(v <= 3 ? v : 0);
    dirty_key_ = true;
}

// ----- Texture stages ---------------------------------------------------------------------------

void Device::apply_stage_key(DWORD) { dirty_stage_key_ = true; }

void Device::apply_bumpenvmat(DWORD s) {
    float* m = pixel_block_.bump[s];
    m[0] = bits_float(stage_[s][D3DTSS_BUMPENVMAT00]);
    m[1] = bits_float(stage_[s][D3DTSS_BUMPENVMAT01]);
    m[2] = bits_float(stage_[s][D3DTSS_BUMPENVMAT10]);
    m[3] = bits_float(stage_[s][D3DTSS_BUMPENVMAT11]);
    dirty_blocks_ |= 1u << kPixelBlock;
}

void Device::apply_bumpenvlscale(DWORD s) {
    pixel_block_.bump_luminance[s][0] = bits_float(stage_[s][D3DTSS_BUMPENVLSCALE]);
    pixel_block_.bump_luminance[s][1] = bits_float(stage_[s][D3DTSS_BUMPENVLOFFSET]);
    dirty_blocks_ |= 1u << kPixelBlock;
}

void Device::apply_address(DWORD) {}  // ADDRESS stores into ADDRESSU and ADDRESSV, whose handlers apply.
void Device::apply_addressu(DWORD s) {
    glSamplerParameteri(samplers_[s], GL_TEXTURE_WRAP_S, address_mode(stage_[s][D3DTSS_ADDRESSU]));
}
void Device::apply_addressv(DWORD s) {
    glSamplerParameteri(samplers_[s], GL_TEXTURE_WRAP_T, address_mode(stage_[s][D3DTSS_ADDRESSV]));
}

void Device::apply_bordercolor(DWORD s) {
    float c[4];
    colour_floats(stage_[s][D3DTSS_BORDERCOLOR], c);
    glSamplerParameterfv(samplers_[s], GL_TEXTURE_BORDER_COLOR, c);
}

void Device::update_sampler_filters(DWORD s) {
    DWORD mag = stage_[s][D3DTSS_MAGFILTER], min = stage_[s][D3DTSS_MINFILTER], mip = stage_[s][D3DTSS_MIPFILTER];
    glSamplerParameteri(samplers_[s], GL_TEXTURE_MAG_FILTER, mag == D3DTFG_POINT ? GL_NEAREST : GL_LINEAR);
    bool linear = min == D3DTFN_LINEAR || min == D3DTFN_ANISOTROPIC;
    GLint gl_min = linear ? GL_LINEAR : GL_NEAREST;
    if (mip == D3DTFP_POINT) gl_min = linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    if (mip == D3DTFP_LINEAR) gl_min = linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    glSamplerParameteri(samplers_[s], GL_TEXTURE_MIN_FILTER, gl_min);
    if (gl_->max_anisotropy > 1.0f) {
        bool anisotropic = min == D3DTFN_ANISOTROPIC || mag == D3DTFG_ANISOTROPIC;
        float a = anisotropic ? std::clamp(static_cast<float>(stage_[s][D3DTSS_MAXANISOTROPY]), 1.0f, gl_->max_anisotropy)
                              : 1.0f;
        glSamplerParameterf(samplers_[s], GL_TEXTURE_MAX_ANISOTROPY, a);
    }
}
void Device::apply_magfilter(DWORD s) { update_sampler_filters(s); }
void Device::apply_minfilter(DWORD s) { update_sampler_filters(s); }
void Device::apply_mipfilter(DWORD s) { update_sampler_filters(s); }
void Device::apply_maxanisotropy(DWORD s) { update_sampler_filters(s); }

void Device::apply_mipmaplodbias(DWORD s) {
    glSamplerParameterf(samplers_[s], GL_TEXTURE_LOD_BIAS, bits_float(stage_[s][D3DTSS_MIPMAPLODBIAS]));
}

void Device::apply_maxmiplevel(DWORD s) {
    // MAXMIPLEVEL is the most detailed level allowed: the lowest level of detail GL may use.
    glSamplerParameterf(samplers_[s], GL_TEXTURE_MIN_LOD, static_cast<float>(std::min<DWORD>(stage_[s][D3DTSS_MAXMIPLEVEL], 16)));
}

// ----- Transforms, lights, material, viewport ---------------------------------------------------

void Device::apply_transforms() {
    unsigned d = dirty_transforms_;
    if (d & (kDirtyWorld | kDirtyView)) {
        D3DMATRIX world_view = multiply(world_[0], view_);
        std::memcpy(object_block_.world_view, matrix_data(world_view), 64);
        D3DMATRIX n = normal_matrix(world_view);
        std::memcpy(object_block_.normal_matrix, matrix_data(n), 64);
        dirty_blocks_ |= 1u << kObjectBlock;
    }
    if (d & (kDirtyBlendWorlds | kDirtyView)) {
        for (int k = 0; k < 3; ++k) {
            D3DMATRIX world_view = multiply(world_[k + 1], view_);
            std::memcpy(blend_block_.world_view[k], matrix_data(world_view), 64);
            D3DMATRIX n = normal_matrix(world_view);
            std::memcpy(blend_block_.normal_matrix[k], matrix_data(n), 64);
        }
        dirty_blocks_ |= 1u << kBlendBlock;
    }
    if (d & kDirtyProjection) {
        std::memcpy(view_block_.projection, matrix_data(projection_), 64);
        dirty_blocks_ |= 1u << kViewBlock;
    }
    if (d & kDirtyTextureMatrices) {
        for (int s = 0; s < kMaxStages; ++s) std::memcpy(view_block_.texture[s], matrix_data(texture_matrix_[s]), 64);
        dirty_blocks_ |= 1u << kViewBlock;
    }
    dirty_transforms_ = 0;
}

void Device::apply_lights() {
    // Lights are given in world space and shine in camera space: they move with the view.
    int n = 0;
    for (const auto& [index, slot] : lights_.slots()) {
        if (!slot.enabled || n == kMaxLights) continue;
        // A light without a direction or with a negative range lights nothing
        // (RenderLighting.LightsThatReachNothingDrawNoLight).
        backend::ShadingLight shading = backend::light_for_shading(slot.light);
        if (!shading.shines) continue;
        const D3DLIGHT7& l = shading.light;
        LightBlockEntry& e = lighting_block_.lights[n];
        colour_floats(l.dcvDiffuse, e.diffuse);
        colour_floats(l.dcvSpecular, e.specular);
        colour_floats(l.dcvAmbient, e.ambient);
        transform_point(view_, l.dvPosition, e.position);
        transform_direction(view_, l.dvDirection, e.direction);
        float len = std::sqrt(e.direction[0] * e.direction[0] + e.direction[1] * e.direction[1] +
                              e.direction[2] * e.direction[2]);
        if (len > 0.0f)
            for (int i = 0; i < 3; ++i) e.direction[i] /= len;
        e.params0[0] = l.dltType == D3DLIGHT_DIRECTIONAL ? 0.0f : l.dvRange;
        e.params0[1] = l.dvFalloff;
        e.params0[2] = l.dvAttenuation0;
        e.params0[3] = l.dvAttenuation1;
        e.params1[0] = l.dvAttenuation2;
        e.params1[1] = std::cos(l.dvTheta * 0.5f);
        e.params1[2] = std::cos(l.dvPhi * 0.5f);
        e.params1[3] = 0.0f;
        key_.light_type[n] = static_cast<uint8_t>(l.dltType);
        ++n;
    }
    for (int i = n; i < kMaxLights; ++i) key_.light_type[i] = 0;
    key_.light_count = static_cast<uint8_t>(n);
    dirty_lights_ = false;
    dirty_blocks_ |= 1u << kLightingBlock;
    dirty_key_ = true;
}

void Device::apply_material() {
    MaterialUniforms m{};
    colour_floats(material_.diffuse, m.diffuse);
    colour_floats(material_.ambient, m.ambient);
    colour_floats(material_.specular, m.specular);
    colour_floats(material_.emissive, m.emissive);
    m.power[0] = std::isfinite(material_.power) ? material_.power : 0.0f;
    dirty_material_ = false;
    // Objects that alternate between the same few materials set each one again and again.
    if (std::memcmp(&m, &material_uniforms_, sizeof m) == 0) return;
    material_uniforms_ = m;
    dirty_blocks_ |= kDirtyMaterialUniforms;
}

void Device::apply_viewport() {
    const D3DVIEWPORT7& v = viewport_;
    // With clip control's upper-left origin, GL's window rows count from the top as Direct3D's
    // do, so the viewport and scissor take Direct3D's numbers unchanged. Direct3D also clips
    // everything to the viewport, which the scissor does for wide lines and points.
    glViewport(static_cast<GLint>(v.dwX), static_cast<GLint>(v.dwY), static_cast<GLsizei>(v.dwWidth),
               static_cast<GLsizei>(v.dwHeight));
    glScissor(static_cast<GLint>(v.dwX), static_cast<GLint>(v.dwY), static_cast<GLsizei>(v.dwWidth),
              static_cast<GLsizei>(v.dwHeight));
    if (pretransformed_depth_)
        glDepthRange(0.0, 1.0);
    else
        glDepthRange(v.dvMinZ, v.dvMaxZ);
    float* tv = view_block_.viewport;
    tv[0] = static_cast<float>(v.dwX), tv[1] = static_cast<float>(v.dwY);
    tv[2] = static_cast<float>(v.dwWidth), tv[3] = static_cast<float>(v.dwHeight);
    // Direct3D samples pixels at integer coordinates with a top-left fill rule; GL samples at
    // +0.5 and breaks ties on edges its own way (with clip control's flipped origin, its "top"
    // edge is Direct3D's bottom). Moving everything by half a pixel less one sub-pixel step
    // (1/256, llvmpipe's precision) puts Direct3D's pixel centres just inside top and left
    // edges and just outside bottom and right ones, so integer rectangles cover exactly the
    // pixels Direct3D covers (RenderRaster.ViewportMapsTopLeftPixel).
    const float centre = 0.5f - 1.0f / 256.0f;
    view_block_.pixel_offset[0] = 2.0f * centre / static_cast<float>(v.dwWidth);
    view_block_.pixel_offset[1] = -2.0f * centre / static_cast<float>(v.dwHeight);
    view_block_.pixel_offset[2] = centre;
    dirty_viewport_ = false;
    dirty_blocks_ |= 1u << kViewBlock;
}

bool Device::bind_target() {
    GLuint fb = target_->framebuffer(*gl_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fb);
    // A target without alpha keeps its stored alpha at 1 (see colour_storage in surface.cpp).
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, target_->layout().a.bits ? GL_TRUE : GL_FALSE);
    dirty_target_ = false;
    return fb != 0;
}

// ----- Draw-time composition --------------------------------------------------------------------

void Device::apply_dirty_state() {
    if (!any_dirty_state_) return;
    if (dirty_fixed_) {
        // State that never changes between draws, set again after anyone else used the context.
        glBindVertexArray(vao_);
        glBindSamplers(0, kMaxStages, samplers_);
        glEnable(GL_SCISSOR_TEST);
        glBlendEquation(GL_FUNC_ADD);
        glDisable(GL_PROGRAM_POINT_SIZE);
        glPointSize(1.0f);
        glLineWidth(1.0f);
        dirty_fixed_ = false;
    }
    if (dirty_target_) bind_target();
    if (dirty_viewport_) apply_viewport();
    if (dirty_render_any_) {
        const Handler* handlers = render_state_handlers();
        for (size_t i = dirty_render_._Find_first(); i < dirty_render_.size(); i = dirty_render_._Find_next(i))
            (this->*handlers[i])();
        dirty_render_.reset();
        dirty_render_any_ = false;
    }
    if (dirty_stage_mask_) {
        const StageHandler* stage_handlers = stage_state_handlers();
        for (DWORD s = 0; s < kMaxStages; ++s) {
            if (!(dirty_stage_mask_ & (1u << s))) continue;
            auto& d = dirty_stage_[s];
            for (size_t i = d._Find_first(); i < d.size(); i = d._Find_next(i)) (this->*stage_handlers[i])(s);
            d.reset();
        }
        dirty_stage_mask_ = 0;
    }
    if (dirty_transforms_) apply_transforms();
    if (dirty_lights_) apply_lights();
    if (dirty_material_) apply_material();
    any_dirty_state_ = false;
}

void Device::update_pipeline_key(const FvfLayout& layout, D3DPRIMITIVETYPE type) {
    PipelineKey k = key_;
    k.rhw = layout.rhw;
    k.normal = layout.normal;
    k.diffuse = layout.diffuse;
    k.specular = layout.specular;
    k.weights = layout.weights;
    k.blend_weights = std::min(key_.blend_weights, layout.weights);
    if (layout.rhw) {
        // Pre-transformed vertices are neither lit nor blended, and bring their own vertex fog.
        k.lighting = 0;
        k.blend_weights = 0;
        if (k.fog == kFogVertex) k.fog = kFogFromSpecularAlpha, k.fog_mode = 0, k.range_fog = 0;
    }
    if (!k.lighting) {
        k.light_count = 0;
        std::memset(k.light_type, 0, sizeof k.light_type);
        k.specular_enable = 0;
    }

    // Texture stages: the cascade runs up to the first disabled colour operation.
    std::memset(k.stages, 0, sizeof k.stages);
    int count = 0;
    while (count < kMaxStages) {
        DWORD op = stage_[count][D3DTSS_COLOROP];
        if (op <= D3DTOP_DISABLE || op > D3DTOP_DOTPRODUCT3) break;
        ++count;
    }
    k.stage_count = static_cast<uint8_t>(count);
    bool wrapping = false;
    for (int s = 0; s < count; ++s) {
        const DWORD* st = stage_[s];
        StageKey& sk = k.stages[s];
        Surface* tex = textures_[s].get();
        sk.texture = tex ? (tex->layout().kind == FormatKind::BumpDuDv ? 2 : 1) : 0;
        sk.colour_op = static_cast<uint8_t>(st[D3DTSS_COLOROP]);
        sk.colour_arg1 = static_cast<uint8_t>(st[D3DTSS_COLORARG1] & 0x3F);
        sk.colour_arg2 = static_cast<uint8_t>(st[D3DTSS_COLORARG2] & 0x3F);
        DWORD aop = st[D3DTSS_ALPHAOP];
        sk.alpha_op = static_cast<uint8_t>(aop >= D3DTOP_DISABLE && aop <= D3DTOP_DOTPRODUCT3 ? aop : DWORD{D3DTOP_DISABLE});
        sk.alpha_arg1 = static_cast<uint8_t>(st[D3DTSS_ALPHAARG1] & 0x3F);
        sk.alpha_arg2 = static_cast<uint8_t>(st[D3DTSS_ALPHAARG2] & 0x3F);
        // A part that reads TEXTURE on a stage without a texture passes CURRENT on, as Direct3D
        // drivers do (RenderTexture.UnboundTexturePassesCurrentOn).
        if (!tex) {
            if (stage_colour_reads(sk, D3DTA_TEXTURE))
                sk.colour_op = D3DTOP_SELECTARG1, sk.colour_arg1 = sk.colour_arg2 = D3DTA_CURRENT;
            if (stage_alpha_reads(sk, D3DTA_TEXTURE))
                sk.alpha_op = D3DTOP_SELECTARG1, sk.alpha_arg1 = sk.alpha_arg2 = D3DTA_CURRENT;
        }
        DWORD index = st[D3DTSS_TEXCOORDINDEX];
        DWORD set = index & 0xFFFF, generation = index >> 16;
        sk.coord_gen = static_cast<uint8_t>(generation <= kCoordReflection ? generation : DWORD{kCoordPassThrough});
        sk.coord_set = static_cast<uint8_t>(set < kMaxStages ? set : 0);
        // A set the vertex does not have reads as (0, 0).
        sk.coord_size = sk.coord_gen == kCoordPassThrough && set < layout.tex_count ? layout.tex_size[set] : 0;
        DWORD ttff = st[D3DTSS_TEXTURETRANSFORMFLAGS];
        sk.transform = static_cast<uint8_t>((ttff & 0xFF) <= 4 ? (ttff & 0xFF) : 0);
        sk.projected = sk.transform && (ttff & D3DTTFF_PROJECTED) ? 1 : 0;
        // WRAPn follows the coordinate set, generated or not; WRAPU/WRAPV are set 0's legacy bits.
        DWORD wrap = set < kMaxStages ? rs(static_cast<D3DRENDERSTATETYPE>(D3DRENDERSTATE_WRAP0 + set)) & 0xF : 0;
        if (set == 0) {
            if (rs(D3DRENDERSTATE_WRAPU)) wrap |= D3DWRAP_U;
            if (rs(D3DRENDERSTATE_WRAPV)) wrap |= D3DWRAP_V;
        }
        sk.wrap = static_cast<uint8_t>(wrap);
    }
    for (int s = 0; s < count; ++s)
        if (k.stages[s].wrap && stage_samples(k, s)) wrapping = true;
    if (!(textures_[0] && textures_[0]->source_key() && count > 0)) k.colour_key = 0;
    k.primitive = wrapping && type != D3DPT_POINTLIST ? static_cast<uint8_t>(type) : 0;
    if (!k.primitive) {
        for (int s = 0; s < count; ++s) k.stages[s].wrap = 0;
    }

    dirty_key_ = dirty_stage_key_ = false;
    if (draw_key_valid_ && k == draw_key_ && program_) return;
    draw_key_ = k;
    draw_key_valid_ = true;
    program_ = programs_.program(k);
    if (program_) {
        glUseProgram(program_);
        dirty_blocks_ |= (1u << kObjectBlock) | kDirtyMaterialUniforms;  // plain uniforms belong to each program
    }
}

void Device::update_colour_key() {
    const DDCOLORKEY* key = textures_[0] ? textures_[0]->source_key() : nullptr;
    if (!key) return;
    const PixelLayout& l = textures_[0]->layout();
    uint8_t low[4], high[4], raw[4];
    write_pixel(raw, l.bytes, key->dwColorSpaceLowValue);
    decode_row(l, raw, 1, nullptr, low);
    write_pixel(raw, l.bytes, key->dwColorSpaceHighValue);
    decode_row(l, raw, 1, nullptr, high);
    float lo[4], hi[4];
    for (int i = 0; i < 4; ++i) {
        lo[i] = std::min(low[i], high[i]) / 255.0f;
        hi[i] = std::max(low[i], high[i]) / 255.0f;
    }
    if (std::memcmp(lo, pixel_block_.colour_key_low, sizeof lo) || std::memcmp(hi, pixel_block_.colour_key_high, sizeof hi)) {
        std::memcpy(pixel_block_.colour_key_low, lo, sizeof lo);
        std::memcpy(pixel_block_.colour_key_high, hi, sizeof hi);
        dirty_blocks_ |= 1u << kPixelBlock;
    }
}

void Device::bind_textures() {
    for (int s = 0; s < kMaxStages; ++s) {
        GLuint name = 0;
        if (s < draw_key_.stage_count && stage_samples(draw_key_, s)) {
            Surface* t = textures_[s].get();
            name = t->texture_for_sampling(*gl_, &bytes_uploaded_);
            if (t->last_used_frame != frame_) {
                t->last_used_frame = frame_;
                ++textures_used_;
            }
        }
        if (bound_texture_[s] != name) {
            glBindTextureUnit(static_cast<GLuint>(s), name);
            bound_texture_[s] = name;
        }
    }
}

void Device::upload_blocks() {
    if (!dirty_blocks_) return;
    struct Block {
        const void* data;
        size_t bytes;
    };
    const Block blocks[kBlockCount] = {{&object_block_, sizeof object_block_}, {&lighting_block_, sizeof lighting_block_},
                                       {&pixel_block_, sizeof pixel_block_}, {&blend_block_, sizeof blend_block_},
                                       {&view_block_, sizeof view_block_}};
    const size_t align = static_cast<size_t>(ring_align_);
    size_t needed = 0;
    if (dirty_blocks_ & (1u << kObjectBlock)) {
        glUniformMatrix4fv(kObjectLocation, 2, GL_FALSE, object_block_.world_view);
        dirty_blocks_ &= ~(1u << kObjectBlock);
    }
    if (dirty_blocks_ & kDirtyMaterialUniforms) {
        glUniform4fv(kMaterialLocation, 5, material_uniforms_.diffuse);
        dirty_blocks_ &= ~kDirtyMaterialUniforms;
    }
    for (int b = 1; b < kBlockCount; ++b)
        if (dirty_blocks_ & (1u << b)) needed += (blocks[b].bytes + align - 1) / align * align;
    if (!uniform_ring_.fits(needed, align)) {
        // Into the next segment, all blocks together: none stays behind in a segment that a
        // later lap writes again.
        uniform_ring_.next_segment();
        dirty_blocks_ = (1u << kBlockCount) - 1 - (1u << kObjectBlock);
    }
    for (int b = 1; b < kBlockCount; ++b) {
        if (!(dirty_blocks_ & (1u << b))) continue;
        GLintptr at = uniform_ring_.write(blocks[b].data, blocks[b].bytes, align);
        glBindBufferRange(GL_UNIFORM_BUFFER, static_cast<GLuint>(b), uniform_ring_.buffer(), at,
                          static_cast<GLsizeiptr>(blocks[b].bytes));
    }
    dirty_blocks_ = 0;
}

}  // namespace vantor::render
