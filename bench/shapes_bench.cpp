// Frames per second of N lit spheres (the utility layer's shapes, each drawn with its own world
// transform) and of N translucent sprites at 640x480, through the OpenGL back end and by a bare
// OpenGL program drawing the same geometry on the same EGL device, side by side in one run.
// The back-end benchmarks report their rate against the bare program's as `vs_gl`.
//
//   build/bin/shapes_bench --benchmark_counters_tabular=true
#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>
#include <benchmark/benchmark.h>

#include "bare_gl.h"

#include <vantor/render/opengl.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480, kSprite = 32;

// Shape i of n: spread over the view at depths 6 to 26.
D3DMATRIX shape_world(int i, int n) {
    float t = float(i) / float(n), z = 6.0f + 20.0f * t, a = float(i) * 2.399963f, r = 0.45f * z * std::sqrt(t + 0.02f);
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = 0.3f;
    m._44 = 1.0f;
    m._41 = r * std::cos(a), m._42 = 0.75f * r * std::sin(a), m._43 = z;
    return m;
}
// Sprite i: its centre in pixels and its turn.
void sprite_at(int i, float* x, float* y, float* angle) {
    *x = float((i * 37) % kWidth), *y = float((i * 53) % kHeight), *angle = float(i) * 0.1f;
}

D3DMATRIX projection() {
    float ys = 1.0f / std::tan(0.5f), zn = 1.0f, zf = 100.0f;
    D3DMATRIX m{};
    m._11 = ys * kHeight / kWidth, m._22 = ys, m._33 = zf / (zf - zn), m._34 = 1.0f, m._43 = -zn * zf / (zf - zn);
    return m;
}

std::map<std::string, double> g_gl_fps;  // bare OpenGL frames per second by scene

// ---------------------------------------------------------------------------------------------
// Through the back end
// ---------------------------------------------------------------------------------------------
struct BackEndScene {
    ID3DXContext* ctx = nullptr;
    IDirect3DDevice7* dev = nullptr;
    IDirectDrawSurface7* texture = nullptr;
    std::vector<ID3DXSimpleShape*> shapes;
    std::vector<D3DMATRIX> worlds;

