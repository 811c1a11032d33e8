// Frames per second of a scene of N small lit, fogged, textured batches at 640x480, drawn
// through the Direct3D 7 device (from memory and from a vertex buffer) and by a bare OpenGL
// program with the same geometry and shading on the same EGL device, side by side in one run.
// The device benchmarks report their rate against the bare program's as `vs_gl`.
//
//   build/bin/render_bench --benchmark_counters_tabular=true
#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>
#include <benchmark/benchmark.h>

#include "bare_gl.h"

#include <vantor/render/opengl.h>

#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr float kFogStart = 6.0f, kFogEnd = 30.0f;

// One batch: a quad (two triangles) of D3DVERTEX, facing the camera.
const D3DVERTEX kQuad[6] = {
    {-0.4f, 0.4f, 0, 0, 0, -1, 0, 0}, {0.4f, 0.4f, 0, 0, 0, -1, 1, 0}, {-0.4f, -0.4f, 0, 0, 0, -1, 0, 1},
    {-0.4f, -0.4f, 0, 0, 0, -1, 0, 1}, {0.4f, 0.4f, 0, 0, 0, -1, 1, 0}, {0.4f, -0.4f, 0, 0, 0, -1, 1, 1},
};

// Where batch i sits: a spiral of batches spread over the view and over the fog's depth.
D3DMATRIX batch_world(int i, int n) {
    float t = static_cast<float>(i) / static_cast<float>(n);
    float z = 6.0f + 20.0f * t;
    float a = static_cast<float>(i) * 2.399963f;  // golden angle
    float r = 0.45f * z * std::sqrt(t + 0.02f);
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    m._41 = r * std::cos(a);
    m._42 = 0.75f * r * std::sin(a);
    m._43 = z;
    return m;
}

D3DMATRIX projection() {
    float ys = 1.0f / std::tan(0.5f), zn = 1.0f, zf = 100.0f;
    D3DMATRIX m{};
    m._11 = ys * kHeight / kWidth;
    m._22 = ys;
    m._33 = zf / (zf - zn);
    m._34 = 1.0f;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

std::vector<DWORD> checker() {
    std::vector<DWORD> t(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) t[y * 64 + x] = ((x / 8 + y / 8) & 1) ? 0xFFE0C080 : 0xFF406080;
    return t;
}

std::map<int, double> g_gl_fps;  // bare OpenGL frames per second by batch count

// ---------------------------------------------------------------------------------------------
// Through the device
// ---------------------------------------------------------------------------------------------
struct DeviceScene {
    ID3DXContext* ctx = nullptr;
    IDirect3DDevice7* dev = nullptr;
    IDirectDrawSurface7* texture = nullptr;
    IDirect3DVertexBuffer7* vb = nullptr;
    std::vector<D3DMATRIX> worlds;

    bool open(int n) {
        vantor::backend::Backend& gl = vantor::render::opengl_backend();
        if (gl.D3DXInitialize() != S_OK) return false;
        if (gl.D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, 0, kWidth, kHeight, &ctx) != S_OK) return false;
        ctx->GetD3DDevice(&dev);
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
        dev->SetRenderState(D3DRENDERSTATE_FOGENABLE, TRUE);
        dev->SetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, D3DFOG_LINEAR);
        dev->SetRenderState(D3DRENDERSTATE_FOGCOLOR, 0x00808890);
        float start = kFogStart, end = kFogEnd;
        DWORD bits;
        std::memcpy(&bits, &start, 4);
        dev->SetRenderState(D3DRENDERSTATE_FOGSTART, bits);
        std::memcpy(&bits, &end, 4);
        dev->SetRenderState(D3DRENDERSTATE_FOGEND, bits);
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
        dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
        IDirectDraw7* dd = nullptr;
        ctx->GetDD(&dd);
        DDSURFACEDESC2 sd{};
        sd.dwSize = sizeof sd;
        sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
        sd.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
        sd.dwWidth = sd.dwHeight = 64;
        sd.ddpfPixelFormat.dwSize = sizeof sd.ddpfPixelFormat;
        sd.ddpfPixelFormat.dwFlags = DDPF_RGB | DDPF_ALPHAPIXELS;
        sd.ddpfPixelFormat.dwRGBBitCount = 32;
        sd.ddpfPixelFormat.dwRBitMask = 0xFF0000, sd.ddpfPixelFormat.dwGBitMask = 0xFF00;
        sd.ddpfPixelFormat.dwBBitMask = 0xFF, sd.ddpfPixelFormat.dwRGBAlphaBitMask = 0xFF000000;
        dd->CreateSurface(&sd, &texture, nullptr);
        dd->Release();
        if (!texture || texture->Lock(nullptr, &sd, DDLOCK_WAIT, 0) != DD_OK) return false;
        std::vector<DWORD> texels = checker();
        for (int y = 0; y < 64; ++y) std::memcpy(static_cast<char*>(sd.lpSurface) + y * sd.lPitch, &texels[y * 64], 256);
        texture->Unlock(nullptr);
        dev->SetTexture(0, texture);
        IDirect3D7* d3d = nullptr;
        dev->GetDirect3D(&d3d);
        D3DVERTEXBUFFERDESC vd{sizeof vd, 0, D3DFVF_VERTEX, 6};
        d3d->CreateVertexBuffer(&vd, &vb, 0);
        d3d->Release();
        void* p = nullptr;
        if (!vb || vb->Lock(DDLOCK_WAIT, &p, nullptr) != D3D_OK) return false;
        std::memcpy(p, kQuad, sizeof kQuad);
        vb->Unlock();
        for (int i = 0; i < n; ++i) worlds.push_back(batch_world(i, n));
        return true;
    }

    void frame(bool from_buffer) {
        dev->BeginScene();
        dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00808890, 1.0f, 0);
        for (D3DMATRIX& w : worlds) {
            dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &w);
            if (from_buffer)
                dev->DrawPrimitiveVB(D3DPT_TRIANGLELIST, vb, 0, 6, 0);
            else
                dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, const_cast<D3DVERTEX*>(kQuad), 6, 0);
        }
        dev->EndScene();
        ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC);
        glFinish();  // the device's GL context is current: wait for the frame to be drawn
    }

    void close() {
        if (dev) dev->SetTexture(0, nullptr);
        if (vb) vb->Release();
        if (texture) texture->Release();
        if (dev) dev->Release();
        if (ctx) ctx->Release();
        vantor::render::opengl_backend().D3DXUninitialize();
    }
};

