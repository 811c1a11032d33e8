// The Direct3D 7 device (IDirect3DDevice7) over OpenGL 4.5 core.
//
//   IDirect3DDevice7* dev;  context->GetD3DDevice(&dev);
//   dev->SetRenderState(D3DRENDERSTATE_FOGENABLE, TRUE);   // stored; GL sees it at the next draw
//   dev->BeginScene();
//   dev->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, vertices, 3, 0);
//   dev->EndScene();
//
// State is shadowed on the CPU: every Set call stores the value and marks it dirty, and the
// next draw runs one handler per dirty Direct3D state (apply_fogtablemode, apply_cullmode, ...),
// which either sets GL state or changes the pipeline key and uniform blocks. A new device
// starts with everything dirty; GL state is never read back. Reads return what was set, or
// Direct3D 7's defaults.
//
// Results (Direct3D 7's): DDERR_INVALIDPARAMS for null or mis-sized records, unknown render,
// stage or transform states, stages beyond 7, light indices never set (GetLight,
// GetLightEnable), vertex counts beyond a vertex buffer or above D3DMAXNUMVERTICES, indices
// outside the vertex range and unknown draw flags; D3DERR_INVALIDPRIMITIVETYPE and
// D3DERR_INVALIDVERTEXTYPE for bad primitive types and vertex formats;
// D3DERR_SCENE_IN_SCENE / D3DERR_SCENE_NOT_IN_SCENE for unbalanced scenes;
// D3DERR_LIGHT_SET_FAILED when a ninth light is enabled (its slot is made first, so GetLight
// answers for it); light records as vantor/backend/device_state.h's check_light says;
// D3DERR_VERTEXBUFFERLOCKED for drawing a locked vertex buffer; DDERR_SURFACEBUSY for drawing
// into a locked target;
// D3DERR_ZBUFFER_NOTPRESENT / D3DERR_STENCILBUFFER_NOTPRESENT for clearing what is not there;
// DDERR_INVALIDOBJECT for a texture made by another DirectDraw object (it lives in another GL
// context). A call that fails changes nothing and draws nothing.
//
// Choices where Direct3D 7 leaves room: drawing outside BeginScene/EndScene is allowed; eight
// lights shine at once; GetLightEnable's TRUE is 1; GetInfo gives real texture-manager figures
// (TEXTURING answers S_FALSE, as the retail runtime); texture formats enumerate as
// pixel_format.h's kTextureFormats lists them.
#pragma once

#include "com_object.h"
#include "fvf.h"
#include "gl.h"
#include "pipeline.h"
#include "stream_ring.h"

#include <vantor/backend/device_state.h>

#include <bitset>

namespace vantor::render {

class DirectDraw;
class Surface;
class VertexBuffer;

class Device final : public SingleInterface<IDirect3DDevice7, &IID_VantorRenderDevice> {
public:
    // A device rendering into `target` (its attached depth buffer, if any, is the Z buffer);
    // `device_guid` is the type the device reports. Null when GL objects cannot be made.
    static ComPtr<Device> create(DirectDraw* dd, Surface* target, const GUID& device_guid);
    static Device* from(IDirect3DDevice7* p) { return implementation_of<Device>(p, IID_VantorRenderDevice); }

    HRESULT GetCaps(D3DDEVICEDESC7* desc) override;
    HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT GetDirect3D(IDirect3D7** d3d) override;
    HRESULT SetRenderTarget(IDirectDrawSurface7* surface, DWORD flags) override;
    HRESULT GetRenderTarget(IDirectDrawSurface7** surface) override;
    HRESULT Clear(DWORD count, D3DRECT* rects, DWORD flags, D3DCOLOR colour, D3DVALUE z, DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetViewport(D3DVIEWPORT7* viewport) override;
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT GetViewport(D3DVIEWPORT7* viewport) override;
    HRESULT SetMaterial(D3DMATERIAL7* material) override;
    HRESULT GetMaterial(D3DMATERIAL7* material) override;
    HRESULT SetLight(DWORD index, D3DLIGHT7* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT7* light) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD count, DWORD flags) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount, WORD* indices,
                                 DWORD indexCount, DWORD flags) override;
    HRESULT DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb, DWORD start, DWORD count,
                            DWORD flags) override;
    HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* vb, DWORD start, DWORD vertexCount,
                                   WORD* indices, DWORD indexCount, DWORD flags) override;
    HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** texture) override;
    HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT GetInfo(DWORD id, void* info, DWORD size) override;

    // --- for the rendering context ---
    GlContext& gl() const { return *gl_; }
    Surface* render_target() const { return target_.get(); }
    // Binds the render target's framebuffer for drawing (after others used GL).
    bool bind_target();
    // Someone else (debug text, presenting) changed GL state: apply everything again.
    void invalidate_gl_state();
    // The viewport and target size changed underneath (the context's Resize).
    void target_resized();

    // --- for the utility shapes ---
    // Draws `count` of the vertex buffer's resident indices from `first`, as
    // DrawIndexedPrimitiveVB with start 0 would, without checking or sending them again.
    // E_NOTIMPL when the buffer keeps none or lives in another GL context (draw it the usual way).
    HRESULT draw_resident(D3DPRIMITIVETYPE type, VertexBuffer* vb, DWORD first, DWORD count);

