// GLSL for the fixed-function pipeline, generated from a pipeline key, and the program cache.
//
// The code follows Direct3D 7's fixed-function equations (lighting, fog, texture stages) as the
// device reference gives them; where Direct3D and OpenGL disagree the comment says both rules
// and names the test that pins the behaviour.
#include "pipeline.h"

#include <vantor/debug.h>

#include <cstdarg>
#include <cstdio>

namespace vantor::render {
namespace {

// Direct3D values used below.
enum : uint8_t {
    kOpDisable = 1, kOpSelectArg1, kOpSelectArg2, kOpModulate, kOpModulate2x, kOpModulate4x, kOpAdd,
    kOpAddSigned, kOpAddSigned2x, kOpSubtract, kOpAddSmooth, kOpBlendDiffuseAlpha, kOpBlendTextureAlpha,
    kOpBlendFactorAlpha, kOpBlendTextureAlphaPm, kOpBlendCurrentAlpha, kOpPremodulate,
    kOpModulateAlphaAddColour, kOpModulateColourAddAlpha, kOpModulateInvAlphaAddColour,
    kOpModulateInvColourAddAlpha, kOpBumpEnvMap, kOpBumpEnvMapLuminance, kOpDotProduct3
};
enum : uint8_t { kArgDiffuse = 0, kArgCurrent = 1, kArgTexture = 2, kArgFactor = 3, kArgSpecular = 4 };
constexpr uint8_t kArgComplement = 0x10, kArgAlphaReplicate = 0x20;
enum : uint8_t { kSourceMaterial = 0, kSourceColour1 = 1, kSourceColour2 = 2 };
enum : uint8_t { kFogModeExp = 1, kFogModeExp2 = 2, kFogModeLinear = 3 };

void add(std::string& o, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void add(std::string& o, const char* fmt, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    if (n > 0) o.append(buffer, static_cast<size_t>(n < static_cast<int>(sizeof buffer) ? n : sizeof buffer - 1));
}

const char* kBlocks = R"(
layout(std140, binding = 3) uniform BlendBlock {
    mat4 u_blend_world_view[3];
    mat4 u_blend_normal_matrix[3];
};
layout(std140, binding = 4) uniform ViewBlock {
    mat4 u_projection;
    mat4 u_texture[8];
    vec4 u_viewport;
    vec4 u_pixel_offset;
};
struct Light {
    vec4 diffuse, specular, ambient, position, direction, params0, params1;
};
layout(std140, binding = 1) uniform LightingBlock {
    vec4 u_ambient;
    Light u_lights[8];
};
layout(std140, binding = 2) uniform PixelBlock {
    vec4 u_texture_factor;
    vec4 u_fog_colour;
    vec4 u_fog;
    vec4 u_alpha_ref;
    vec4 u_bump[8];
    vec4 u_bump_luminance[8];
    vec4 u_colour_key_low, u_colour_key_high;
};
)";

}  // namespace

bool stage_colour_reads(const StageKey& s, uint8_t arg) {
    auto is = [&](uint8_t a) { return (a & 0x0F) == arg; };
    switch (s.colour_op) {
        case 0:
        case kOpDisable:
        case kOpBumpEnvMap:
        case kOpBumpEnvMapLuminance: return false;
        case kOpSelectArg1:
        case kOpPremodulate: return is(s.colour_arg1);
        case kOpSelectArg2: return is(s.colour_arg2);
        default: return is(s.colour_arg1) || is(s.colour_arg2);
    }
}

bool stage_alpha_reads(const StageKey& s, uint8_t arg) {
    auto is = [&](uint8_t a) { return (a & 0x0F) == arg; };
    switch (s.alpha_op) {
        case kOpSelectArg1:
        case kOpPremodulate: return is(s.alpha_arg1);
        case kOpSelectArg2: return is(s.alpha_arg2);
        case kOpModulate: case kOpModulate2x: case kOpModulate4x: case kOpAdd: case kOpAddSigned:
        case kOpAddSigned2x: case kOpSubtract: case kOpAddSmooth: case kOpBlendDiffuseAlpha:
        case kOpBlendTextureAlpha: case kOpBlendFactorAlpha: case kOpBlendTextureAlphaPm:
        case kOpBlendCurrentAlpha: return is(s.alpha_arg1) || is(s.alpha_arg2);
        default: return false;
    }
}

bool stage_samples(const PipelineKey& k, int i) {
    const StageKey& s = k.stages[i];
    if (!s.texture || i >= k.stage_count) return false;
    if (i == 0 && k.colour_key) return true;
    if (s.colour_op == kOpBumpEnvMap || s.colour_op == kOpBumpEnvMapLuminance) return true;
    if (s.colour_op == kOpBlendTextureAlpha || s.colour_op == kOpBlendTextureAlphaPm ||
        s.alpha_op == kOpBlendTextureAlpha || s.alpha_op == kOpBlendTextureAlphaPm)
        return true;
    return stage_colour_reads(s, kArgTexture) || stage_alpha_reads(s, kArgTexture);
}

namespace {

bool samples(const PipelineKey& k, int i) { return stage_samples(k, i); }

void varying_block(std::string& o, const PipelineKey& k, const char* direction, const char* instance) {
    const char* q = k.flat ? "flat " : "";
    add(o, "%s Vary {\n    %svec4 diffuse;\n    %svec4 specular;\n    float fog;\n", direction, q, q);
    for (int i = 0; i < kMaxStages; ++i)
        if (samples(k, i)) add(o, "    vec4 tc%d;\n", i);
    add(o, "} %s;\n", instance);
}

std::string fog_formula(uint8_t mode, const char* d) {
    std::string o;
    switch (mode) {
        case kFogModeExp: add(o, "exp(-(%s) * u_fog.z)", d); break;
        case kFogModeExp2: add(o, "exp(-((%s) * u_fog.z) * ((%s) * u_fog.z))", d, d); break;
        default:  // linear; with start == end the fog switches at that distance
            add(o, "(u_fog.w != 0.0 ? (u_fog.y - (%s)) * u_fog.w : ((%s) < u_fog.y ? 1.0 : 0.0))", d, d);
            break;
    }
    return "clamp(" + o + ", 0.0, 1.0)";
}

const char* material_source(const PipelineKey& k, uint8_t source, const char* material) {
    // A colour comes from the vertex only when COLORVERTEX is on and the vertex has that colour.
    if (k.colour_vertex) {
        if (source == kSourceColour1 && k.diffuse) return "a_diffuse";
        if (source == kSourceColour2 && k.specular) return "a_specular";
    }
    return material;
}

std::string vertex_shader(const PipelineKey& k) {
    std::string o = "#version 450 core\n";
    o += kBlocks;
    // The matrices that change with every WORLD and the material are plain uniforms at fixed
    // locations: the cheapest per-draw change on llvmpipe (see Device::upload_blocks).
    add(o, "layout(location = %d) uniform mat4 u_object[2];\n", kObjectLocation);
    o += "#define u_world_view u_object[0]\n#define u_normal_matrix u_object[1]\n";
    add(o, "layout(location = %d) uniform vec4 u_material[5];\n", kMaterialLocation);
    o += "#define u_material_diffuse u_material[0]\n"
         "#define u_material_ambient u_material[1]\n#define u_material_specular u_material[2]\n"
         "#define u_material_emissive u_material[3]\n#define u_material_power u_material[4]\n";
    o += "layout(location = 0) in vec4 a_position;\n";
    if (k.normal) o += "layout(location = 1) in vec3 a_normal;\n";
    if (k.diffuse) o += "layout(location = 2) in vec4 a_diffuse;\n";
    if (k.specular) o += "layout(location = 3) in vec4 a_specular;\n";
    bool set_used[kMaxStages] = {};
    for (int i = 0; i < kMaxStages; ++i)
        if (samples(k, i) && k.stages[i].coord_gen == kCoordPassThrough && k.stages[i].coord_size)
            set_used[k.stages[i].coord_set] = true;
    for (int s = 0; s < kMaxStages; ++s)
        if (set_used[s]) add(o, "layout(location = %d) in vec4 a_tex%d;\n", 4 + s, s);
    if (k.blend_weights) o += "layout(location = 12) in vec4 a_weights;\n";
    varying_block(o, k, "out", "vo");
    o += "void main() {\n";
    o += "    vec3 P = vec3(0.0);\n    vec3 N = vec3(0.0);\n    float eye_depth = 0.0;\n";
    if (k.rhw) {
        // Pre-transformed vertices are in render-target pixels with Direct3D's pixel centres
        // on integers, GL's at +0.5 (u_pixel_offset.z, see apply_viewport), and sz is the
        // final depth: their draws run with the whole depth range (Device::prepare).
        // Pinned by RenderRaster.PretransformedPointLandsOnItsPixel and
        // RenderSurface.PretransformedDepthIgnoresTheViewportDepthRange.
        o += R"(    float w = a_position.w != 0.0 ? 1.0 / a_position.w : 1.0;
    gl_Position = vec4((2.0 * (a_position.x - u_viewport.x + u_pixel_offset.z) / u_viewport.z - 1.0) * w,
                       (1.0 - 2.0 * (a_position.y - u_viewport.y + u_pixel_offset.z) / u_viewport.w) * w,
                       a_position.z * w, w);
    eye_depth = w;
)";
    } else {
        o += "    vec4 position = vec4(a_position.xyz, 1.0);\n";
        if (k.blend_weights) {
            o += "    float rest = 1.0;\n    vec4 Pb = vec4(0.0);\n    vec3 Nb = vec3(0.0);\n";
            for (int j = 0; j <= k.blend_weights; ++j) {
                if (j < k.blend_weights)
                    add(o, "    float b%d = a_weights[%d];\n    rest -= b%d;\n", j, j, j);
                else
                    add(o, "    float b%d = rest;\n", j);
                if (j == 0) {
                    o += "    Pb += b0 * (u_world_view * position);\n";
                    if (k.normal) o += "    Nb += b0 * (mat3(u_normal_matrix) * a_normal);\n";
                } else {
                    add(o, "    Pb += b%d * (u_blend_world_view[%d] * position);\n", j, j - 1);
                    if (k.normal) add(o, "    Nb += b%d * (mat3(u_blend_normal_matrix[%d]) * a_normal);\n", j, j - 1);
                }
            }
            o += "    P = Pb.xyz;\n";
            if (k.normal) o += "    N = Nb;\n";
        } else {
            o += "    P = (u_world_view * position).xyz;\n";
            if (k.normal) o += "    N = mat3(u_normal_matrix) * a_normal;\n";
        }
        if (k.normal && k.normalize) o += "    if (dot(N, N) > 0.0) N = normalize(N);\n";
        // Direct3D's pixel centres are on integer coordinates, GL's at +0.5: shift by (almost)
        // half a pixel after projection (RenderRaster.ViewportMapsTopLeftPixel pins it).
        o += "    vec4 clip = u_projection * vec4(P, 1.0);\n";
        o += "    clip.xy += u_pixel_offset.xy * clip.w;\n    gl_Position = clip;\n";
        o += "    eye_depth = abs(P.z);\n";
    }

