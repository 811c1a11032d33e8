// SimpleObject: one shape made by the utility layer's builders, drawn with whatever world
// transform, material and states the device has; SimpleObjects: the device's named collection
// of them, with one adder per kind.
#include <vantor/vantor.h>

#include "collections/collection.h"
#include "module/kit.h"
#include "module/object.h"
#include "module/strings.h"
#include "module/trace.h"

namespace vantor {

namespace {

// The line a builder or Draw result is traced with.
const char* result_line(HRESULT hr, bool drawing) {
    switch (static_cast<uint32_t>(hr)) {
        case static_cast<uint32_t>(D3DXERR_NULLPOINTER): return "Null Pointer.\n";
        case static_cast<uint32_t>(D3DERR_INVALIDRAMPTEXTURE): return "Invalid Ramp Texture.\n";
        case static_cast<uint32_t>(D3DERR_INVALIDPRIMITIVETYPE): return "Invalid Primitive Type.\n";
        case static_cast<uint32_t>(D3DERR_INVALIDVERTEXTYPE): return "Invalid Vertex Type.\n";
        case static_cast<uint32_t>(D3DERR_VERTEXBUFFERLOCKED):
            return drawing ? "Vertex Buffer is Locked.\n" : "Vertex Buffer Locked.\n";
        case static_cast<uint32_t>(E_INVALIDARG): return "Invalid Parameters.\n";
        case static_cast<uint32_t>(DDERR_WASSTILLDRAWING): return "Was Still Drawing.\n";
        case static_cast<uint32_t>(CLASS_E_NOAGGREGATION): return "No Aggregation.\n";
        case static_cast<uint32_t>(D3DERR_INVALIDVERTEXFORMAT): return "Invalid Vertex Format.\n";
        case static_cast<uint32_t>(D3DERR_VBUF_CREATE_FAILED): return "VBuf Creation Failed.\n";
        case static_cast<uint32_t>(D3DXERR_INVALIDPARAMETER): return "Invalid Parameter.\n";
        case static_cast<uint32_t>(D3DXERR_NOMEMORY):
        case static_cast<uint32_t>(E_OUTOFMEMORY): return "Out of Memory.\n";
        case static_cast<uint32_t>(DDERR_INVALIDOBJECT): return "Invalid Object.\n";
        default: return "Unknown Error.\n";
    }
}

}  // namespace

class CSimpleObject final : public CoClass<CSimpleObject, ISimpleObject> {
public:
    static constexpr const CLSID& kClsid = CLSID_SimpleObject;

    HRESULT FinalConstruct() {
        direct("VTR: Initialising Simple Object --> ");
        direct("Succeeded.\n");
        return S_OK;
    }

    HRESULT get_Type(SimpleObjectTypes* v) override { return get(type_, v); }
    HRESULT put_Type(SimpleObjectTypes v) override {
        return guard([&] {
            type_ = v;
            shape_.reset();
            build();
            return S_OK;
        });
    }
    HRESULT get_width(FLOAT* v) override { return get(width_, v); }
    HRESULT put_width(FLOAT v) override { return set(width_, v); }
    HRESULT get_Height(FLOAT* v) override { return get(height_, v); }
    HRESULT put_Height(FLOAT v) override { return set(height_, v); }
    HRESULT get_Depth(FLOAT* v) override { return get(depth_, v); }
    HRESULT put_Depth(FLOAT v) override { return set(depth_, v); }
    HRESULT get_Sides(LONG* v) override { return get(sides_, v); }
    HRESULT put_Sides(LONG v) override { return set(sides_, v); }
    HRESULT get_InnerRadius(FLOAT* v) override { return get(inner_, v); }
    HRESULT put_InnerRadius(FLOAT v) override { return set(inner_, v); }
    HRESULT get_OuterRadius(FLOAT* v) override { return get(outer_, v); }
    HRESULT put_OuterRadius(FLOAT v) override { return set(outer_, v); }
    HRESULT put_Device(LONG v) override { return device_.put(v); }
    HRESULT put_Direct3D(LONG v) override { return set(direct3d_, v); }