private:
    static constexpr size_t kVertexStreamBytes = size_t{8} << 20;
    static constexpr size_t kIndexStreamBytes = size_t{2} << 20;
    static constexpr size_t kUniformRingBytes = size_t{1} << 20;

    Device(DirectDraw* dd, Surface* target, const GUID& guid);
    ~Device() override;
    bool create_gl_objects();
    void set_defaults();

    // Drawing (device_draw.cpp)
    HRESULT check_draw(D3DPRIMITIVETYPE type, DWORD flags);
    const FvfLayout* layout_for(DWORD fvf, HRESULT* hr);
    bool prepare(const FvfLayout& layout, D3DPRIMITIVETYPE type);
    void set_vertex_format(const FvfLayout& layout);
    // Per-draw vertices and indices: the streaming rings, or a buffer of their own when larger.
    // bind_vertices answers the index of the first vertex in the buffer it bound.
    GLint bind_vertices(const void* data, size_t bytes, GLsizei stride);
    GLint bind_buffer_vertices(VertexBuffer* vb, DWORD start, DWORD count);
    GLintptr stream_indices(const void* data, size_t bytes);
    // Binds `buffer` (a vertex buffer's when `serial` is not 0) at vertex binding 0, or as the
    // element array buffer, unless it is bound there already.
    void bind_vertex_buffer(GLuint buffer, uint64_t serial, GLintptr offset, GLsizei stride);
    void bind_element_buffer(GLuint buffer, uint64_t serial) {
        if (element_buffer_ == buffer && element_serial_ == serial) return;
        glVertexArrayElementBuffer(vao_, buffer);
        element_buffer_ = buffer;
        element_serial_ = serial;
    }

    // State application (device_apply.cpp): one handler per Direct3D state.
    using Handler = void (Device::*)();
    using StageHandler = void (Device::*)(DWORD stage);
    static const Handler* render_state_handlers();
    static const StageHandler* stage_state_handlers();
    void apply_dirty_state();
    void update_pipeline_key(const FvfLayout& layout, D3DPRIMITIVETYPE type);
    void bind_textures();
    void apply_transforms();
    void apply_lights();
    void apply_viewport();
    void apply_material();
    void update_blend();
    void update_depth();
    void update_sampler_filters(DWORD stage);
    void update_fog_key();
    void update_colour_key();
    void upload_blocks();
    void store_stage_state(DWORD stage, DWORD state, DWORD value);

    // Render state handlers (named after the states).
    void apply_nothing() {}
    void apply_zenable();
    void apply_fillmode();
    void apply_shademode();
    void apply_zwriteenable();
    void apply_alphatestenable();
    void apply_srcblend();
    void apply_destblend();
    void apply_cullmode();
    void apply_zfunc();
    void apply_alpharef();
    void apply_alphafunc();
    void apply_ditherenable();
    void apply_alphablendenable();
    void apply_fogenable();
    void apply_specularenable();
    void apply_fogcolor();
    void apply_fogtablemode();
    void apply_fogstart();
    void apply_fogend();
    void apply_fogdensity();
    void apply_colorkeyenable();
    void apply_zbias();
    void apply_rangefogenable();
    void apply_stencilenable();
    void apply_stencilfail();
    void apply_stencilzfail();
    void apply_stencilpass();
    void apply_stencilfunc();
    void apply_stencilref();
    void apply_stencilmask();
    void apply_stencilwritemask();
    void apply_texturefactor();
    void apply_wrap();
    void apply_lighting();
    void apply_ambient();
    void apply_fogvertexmode();
    void apply_colorvertex();
    void apply_localviewer();
    void apply_normalizenormals();
    void apply_diffusematerialsource();
    void apply_specularmaterialsource();
    void apply_ambientmaterialsource();
    void apply_emissivematerialsource();
    void apply_vertexblend();
    // Stage state handlers.
    void apply_stage_key(DWORD stage);  // COLOROP..ALPHAARG2, TEXCOORDINDEX, TEXTURETRANSFORMFLAGS
    void apply_bumpenvmat(DWORD stage);
    void apply_address(DWORD stage);
    void apply_addressu(DWORD stage);
    void apply_addressv(DWORD stage);
    void apply_bordercolor(DWORD stage);
    void apply_magfilter(DWORD stage);
    void apply_minfilter(DWORD stage);
    void apply_mipfilter(DWORD stage);
    void apply_mipmaplodbias(DWORD stage);
    void apply_maxmiplevel(DWORD stage);
    void apply_maxanisotropy(DWORD stage);
    void apply_bumpenvlscale(DWORD stage);
    void apply_stage_nothing(DWORD) {}

    void stencil_op();
    void stencil_func();
    DWORD rs(D3DRENDERSTATETYPE s) const { return render_[s]; }
    float rs_float(D3DRENDERSTATETYPE s) const;

    ComPtr<DirectDraw> dd_;
    GlContext* gl_ = nullptr;  // the DirectDraw object's, kept alive through dd_
    ComPtr<Surface> target_;
    GUID guid_;
    bool in_scene_ = false;

    // Shadowed Direct3D state
    DWORD render_[D3DRENDERSTATE_MAX]{};
    DWORD stage_[kMaxStages][D3DTSS_MAX]{};
    D3DMATRIX world_[4]{}, view_{}, projection_{}, texture_matrix_[kMaxStages]{};
    D3DVIEWPORT7 viewport_{};
    D3DMATERIAL7 material_{};
    backend::LightTable lights_;
    ComPtr<Surface> textures_[kMaxStages];

    // Dirty tracking
    std::bitset<D3DRENDERSTATE_MAX> dirty_render_;
    std::bitset<D3DTSS_MAX> dirty_stage_[kMaxStages];
    // Whether any bit of dirty_render_ is set, and which stages have bits in dirty_stage_: most
    // draws change no state at all and skip the scans.
    bool dirty_render_any_ = true;
    unsigned dirty_stage_mask_ = ~0u;
    // Transform groups that changed since the last draw.
    enum : unsigned { kDirtyWorld = 1, kDirtyBlendWorlds = 2, kDirtyView = 4, kDirtyProjection = 8, kDirtyTextureMatrices = 16 };
    unsigned dirty_transforms_ = ~0u;
    bool dirty_lights_ = true, dirty_material_ = true, dirty_viewport_ = true;
    bool dirty_target_ = true, dirty_stage_key_ = true, dirty_key_ = true;
    unsigned dirty_blocks_ = ~0u;  // 1 << k*Block, and kDirtyMaterialUniforms
    static constexpr unsigned kDirtyMaterialUniforms = 1u << kBlockCount;
    bool any_dirty_state_ = true;
    bool dirty_fixed_ = true;

    // GL objects and what is bound
    GLuint vao_ = 0;
    StreamRing vertex_ring_, index_ring_, uniform_ring_;
    GLuint large_vertices_ = 0, large_indices_ = 0;
    // The VAO's element array buffer and its serial (0: one of the device's own).
    GLuint element_buffer_ = 0;
    uint64_t element_serial_ = 0;
    // What is bound at vertex binding 0: the GL buffer, its serial (0: one of the device's own),
    // offset and stride. Buffer 0: unknown.
    GLuint bound_vb_buffer_ = 0;
    uint64_t bound_vb_serial_ = 0;
    GLintptr bound_vb_offset_ = 0;
    GLsizei bound_vb_stride_ = 0;
    // Uniform blocks go to ever new places of their ring; all of them move together into each
    // new segment, so a bound block never lies in a segment being written again.
    GLint ring_align_ = 256;
    GLuint samplers_[kMaxStages] = {};
    GLuint bound_texture_[kMaxStages] = {};
    GLuint program_ = 0;
    DWORD vertex_format_ = 0xFFFFFFFF;
    bool pretransformed_depth_ = false;  // glDepthRange is 0..1 for pre-transformed draws
    ProgramCache programs_;
    PipelineKey key_{};       // what the states give (stage part before the vertex format)
    PipelineKey draw_key_{};  // the key of the current program
    bool draw_key_valid_ = false;
    DWORD key_fvf_ = 0;
    D3DPRIMITIVETYPE key_type_ = D3DPT_TRIANGLELIST;
    FvfLayout layout_cache_;
    bool layout_cache_valid_ = false;
    ObjectBlock object_block_{};
    BlendBlock blend_block_{};
    ViewBlock view_block_{};
    LightingBlock lighting_block_{};
    MaterialUniforms material_uniforms_{};
    PixelBlock pixel_block_{};

    // Texture-manager statistics of the current scene
    uint64_t frame_ = 1;
    DWORD textures_used_ = 0;
    size_t bytes_uploaded_ = 0;

    HandleEntry handle_;
};

}  // namespace vantor::render