    bool open() {
        vantor::backend::Backend& gl = vantor::render::opengl_backend();
        if (gl.D3DXInitialize() != S_OK) return false;
        if (gl.D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, 0, kWidth, kHeight, &ctx) != S_OK) return false;
        ctx->GetD3DDevice(&dev);
        return dev != nullptr;
    }
    bool open_shapes(int n) {
        if (!open()) return false;
        D3DMATRIX proj = projection();
        dev->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &proj);
        D3DLIGHT7 light{};
        light.dltType = D3DLIGHT_DIRECTIONAL;
        light.dcvDiffuse = {1, 1, 1, 1};
        light.dvDirection = {0.3f, -0.4f, 1.0f};
        dev->SetLight(0, &light);
        dev->LightEnable(0, TRUE);
        D3DMATERIAL7 m{{0.9f, 0.8f, 0.7f, 1}, {0.3f, 0.3f, 0.3f, 1}, {}, {}, 0};
        dev->SetMaterial(&m);
        dev->SetRenderState(D3DRENDERSTATE_AMBIENT, 0x00404040);
        for (int i = 0; i < n; ++i) {
            ID3DXSimpleShape* s = nullptr;
            if (vantor::render::opengl_backend().D3DXCreateSphere(dev, 1.0f, D3DX_DEFAULT, D3DX_DEFAULT, 1, &s) != S_OK)
                return false;
            shapes.push_back(s);
            worlds.push_back(shape_world(i, n));
        }
        return true;
    }
    bool open_sprites(int n) {
        if (!open()) return false;
        IDirectDraw7* dd = nullptr;
        ctx->GetDD(&dd);
        DDSURFACEDESC2 sd{};
        sd.dwSize = sizeof sd;
        sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
        sd.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
        sd.dwWidth = sd.dwHeight = kSprite;
        sd.ddpfPixelFormat.dwSize = sizeof sd.ddpfPixelFormat;
        sd.ddpfPixelFormat.dwFlags = DDPF_RGB | DDPF_ALPHAPIXELS;
        sd.ddpfPixelFormat.dwRGBBitCount = 32;
        sd.ddpfPixelFormat.dwRBitMask = 0xFF0000, sd.ddpfPixelFormat.dwGBitMask = 0xFF00;
        sd.ddpfPixelFormat.dwBBitMask = 0xFF, sd.ddpfPixelFormat.dwRGBAlphaBitMask = 0xFF000000;
        dd->CreateSurface(&sd, &texture, nullptr);
        dd->Release();
        if (!texture || texture->Lock(nullptr, &sd, DDLOCK_WAIT, 0) != DD_OK) return false;
        for (int y = 0; y < kSprite; ++y)
            for (int x = 0; x < kSprite; ++x)
                reinterpret_cast<DWORD*>(static_cast<char*>(sd.lpSurface) + y * sd.lPitch)[x] = 0xC0E08040u;
        texture->Unlock(nullptr);
        worlds.resize(size_t(n));
        return true;
    }

    void shape_frame() {
        dev->BeginScene();
        dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00808890, 1.0f, 0);
        for (size_t i = 0; i < shapes.size(); ++i) {
            dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &worlds[i]);
            shapes[i]->Draw();
        }
        dev->EndScene();
        ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC);
        glFinish();
    }
    void sprite_frame() {
        vantor::backend::Backend& gl = vantor::render::opengl_backend();
        dev->BeginScene();
        dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00808890, 1.0f, 0);
        gl.D3DXPrepareDeviceForSprite(dev, FALSE);
        for (size_t i = 0; i < worlds.size(); ++i) {
            D3DXVECTOR3 at{};
            float angle = 0;
            sprite_at(int(i), &at.x, &at.y, &angle);
            gl.D3DXDrawSpriteSimple(texture, dev, &at, 0.75f, 1.0f, angle, nullptr, nullptr);
        }
        dev->EndScene();
        ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC);
        glFinish();
    }

    void close() {
        for (ID3DXSimpleShape* s : shapes) s->Release();
        if (dev) dev->SetTexture(0, nullptr);
        if (texture) texture->Release();
        if (dev) dev->Release();
        if (ctx) ctx->Release();
        vantor::render::opengl_backend().D3DXUninitialize();
    }
};

// ---------------------------------------------------------------------------------------------
// Bare OpenGL: the same spheres (indexed, lit per vertex) and the same sprites (blended quads).
// ---------------------------------------------------------------------------------------------
const char* kShapeVertex = R"(#version 450 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 0) uniform mat4 u_world;
uniform mat4 u_projection;
uniform vec3 u_light, u_diffuse, u_ambient;
out vec3 v_colour;
void main() {
    vec4 p = u_world * vec4(a_position, 1.0);
    vec3 n = normalize(mat3(u_world) * a_normal);
    v_colour = clamp(u_ambient + u_diffuse * max(dot(n, u_light), 0.0), 0.0, 1.0);
    gl_Position = u_projection * p;
}
)";
const char* kShapeFragment = R"(#version 450 core
in vec3 v_colour;
out vec4 o_colour;
void main() { o_colour = vec4(v_colour, 1.0); }
)";
const char* kSpriteVertex = R"(#version 450 core
layout(location = 0) uniform vec3 u_sprite;  // centre x, y in pixels, angle
uniform vec2 u_target;
out vec2 v_uv;
void main() {
    vec2 corner = vec2(gl_VertexID & 1, gl_VertexID >> 1);
    vec2 local = (corner - 0.5) * 32.0;
    float c = cos(u_sprite.z), s = sin(u_sprite.z);
    vec2 p = u_sprite.xy + vec2(local.x * c - local.y * s, local.x * s + local.y * c);
    v_uv = corner;
    gl_Position = vec4(p.x / u_target.x * 2.0 - 1.0, 1.0 - p.y / u_target.y * 2.0, 0.0, 1.0);
}
)";
const char* kSpriteFragment = R"(#version 450 core
layout(binding = 0) uniform sampler2D s_texture;
in vec2 v_uv;
out vec4 o_colour;
void main() { vec4 t = texture(s_texture, v_uv); o_colour = vec4(t.rgb, t.a * 0.75); }
)";