    HRESULT Render() override {
        return guard([&] {
            if (!shape_) throw failure(E_POINTER, "SimpleObject Not Initialised.");
            if (texture_) texture_->Apply();
            if (HRESULT hr = shape_->Draw(); FAILED(hr)) {
                direct("VTR: (ERROR) SimpleObject Draw --> ");
                direct(result_line(hr, true));
                throw backend_failure(hr, Site::SimpleObjectRender);
            }
            return S_OK;
        });
    }

    HRESULT get_Texture(IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return texture_ ? texture_.query(out) : S_OK;
    }
    // Only a texture is kept: anything else leaves the current one in place.
    HRESULT put_Texture(IDispatch* v) override {
        return guard([&] {
            direct("VTR: Setting Texture for Simple Object.\n");
            ComPtr<ITexture> t;
            if (v && (FAILED(v->QueryInterface(IID_ITexture, reinterpret_cast<void**>(t.put()))) || !t))
                throw failure(E_INVALIDARG, kStringInvalidParameter);
            texture_ = std::move(t);
            return S_OK;
        });
    }

    HRESULT Free() override {
        direct("VTR: Freeing Simple Object Resources.\n");
        type_ = sot_None;
        width_ = height_ = depth_ = inner_ = outer_ = 0.0f;
        sides_ = 0;
        texture_.reset();
        shape_.reset();
        return S_OK;
    }

private:
    // Builds the shape of `type_` from the dimensions stored now; none for sot_None.
    void build() {
        if (type_ == sot_None) return;
        IDirect3DDevice7* d = device_.get();
        const DWORD kDefault = D3DX_DEFAULT;
        // A negative side count is refused by the builder like any other count below 3.
        const DWORD sides = sides_ < 0 ? 0 : static_cast<DWORD>(sides_);
        HRESULT hr = E_FAIL;
        backend::Backend& b = backend::backend();
        switch (type_) {
            case sot_Box:
                direct("VTR: Creating Simple Box --> ");
                hr = b.D3DXCreateBox(d, width_, height_, depth_, kDefault, shape_.put());
                break;
            case sot_Cylinder:
                direct("VTR: Creating Simple Cylinder --> ");
                hr = b.D3DXCreateCylinder(d, inner_, outer_, height_, kDefault, kDefault, kDefault, shape_.put());
                break;
            case sot_Polygon:
                direct("VTR: Creating Simple Polygon --> ");
                hr = b.D3DXCreatePolygon(d, width_, sides, kDefault, shape_.put());
                break;
            case sot_Sphere:
                direct("VTR: Creating Simple Sphere --> ");
                hr = b.D3DXCreateSphere(d, width_, kDefault, kDefault, 1, shape_.put());
                break;
            case sot_Teapot:
                direct("VTR: Creating Simple Teapot --> ");
                hr = b.D3DXCreateTeapot(d, kDefault, shape_.put());
                break;
            case sot_Torus:
                direct("VTR: Creating Simple Torus --> ");
                hr = b.D3DXCreateTorus(d, inner_, outer_, sides, kDefault, kDefault, shape_.put());
                break;
            default:  // no builder for this kind
                break;
        }
        if (FAILED(hr) || !shape_) {
            shape_.reset();
            if (SUCCEEDED(hr)) hr = E_FAIL;
            direct(result_line(hr, false));
            throw backend_failure(hr, Site::SimpleObjectType);
        }
        direct("Succeeded.\n");
        ComPtr<IDirect3DVertexBuffer7> vb;
        if (SUCCEEDED(shape_->GetVB(vb.put())) && vb) {
            direct("VTR: Optimizing Simple Object --> ");
            direct(d && SUCCEEDED(vb->Optimize(d, 0)) ? "Succeeded.\n" : "Failed.\n");
        }
    }

