// Light and Lights: Direct3D 7 light sources kept in the light's own fields and children and
// sent to the device by Update; Enabled goes straight to the device.
#include "collections/collection.h"
#include "module/classes.h"
#include "module/results.h"
#include "module/strings.h"
#include "module/trace.h"
#include "world/record.h"

#include <vantor/backend/backend.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <cfloat>
#include <cmath>

namespace vantor {

namespace {

IDirect3DDevice7* device_of(LONG handle) { return backend::from_handle<IDirect3DDevice7>(static_cast<uint32_t>(handle)); }

// The maximum range: the square root of the largest float, computed in double precision.
const float kMaxRange = static_cast<float>(std::sqrt(static_cast<double>(FLT_MAX)));

void set_colour(IColour* c, float r, float g, float b, float a) {
    c->put_Red(r);
    c->put_Green(g);
    c->put_Blue(b);
    c->put_Alpha(a);
}

D3DCOLORVALUE read_colour(IColour* c) {
    D3DCOLORVALUE v{};
    c->get_Red(&v.r);
    c->get_Green(&v.g);
    c->get_Blue(&v.b);
    c->get_Alpha(&v.a);
    return v;
}

D3DVECTOR read_position(IPosition* p) {
    D3DVECTOR v{};
    p->get_X(&v.x);
    p->get_Y(&v.y);
    p->get_Z(&v.z);
    return v;
}

}  // namespace

class CLight final : public CoClass<CLight, ILight> {
public:
    static constexpr const CLSID& kClsid = CLSID_Light;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        guard([&] {
            trace("Initialising Light.\n");
            for (ComPtr<IColour>* c : {&colour_, &specular_, &diffuse_, &ambient_}) {
                *c = adopt(CreateRegisteredObject<IColour>(CLSID_Colour));
                if (!*c) throw failure(E_FAIL, "Colour Not Registered.");
                set_colour(c->get(), 0.0f, 0.0f, 0.0f, 0.0f);
            }
            for (ComPtr<IPosition>* p : {&position_, &direction_}) {
                *p = adopt(CreateRegisteredObject<IPosition>(CLSID_Position));
                if (!*p) throw failure(E_FAIL, "Position Not Registered.");
                (*p)->put_X(0.0f);
                (*p)->put_Y(0.0f);
                (*p)->put_Z(0.0f);
            }
            return S_OK;
        });
        return S_OK;  // the light exists even without its children
    }

    // Children: E_POINTER without a message when missing.
    HRESULT get_Colour(IDispatch** out) override { return child(colour_, out); }
    HRESULT get_Position(IDispatch** out) override { return child(position_, out); }
    HRESULT get_Direction(IDispatch** out) override { return child(direction_, out); }
    HRESULT get_Diffuse(IDispatch** out) override { return child(diffuse_, out); }
    HRESULT get_Ambient(IDispatch** out) override { return child(ambient_, out); }
    HRESULT get_Specular(IDispatch** out) override { return child(specular_, out); }

    // Plain fields.
    HRESULT get_Type(LightTypes* v) override { return get(type_, v); }
    HRESULT put_Type(LightTypes v) override { return set(type_, v); }
    HRESULT put_Direct3D(LONG v) override { return set(direct3d_, v); }
    HRESULT put_Device(LONG v) override { return set(device_, v); }
    HRESULT get_ID(LONG* v) override { return get(id_, v); }
    HRESULT put_ID(LONG v) override { return set(id_, v); }
    HRESULT get_ConstAttenuation(FLOAT* v) override { return get(constant_, v); }
    HRESULT put_ConstAttenuation(FLOAT v) override { return set(constant_, v); }
    HRESULT get_LinearAttenuation(FLOAT* v) override { return get(linear_, v); }
    HRESULT put_LinearAttenuation(FLOAT v) override { return set(linear_, v); }
    HRESULT get_QuadraticAttenuation(FLOAT* v) override { return get(quadratic_, v); }
    HRESULT put_QuadraticAttenuation(FLOAT v) override { return set(quadratic_, v); }
    HRESULT get_FallOff(FLOAT* v) override { return get(falloff_, v); }
    HRESULT put_FallOff(FLOAT v) override { return set(falloff_, v); }
    HRESULT get_InnerCone(FLOAT* v) override { return get(inner_cone_, v); }
    HRESULT get_OuterCone(FLOAT* v) override { return get(outer_cone_, v); }
    HRESULT get_Range(FLOAT* v) override { return get(range_, v); }

