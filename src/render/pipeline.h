// The fixed-function pipeline in shaders: a key that says everything about a draw that
// changes the shader code, GLSL generated from it, and a program cache.
//
//   PipelineKey key{};               // filled by the device from its states and the vertex format
//   GLuint program = cache.program(key);    // compiled and linked on first use
//
// What does not change the code (matrices, colours, fog distances, reference values) lives in
// uniform blocks shared by every program, so switching programs uploads nothing:
//   binding 1 LightingBlock, 2 PixelBlock, 3 BlendBlock (vertex blending's further matrices),
//   4 ViewBlock (projection, texture matrices, viewport).
// What changes from draw to draw (the WORLD matrices of ObjectBlock, the material) is plain
// uniforms at fixed locations instead: a few bytes per draw rather than a new block in the
// ring each time (kObjectLocation, kMaterialLocation).
#pragma once

#include "gl.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>

namespace vantor::render {

constexpr int kMaxLights = 8;
constexpr int kMaxStages = 8;

// Light kinds as the key has them.
enum : uint8_t { kLightPoint = 1, kLightSpot = 2, kLightDirectional = 3 };
// Texture-coordinate generation (TEXCOORDINDEX's high word).
enum : uint8_t { kCoordPassThrough = 0, kCoordNormal = 1, kCoordPosition = 2, kCoordReflection = 3 };
// Fog as the key has it: where the factor comes from.
enum : uint8_t { kFogOff = 0, kFogFromSpecularAlpha = 1, kFogVertex = 2, kFogTable = 3 };

struct StageKey {
    uint8_t colour_op;     // D3DTOP, after the no-texture rule; 0 past the last active stage
    uint8_t colour_arg1, colour_arg2;
    uint8_t alpha_op;
    uint8_t alpha_arg1, alpha_arg2;
    uint8_t coord_set;     // vertex texture set read (pass-through)
    uint8_t coord_size;    // floats of that set in the vertex; 0 when the vertex has none
    uint8_t coord_gen;     // kCoord*
    uint8_t transform;     // TEXTURETRANSFORMFLAGS count (0..4)
    uint8_t projected;
    uint8_t texture;       // 1: a texture is bound; 2: a signed (Du/Dv) texture is bound
    uint8_t wrap;          // WRAPn flags of the coordinate set (U 1, V 2, W 4, 4th 8)
    uint8_t pad[3];
};

struct PipelineKey {
    // Vertex format
    uint8_t rhw, normal, diffuse, specular, weights;
    // Vertex processing
    uint8_t lighting, specular_enable, local_viewer, normalize, colour_vertex;
    uint8_t diffuse_source, specular_source, ambient_source, emissive_source;
    uint8_t blend_weights;  // weights used by vertex blending (0 = off)
    uint8_t light_count;
    uint8_t light_type[kMaxLights];
    // Fog
    uint8_t fog;        // kFog*
    uint8_t fog_mode;   // D3DFOG_* formula for kFogVertex / kFogTable
    uint8_t range_fog;
    // Rasterisation and pixels
    uint8_t flat;
    uint8_t alpha_func;  // D3DCMP_*, 0 when the alpha test is off
    uint8_t colour_key;  // discard stage 0 texels inside the source colour key
    uint8_t specular_add;
    uint8_t primitive;   // D3DPT_* when a geometry shader is needed (texture wrapping), else 0
    uint8_t stage_count;
    uint8_t pad[7];
    StageKey stages[kMaxStages];

    bool operator==(const PipelineKey& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};
static_assert(sizeof(PipelineKey) % 8 == 0, "the key hashes as whole words");

struct PipelineKeyHash {
    size_t operator()(const PipelineKey& k) const;
};

// Uniform blocks (std140: every member a vec4 or a mat4).
enum : int { kObjectBlock, kLightingBlock, kPixelBlock, kBlendBlock, kViewBlock, kBlockCount };

inline constexpr GLint kObjectLocation = 0;    // mat4[2]: ObjectBlock
inline constexpr GLint kMaterialLocation = 2;  // vec4[5]: MaterialUniforms

struct ObjectBlock {
    float world_view[16];     // WORLD · VIEW
    float normal_matrix[16];  // inverse transpose of its upper 3x3
};
struct BlendBlock {
    float world_view[3][16];  // WORLD1..3 · VIEW
    float normal_matrix[3][16];
};
struct ViewBlock {
    float projection[16];
    float texture[kMaxStages][16];
    float viewport[4];      // X, Y, width, height in pixels
    float pixel_offset[4];  // clip-space x, y shift and the pixel shift: Direct3D's pixel centres (device_apply.cpp)
};
struct LightBlockEntry {
    float diffuse[4], specular[4], ambient[4];
    float position[4];   // camera space
    float direction[4];  // camera space, normalised
    float params0[4];    // range, falloff, attenuation0, attenuation1
    float params1[4];    // attenuation2, cos(theta/2), cos(phi/2), 0
};
struct LightingBlock {
    float ambient[4];
    LightBlockEntry lights[kMaxLights];
};
struct MaterialUniforms {
    float diffuse[4], ambient[4], specular[4], emissive[4];
    float power[4];
};
struct PixelBlock {
    float texture_factor[4];
    float fog_colour[4];
    float fog[4];        // start, end, density, 1 / (end - start) (0 when equal)
    float alpha_ref[4];  // reference 0..255
    float bump[kMaxStages][4];            // BUMPENVMAT00, 01, 10, 11
    float bump_luminance[kMaxStages][4];  // BUMPENVLSCALE, BUMPENVLOFFSET
    float colour_key_low[4], colour_key_high[4];
};

// What a stage reads: its colour or alpha part takes `arg` (a D3DTA selector), and whether the
// stage samples its texture at all.
bool stage_colour_reads(const StageKey& s, uint8_t arg);
bool stage_alpha_reads(const StageKey& s, uint8_t arg);
bool stage_samples(const PipelineKey& k, int stage);

struct ShaderSource {
    std::string vertex, geometry, fragment;
};
ShaderSource generate_shaders(const PipelineKey& key);

// Compiles and links a program (no geometry stage when `geometry` is empty); 0 on failure,
// with the compiler's log written to the debug output.
GLuint build_program(const std::string& vertex, const std::string& geometry, const std::string& fragment);

class ProgramCache {
public:
    ~ProgramCache();
    // The linked program of `key`; 0 when it cannot be built (remembered, never retried).
    GLuint program(const PipelineKey& key);
    size_t size() const { return programs_.size(); }

private:
    std::unordered_map<PipelineKey, GLuint, PipelineKeyHash> programs_;
};

}  // namespace vantor::render