// ---------------------------------------------------------------------------------------------
// Bare OpenGL: the same quads, light, fog and texture with minimal shaders.
// ---------------------------------------------------------------------------------------------
const char* kVertex = R"(#version 450 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec2 a_uv;
layout(location = 0) uniform mat4 u_world_view;
uniform mat4 u_projection;
uniform vec3 u_light;       // direction towards the light, camera space
uniform vec3 u_diffuse, u_ambient;
uniform vec2 u_fog;         // end, 1 / (end - start)
out vec3 v_colour;
out vec2 v_uv;
out float v_fog;
void main() {
    vec4 p = u_world_view * vec4(a_position, 1.0);
    vec3 n = mat3(u_world_view) * a_normal;
    v_colour = clamp(u_ambient + u_diffuse * max(dot(n, u_light), 0.0), 0.0, 1.0);
    v_fog = clamp((u_fog.x - abs(p.z)) * u_fog.y, 0.0, 1.0);
    v_uv = a_uv;
    gl_Position = u_projection * p;
}
)";
const char* kFragment = R"(#version 450 core
layout(binding = 0) uniform sampler2D s_texture;
uniform vec3 u_fog_colour;
in vec3 v_colour;
in vec2 v_uv;
in float v_fog;
out vec4 o_colour;
void main() {
    vec3 c = texture(s_texture, v_uv).rgb * v_colour;
    o_colour = vec4(mix(u_fog_colour, c, v_fog), 1.0);
}
)";

struct BareScene {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint program = 0, vao = 0, buffer = 0, texture = 0, framebuffer = 0, colour = 0, depth = 0;
    std::vector<D3DMATRIX> worlds;