struct BareScene {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint program = 0, vao = 0, buffers[2] = {}, texture = 0, framebuffer = 0, colour = 0, depth = 0;
    GLsizei index_count = 0;
    std::vector<D3DMATRIX> worlds;

    bool open(const char* vertex, const char* fragment) {
        if (!open_bare_context(&display, &context)) return false;
        program = link_bare_program(vertex, fragment);
        if (!program) return false;
        glCreateTextures(GL_TEXTURE_2D, 1, &colour);
        glTextureStorage2D(colour, 1, GL_RGB8, kWidth, kHeight);
        glCreateTextures(GL_TEXTURE_2D, 1, &depth);
        glTextureStorage2D(depth, 1, GL_DEPTH24_STENCIL8, kWidth, kHeight);
        glCreateFramebuffers(1, &framebuffer);
        glNamedFramebufferTexture(framebuffer, GL_COLOR_ATTACHMENT0, colour, 0);
        glNamedFramebufferTexture(framebuffer, GL_DEPTH_STENCIL_ATTACHMENT, depth, 0);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
        glViewport(0, 0, kWidth, kHeight);
        glDisable(GL_DITHER);
        glClearColor(0.5f, 0.53f, 0.56f, 1.0f);
        glCreateVertexArrays(1, &vao);
        glBindVertexArray(vao);
        return true;
    }

    // The sphere's vertices and indices as the back end builds them.
    bool open_shapes(int n) {
        std::vector<float> vertices;
        std::vector<WORD> indices;
        {
            BackEndScene source;
            ID3DXSimpleShape* s = nullptr;
            IDirect3DVertexBuffer7* vb = nullptr;
            void* p = nullptr;
            DWORD size = 0;
            if (!source.open() ||
                vantor::render::opengl_backend().D3DXCreateSphere(source.dev, 1.0f, D3DX_DEFAULT, D3DX_DEFAULT, 1, &s) != S_OK ||
                s->GetVB(&vb) != S_OK || vb->Lock(DDLOCK_WAIT | DDLOCK_READONLY, &p, &size) != D3D_OK)
                return false;
            vertices.assign(static_cast<float*>(p), static_cast<float*>(p) + size / sizeof(float));
            vb->Unlock();
            vb->Release();
            WORD* idx = nullptr;
            DWORD count = s->GetIndices(&idx);
            indices.assign(idx, idx + count);
            s->Release();
            source.close();
        }
        if (!open(kShapeVertex, kShapeFragment)) return false;
        D3DMATRIX p = projection();
        glUniformMatrix4fv(glGetUniformLocation(program, "u_projection"), 1, GL_FALSE, &p._11);
        float l[3] = {-0.3f, 0.4f, -1.0f}, len = std::sqrt(l[0] * l[0] + l[1] * l[1] + l[2] * l[2]);
        glUniform3f(glGetUniformLocation(program, "u_light"), l[0] / len, l[1] / len, l[2] / len);
        glUniform3f(glGetUniformLocation(program, "u_diffuse"), 0.9f, 0.8f, 0.7f);
        glUniform3f(glGetUniformLocation(program, "u_ambient"), 0.075f, 0.075f, 0.075f);
        glCreateBuffers(2, buffers);
        glNamedBufferData(buffers[0], GLsizeiptr(vertices.size() * sizeof(float)), vertices.data(), GL_STATIC_DRAW);
        glNamedBufferData(buffers[1], GLsizeiptr(indices.size() * sizeof(WORD)), indices.data(), GL_STATIC_DRAW);
        glVertexArrayVertexBuffer(vao, 0, buffers[0], 0, 8 * sizeof(float));
        glVertexArrayElementBuffer(vao, buffers[1]);
        for (GLuint a = 0; a < 2; ++a) {
            glEnableVertexArrayAttrib(vao, a);
            glVertexArrayAttribBinding(vao, a, 0);
            glVertexArrayAttribFormat(vao, a, 3, GL_FLOAT, GL_FALSE, a * 12);
        }
        index_count = GLsizei(indices.size());
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CW);
        for (int i = 0; i < n; ++i) worlds.push_back(shape_world(i, n));
        return glGetError() == GL_NO_ERROR;
    }
    bool open_sprites(int n) {
        if (!open(kSpriteVertex, kSpriteFragment)) return false;
        glUniform2f(glGetUniformLocation(program, "u_target"), float(kWidth), float(kHeight));
        std::vector<DWORD> texels(kSprite * kSprite, 0xC0E08040u);
        glCreateTextures(GL_TEXTURE_2D, 1, &texture);
        glTextureStorage2D(texture, 1, GL_RGBA8, kSprite, kSprite);
        glTextureSubImage2D(texture, 0, 0, 0, kSprite, kSprite, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glBindTextureUnit(0, texture);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        worlds.resize(size_t(n));
        return glGetError() == GL_NO_ERROR;
    }

    void shape_frame() {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        for (const D3DMATRIX& w : worlds) {
            glUniformMatrix4fv(0, 1, GL_FALSE, &w._11);
            glDrawElements(GL_TRIANGLES, index_count, GL_UNSIGNED_SHORT, nullptr);
        }
        glFinish();
    }
    void sprite_frame() {
        glClear(GL_COLOR_BUFFER_BIT);
        for (size_t i = 0; i < worlds.size(); ++i) {
            float x, y, a;
            sprite_at(int(i), &x, &y, &a);
            glUniform3f(0, x, y, a);
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
        glFinish();
    }

    void close() {
        if (context == EGL_NO_CONTEXT) return;
        GLuint textures[] = {texture, colour, depth};
        glDeleteTextures(3, textures);
        glDeleteFramebuffers(1, &framebuffer);
        glDeleteBuffers(2, buffers);
        glDeleteVertexArrays(1, &vao);
        glDeleteProgram(program);
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, context);
    }
};

