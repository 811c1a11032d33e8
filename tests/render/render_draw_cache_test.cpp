// What the device remembers between draws so that it can skip work (the last material per
// program, the pipeline key across texture swaps, the bound vertex buffer and indices) must
// never outlive the thing it describes: each case draws, changes something, draws again and
// probes.
#include "render_test_support.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

namespace render_test {
namespace {

constexpr DWORD kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kGrey = 0xFF808080;

class RenderDrawCache : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRENDERSTATE_AMBIENT, 0);
        clear(0xFF000000);
    }
    void TearDown() override {
        for (IUnknown* o : owned_) o->Release();
        RenderTest::TearDown();
    }

    // A lit quad over the whole target: with no light and no ambient it shows the material's
    // emissive colour.
    void draw_lit(DWORD emissive) {
        D3DMATERIAL7 m{};
        m.emissive = {((emissive >> 16) & 0xFF) / 255.0f, ((emissive >> 8) & 0xFF) / 255.0f, (emissive & 0xFF) / 255.0f, 1};
        m.diffuse.a = 1;
        ASSERT_EQ(dev->SetMaterial(&m), D3D_OK);
        D3DVERTEX v[4] = {{-1, 1, 0.5f, 0, 0, -1, 0, 0}, {1, 1, 0.5f, 0, 0, -1, 1, 0},
                          {-1, -1, 0.5f, 0, 0, -1, 0, 1}, {1, -1, 0.5f, 0, 0, -1, 1, 1}};
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_VERTEX, v, 4, 0), D3D_OK);
    }

    IDirectDrawSurface7* solid_texture(DWORD colour) {
        IDirectDrawSurface7* t = make_texture(2, 2, std::vector<DWORD>(4, colour)).detach();
        if (t) owned_.push_back(t);
        return t;
    }

    IDirect3DVertexBuffer7* quad_buffer(DWORD colour) {
        IDirect3D7* d3d = nullptr;
        if (dev->GetDirect3D(&d3d) != D3D_OK) return nullptr;
        D3DVERTEXBUFFERDESC desc{sizeof desc, 0, D3DFVF_TLVERTEX, 4};
        IDirect3DVertexBuffer7* vb = nullptr;
        HRESULT hr = d3d->CreateVertexBuffer(&desc, &vb, 0);
        d3d->Release();
        if (hr != D3D_OK) return nullptr;
        fill(vb, colour);
        return vb;
    }
    static void fill(IDirect3DVertexBuffer7* vb, DWORD colour) {
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(DDLOCK_WAIT, &p, nullptr), D3D_OK);
        D3DTLVERTEX v[4] = {{0, 0, 0.5f, 1, colour, 0, 0, 0}, {64, 0, 0.5f, 1, colour, 0, 0, 0},
                            {0, 64, 0.5f, 1, colour, 0, 0, 0}, {64, 64, 0.5f, 1, colour, 0, 0, 0}};
        std::memcpy(p, v, sizeof v);
        ASSERT_EQ(vb->Unlock(), D3D_OK);
    }

    std::vector<IUnknown*> owned_;
};

// Materials are per-program uniforms: a material set while another program was current must
// reach the first program when it comes back.
TEST_F(RenderDrawCache, MaterialFollowsEveryProgram) {
    struct Case {
        const char* name;
        DWORD first, second;
        bool switch_program;  // the second draw runs on another program, the probe draw on the first
    };
    const Case cases[] = {
        {"same program", kRed, kGreen, false},
        {"other program in between", kRed, kGreen, true},
        {"back to the first material", kGreen, kGreen, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dev->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, FALSE);
        draw_lit(c.first);
        EXPECT_TRUE(near_colour(pixel(32, 32), c.first, 1));
        if (c.switch_program) dev->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, TRUE);
        draw_lit(c.second);
        EXPECT_TRUE(near_colour(pixel(32, 32), c.second, 1));
        dev->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, FALSE);
        draw_lit(c.second);
        EXPECT_TRUE(near_colour(pixel(32, 32), c.second, 1)) << "after returning to the first program";
    }
}

