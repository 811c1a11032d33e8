// The standard scenes, drawn one way per run and measured: through the component's C++
// interfaces (`engine`), or by a bare OpenGL 4.5 program drawing the same geometry with the same
// lighting and fog (`bare`). bench/scenes.py runs it for every scene and way and prints the table.
//
//   build/bin/scenes --scene s1 --count 100 --way engine --assets DIR [--x11] [--seconds 1.5]
//   build/bin/scenes ... --frames 5 --callgrind      (under valgrind --instr-atstart=no)
//
// Scenes, all at 640x480, camera at (5, 4, -10) looking at the origin, linear fog 5 to 30:
//   s1         `count` copies of cube.x (12 triangles, one material, the 64x64 Targa cube.tga),
//              one white point light
//   s2         `count` copies of sphere.x (49,928 triangles), two directional lights
//   shapes     `count` simple shapes, boxes and spheres in turn, one point light
//   sprites    `count` sprites of cube.tga, three quarters opaque, spread over the frame
// Every copy sits at the origin: objects and shapes are drawn with the camera's world
// transform, so the copies cover the same pixels and each one costs a draw.
//
// Prints one JSON object: frames, seconds, fps, cpu_ms (the process's CPU time per frame, the
// rasteriser's threads included), main_ms (the drawing thread's), draws (per frame), covered
// (pixels of the last frame that are not the clear colour; both ways must agree). The driver runs
// it with fixed malloc thresholds (bench/scenes.py says why); set GLIBC_TUNABLES alike by hand.
#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>
#include <vantor/backend/matrix.h>
#include <vantor/com_ptr.h>
#include <vantor/text.h>
#include <vantor/vantor.h>
#include <vantor/window.h>

#include "bare_gl.h"
#include "geometry/mesh_file.h"
#include "shapes.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

extern "C" HRESULT DllRegisterServer();

namespace {

using vantor::ComPtr;

constexpr int kWidth = 640, kHeight = 480;
constexpr float kClear[4] = {0.5f, 0.55f, 0.6f, 1.0f};
constexpr D3DVECTOR kEye{5.0f, 4.0f, -10.0f}, kAt{0, 0, 0};
constexpr float kFogStart = 5.0f, kFogEnd = 30.0f;
constexpr D3DVECTOR kPointLight{3.0f, 4.0f, -4.0f};
constexpr D3DVECTOR kSunDirections[2] = {{-0.5f, -0.8f, 0.4f}, {0.6f, -0.3f, -0.7f}};
constexpr float kSpriteOpacity = 0.75f;

struct Options {
    std::string scene = "s1", way = "engine", assets = ".";
    int count = 1, frames = 0;
    double seconds = 1.5;
    bool x11 = false, callgrind = false;
};

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "scenes: %s\n", why.c_str());
    std::exit(1);
}

