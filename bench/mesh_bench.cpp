// N copies of the demo's house (examples/models/house.x), lit by two directional lights and an
// ambient light, fogged and textured, at 640x480, drawn through Objects.Render, next to a bare
// OpenGL program drawing the same triangles the same way (one draw per material slot and copy,
// the translucent mesh blended last, the image read back and presented into a virtual window);
// and the time Objects.LoadFile takes for each `.x` file of the assimp-testmodels corpus.
//
//   build/bin/mesh_bench        (frames per second: items_per_second; ratio: engine / bare)
#include <benchmark/benchmark.h>

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>

#include "bare_gl.h"

#include <vantor/backend/matrix.h>
#include <vantor/text.h>
#include <vantor/vantor.h>
#include <vantor/window.h>

#include <unistd.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "geometry/mesh_file.h"

extern "C" HRESULT DllRegisterServer();

namespace {

constexpr int kWidth = 640, kHeight = 480;
const std::string kModels = std::string(VANTOR_SOURCE_DIR) + "/examples/models";

BSTR bstr(const std::string& s) { return vantor::text::bstr(s.c_str()); }

// How many pixels of the window's last frame are not the clear colour: both programs must
// cover the same area for their rates to compare.
double covered(HWND window) {
    std::vector<uint32_t> rgba(static_cast<size_t>(kWidth) * kHeight);
    if (!VantorWindowReadPixels(window, rgba.data(), kWidth * 4)) return -1;
    const uint32_t clear = rgba[0];
    double n = 0;
    for (uint32_t p : rgba) n += p != clear;
    return n;
}

struct Engine {
    HWND window = 0;
    IDevice3D* device = nullptr;
    bool start() {
        static std::string registry = "/tmp/vantor-bench-registry-" + std::to_string(getpid());
        setenv("VANTOR_REGISTRY", registry.c_str(), 1);
        CoInitialize(nullptr);
        if (DllRegisterServer() != S_OK) return false;
        window = VantorCreateVirtualWindow(kWidth, kHeight, "bench");
        CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDevice3D, reinterpret_cast<void**>(&device));
        device->put_Window(static_cast<LONG>(window));
        return SUCCEEDED(device->Initialise(0, kWidth, kHeight, VARIANT_FALSE, 1));
    }
    template <class I>
    I* child(HRESULT (IDevice3D::*get)(IDispatch**)) {
        IDispatch* d = nullptr;
        (device->*get)(&d);
        I* p = nullptr;
        if (d) d->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&p)), d->Release();
        return p;
    }
    void stop() {
        device->Free();
        device->Release();
        DestroyWindow(window);
    }
};