    // The clamps: the inner cone never exceeds the outer one, the range never the maximum.
    HRESULT put_InnerCone(FLOAT v) override {
        return guard([&] {
            if (v > outer_cone_) {
                v = outer_cone_;
                trace("Setting Lights' InnerCone to Maximum.\n");
            }
            inner_cone_ = v;
            return S_OK;
        });
    }
    HRESULT put_OuterCone(FLOAT v) override {
        return guard([&] {
            if (v < inner_cone_) {
                inner_cone_ = v;
                trace("Setting Lights' InnerCone to Maximum.\n");
            }
            outer_cone_ = v;
            return S_OK;
        });
    }
    HRESULT put_Range(FLOAT v) override {
        return guard([&] {
            if (v > kMaxRange) {
                v = kMaxRange;
                trace("Setting Light to Maximum Range.\n");
            }
            range_ = v;
            return S_OK;
        });
    }

    HRESULT get_Name(BSTR* out) override {
        if (!out) return E_POINTER;
        *out = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT put_Name(BSTR v) override {
        return guard([&] {
            trace("Configuring Light Name --> '%s'\n", text::utf8(v).c_str());
            name_.assign(v ? v : u"", SysStringLen(v));
            name_set_ = v != nullptr;
            return S_OK;
        });
    }

    HRESULT Update() override {
        return guard([&] {
            IDirect3DDevice7* d = require_device();
            D3DVECTOR at = position_ ? read_position(position_.get()) : D3DVECTOR{};
            D3DLIGHT7 record{};
            record.dltType = static_cast<D3DLIGHTTYPE>(type_);
            record.dcvDiffuse = record.dcvSpecular = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
            record.dvPosition = record.dvDirection = at;
            record.dvAttenuation0 = 1.0f;
            record.dvRange = kMaxRange;
            if (diffuse_) record.dcvDiffuse = read_colour(diffuse_.get());
            if (specular_) record.dcvSpecular = read_colour(specular_.get());
            if (ambient_) record.dcvAmbient = read_colour(ambient_.get());
            record.dvAttenuation0 = constant_;
            record.dvAttenuation1 = linear_;
            record.dvAttenuation2 = quadratic_;
            if ((type_ == lt_Spot || type_ == lt_Directional) && direction_) record.dvDirection = read_position(direction_.get());
            record.dvTheta = inner_cone_;
            record.dvPhi = outer_cone_;
            record.dvFalloff = falloff_;
            if (type_ != lt_Directional) record.dvRange = range_;
            HRESULT hr = d->SetLight(static_cast<DWORD>(id_), &record);
            if (FAILED(hr)) {
                trace("Light Properties:\n");
                trace("Position (X): %f\n", record.dvPosition.x);
                trace("Position (Y): %f\n", record.dvPosition.y);
                trace("Position (Z): %f\n", record.dvPosition.z);
                trace("Direction (X): %f\n", record.dvDirection.x);
                trace("Direction (Y): %f\n", record.dvDirection.y);
                trace("Direction (Z): %f\n", record.dvDirection.z);
                trace("InnerCone (Theta): %f\n", record.dvTheta);
                trace("OuterCone (Phi): %f\n", record.dvPhi);
                trace("Fall-Off: %f\n", record.dvFalloff);
                trace("Type: %x\n", static_cast<unsigned>(record.dltType));
                trace("Range: %f\n", record.dvRange);
                trace("SetLight Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                throw backend_failure(hr, Site::LightUpdate);
            }
            return S_OK;
        });
    }

    HRESULT get_Enabled(VARIANT_BOOL* out) override {
        return guard([&] {
            IDirect3DDevice7* d = require_device(false);
            BOOL on = FALSE;
            HRESULT hr = d->GetLightEnable(static_cast<DWORD>(id_), &on);
            if (FAILED(hr)) {
                trace("GetLightEnable Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                if (out) *out = VARIANT_FALSE;
                throw backend_failure(hr, Site::LightEnabled);
            }
            if (out) *out = on ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }

    HRESULT put_Enabled(VARIANT_BOOL v) override {
        return guard([&] {
            IDirect3DDevice7* d = require_device(false);
            trace("Light --> %s", v ? "Enabled.\n" : "Disabled.\n");
            HRESULT hr = d->LightEnable(static_cast<DWORD>(id_), v != 0);
            if (FAILED(hr)) {
                trace("LightEnable Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                throw backend_failure(hr, Site::LightEnabled);
            }
            return S_OK;
        });
    }

    HRESULT Free() override {
        return guard([&] {
            trace("Releasing all Light Resources.\n");
            colour_.reset();
            position_.reset();
            diffuse_.reset();
            ambient_.reset();
            specular_.reset();
            direction_.reset();
            direct3d_ = 0;
            device_ = 0;
            return S_OK;
        });
    }

    HRESULT Save(LONG f) override {
        return guard([&] {
            trace("Saving Light.\n");
            RecordWriter out(f);
            out.line("// Light\n");
            out.name(name_, name_set_);
            out.number(static_cast<DWORD>(type_));
            out.number(static_cast<DWORD>(id_));
            for (IPosition* p : {need(position_.get()), need(direction_.get())}) {
                D3DVECTOR v = read_position(p);
                out.real(v.x);
                out.real(v.y);
                out.real(v.z);
            }
            for (float v : {constant_, linear_, quadratic_, inner_cone_, outer_cone_, falloff_, range_}) out.real(v);
            for (IColour* c : {need(ambient_.get()), need(colour_.get()), need(diffuse_.get()), need(specular_.get())})
                c->Save(f);
            return S_OK;
        });
    }

    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Light.\n");
            RecordReader in(f);
            in.skip();
            name_ = text::utf16(in.line());
            name_set_ = true;
            type_ = static_cast<LightTypes>(in.integer());
            id_ = in.integer();
            for (IPosition* p : {need(position_.get()), need(direction_.get())}) {
                p->put_X(in.real());
                p->put_Y(in.real());
                p->put_Z(in.real());
            }
            // Stored as read: the cone and range clamps of the puts do not apply here.
            for (float* v : {&constant_, &linear_, &quadratic_, &inner_cone_, &outer_cone_, &falloff_, &range_}) *v = in.real();
            for (IColour* c : {need(ambient_.get()), need(colour_.get()), need(diffuse_.get()), need(specular_.get())})
                c->Load(f);
            Update();
            return S_OK;
        });
    }

private:
    template <class C>
    static HRESULT child(const ComPtr<C>& c, IDispatch** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!c) return E_POINTER;
        return c->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
    }
    IDirect3DDevice7* require_device(bool = true) {
        IDirect3DDevice7* d = device_of(device_);
        if (!d) throw failure(E_POINTER, "Device Not Initialised.");
        return d;
    }

    std::u16string name_;
    bool name_set_ = false;
    ComPtr<IColour> colour_, diffuse_, specular_, ambient_;
    ComPtr<IPosition> position_, direction_;
    LightTypes type_ = lt_Point;
    LONG direct3d_ = 0;
    LONG device_ = 0;
    float constant_ = 0.0f, linear_ = 0.0f, quadratic_ = 0.0f;
    float inner_cone_ = 0.5f, outer_cone_ = 1.0f, falloff_ = 1.0f;
    float range_ = kMaxRange;
    LONG id_ = 0;
};

class CLights final : public Collection<CLights, ILights, ILight> {
public:
    static constexpr const CLSID& kClsid = CLSID_Lights;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        return S_OK;
    }

    HRESULT get_Max(LONG* out) override {
        return guard([&] {
            IDirect3DDevice7* d = device_of(device_);
            if (!d) throw failure(E_POINTER, "Device Not Initialised.");
            D3DDEVICEDESC7 caps{};
            HRESULT hr = d->GetCaps(&caps);
            if (FAILED(hr)) {
                trace("GetCaps Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                throw backend_failure(hr, Site::LightsMax);
            }
            if (out) *out = static_cast<LONG>(caps.dwMaxActiveLights);
            return S_OK;
        });
    }

    HRESULT get_Add(LightTypes LightType, FLOAT X, FLOAT Y, FLOAT Z, FLOAT Red, FLOAT Green, FLOAT Blue, FLOAT Alpha,
                    FLOAT FallOff, FLOAT InnerCone, FLOAT OuterCone, FLOAT Range, IDispatch** out) override {
        const LONG id = store_.count();
        const std::u16string name = text::utf16("Light" + std::to_string(id));
        return add(
            out, CLSID_Light, "Light Not Registered.", name,
            [&] {
                IDirect3DDevice7* d = device_of(device_);
                if (!backend::from_handle<IDirect3D7>(static_cast<uint32_t>(direct3d_)) || !d)
                    throw failure(E_POINTER, "Device Not Initialised.");
                D3DDEVICEDESC7 caps{};
                if (FAILED(d->GetCaps(&caps))) return;  // no capabilities: no type check, the light is made anyway
                trace("Light --> ");
                const DWORD vertex = caps.dwVertexProcessingCaps;
                switch (LightType) {
                    case lt_Point:
                        trace("Point --> ");
                        if (!(vertex & D3DVTXPCAPS_POSITIONALLIGHTS)) unsupported("Point Lights are not supported by this device.");
                        break;
                    case lt_Spot:
                        trace("Spotlight --> ");
                        if (!(vertex & D3DVTXPCAPS_POSITIONALLIGHTS)) unsupported("Spotlights are not supported by this device.");
                        break;
                    case lt_Directional:
                        trace("Directional --> ");
                        if (!(vertex & D3DVTXPCAPS_DIRECTIONALLIGHTS))
                            unsupported("Directional Lights are not supported by this device.");
                        break;
                    default:
                        trace("Invalid Type --> Not ");
                        throw failure(E_FAIL, "Invalid Light Type.");
                }
                trace("Supported.\n");
            },
            [&](ILight* light) {
                light->put_Direct3D(direct3d_);
                light->put_Device(device_);
                light->put_Type(LightType);
                ComPtr<IDispatch> colour;
                if (SUCCEEDED(light->get_Colour(colour.put())) && colour) {
                    ComPtr<IColour> c;
                    colour.query(c.put());
                    if (c) set_colour(c.get(), Red, Green, Blue, Alpha);
                }
                // The new light's location goes into both its position and its direction.
                for (HRESULT (ILight::*get)(IDispatch**) : {&ILight::get_Position, &ILight::get_Direction}) {
                    ComPtr<IDispatch> child;
                    ComPtr<IPosition> p;
                    if (SUCCEEDED((light->*get)(child.put())) && child && SUCCEEDED(child.query(p.put()))) {
                        p->put_X(X);
                        p->put_Y(Y);
                        p->put_Z(Z);
                    }
                }
                light->put_FallOff(FallOff);
                light->put_InnerCone(InnerCone);
                light->put_OuterCone(OuterCone);
                light->put_Range(Range);
            },
            [&](ILight* light) {
                trace("Light Name --> '%s'\n", text::utf8(name.data(), name.size()).c_str());
                BSTR n = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
                light->put_Name(n);
                SysFreeString(n);
                light->put_ID(id);
                light->put_Enabled(VARIANT_TRUE);
            });
    }

    HRESULT Save(LONG f) override {
        return guard([&] {
            trace("Saving Lights.\n");
            RecordWriter out(f);
            out.number(static_cast<DWORD>(store_.count()));
            for (auto& [key, light] : store_) light->Save(f);
            return S_OK;
        });
    }

    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Lights.\n");
            RecordReader in(f);
            store_.clear();
            std::string line = in.line();
            trace("Number of Lights to Load: %s.\n", line.c_str());
            const LONG count = classic_atoi(line);
            for (LONG i = 0; i < count && !in.at_end(); ++i) {
                IDispatch* added = nullptr;
                if (FAILED(get_Add(lt_Point, 0, 0, 0, 0, 0, 0, 0, 1.0f, 0.0f, 1.0f, 10.0f, &added)) || !added) break;
                ComPtr<ILight> light;
                added->QueryInterface(IID_ILight, reinterpret_cast<void**>(light.put()));
                added->Release();
                light->Load(f);
            }
            return S_OK;
        });
    }

private:
    [[noreturn]] static void unsupported(const char* text) {
        trace("Not Supported.\n");
        throw failure(E_FAIL, text);
    }
};

HRESULT create_light(IUnknown* outer, REFIID riid, void** ppv) { return CLight::create(outer, riid, ppv); }
HRESULT create_lights(IUnknown* outer, REFIID riid, void** ppv) { return CLights::create(outer, riid, ppv); }

}  // namespace vantor