// Swapping one texture for another of the same kind keeps the program; the draw must sample
// the new one. Taking the texture away passes the diffuse colour on.
TEST_F(RenderDrawCache, SwappedTextureIsTheOneSampled) {
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    IDirectDrawSurface7* red = solid_texture(kRed);
    IDirectDrawSurface7* blue = solid_texture(kBlue);
    ASSERT_TRUE(red && blue);
    struct Step {
        IDirectDrawSurface7* texture;
        DWORD expected;
    };
    const Step steps[] = {{red, kRed}, {blue, kBlue}, {red, kRed}, {nullptr, kGrey}, {blue, kBlue}};
    for (const Step& s : steps) {
        ASSERT_EQ(dev->SetTexture(0, s.texture), D3D_OK);
        draw_rect(0, 0, 64, 64, kGrey);
        EXPECT_TRUE(near_colour(pixel(32, 32), s.expected, 1)) << "expected " << hex(s.expected);
    }
    dev->SetTexture(0, nullptr);
}

// The device skips binding a vertex buffer that is bound already; a new buffer (which may get
// the released one's GL name), rewritten vertices and streamed draws in between must all show.
TEST_F(RenderDrawCache, VertexBufferBindingNeverGoesStale) {
    IDirect3DVertexBuffer7* first = quad_buffer(kGreen);
    ASSERT_TRUE(first);
    ASSERT_EQ(dev->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, first, 0, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), kGreen, 0));

    fill(first, kBlue);
    ASSERT_EQ(dev->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, first, 0, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), kBlue, 0)) << "vertices rewritten after upload";

    draw_rect(0, 0, 64, 64, kGrey);  // streamed: another buffer at binding 0
    WORD indices[6] = {0, 1, 2, 2, 1, 3};
    ASSERT_EQ(dev->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, first, 0, 4, indices, 6, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), kBlue, 0)) << "after a streamed draw";

    first->Release();
    IDirect3DVertexBuffer7* second = quad_buffer(kRed);
    ASSERT_TRUE(second);
    owned_.push_back(second);
    ASSERT_EQ(dev->DrawPrimitiveVB(D3DPT_TRIANGLESTRIP, second, 0, 4, 0), D3D_OK);
    EXPECT_TRUE(near_colour(pixel(32, 32), kRed, 0)) << "a new buffer after the old one went";
}

// Streamed vertices share one binding and start where the draw says; a vertex size that does
// not divide the stream's segments, and laps round the whole stream, must not shift them.
TEST_F(RenderDrawCache, StreamedVerticesOfAnOddSizeLapTheStream) {
    struct Vertex {
        float x, y, z, rhw;
        DWORD colour;
    };
    static_assert(sizeof(Vertex) == 20);
    const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
    std::vector<Vertex> v(D3DMAXNUMVERTICES / 3 * 3);  // about 1.3 MB: every draw or two moves on
    const DWORD colours[] = {kRed, kGreen, kBlue, kGrey, kRed, kBlue, kGreen, kGrey, kRed};
    for (DWORD colour : colours) {
        for (Vertex& p : v) p = {0, 0, 0.5f, 1, colour};  // degenerate triangles...
        const float quad[6][2] = {{0, 0}, {64, 0}, {0, 64}, {0, 64}, {64, 0}, {64, 64}};
        for (int k = 0; k < 6; ++k) v[v.size() - 6 + k] = {quad[k][0], quad[k][1], 0.5f, 1, colour};  // ...then the target
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, fvf, v.data(), static_cast<DWORD>(v.size()), 0), D3D_OK);
        EXPECT_TRUE(near_colour(pixel(32, 32), colour, 0)) << "expected " << hex(colour);
        WORD indices[6] = {0, 1, 2, 3, 4, 5};
        const DWORD last = static_cast<DWORD>(v.size()) - 6;
        for (int k = 0; k < 6; ++k) v[last + k].colour = kGrey ^ colour ^ 0xFF000000u;
        ASSERT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, fvf, v.data() + last, 6, indices, 6, 0), D3D_OK);
        EXPECT_TRUE(near_colour(pixel(32, 32), (kGrey ^ colour) | 0xFF000000u, 0)) << "indexed after it";
    }
}