void BM_EngineHouses(benchmark::State& state) {
    Engine e;
    if (!e.start()) return state.SkipWithError("no device");
    IObjects* objects = e.child<IObjects>(&IDevice3D::get_Objects);
    const std::string previous = std::filesystem::current_path();
    std::filesystem::current_path(kModels);  // the model names its texture relative to its folder
    for (int i = 0; i < state.range(0); ++i) {
        IDispatch* o = nullptr;
        BSTR file = bstr("house.x"), name = bstr("House" + std::to_string(i));
        objects->get_LoadFile(file, name, VARIANT_TRUE, &o);
        SysFreeString(file);
        SysFreeString(name);
        if (o) o->Release();
    }
    std::filesystem::current_path(previous);
    ILights* lights = e.child<ILights>(&IDevice3D::get_Lights);
    IDispatch* l = nullptr;
    lights->get_Add(lt_Directional, -0.5f, -0.8f, 0.4f, 1, 1, 1, 1, 1.0f, 0.0f, 1.0f, 100.0f, &l);
    if (l) l->Release();
    lights->get_Add(lt_Directional, 0.6f, -0.3f, -0.7f, 1, 1, 1, 1, 1.0f, 0.0f, 1.0f, 100.0f, &l);
    if (l) l->Release();
    lights->Release();
    IFog* fog = e.child<IFog>(&IDevice3D::get_Fog);
    fog->put_Mode(fm_Linear);
    fog->put_StartingPos(5);
    fog->put_EndPosition(30);
    fog->put_Enabled(VARIANT_TRUE);
    fog->Release();
    ICameras* cameras = e.child<ICameras>(&IDevice3D::get_Cameras);
    VARIANT first;
    VariantInit(&first);
    first.vt = VT_I4;
    first.lVal = 1;
    VARIANT item;
    VariantInit(&item);
    cameras->Item(first, &item);
    ICamera* camera = nullptr;
    item.pdispVal->QueryInterface(IID_ICamera, reinterpret_cast<void**>(&camera));
    VariantClear(&item);
    IDispatch* d = nullptr;
    camera->get_Position(&d);
    IPosition* p = nullptr;
    d->QueryInterface(IID_IPosition, reinterpret_cast<void**>(&p));
    p->put_Y(3);
    p->put_Z(-10);
    p->Release();
    d->Release();
    camera->get_LookAt(&d);
    d->QueryInterface(IID_IPosition, reinterpret_cast<void**>(&p));
    p->put_Y(1);
    p->Release();
    d->Release();
    camera->Update();
    camera->Release();
    cameras->Release();
    for (auto _ : state) {
        e.device->Clear(0.6f, 0.7f, 0.8f, 1.0f);
        e.device->Render();
        e.device->Update();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["covered_pixels"] = covered(e.window);
    objects->Release();
    e.stop();
}
BENCHMARK(BM_EngineHouses)->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

const char* kVertexShader = R"(#version 450 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 uv;
uniform mat4 world_view, projection;
uniform vec4 diffuse, ambient_material, emissive;
uniform vec3 light_dir[2];
uniform vec4 light_colour[2];
uniform vec4 ambient_light;
uniform float fog_start, fog_end;
out vec4 colour;
out vec2 texcoord;
out float fog;
void main() {
    vec4 eye = vec4(position, 1.0) * world_view;
    vec3 n = normalize((vec4(normal, 0.0) * world_view).xyz);
    vec3 c = emissive.rgb + ambient_material.rgb * ambient_light.rgb;
    for (int i = 0; i < 2; ++i) c += diffuse.rgb * light_colour[i].rgb * max(dot(n, -light_dir[i]), 0.0);
    colour = vec4(clamp(c, 0.0, 1.0), diffuse.a);
    texcoord = uv;
    fog = clamp((fog_end - eye.z) / (fog_end - fog_start), 0.0, 1.0);
    gl_Position = eye * projection;
})";
const char* kFragmentShader = R"(#version 450 core
in vec4 colour;
in vec2 texcoord;
in float fog;
uniform sampler2D tex;
uniform bool textured;
uniform vec4 fog_colour;
out vec4 result;
void main() {
    vec4 c = textured ? colour * texture(tex, texcoord) : colour;
    result = vec4(mix(fog_colour.rgb, c.rgb, fog), c.a);
})";