double clock_seconds(clockid_t id) {
    timespec t{};
    clock_gettime(id, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Sprite i's centre in pixels: spread over the frame, clear of its top-left corner.
void sprite_centre(int i, float* x, float* y) {
    *x = float(40 + (i * 37) % (kWidth - 80)), *y = float(40 + (i * 53) % (kHeight - 80));
}

// How many pixels of the window's last frame differ from its top-left pixel (the clear colour:
// no scene reaches that corner), and their mean brightness (0 to 255 over red, green and blue), so
// that the ways can be seen to draw the same picture, lighting included.
long covered(HWND window, double* mean = nullptr) {
    std::vector<uint32_t> rgba(size_t(kWidth) * kHeight);
    if (!VantorWindowReadPixels(window, rgba.data(), kWidth * 4)) return -1;
    long n = 0;
    double sum = 0;
    for (uint32_t p : rgba)
        if (p != rgba[0]) ++n, sum += ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) / 3.0;
    if (mean) *mean = n ? sum / double(n) : 0.0;
    return n;
}

// ---------------------------------------------------------------------------------------------
// Through the component's interfaces
// ---------------------------------------------------------------------------------------------
BSTR bstr(const std::string& s) {
    return vantor::text::bstr(s.c_str());
}

template <class I>
ComPtr<I> as(IDispatch* d) {
    ComPtr<I> p;
    if (!d || FAILED(d->QueryInterface(__uuidof(I), p.put_void())))
        fail("an object does not answer its interface");
    return p;
}
template <class I, class Owner>
ComPtr<I> child(Owner* owner, HRESULT (Owner::*get)(IDispatch**)) {
    ComPtr<IDispatch> d;
    if (FAILED((owner->*get)(d.put()))) fail("a child object is missing");
    return as<I>(d.get());
}
void set_colour(IColour* c, float r, float g, float b) {
    c->put_Red(r), c->put_Green(g), c->put_Blue(b), c->put_Alpha(1.0f);
}
void set_position(IPosition* p, D3DVECTOR v) {
    p->put_X(v.x), p->put_Y(v.y), p->put_Z(v.z);
}

struct Engine {
    HWND window = 0;
    ComPtr<IDevice3D> device;
    std::vector<ComPtr<IDispatch>> held;  // what the scene added, released before Free
    int draws = 0;

    void open(const Options& o) {
        if (!getenv("VANTOR_REGISTRY")) {
            static std::string registry = "/tmp/vantor-scenes-registry-" + std::to_string(getpid());
            setenv("VANTOR_REGISTRY", registry.c_str(), 1);
        }
        CoInitialize(nullptr);
        if (DllRegisterServer() != S_OK) fail("the component does not register");
        window = o.x11 ? VantorCreateX11Window(kWidth, kHeight, "scenes", TRUE)
                       : VantorCreateVirtualWindow(kWidth, kHeight, "scenes");
        if (!window) fail("no window (an X11 window needs $DISPLAY)");
        if (FAILED(CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDevice3D,
                                    device.put_void())))
            fail("no Device3D");
        device->put_Window(static_cast<LONG>(window));
        if (FAILED(device->Initialise(0, kWidth, kHeight, VARIANT_FALSE, 1))) fail("Initialise failed");
        // Back faces culled, as the bare program and Irrlicht cull them (the device starts with none).
        device->put_Cull(cm_CounterClockwise);

        ComPtr<ICameras> cameras = child<ICameras>(device.get(), &IDevice3D::get_Cameras);
        VARIANT first, item;
        VariantInit(&first), VariantInit(&item);
        first.vt = VT_I4, first.lVal = 1;
        if (FAILED(cameras->Item(first, &item)) || item.vt != VT_DISPATCH) fail("no default camera");
        ComPtr<ICamera> camera = as<ICamera>(item.pdispVal);
        VariantClear(&item);
        set_position(child<IPosition>(camera.get(), &ICamera::get_Position).get(), kEye);
        set_position(child<IPosition>(camera.get(), &ICamera::get_LookAt).get(), kAt);
        camera->Update();

        if (o.scene != "sprites") {
            ComPtr<IFog> fog = child<IFog>(device.get(), &IDevice3D::get_Fog);
            fog->put_Mode(fm_Linear);
            fog->put_StartingPos(kFogStart);
            fog->put_EndPosition(kFogEnd);
            set_colour(child<IColour>(fog.get(), &IFog::get_Colour).get(), kClear[0], kClear[1], kClear[2]);
            fog->put_Enabled(VARIANT_TRUE);
            fog->Update();
        }
        ComPtr<ILights> lights = child<ILights>(device.get(), &IDevice3D::get_Lights);
        auto light = [&](LightTypes type, D3DVECTOR v) {
            ComPtr<IDispatch> l;
            if (FAILED(lights->get_Add(type, v.x, v.y, v.z, 1, 1, 1, 1, 1.0f, 0.5f, 1.0f, 100.0f, l.put())))
                fail("a light was refused");
            // Add leaves the place, the diffuse colour and the attenuation to the script, and
            // Update sends them: an unattenuated white light where the bare program has it.
            ComPtr<ILight> lt = as<ILight>(l.get());
            if (type == lt_Point)
                set_position(child<IPosition>(lt.get(), &ILight::get_Position).get(), v);
            else
                set_position(child<IPosition>(lt.get(), &ILight::get_Direction).get(), v);
            set_colour(child<IColour>(lt.get(), &ILight::get_Diffuse).get(), 1.0f, 1.0f, 1.0f);
            lt->put_ConstAttenuation(1.0f);
            if (FAILED(lt->Update())) fail("a light did not update");
            held.push_back(l);
        };
        if (o.scene == "s2") {
            for (D3DVECTOR d : kSunDirections) light(lt_Directional, d);
        } else if (o.scene != "sprites") {
            light(lt_Point, kPointLight);
        }

        if (o.scene == "s1" || o.scene == "s2") {
            ComPtr<IObjects> objects = child<IObjects>(device.get(), &IDevice3D::get_Objects);
            BSTR file = bstr(o.scene == "s1" ? "cube.x" : "sphere.x");
            for (int i = 0; i < o.count; ++i) {
                BSTR name = bstr("Model" + std::to_string(i));
                ComPtr<IDispatch> object;
                HRESULT hr = objects->get_LoadFile(file, name, VARIANT_TRUE, object.put());
                SysFreeString(name);
                if (FAILED(hr)) fail("the model did not load");
                held.push_back(object);
            }
            SysFreeString(file);
        } else if (o.scene == "shapes") {
            ComPtr<ISimpleObjects> shapes =
                child<ISimpleObjects>(device.get(), &IDevice3D::get_SimpleObjects);
            for (int i = 0; i < o.count; ++i) {
                BSTR name = bstr("Shape" + std::to_string(i));
                ComPtr<IDispatch> shape;
                HRESULT hr = i % 2 ? shapes->get_AddSphere(name, 0.7f, shape.put())
                                   : shapes->get_AddBox(name, 1.0f, 1.0f, 1.0f, shape.put());
                SysFreeString(name);
                if (FAILED(hr)) fail("a shape was refused");
                held.push_back(shape);
            }
        } else if (o.scene == "sprites") {
            ComPtr<ITextures> textures = child<ITextures>(device.get(), &IDevice3D::get_Textures);
            ComPtr<ISprites> sprites = child<ISprites>(device.get(), &IDevice3D::get_Sprites);
            BSTR file = bstr("cube.tga");
            ComPtr<IDispatch> texture;
            HRESULT hr = textures->get_LoadFile(file, texture.put());
            SysFreeString(file);
            if (FAILED(hr)) fail("cube.tga did not load");
            held.push_back(texture);
            for (int i = 0; i < o.count; ++i) {
                BSTR name = bstr("Sprite" + std::to_string(i));
                ComPtr<IDispatch> s;
                hr = sprites->get_Add(name, kSpriteOpacity, 0.0f, 1.0f, s.put());
                SysFreeString(name);
                if (FAILED(hr)) fail("a sprite was refused");
                ComPtr<ISprite> sprite = as<ISprite>(s.get());
                sprite->put_Texture(texture.get());
                float x, y;
                sprite_centre(i, &x, &y);
                ComPtr<IPosition> at = child<IPosition>(sprite.get(), &ISprite::get_Position);
                at->put_X(x), at->put_Y(y);
                held.push_back(s);
            }
        } else {
            fail("no scene " + o.scene);
        }
        draws = o.count;
    }
    void frame() {
        if (VantorWindowKind(window) == kWindowKindX11) VantorPumpWindowEvents(window);
        device->Clear(kClear[0], kClear[1], kClear[2], kClear[3]);
        device->Render();
        device->Update();
    }
    void close() {
        held.clear();
        device->Free();
        device.reset();
        DestroyWindow(window);
    }
};

