// Vertex buffers of one DirectDraw object holding the same bytes draw from one GL buffer, and
// index lists drawn again from a vertex buffer come from GL memory. Neither may ever draw what a
// buffer held before, what another buffer holds now, or what another GL context holds.
#include "render_test_support.h"

#include "directdraw.h"

namespace render_test {
namespace {

constexpr DWORD kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kBlack = 0xFF000000;

class RenderBufferShare : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    }
    // A buffer of two quads in screen space: vertices 0-3 over the left half, 4-7 the right.
    static ComPtr<IDirect3DVertexBuffer7> halves(IDirectDraw7* owner, DWORD left, DWORD right) {
        ComPtr<IDirect3D7> d3d;
        ComPtr<IDirect3DVertexBuffer7> vb;
        D3DVERTEXBUFFERDESC desc{sizeof desc, 0, D3DFVF_TLVERTEX, 8};
        if (owner->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(d3d.put())) != S_OK ||
            d3d->CreateVertexBuffer(&desc, vb.put(), 0) != D3D_OK)
            return {};
        fill(vb.get(), left, right);
        return vb;
    }
    static void fill(IDirect3DVertexBuffer7* vb, DWORD left, DWORD right) {
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(DDLOCK_WAIT | DDLOCK_WRITEONLY, &p, nullptr), D3D_OK);
        auto* v = static_cast<D3DTLVERTEX*>(p);
        for (int half = 0; half < 2; ++half) {
            const float x0 = half * 32.0f, x1 = x0 + 32;
            const DWORD c = half ? right : left;
            const float corners[4][2] = {{x0, 0}, {x1, 0}, {x0, 64}, {x1, 64}};
            for (int k = 0; k < 4; ++k) v[half * 4 + k] = {corners[k][0], corners[k][1], 0.5f, 1, c, 0, 0, 0};
        }
        ASSERT_EQ(vb->Unlock(), D3D_OK);
    }
    // Clears `device`, draws both halves of `vb` and answers the colours at their centres.
    static std::pair<DWORD, DWORD> draw(IDirect3DDevice7* device, IDirectDrawSurface7* target,
                                        IDirect3DVertexBuffer7* vb, WORD* indices = nullptr, DWORD count = 0) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlack, 1.0f, 0);
        WORD both[12] = {0, 1, 2, 2, 1, 3, 4, 5, 6, 6, 5, 7};
        EXPECT_EQ(device->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, vb, 0, 8, indices ? indices : both,
                                                 indices ? count : 12, 0), D3D_OK);
        auto sd = sized<DDSURFACEDESC2>();
        if (target->Lock(nullptr, &sd, DDLOCK_WAIT | DDLOCK_READONLY, 0) != DD_OK) return {0, 0};
        auto at = [&](int x) { return reinterpret_cast<DWORD*>(static_cast<uint8_t*>(sd.lpSurface) + 32 * sd.lPitch)[x] | kBlack; };
        std::pair<DWORD, DWORD> colours{at(16), at(48)};
        target->Unlock(nullptr);
        return colours;
    }
    std::pair<DWORD, DWORD> draw(IDirect3DVertexBuffer7* vb, WORD* indices = nullptr, DWORD count = 0) {
        return draw(dev, back, vb, indices, count);
    }
    static size_t shared(IDirectDraw7* owner) { return vantor::render::DirectDraw::from(owner)->buffers()->size(); }
};

using Colours = std::pair<DWORD, DWORD>;

// Equal buffers share one GL buffer, which keeps its bytes when the buffer that added it goes;
// rewriting one leaves the shared buffer (the others keep their bytes), rewriting it back
// shares again. An index list gets a GL buffer when drawn a second time.
TEST_F(RenderBufferShare, EqualBuffersShareUntilOneIsRewritten) {
    ComPtr<IDirect3DVertexBuffer7> a = halves(dd, kRed, kBlue), b = halves(dd, kRed, kBlue);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(draw(a.get()), Colours(kRed, kBlue));
    EXPECT_EQ(draw(b.get()), Colours(kRed, kBlue));
    EXPECT_EQ(shared(dd), 1u);
    a.reset();  // a added the shared buffer: its bytes must stay for b and for newcomers
    EXPECT_EQ(draw(b.get()), Colours(kRed, kBlue));
    ComPtr<IDirect3DVertexBuffer7> c = halves(dd, kRed, kBlue), d = halves(dd, kRed, kGreen);
    EXPECT_EQ(draw(c.get()), Colours(kRed, kBlue));
    EXPECT_EQ(draw(d.get()), Colours(kRed, kGreen));
    EXPECT_EQ(shared(dd), 3u) << "c shares b's vertices, d has its own, and b's list";

    struct Step {
        const char* name;
        DWORD c_left;
        size_t shared;  // GL buffers found by content after both drew
    };
    const Step steps[] = {{"c rewritten", kGreen, 4}, {"c rewritten again", kBlue, 4}, {"c as b again", kRed, 3}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        fill(c.get(), s.c_left, kBlue);
        EXPECT_EQ(draw(b.get()), Colours(kRed, kBlue));
        EXPECT_EQ(draw(c.get()), Colours(s.c_left, kBlue));
        EXPECT_EQ(shared(dd), s.shared);
    }
    b.reset();
    c.reset();
    d.reset();
    EXPECT_EQ(shared(dd), 0u) << "the last holder deletes";
}