template <class Frame>
double run_frames(benchmark::State& state, Frame frame) {
    frame();  // compiles programs, uploads buffers
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) frame();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double fps = seconds > 0 ? double(state.iterations()) / seconds : 0.0;
    state.counters["fps"] = fps;
    state.counters["count"] = double(state.range(0));
    return fps;
}

std::string key(const char* scene, benchmark::State& state) { return scene + std::to_string(state.range(0)); }

void BM_BareShapes(benchmark::State& state) {
    BareScene scene;
    if (scene.open_shapes(int(state.range(0)))) g_gl_fps[key("shapes", state)] = run_frames(state, [&] { scene.shape_frame(); });
    else state.SkipWithError("no OpenGL 4.5 context");
    scene.close();
}
void BM_BackEndShapes(benchmark::State& state) {
    BackEndScene scene;
    if (scene.open_shapes(int(state.range(0)))) {
        double fps = run_frames(state, [&] { scene.shape_frame(); });
        if (double gl = g_gl_fps[key("shapes", state)]; gl > 0) state.counters["vs_gl"] = fps / gl;
    } else {
        state.SkipWithError("no rendering context");
    }
    scene.close();
}
void BM_BareSprites(benchmark::State& state) {
    BareScene scene;
    if (scene.open_sprites(int(state.range(0)))) g_gl_fps[key("sprites", state)] = run_frames(state, [&] { scene.sprite_frame(); });
    else state.SkipWithError("no OpenGL 4.5 context");
    scene.close();
}
void BM_BackEndSprites(benchmark::State& state) {
    BackEndScene scene;
    if (scene.open_sprites(int(state.range(0)))) {
        double fps = run_frames(state, [&] { scene.sprite_frame(); });
        if (double gl = g_gl_fps[key("sprites", state)]; gl > 0) state.counters["vs_gl"] = fps / gl;
    } else {
        state.SkipWithError("no rendering context");
    }
    scene.close();
}

}  // namespace

// Registration order is run order: each bare program before the back end it is compared with.
BENCHMARK(BM_BareShapes)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BackEndShapes)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BareSprites)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BackEndSprites)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