// ---------------------------------------------------------------------------------------------
// Bare OpenGL
// ---------------------------------------------------------------------------------------------
const char* kVertexShader = R"(#version 450 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec2 a_uv;
uniform mat4 u_world_view, u_projection;
uniform vec4 u_diffuse, u_ambient, u_emissive;
uniform vec4 u_lights[2];  // eye space: w = 1 a point light's position, w = 0 a direction
uniform int u_light_count;
uniform float u_fog_start, u_fog_end;
out vec4 v_colour;
out vec2 v_uv;
out float v_fog;
void main() {
    vec4 eye = u_world_view * vec4(a_position, 1.0);
    vec3 n = normalize(mat3(u_world_view) * a_normal);
    const vec3 ambient_light = vec3(0.0);  // the device's ambient light: black, as the engine's starts
    vec3 c = u_emissive.rgb + u_ambient.rgb * ambient_light;
    for (int i = 0; i < u_light_count; ++i) {
        vec3 l = u_lights[i].w != 0.0 ? normalize(u_lights[i].xyz - eye.xyz) : -u_lights[i].xyz;
        c += u_diffuse.rgb * max(dot(n, l), 0.0);
    }
    v_colour = vec4(clamp(c, 0.0, 1.0), u_diffuse.a);
    v_uv = a_uv;
    v_fog = clamp((u_fog_end - abs(eye.z)) / (u_fog_end - u_fog_start), 0.0, 1.0);
    gl_Position = u_projection * eye;
})";
const char* kFragmentShader = R"(#version 450 core
layout(binding = 0) uniform sampler2D s_texture;
uniform bool u_textured;
uniform vec4 u_fog_colour;
in vec4 v_colour;
in vec2 v_uv;
in float v_fog;
out vec4 o_colour;
void main() {
    vec4 c = u_textured ? v_colour * texture(s_texture, v_uv) : v_colour;
    o_colour = vec4(mix(u_fog_colour.rgb, c.rgb, v_fog), c.a);
})";
const char* kSpriteVertex = R"(#version 450 core
uniform vec2 u_centre, u_size, u_target;
out vec2 v_uv;
void main() {
    vec2 corner = vec2(gl_VertexID & 1, gl_VertexID >> 1);
    vec2 p = u_centre + (corner - 0.5) * u_size;
    v_uv = corner;
    gl_Position = vec4(p.x / u_target.x * 2.0 - 1.0, 1.0 - p.y / u_target.y * 2.0, 0.0, 1.0);
})";
const char* kSpriteFragment = R"(#version 450 core
layout(binding = 0) uniform sampler2D s_texture;
uniform float u_opacity;
in vec2 v_uv;
out vec4 o_colour;
void main() { vec4 t = texture(s_texture, v_uv); o_colour = vec4(t.rgb, t.a * u_opacity); })";