    ComPtr<ID3DXSimpleShape> shape_;
    SimpleObjectTypes type_ = sot_None;
    FLOAT depth_ = 0.0f, height_ = 0.0f, width_ = 0.0f, inner_ = 1.0f, outer_ = 5.0f;
    LONG sides_ = 0;
    DeviceLink device_;
    LONG direct3d_ = 0;
    ComPtr<ITexture> texture_;
};

class CSimpleObjects final : public Collection<CSimpleObjects, ISimpleObjects, ISimpleObject> {
public:
    static constexpr const CLSID& kClsid = CLSID_SimpleObjects;

    HRESULT get__NewEnum(IUnknown** out) override { return Collection::get__NewEnum(out); }
    HRESULT Item(VARIANT index, VARIANT* out) override { return Collection::Item(index, out); }
    HRESULT get_Count(LONG* out) override { return Collection::get_Count(out); }
    HRESULT Remove(VARIANT index) override { return Collection::Remove(index); }
    HRESULT put_Device(LONG v) override { return Collection::put_Device(v); }
    HRESULT put_Direct3D(LONG v) override { return Collection::put_Direct3D(v); }

    HRESULT get_AddBox(BSTR name, FLOAT width, FLOAT height, FLOAT depth, IDispatch** out) override {
        return add_shape(name, sot_Box, out, [&](ISimpleObject* s) {
            s->put_width(width);
            s->put_Height(height);
            s->put_Depth(depth);
        });
    }
    HRESULT get_AddPolygon(BSTR name, FLOAT width, LONG sides, IDispatch** out) override {
        return add_shape(name, sot_Polygon, out, [&](ISimpleObject* s) {
            s->put_width(width);
            s->put_Sides(sides);
        });
    }
    HRESULT get_AddCylinder(BSTR name, FLOAT height, FLOAT base, FLOAT top, IDispatch** out) override {
        return add_shape(name, sot_Cylinder, out, [&](ISimpleObject* s) {
            s->put_Height(height);
            s->put_InnerRadius(base);
            s->put_OuterRadius(top);
        });
    }
    HRESULT get_AddSphere(BSTR name, FLOAT width, IDispatch** out) override {
        return add_shape(name, sot_Sphere, out, [&](ISimpleObject* s) { s->put_width(width); });
    }
    HRESULT get_AddTeapot(BSTR name, IDispatch** out) override {
        return add_shape(name, sot_Teapot, out, [](ISimpleObject*) {});
    }
    HRESULT get_AddTorus(BSTR name, LONG sides, FLOAT inner, FLOAT outer, IDispatch** out) override {
        return add_shape(name, sot_Torus, out, [&](ISimpleObject* s) {
            s->put_Sides(sides);
            s->put_InnerRadius(inner);
            s->put_OuterRadius(outer);
        });
    }

    HRESULT Render() override {
        return guard([&] {
            if (device_.handle() == 0) throw failure(E_POINTER, "Device Not Initialised.");
            for (auto& [name, shape] : store_) shape->Render();
            return S_OK;
        });
    }

private:
    template <class Dimensions>
    HRESULT add_shape(BSTR name, SimpleObjectTypes type, IDispatch** out, Dimensions dimensions) {
        return add(out, CLSID_SimpleObject, "SimpleObject Not Registered.", key_of(name), [] {},
                   [&](ISimpleObject* s) {
                       s->put_Device(device_.handle());
                       s->put_Direct3D(direct3d_);
                       dimensions(s);
                       s->put_Type(type);
                   });
    }
};

template <> HRESULT create_class<ISimpleObject>(IUnknown* o, REFIID r, void** p) { return CSimpleObject::create(o, r, p); }
template <> HRESULT create_class<ISimpleObjects>(IUnknown* o, REFIID r, void** p) { return CSimpleObjects::create(o, r, p); }

}  // namespace vantor