// Shapes draw their indices from GL memory, checked once: another indexed draw in between must
// not leave its indices bound for the shape, and vertices rewritten through GetVB must show.
TEST_F(RenderDrawCache, ShapeIndicesStayWithTheirShape) {
    ID3DXSimpleShape* box = nullptr;
    ASSERT_EQ(opengl_backend().D3DXCreateBox(dev, 1, 1, 1, 1, &box), S_OK);
    owned_.push_back(box);
    D3DMATRIX world = translation(0, 0, 0.6f);
    auto draw_box = [&](DWORD emissive) {
        ASSERT_EQ(dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &world), D3D_OK);
        D3DMATERIAL7 m{};
        m.emissive = {((emissive >> 16) & 0xFF) / 255.0f, ((emissive >> 8) & 0xFF) / 255.0f, (emissive & 0xFF) / 255.0f, 1};
        ASSERT_EQ(dev->SetMaterial(&m), D3D_OK);
        ASSERT_EQ(box->Draw(), S_OK);
    };
    draw_box(kRed);
    EXPECT_TRUE(near_colour(pixel(32, 32), kRed, 1));

    clear(0xFF000000);
    D3DMATRIX unmoved = identity();
    ASSERT_EQ(dev->SetTransform(D3DTRANSFORMSTATE_WORLD, &unmoved), D3D_OK);
    D3DVERTEX corner[3] = {{-1, 1, 0.5f, 0, 0, -1, 0, 0}, {-0.9f, 1, 0.5f, 0, 0, -1, 0, 0}, {-1, 0.9f, 0.5f, 0, 0, -1, 0, 0}};
    WORD streamed[3] = {0, 1, 2};
    ASSERT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, corner, 3, streamed, 3, 0), D3D_OK);
    draw_box(kGreen);
    EXPECT_TRUE(near_colour(pixel(32, 32), kGreen, 1)) << "after a draw with streamed indices";

    IDirect3DVertexBuffer7* vb = nullptr;
    ASSERT_EQ(box->GetVB(&vb), S_OK);
    void* p = nullptr;
    DWORD size = 0;
    ASSERT_EQ(vb->Lock(DDLOCK_WAIT, &p, &size), D3D_OK);
    const DWORD stride = 8 * sizeof(float);  // position, normal, one texture set
    for (DWORD at = 0; at + stride <= size; at += stride) reinterpret_cast<float*>(static_cast<uint8_t*>(p) + at)[0] += 10;
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    vb->Release();
    clear(0xFF000000);
    draw_box(kGreen);
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 0)) << "vertices moved away through GetVB";
}

// The device skips making its context current while the driver says it still is: a host that
// makes a context of its own current between two calls must get it back untouched, and the
// device's next draw must land in the device's target.
TEST_F(RenderDrawCache, AContextTheHostMadeCurrentIsNoticed) {
    draw_lit(kRed);
    ASSERT_TRUE(near_colour(pixel(32, 32), kRed, 1));
    EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    ASSERT_TRUE(eglInitialize(display, nullptr, nullptr));
    ASSERT_TRUE(eglBindAPI(EGL_OPENGL_API));
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5, EGL_NONE};
    EGLContext host = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    ASSERT_NE(host, EGL_NO_CONTEXT);
    auto host_draws_blue = [&](GLuint* framebuffer, GLuint* colour) {
        ASSERT_TRUE(eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, host));
        glCreateRenderbuffers(1, colour);
        glNamedRenderbufferStorage(*colour, GL_RGBA8, 4, 4);
        glCreateFramebuffers(1, framebuffer);
        glNamedFramebufferRenderbuffer(*framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, *colour);
        glBindFramebuffer(GL_FRAMEBUFFER, *framebuffer);
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    };
    GLuint framebuffer = 0, colour = 0;
    host_draws_blue(&framebuffer, &colour);
    draw_lit(kGreen);  // with the host's context current
    EXPECT_TRUE(near_colour(pixel(32, 32), kGreen, 1)) << "the draw went to the host's context";
    ASSERT_TRUE(eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, host));
    uint8_t rgba[4] = {};
    glReadPixels(1, 1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    EXPECT_EQ(std::vector<int>(rgba, rgba + 4), (std::vector<int>{0, 0, 255, 255})) << "the host's target was drawn on";
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &colour);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, host);  // the display is the device's too: not terminated
    EXPECT_TRUE(near_colour(pixel(32, 32), kGreen, 1)) << "the device's context after the host let go";
}

}  // namespace
}  // namespace render_test