// An uncompressed 24- or 32-bit Targa as RGBA rows, top row first.
bool read_targa(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgba) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (f.size() < 18 || f[2] != 2 || (f[16] != 24 && f[16] != 32)) return false;
    const int w = f[12] | f[13] << 8, h = f[14] | f[15] << 8, bytes = f[16] / 8;
    const bool top_first = f[17] & 0x20;
    const size_t start = 18 + f[0];
    if (f.size() < start + size_t(w) * h * bytes) return false;
    rgba->resize(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* s = &f[start + (size_t(top_first ? y : h - 1 - y) * w + x) * bytes];
            uint8_t* d = &(*rgba)[(size_t(y) * w + x) * 4];
            d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = bytes == 4 ? s[3] : 255;
        }
    *width = w, *height = h;
    return true;
}

struct Bare {
    struct Draw {
        GLuint vao;
        GLsizei count;
        GLenum type;
        size_t first;  // byte offset of the first index
        GLint base;    // added to each index
        GLuint last;   // the highest index, before `base` is added
        D3DMATERIAL7 material;
        bool textured;
    };
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    BareTarget target;
    GLuint program = 0, texture = 0;
    GLint world_view = -1, diffuse = -1, ambient = -1, emissive = -1, textured = -1, centre = -1;
    std::vector<GLuint> vaos, buffers;
    std::vector<Draw> kinds;  // the draws of one copy (or of one shape kind)
    D3DMATRIX view{};
    HWND window = 0;
    std::vector<uint8_t> image;
    std::string scene;
    int count = 0;