    // Colours
    if (k.lighting && !k.rhw) {
        add(o, "    vec4 Cd = %s;\n", material_source(k, k.diffuse_source, "u_material_diffuse"));
        add(o, "    vec4 Ca = %s;\n", material_source(k, k.ambient_source, "u_material_ambient"));
        add(o, "    vec4 Cs = %s;\n", material_source(k, k.specular_source, "u_material_specular"));
        add(o, "    vec4 Ce = %s;\n", material_source(k, k.emissive_source, "u_material_emissive"));
        o += "    vec3 la = vec3(0.0), ld = vec3(0.0), ls = vec3(0.0);\n";
        if (k.local_viewer)
            o += "    vec3 V = dot(P, P) > 0.0 ? -normalize(P) : vec3(0.0, 0.0, -1.0);\n";
        else
            o += "    vec3 V = vec3(0.0, 0.0, -1.0);\n";
        for (int i = 0; i < k.light_count; ++i) {
            add(o, "    {\n        vec3 L;\n        float att = 1.0;\n        bool lit = true;\n");
            if (k.light_type[i] == kLightDirectional) {
                add(o, "        L = -u_lights[%d].direction.xyz;\n", i);
            } else {
                add(o,
                    "        vec3 D = u_lights[%d].position.xyz - P;\n"
                    "        float d = length(D);\n"
                    "        lit = d <= u_lights[%d].params0.x;\n"
                    "        L = d > 0.0 ? D / d : vec3(0.0, 0.0, -1.0);\n"
                    // Direct3D divides by the attenuation sum; all-zero factors are taken as
                    // no attenuation (RenderLighting.ZeroAttenuationMeansFullStrength).
                    "        float den = u_lights[%d].params0.z + u_lights[%d].params0.w * d + u_lights[%d].params1.x * d * d;\n"
                    "        att = den > 0.0 ? 1.0 / den : 1.0;\n",
                    i, i, i, i, i);
                if (k.light_type[i] == kLightSpot)
                    add(o,
                        "        float rho = dot(u_lights[%d].direction.xyz, -L);\n"
                        "        float ct = u_lights[%d].params1.y, cp = u_lights[%d].params1.z;\n"
                        "        att *= rho > ct ? 1.0 : (rho <= cp ? 0.0 : pow((rho - cp) / (ct - cp), u_lights[%d].params0.y));\n",
                        i, i, i, i);
            }
            add(o, "        if (lit) {\n            la += att * u_lights[%d].ambient.rgb;\n", i);
            if (k.normal) {
                add(o, "            float nl = dot(N, L);\n            if (nl > 0.0) {\n"
                       "                ld += att * nl * u_lights[%d].diffuse.rgb;\n", i);
                if (k.specular_enable)
                    add(o,
                        "                float nh = max(dot(N, normalize(L + V)), 0.0);\n"
                        "                ls += att * (u_material_power.x > 0.0 ? pow(nh, u_material_power.x) : 1.0) * u_lights[%d].specular.rgb;\n",
                        i);
                o += "            }\n";
            }
            o += "        }\n    }\n";
        }
        o += "    vo.diffuse = vec4(clamp(Ce.rgb + Ca.rgb * (u_ambient.rgb + la) + Cd.rgb * ld, 0.0, 1.0), clamp(Cd.a, 0.0, 1.0));\n";
        if (k.specular_enable)
            o += "    vo.specular = vec4(clamp(Cs.rgb * ls, 0.0, 1.0), clamp(Cs.a, 0.0, 1.0));\n";
        else
            o += "    vo.specular = vec4(0.0, 0.0, 0.0, clamp(Cs.a, 0.0, 1.0));\n";
    } else {
        // Unlit: the vertex colours, white and black where the vertex has none.
        o += k.diffuse ? "    vo.diffuse = a_diffuse;\n" : "    vo.diffuse = vec4(1.0);\n";
        o += k.specular ? "    vo.specular = a_specular;\n" : "    vo.specular = vec4(0.0);\n";
    }