// A remembered index list is recognised by its contents, never by where it lies; lists that
// alternate, more than a buffer remembers, each draw what they say; a remembered list is still
// checked against each draw's vertex count.
TEST_F(RenderBufferShare, IndexListsAreKnownByTheirContents) {
    ComPtr<IDirect3DVertexBuffer7> vb = halves(dd, kRed, kBlue);
    ASSERT_TRUE(vb);
    WORD left[6] = {0, 1, 2, 2, 1, 3}, right[6] = {4, 5, 6, 6, 5, 7}, list[6];
    for (int round = 0; round < 3; ++round) {
        std::memcpy(list, left, sizeof list);
        EXPECT_EQ(draw(vb.get(), list, 6), Colours(kRed, kBlack)) << "round " << round;
        std::memcpy(list, right, sizeof list);  // the same pointer, other contents
        EXPECT_EQ(draw(vb.get(), list, 6), Colours(kBlack, kBlue)) << "round " << round;
    }
    // Twelve lists in turn, more than a buffer remembers: each covers one half with its two
    // triangles in either order and their corners rotated.
    for (int round = 0; round < 2; ++round) {
        for (int k = 0; k < 12; ++k) {
            const WORD base = k % 2 ? 4 : 0;
            const int turn = k / 2 % 3;
            const WORD tris[2][3] = {{0, 1, 2}, {2, 1, 3}};
            for (int t = 0; t < 2; ++t)
                for (int i = 0; i < 3; ++i) list[(k / 6 ? 1 - t : t) * 3 + i] = base + tris[t][(i + turn) % 3];
            EXPECT_EQ(draw(vb.get(), list, 6), k % 2 ? Colours(kBlack, kBlue) : Colours(kRed, kBlack)) << "list " << k;
        }
    }
    EXPECT_EQ(dev->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, vb.get(), 0, 7, right, 6, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dev->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, vb.get(), 4, 4, left, 6, 0), D3D_OK);
}

// Each DirectDraw object (rendering context) shares only among its own buffers: the same bytes
// in another context get a GL buffer of that context, which outlives the first context.
TEST_F(RenderBufferShare, AnotherContextKeepsItsOwnBuffers) {
    ComPtr<IDirect3DVertexBuffer7> mine = halves(dd, kRed, kBlue);
    EXPECT_EQ(draw(mine.get()), Colours(kRed, kBlue));
    ID3DXContext* other = nullptr;
    ASSERT_EQ(opengl_backend().D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, 0, kWidth, kHeight, &other), S_OK);
    ComPtr<IDirect3DDevice7> other_dev;
    ComPtr<IDirectDrawSurface7> other_back;
    ComPtr<IDirectDraw7> other_dd;
    ASSERT_EQ(other->GetD3DDevice(other_dev.put()), S_OK);
    ASSERT_EQ(other->GetBackBuffer(0, other_back.put()), S_OK);
    ASSERT_EQ(other->GetDD(other_dd.put()), S_OK);
    other_dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    ComPtr<IDirect3DVertexBuffer7> theirs = halves(other_dd.get(), kRed, kBlue);
    EXPECT_EQ(draw(other_dev.get(), other_back.get(), theirs.get()), Colours(kRed, kBlue));
    EXPECT_EQ(shared(other_dd.get()), 1u);
    mine.reset();
    EXPECT_EQ(draw(other_dev.get(), other_back.get(), theirs.get()), Colours(kRed, kBlue));
    theirs.reset();
    other_dev.reset();
    other_back.reset();
    other_dd.reset();
    EXPECT_EQ(other->Release(), 0u);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);  // this context current again
}

}  // namespace
}  // namespace render_test