void BM_BareOpenGLHouses(benchmark::State& state) {
    EGLDisplay display;
    EGLContext context;
    if (!open_bare_context(&display, &context)) return state.SkipWithError("no OpenGL 4.5 context");
    BareTarget target;
    target.open(kWidth, kHeight);
    GLuint program = link_bare_program(kVertexShader, kFragmentShader);
    if (!program) return state.SkipWithError("the bare program does not link");
    auto at = [&](const char* name) { return glGetUniformLocation(program, name); };
    D3DMATRIX view{};
    vantor::view_matrix({0, 3, -10}, {0, 1, 0}, {0, 1, 0}, &view);
    D3DMATRIX projection{};  // the engine camera's: a quarter turn across, aspect 1, 1 to 1000
    vantor::projection_matrix(std::bit_cast<float>(0x3FC90FD0u), 1.0f, 1.0f, 1000.0f, &projection);
    glUniformMatrix4fv(at("world_view"), 1, GL_TRUE, vantor::matrix_data(view));
    glUniformMatrix4fv(at("projection"), 1, GL_TRUE, vantor::matrix_data(projection));
    const float dirs[6] = {-0.5f, -0.8f, 0.4f, 0.6f, -0.3f, -0.7f}, whites[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    glUniform3fv(at("light_dir"), 2, dirs);
    glUniform4fv(at("light_colour"), 2, whites);
    glUniform4f(at("ambient_light"), 0, 0, 0, 0);
    glUniform1f(at("fog_start"), 5);
    glUniform1f(at("fog_end"), 30);
    glUniform4f(at("fog_colour"), 0.6f, 0.7f, 0.8f, 1);
    GLuint texture;
    glCreateTextures(GL_TEXTURE_2D, 1, &texture);
    glTextureStorage2D(texture, 1, GL_RGBA8, 64, 64);
    std::vector<uint32_t> texels(64 * 64, 0xFF4060A0u);
    glTextureSubImage2D(texture, 0, 0, 0, 64, 64, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glBindTextureUnit(0, texture);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);  // Direct3D's default: copies at one spot are all shaded, as the engine shades them

    // The house's meshes from the engine's own loader, each in a vertex array of its own.
    vantor::mesh::MeshFile file;
    if (FAILED(file.load(kModels + "/house.x"))) return state.SkipWithError("house.x did not load");
    struct Mesh {
        GLuint vao, buffers[2];
        const vantor::mesh::Node* node;
    };
    std::vector<Mesh> meshes;
    std::vector<const vantor::mesh::Node*> pending{file.root()};
    while (!pending.empty()) {
        const vantor::mesh::Node* n = pending.back();
        pending.pop_back();
        if (!n) continue;
        pending.push_back(n->next);
        pending.push_back(n->child);
        if (!n->has_mesh) continue;
        Mesh m{0, {0, 0}, n};
        glCreateVertexArrays(1, &m.vao);
        glCreateBuffers(2, m.buffers);
        glNamedBufferStorage(m.buffers[0], static_cast<GLsizeiptr>(n->vertices.size() * sizeof(D3DVERTEX)), n->vertices.data(), 0);
        glNamedBufferStorage(m.buffers[1], static_cast<GLsizeiptr>(n->indices.size() * 4), n->indices.data(), 0);
        glVertexArrayVertexBuffer(m.vao, 0, m.buffers[0], 0, sizeof(D3DVERTEX));
        glVertexArrayElementBuffer(m.vao, m.buffers[1]);
        for (GLuint a = 0; a < 3; ++a) {
            glEnableVertexArrayAttrib(m.vao, a);
            glVertexArrayAttribFormat(m.vao, a, a == 2 ? 2 : 3, GL_FLOAT, GL_FALSE, a * 12);
            glVertexArrayAttribBinding(m.vao, a, 0);
        }
        meshes.push_back(m);
    }
    HWND window = VantorCreateVirtualWindow(kWidth, kHeight, "bare");
    std::vector<unsigned char> image(static_cast<size_t>(kWidth) * kHeight * 4);
    const long copies = state.range(0);
    auto draw = [&](bool alpha_pass) {
        for (long c = 0; c < copies; ++c)
            for (const Mesh& m : meshes) {
                if (m.node->has_alpha != alpha_pass) continue;
                glBindVertexArray(m.vao);
                size_t offset = 0;
                for (unsigned s = 0; s < m.node->material_count; ++s) {
                    const auto& slot = m.node->slots[s];
                    const D3DMATERIAL7& mat = slot.material;
                    glUniform4fv(at("diffuse"), 1, &mat.diffuse.r);
                    glUniform4fv(at("ambient_material"), 1, &mat.ambient.r);
                    glUniform4fv(at("emissive"), 1, &mat.emissive.r);
                    glUniform1i(at("textured"), !slot.texture.empty());
                    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(slot.index_count), GL_UNSIGNED_INT,
                                   reinterpret_cast<void*>(offset * 4));
                    offset += slot.index_count;
                }
            }
    };
    for (auto _ : state) {
        glClearColor(0.6f, 0.7f, 0.8f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw(false);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        draw(true);
        glDisable(GL_BLEND);
        glGetTextureImage(target.colour, 0, GL_RGBA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(image.size()), image.data());
        VantorWindowPresent(window, image.data(), kWidth, kHeight, kWidth * 4);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["covered_pixels"] = covered(window);
    DestroyWindow(window);
    target.close();
    glDeleteProgram(program);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
}
BENCHMARK(BM_BareOpenGLHouses)->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Objects.LoadFile of every `.x` file of the corpus, once per iteration (textures are not found
// from the bench's folder, so the time is the files' own).
void BM_CorpusLoadFile(benchmark::State& state) {
    const std::filesystem::path folder = "/usr/share/assimp/models/X";
    if (!std::filesystem::exists(folder)) return state.SkipWithError("assimp-testmodels is not installed");
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".x" || ext == ".X") files.push_back(entry.path().string());
    }
    Engine e;
    if (!e.start()) return state.SkipWithError("no device");
    IObjects* objects = e.child<IObjects>(&IDevice3D::get_Objects);
    BSTR name = bstr("Model");
    for (auto _ : state) {
        for (const std::string& f : files) {
            BSTR file = bstr(f);
            IDispatch* o = nullptr;
            objects->get_LoadFile(file, name, VARIANT_TRUE, &o);
            if (o) o->Release();
            SysFreeString(file);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size()));
    SysFreeString(name);
    objects->Release();
    e.stop();
}
BENCHMARK(BM_CorpusLoadFile)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