    // Fog
    switch (k.fog) {
        case kFogFromSpecularAlpha:
            o += k.specular ? "    vo.fog = a_specular.a;\n" : "    vo.fog = 1.0;\n";
            break;
        case kFogVertex:
            o += "    vo.fog = " + fog_formula(k.fog_mode, k.range_fog ? "length(P)" : "abs(P.z)") + ";\n";
            break;
        case kFogTable: o += "    vo.fog = eye_depth;\n"; break;
        default: o += "    vo.fog = 1.0;\n"; break;
    }

    // Texture coordinates
    for (int i = 0; i < kMaxStages; ++i) {
        if (!samples(k, i)) continue;
        const StageKey& s = k.stages[i];
        int size = s.coord_gen != kCoordPassThrough ? 3 : s.coord_size;
        add(o, "    {\n        vec4 c;\n");
        switch (s.coord_gen) {
            case kCoordNormal: o += "        c = vec4(N, 1.0);\n"; break;
            case kCoordPosition: o += "        c = vec4(P, 1.0);\n"; break;
            case kCoordReflection:
                o += "        c = vec4(reflect(dot(P, P) > 0.0 ? normalize(P) : vec3(0.0, 0.0, 1.0), N), 1.0);\n";
                break;
            default:
                // A coordinate is extended with a 1 after its last component, so a texture
                // matrix's translation for 2-float sets sits in _31/_32
                // (RenderTexture.TextureTransformTranslatesTwoFloatSets).
                switch (s.coord_size) {
                    case 0: o += "        c = vec4(0.0, 0.0, 1.0, 0.0);\n"; break;
                    case 1: add(o, "        c = vec4(a_tex%d.x, 1.0, 0.0, 0.0);\n", s.coord_set); break;
                    case 2: add(o, "        c = vec4(a_tex%d.xy, 1.0, 0.0);\n", s.coord_set); break;
                    case 3: add(o, "        c = vec4(a_tex%d.xyz, 1.0);\n", s.coord_set); break;
                    default: add(o, "        c = a_tex%d;\n", s.coord_set); break;
                }
                break;
        }
        if (s.transform) {
            add(o, "        c = u_texture[%d] * c;\n", i);
            add(o, "        vo.tc%d = vec4(c.x, %s, %s, %s);\n", i, s.transform >= 2 ? "c.y" : "0.0",
                s.transform >= 3 ? "c.z" : "0.0", s.transform >= 4 ? "c.w" : "0.0");
        } else {
            // Without a transform the first two components are u and v; a 1-float set reads v = 0.
            add(o, "        vo.tc%d = vec4(c.x, %s, 0.0, 1.0);\n", i, size >= 2 ? "c.y" : "0.0");
        }
        o += "    }\n";
    }
    o += "}\n";
    return o;
}

// Texture wrapping (WRAPn) is cylindrical interpolation, which GL does not have: per
// primitive, a flagged component more than 0.5 below the largest of the primitive takes the
// short way round by adding 1 (RenderTexture.WrapTakesTheShortWayRound). With the first-vertex
// convention GL presents each input primitive starting at its provoking vertex (for a fan,
// Direct3D's vertex i + 1), so flat colours come from input vertex 0.
std::string geometry_shader(const PipelineKey& k) {
    bool lines = k.primitive == 2 || k.primitive == 3;
    int n = lines ? 2 : 3;
    std::string o = "#version 450 core\n";
    o += kBlocks;
    add(o, "layout(%s) in;\nlayout(%s, max_vertices = %d) out;\n", lines ? "lines" : "triangles",
        lines ? "line_strip" : "triangle_strip", n);
    varying_block(o, k, "in", "vi[]");
    varying_block(o, k, "out", "go");
    o += "void main() {\n";
    for (int i = 0; i < kMaxStages; ++i) {
        if (!samples(k, i)) continue;
        add(o, "    vec4 t%d[%d];\n", i, n);
        for (int v = 0; v < n; ++v) add(o, "    t%d[%d] = vi[%d].tc%d;\n", i, v, v, i);
        static const char* kComp = "xyzw";
        for (int c = 0; c < 4; ++c) {
            if (!(k.stages[i].wrap & (1 << c))) continue;
            if (lines)
                add(o, "    { float m = max(t%d[0].%c, t%d[1].%c);\n", i, kComp[c], i, kComp[c]);
            else
                add(o, "    { float m = max(max(t%d[0].%c, t%d[1].%c), t%d[2].%c);\n", i, kComp[c], i, kComp[c], i,
                    kComp[c]);
            for (int v = 0; v < n; ++v)
                add(o, "      if (m - t%d[%d].%c > 0.5) t%d[%d].%c += 1.0;\n", i, v, kComp[c], i, v, kComp[c]);
            o += "    }\n";
        }
    }
    add(o, "    for (int v = 0; v < %d; ++v) {\n", n);
    o += "        gl_Position = gl_in[v].gl_Position;\n";
    if (k.flat)
        o += "        go.diffuse = vi[0].diffuse;\n        go.specular = vi[0].specular;\n";
    else
        o += "        go.diffuse = vi[v].diffuse;\n        go.specular = vi[v].specular;\n";
    o += "        go.fog = vi[v].fog;\n";
    for (int i = 0; i < kMaxStages; ++i)
        if (samples(k, i)) add(o, "        go.tc%d = t%d[v];\n", i, i);
    o += "        EmitVertex();\n    }\n    EndPrimitive();\n}\n";
    return o;
}

std::string argument(uint8_t arg, int stage) {
    std::string base;
    switch (arg & 0x0F) {
        case kArgDiffuse: base = "diffuse"; break;
        case kArgTexture: base = "tex" + std::to_string(stage); break;
        case kArgFactor: base = "u_texture_factor"; break;
        case kArgSpecular: base = "specular"; break;
        default: base = "current"; break;  // CURRENT (the diffuse colour on stage 0) and unknown selectors
    }
    if (arg & kArgAlphaReplicate) base = base + ".aaaa";
    if (arg & kArgComplement) base = "(vec4(1.0) - " + base + ")";
    return base;
}

// The operation on arguments a1, a2 (vec4 names); `c` is ".rgb" or ".a".
std::string operation(uint8_t op, const std::string& a1, const std::string& a2, const char* c, int stage,
                      bool has_texture, bool colour) {
    std::string x = a1 + c, y = a2 + c;
    std::string tex_alpha = has_texture ? "tex" + std::to_string(stage) + ".a" : "1.0";
    switch (op) {
        case kOpSelectArg1:
        case kOpPremodulate: return x;
        case kOpSelectArg2: return y;
        case kOpModulate: return x + " * " + y;
        case kOpModulate2x: return "2.0 * " + x + " * " + y;
        case kOpModulate4x: return "4.0 * " + x + " * " + y;
        case kOpAdd: return x + " + " + y;
        case kOpAddSigned: return x + " + " + y + " - 0.5";
        case kOpAddSigned2x: return "2.0 * (" + x + " + " + y + " - 0.5)";
        case kOpSubtract: return x + " - " + y;
        case kOpAddSmooth: return x + " + " + y + " * (1.0 - " + x + ")";
        case kOpBlendDiffuseAlpha: return "mix(" + y + ", " + x + ", diffuse.a)";
        case kOpBlendTextureAlpha: return "mix(" + y + ", " + x + ", " + tex_alpha + ")";
        case kOpBlendFactorAlpha: return "mix(" + y + ", " + x + ", u_texture_factor.a)";
        case kOpBlendTextureAlphaPm: return x + " + " + y + " * (1.0 - " + tex_alpha + ")";
        case kOpBlendCurrentAlpha: return "mix(" + y + ", " + x + ", current.a)";
        default: break;
    }
    if (colour) {
        switch (op) {
            case kOpModulateAlphaAddColour: return a1 + ".rgb + " + a1 + ".a * " + a2 + ".rgb";
            case kOpModulateColourAddAlpha: return a1 + ".rgb * " + a2 + ".rgb + " + a1 + ".a";
            case kOpModulateInvAlphaAddColour: return a1 + ".rgb + (1.0 - " + a1 + ".a) * " + a2 + ".rgb";
            case kOpModulateInvColourAddAlpha: return "(vec3(1.0) - " + a1 + ".rgb) * " + a2 + ".rgb + " + a1 + ".a";
            case kOpDotProduct3:
                return "vec3(clamp(4.0 * dot(" + a1 + ".rgb - 0.5, " + a2 + ".rgb - 0.5), 0.0, 1.0))";
            default: break;
        }
    }
    // Bump-mapping stages pass the colour on; colour-only operations used on alpha and
    // unknown operations pass the current value on.
    return std::string("current") + c;
}

std::string fragment_shader(const PipelineKey& k) {
    std::string o = "#version 450 core\n";
    o += kBlocks;
    varying_block(o, k, "in", "fi");
    for (int i = 0; i < kMaxStages; ++i)
        if (samples(k, i)) add(o, "layout(binding = %d) uniform sampler2D s%d;\n", i, i);
    o += "layout(location = 0) out vec4 o_colour;\n";
    o += "void main() {\n    vec4 diffuse = fi.diffuse;\n    vec4 specular = fi.specular;\n";
    o += "    vec4 current = diffuse;\n";
    o += "    vec2 bump_offset = vec2(0.0);\n    float bump_scale = 1.0;\n";
    for (int i = 0; i < k.stage_count; ++i) {
        const StageKey& s = k.stages[i];
        bool sampled = samples(k, i);
        add(o, "    // stage %d\n    {\n", i);
        if (sampled) {
            if (s.projected && s.transform) {
                static const char* kComp = "xyzw";
                add(o, "        vec2 uv = fi.tc%d.xy / fi.tc%d.%c;\n", i, i, kComp[s.transform - 1]);
            } else {
                add(o, "        vec2 uv = fi.tc%d.xy;\n", i);
            }
            add(o, "        vec4 tex%d = texture(s%d, uv + bump_offset);\n", i, i);
            if (s.texture == 2)  // signed Du/Dv stored biased by 128
                add(o, "        tex%d.rg = clamp((tex%d.rg * 255.0 - 128.0) / 127.0, -1.0, 1.0);\n", i, i);
            add(o, "        tex%d.rgb *= bump_scale;\n", i);
        } else {
            add(o, "        vec4 tex%d = vec4(1.0);\n", i);
        }
        o += "        bump_offset = vec2(0.0);\n        bump_scale = 1.0;\n";
        std::string c1 = argument(s.colour_arg1, i), c2 = argument(s.colour_arg2, i);
        std::string a1 = argument(s.alpha_arg1, i), a2 = argument(s.alpha_arg2, i);
        add(o, "        vec3 rgb = %s;\n", operation(s.colour_op, c1, c2, ".rgb", i, s.texture != 0, true).c_str());
        if (s.colour_op == kOpDotProduct3) {
            // DOTPRODUCT3 writes all four channels, alpha included.
            o += "        float a = rgb.r;\n";
        } else if (s.alpha_op == kOpDisable || s.alpha_op == 0) {
            o += "        float a = current.a;\n";
        } else {
            add(o, "        float a = %s;\n", operation(s.alpha_op, a1, a2, ".a", i, s.texture != 0, false).c_str());
        }
        if (s.colour_op == kOpBumpEnvMap || s.colour_op == kOpBumpEnvMapLuminance) {
            add(o, "        bump_offset = vec2(u_bump[%d].x * tex%d.r + u_bump[%d].z * tex%d.g, "
                   "u_bump[%d].y * tex%d.r + u_bump[%d].w * tex%d.g);\n", i, i, i, i, i, i, i, i);
            if (s.colour_op == kOpBumpEnvMapLuminance)
                add(o, "        bump_scale = clamp(tex%d.b * u_bump_luminance[%d].x + u_bump_luminance[%d].y, 0.0, 1.0);\n",
                    i, i, i);
        }
        o += "        current = clamp(vec4(rgb, a), 0.0, 1.0);\n";
        if (i == 0 && k.colour_key && sampled)
            o += "        if (all(greaterThanEqual(tex0.rgb, u_colour_key_low.rgb - 0.002)) &&\n"
                 "            all(lessThanEqual(tex0.rgb, u_colour_key_high.rgb + 0.002))) discard;\n";
        o += "    }\n";
    }
    // Pixel pipeline order: cascade, specular, fog, alpha test (blending follows in GL).
    if (k.specular_add) o += "    current.rgb = min(current.rgb + specular.rgb, vec3(1.0));\n";
    if (k.fog == kFogTable)
        o += "    current.rgb = mix(u_fog_colour.rgb, current.rgb, " + fog_formula(k.fog_mode, "fi.fog") + ");\n";
    else if (k.fog)
        o += "    current.rgb = mix(u_fog_colour.rgb, current.rgb, clamp(fi.fog, 0.0, 1.0));\n";
    if (k.alpha_func && k.alpha_func != 8) {
        static const char* kCompare[] = {"", "", "<", "==", "<=", ">", "!=", ">="};
        if (k.alpha_func == 1)
            o += "    discard;\n";
        else
            add(o, "    if (!(floor(current.a * 255.0 + 0.5) %s u_alpha_ref.x)) discard;\n", kCompare[k.alpha_func]);
    }
    o += "    o_colour = current;\n}\n";
    return o;
}

GLuint compile(GLenum type, const std::string& source) {
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        OutputDebugStringA("Vantor OpenGL: shader does not compile:\n");
        OutputDebugStringA(log);
        OutputDebugStringA(source.c_str());
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

size_t PipelineKeyHash::operator()(const PipelineKey& k) const {
    uint64_t words[sizeof(PipelineKey) / 8];
    std::memcpy(words, &k, sizeof words);
    uint64_t h = 1469598103934665603ull;
    for (uint64_t w : words) h = (h ^ w) * 1099511628211ull;
    return static_cast<size_t>(h ^ (h >> 29));
}

ShaderSource generate_shaders(const PipelineKey& key) {
    ShaderSource s;
    s.vertex = vertex_shader(key);
    if (key.primitive) s.geometry = geometry_shader(key);
    s.fragment = fragment_shader(key);
    return s;
}

ProgramCache::~ProgramCache() {
    for (auto& [key, program] : programs_)
        if (program) glDeleteProgram(program);
}

GLuint build_program(const std::string& vertex, const std::string& geometry, const std::string& fragment) {
    GLuint vs = compile(GL_VERTEX_SHADER, vertex);
    GLuint gs = geometry.empty() ? 0 : compile(GL_GEOMETRY_SHADER, geometry);
    GLuint fs = compile(GL_FRAGMENT_SHADER, fragment);
    GLuint program = 0;
    if (vs && fs && (geometry.empty() || gs)) {
        program = glCreateProgram();
        glAttachShader(program, vs);
        if (gs) glAttachShader(program, gs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        GLint ok = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            char log[2048] = {};
            glGetProgramInfoLog(program, sizeof log, nullptr, log);
            OutputDebugStringA("Vantor OpenGL: program does not link:\n");
            OutputDebugStringA(log);
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vs) glDeleteShader(vs);
    if (gs) glDeleteShader(gs);
    if (fs) glDeleteShader(fs);
    return program;
}

GLuint ProgramCache::program(const PipelineKey& key) {
    auto it = programs_.find(key);
    if (it != programs_.end()) return it->second;
    ShaderSource source = generate_shaders(key);
    GLuint program = build_program(source.vertex, source.geometry, source.fragment);
    programs_.emplace(key, program);
    return program;
}

}  // namespace vantor::render