    GLuint vertex_array(const void* vertices, size_t vertex_bytes, GLsizei stride, const void* indices,
                        size_t index_bytes) {
        GLuint vao, b[2];
        glCreateVertexArrays(1, &vao);
        glCreateBuffers(2, b);
        glNamedBufferStorage(b[0], GLsizeiptr(vertex_bytes), vertices, 0);
        glNamedBufferStorage(b[1], GLsizeiptr(index_bytes), indices, 0);
        glVertexArrayVertexBuffer(vao, 0, b[0], 0, stride);
        glVertexArrayElementBuffer(vao, b[1]);
        for (GLuint a = 0; a < 3; ++a) {
            glEnableVertexArrayAttrib(vao, a);
            glVertexArrayAttribFormat(vao, a, a == 2 ? 2 : 3, GL_FLOAT, GL_FALSE, a * 12);
            glVertexArrayAttribBinding(vao, a, 0);
        }
        vaos.push_back(vao);
        buffers.insert(buffers.end(), b, b + 2);
        return vao;
    }
    void load_texture() {
        int w = 0, h = 0;
        std::vector<uint8_t> rgba;
        if (!read_targa("cube.tga", &w, &h, &rgba)) fail("cube.tga did not load");
        glCreateTextures(GL_TEXTURE_2D, 1, &texture);
        glTextureStorage2D(texture, 1, GL_RGBA8, w, h);
        glTextureSubImage2D(texture, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glBindTextureUnit(0, texture);
    }
    // The model's meshes as the component's own loader reads them, one draw per material slot.
    void load_model(const std::string& file) {
        vantor::mesh::MeshFile model;
        if (FAILED(model.load(file))) fail(file + " did not load");
        std::vector<const vantor::mesh::Node*> pending{model.root()};
        while (!pending.empty()) {
            const vantor::mesh::Node* n = pending.back();
            pending.pop_back();
            if (!n) continue;
            pending.push_back(n->next), pending.push_back(n->child);
            if (!n->has_mesh) continue;
            GLuint vao = vertex_array(n->vertices.data(), n->vertices.size() * sizeof(D3DVERTEX),
                                      sizeof(D3DVERTEX), n->indices.data(), n->indices.size() * 4);
            for (unsigned s = 0; s < n->material_count; ++s) {
                if (s) fail("the scene's models have one material");
                kinds.push_back({vao, GLsizei(n->slots[s].index_count), GL_UNSIGNED_INT, 0, 0,
                                 GLuint(n->vertices.size() - 1), n->slots[s].material,
                                 !n->slots[s].texture.empty()});
            }
        }
        if (kinds.empty()) fail(file + " has no mesh");
    }
    // The shapes in one vertex array, each drawn from its own range of it.
    void add_shapes(const std::vector<vantor::render::ShapeGeometry>& shapes, const D3DMATERIAL7& m) {
        std::vector<vantor::render::ShapeVertex> vertices;
        std::vector<WORD> indices;
        for (const auto& g : shapes) {
            kinds.push_back({0, GLsizei(g.indices.size()), GL_UNSIGNED_SHORT, indices.size() * 2,
                             GLint(vertices.size()), GLuint(g.vertices.size() - 1), m, false});
            vertices.insert(vertices.end(), g.vertices.begin(), g.vertices.end());
            indices.insert(indices.end(), g.indices.begin(), g.indices.end());
        }
        GLuint vao = vertex_array(vertices.data(), vertices.size() * sizeof(vantor::render::ShapeVertex),
                                  sizeof(vantor::render::ShapeVertex), indices.data(), indices.size() * 2);
        for (Draw& d : kinds) d.vao = vao;
    }

    void open(const Options& o) {
        scene = o.scene, count = o.count;
        if (!open_bare_context(&display, &context)) fail("no OpenGL 4.5 context");
        target.open(kWidth, kHeight);
        glClearColor(kClear[0], kClear[1], kClear[2], kClear[3]);
        window = VantorCreateVirtualWindow(kWidth, kHeight, "bare");
        image.resize(size_t(kWidth) * kHeight * 4);

        if (o.scene == "sprites") {
            program = link_bare_program(kSpriteVertex, kSpriteFragment);
            if (!program) fail("the sprite program does not link");
            load_texture();
            int w = 0, h = 0;
            glGetTextureLevelParameteriv(texture, 0, GL_TEXTURE_WIDTH, &w);
            glGetTextureLevelParameteriv(texture, 0, GL_TEXTURE_HEIGHT, &h);
            glUniform2f(glGetUniformLocation(program, "u_size"), float(w), float(h));
            glUniform2f(glGetUniformLocation(program, "u_target"), float(kWidth), float(kHeight));
            glUniform1f(glGetUniformLocation(program, "u_opacity"), kSpriteOpacity);
            centre = glGetUniformLocation(program, "u_centre");
            GLuint vao;
            glCreateVertexArrays(1, &vao);
            glBindVertexArray(vao);
            vaos.push_back(vao);
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            return;
        }
        program = link_bare_program(kVertexShader, kFragmentShader);
        if (!program) fail("the program does not link");
        auto at = [&](const char* name) { return glGetUniformLocation(program, name); };
        world_view = at("u_world_view"), diffuse = at("u_diffuse"), ambient = at("u_ambient");
        emissive = at("u_emissive"), textured = at("u_textured");
        vantor::view_matrix(kEye, kAt, {0, 1, 0}, &view);
        D3DMATRIX projection{};  // the engine camera's: a quarter turn across, aspect 1, 1 to 1000
        vantor::projection_matrix(std::bit_cast<float>(0x3FC90FD0u), 1.0f, 1.0f, 1000.0f, &projection);
        glUniformMatrix4fv(at("u_projection"), 1, GL_FALSE, vantor::matrix_data(projection));
        glUniform1f(at("u_fog_start"), kFogStart);
        glUniform1f(at("u_fog_end"), kFogEnd);
        glUniform4fv(at("u_fog_colour"), 1, kClear);
        // The lights in eye space (the world transform is the identity).
        auto eye = [&](D3DVECTOR v, float w) {
            const float* m = vantor::matrix_data(view);
            float r[4];
            for (int c = 0; c < 4; ++c) r[c] = v.x * m[c] + v.y * m[4 + c] + v.z * m[8 + c] + w * m[12 + c];
            return std::vector<float>{r[0], r[1], r[2], w};
        };
        std::vector<float> lights;
        if (o.scene == "s2") {
            for (D3DVECTOR d : kSunDirections) {
                const float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
                auto e = eye({d.x / len, d.y / len, d.z / len}, 0.0f);
                lights.insert(lights.end(), e.begin(), e.end());
            }
        } else {
            lights = eye(kPointLight, 1.0f);
        }
        glUniform4fv(at("u_lights"), GLsizei(lights.size() / 4), lights.data());
        glUniform1i(at("u_light_count"), GLint(lights.size() / 4));
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);  // Direct3D's default depth test
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CW);
        if (o.scene == "s1") {
            load_texture();
            load_model("cube.x");
        } else if (o.scene == "s2") {
            load_model("sphere.x");
        } else if (o.scene == "shapes") {
            vantor::render::ShapeGeometry box, sphere;
            if (FAILED(vantor::render::box_geometry(1.0f, 1.0f, 1.0f, &box)) ||
                FAILED(vantor::render::sphere_geometry(0.7f, D3DX_DEFAULT, D3DX_DEFAULT, &sphere)))
                fail("no shape geometry");
            // Shapes draw with the material the device has: in this scene none was ever set, so
            // the default, all zero, as the engine's shapes take it.
            const D3DMATERIAL7 device_default{};
            add_shapes({box, sphere}, device_default);
        } else {
            fail("no scene " + o.scene);
        }
    }
    // One draw per copy, each with its own world-view transform and material, as a program
    // that moves its objects would send them; the index range given, as Direct3D's draws give it.
    void draw(const Draw& d) {
        glUniformMatrix4fv(world_view, 1, GL_FALSE, vantor::matrix_data(view));
        glUniform4fv(diffuse, 1, &d.material.diffuse.r);
        glUniform4fv(ambient, 1, &d.material.ambient.r);
        glUniform4fv(emissive, 1, &d.material.emissive.r);
        glUniform1i(textured, d.textured);
        glBindVertexArray(d.vao);
        glDrawRangeElementsBaseVertex(GL_TRIANGLES, 0, d.last, d.count, d.type,
                                      reinterpret_cast<const void*>(d.first), d.base);
    }
    int draws() const { return scene == "shapes" || scene == "sprites" ? count : count * int(kinds.size()); }
    void frame() {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (scene == "sprites") {
            for (int i = 0; i < count; ++i) {
                float x, y;
                sprite_centre(i, &x, &y);
                glUniform2f(centre, x, y);
                glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            }
        } else if (scene == "shapes") {
            for (int i = 0; i < count; ++i) draw(kinds[size_t(i % 2)]);
        } else {
            for (int i = 0; i < count; ++i)
                for (const Draw& d : kinds) draw(d);
        }
        glGetTextureImage(target.colour, 0, GL_RGBA, GL_UNSIGNED_BYTE, GLsizei(image.size()), image.data());
        VantorWindowPresent(window, image.data(), kWidth, kHeight, kWidth * 4);
    }
    void close() {
        glDeleteVertexArrays(GLsizei(vaos.size()), vaos.data());
        glDeleteBuffers(GLsizei(buffers.size()), buffers.data());
        glDeleteTextures(1, &texture);
        target.close();
        glDeleteProgram(program);
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, context);
        DestroyWindow(window);
    }
};