    bool open(int n) {
        if (!open_bare_context(&display, &context)) return false;
        program = link_bare_program(kVertex, kFragment);
        if (!program) return false;
        D3DMATRIX p = projection();
        glUniformMatrix4fv(glGetUniformLocation(program, "u_projection"), 1, GL_FALSE, &p._11);
        float l[3] = {-0.3f, 0.4f, -1.0f};
        float len = std::sqrt(l[0] * l[0] + l[1] * l[1] + l[2] * l[2]);
        glUniform3f(glGetUniformLocation(program, "u_light"), l[0] / len, l[1] / len, l[2] / len);
        glUniform3f(glGetUniformLocation(program, "u_diffuse"), 0.9f, 0.8f, 0.7f);
        glUniform3f(glGetUniformLocation(program, "u_ambient"), 0.3f * 0.25f, 0.3f * 0.25f, 0.3f * 0.25f);
        glUniform2f(glGetUniformLocation(program, "u_fog"), kFogEnd, 1.0f / (kFogEnd - kFogStart));
        glUniform3f(glGetUniformLocation(program, "u_fog_colour"), 0.5f, 0.53f, 0.56f);

        glCreateBuffers(1, &buffer);
        glNamedBufferData(buffer, sizeof kQuad, kQuad, GL_STATIC_DRAW);
        glCreateVertexArrays(1, &vao);
        glVertexArrayVertexBuffer(vao, 0, buffer, 0, sizeof(D3DVERTEX));
        for (GLuint a = 0; a < 3; ++a) {
            glEnableVertexArrayAttrib(vao, a);
            glVertexArrayAttribBinding(vao, a, 0);
        }
        glVertexArrayAttribFormat(vao, 0, 3, GL_FLOAT, GL_FALSE, 0);
        glVertexArrayAttribFormat(vao, 1, 3, GL_FLOAT, GL_FALSE, 12);
        glVertexArrayAttribFormat(vao, 2, 2, GL_FLOAT, GL_FALSE, 24);
        glBindVertexArray(vao);

        std::vector<DWORD> texels = checker();
        glCreateTextures(GL_TEXTURE_2D, 1, &texture);
        glTextureStorage2D(texture, 1, GL_RGBA8, 64, 64);
        glTextureSubImage2D(texture, 0, 0, 0, 64, 64, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glBindTextureUnit(0, texture);

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
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        // The state the device draws under: no dithering, a scissor at the viewport.
        glDisable(GL_DITHER);
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, kWidth, kHeight);
        glClearColor(0.5f, 0.53f, 0.56f, 1.0f);
        // Every batch's matrix, computed once (the view is the identity); per batch the frame
        // sets one plain uniform, the cheapest change between draws on llvmpipe.
        for (int i = 0; i < n; ++i) worlds.push_back(batch_world(i, n));
        return glGetError() == GL_NO_ERROR;
    }

    void frame() {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        for (const D3DMATRIX& w : worlds) {
            glUniformMatrix4fv(0, 1, GL_FALSE, &w._11);
            glDrawArrays(GL_TRIANGLES, 0, 6);
        }
        glFinish();
    }

    void close() {
        if (context == EGL_NO_CONTEXT) return;
        GLuint textures[] = {texture, colour, depth};
        glDeleteTextures(3, textures);
        glDeleteFramebuffers(1, &framebuffer);
        glDeleteBuffers(1, &buffer);
        glDeleteVertexArrays(1, &vao);
        glDeleteProgram(program);
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, context);
    }
};

// Runs the frames the benchmark asks for and reports frames per second.
template <class Frame>
double run_frames(benchmark::State& state, int n, Frame frame) {
    frame();  // compiles programs, uploads the texture
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) frame();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double fps = seconds > 0 ? static_cast<double>(state.iterations()) / seconds : 0.0;
    state.counters["fps"] = fps;
    state.counters["batches"] = n;
    return fps;
}

void BM_BareOpenGL(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    BareScene scene;
    if (scene.open(n)) g_gl_fps[n] = run_frames(state, n, [&] { scene.frame(); });
    else state.SkipWithError("no OpenGL 4.5 context");
    scene.close();
}

void device_benchmark(benchmark::State& state, bool from_buffer) {
    int n = static_cast<int>(state.range(0));
    DeviceScene scene;
    if (scene.open(n)) {
        double fps = run_frames(state, n, [&] { scene.frame(from_buffer); });
        // Measured in the same run as the bare program: the device's rate as a share of it.
        auto it = g_gl_fps.find(n);
        if (it != g_gl_fps.end() && it->second > 0) state.counters["vs_gl"] = fps / it->second;
    } else {
        state.SkipWithError("no rendering context");
    }
    scene.close();
}

void BM_DeviceDrawPrimitive(benchmark::State& state) { device_benchmark(state, false); }
void BM_DeviceDrawPrimitiveVB(benchmark::State& state) { device_benchmark(state, true); }

}  // namespace

// Registration order is run order: the bare program first, so the device runs compare with it.
BENCHMARK(BM_BareOpenGL)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeviceDrawPrimitive)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeviceDrawPrimitiveVB)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