// ---------------------------------------------------------------------------------------------
Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) fail(a + " needs a value");
            return argv[++i];
        };
        if (a == "--scene")
            o.scene = value();
        else if (a == "--way")
            o.way = value();
        else if (a == "--assets")
            o.assets = value();
        else if (a == "--count")
            o.count = std::atoi(value().c_str());
        else if (a == "--frames")
            o.frames = std::atoi(value().c_str());
        else if (a == "--seconds")
            o.seconds = std::atof(value().c_str());
        else if (a == "--x11")
            o.x11 = true;
        else if (a == "--callgrind")
            o.callgrind = true;
        else
            fail("unknown argument " + a + " (see the top of bench/scenes.cpp)");
    }
    if (o.count < 1) fail("--count must be at least 1");
    if (o.way != "engine" && o.way != "bare") fail("--way is engine or bare");
    if (o.x11 && o.way != "engine") fail("--x11 is for the engine way");
    return o;
}

template <class Scene>
void measure(Scene& s, HWND window, int draws, const Options& o) {
    for (int i = 0; i < 3; ++i) s.frame();  // programs compiled, buffers uploaded
    int frames = 0;
    const double wall0 = clock_seconds(CLOCK_MONOTONIC), cpu0 = clock_seconds(CLOCK_PROCESS_CPUTIME_ID),
                 main0 = clock_seconds(CLOCK_THREAD_CPUTIME_ID);
    if (o.callgrind) CALLGRIND_START_INSTRUMENTATION;
    if (o.frames > 0) {
        for (; frames < o.frames; ++frames) s.frame();
    } else {
        while (frames < 5 || clock_seconds(CLOCK_MONOTONIC) - wall0 < o.seconds) s.frame(), ++frames;
    }
    if (o.callgrind) CALLGRIND_STOP_INSTRUMENTATION;
    const double wall = clock_seconds(CLOCK_MONOTONIC) - wall0,
                 cpu = clock_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0,
                 main = clock_seconds(CLOCK_THREAD_CPUTIME_ID) - main0;
    double mean = 0;
    const long cover = covered(window, &mean);
    std::printf(
        "{\"scene\": \"%s\", \"count\": %d, \"way\": \"%s\", \"window\": \"%s\", \"frames\": %d, "
        "\"seconds\": %.4f, \"fps\": %.3f, \"cpu_ms\": %.4f, \"main_ms\": %.4f, \"draws\": %d, \"covered\": "
        "%ld, \"brightness\": %.1f}\n",
        o.scene.c_str(), o.count, o.way.c_str(), o.x11 ? "x11" : "virtual", frames, wall, frames / wall,
        cpu * 1e3 / frames, main * 1e3 / frames, draws, cover, mean);
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    if (chdir(o.assets.c_str()) != 0)
        fail("no folder " + o.assets);  // models name their textures relative to it
    if (o.way == "engine") {
        Engine e;
        e.open(o);
        measure(e, e.window, e.draws, o);
        e.close();
    } else {
        Bare b;
        b.open(o);
        measure(b, b.window, b.draws(), o);
        b.close();
    }
    return 0;
}
