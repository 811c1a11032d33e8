// Light and Lights: Direct3D 7 light sources kept in the light's own fields and children and
// sent to the device by Update; Enabled goes straight to the device.
#include "collections/collection.h"
#include "module/results.h"
#include "module/strings.h"
#include "module/trace.h"
#include "world/record.h"
#include "world/world_file.h"

#include <vantor/backend/backend.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <cfloat>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

namespace vantor {

namespace {

// The maximum range: the square root of the largest float, computed in double precision.
const float kMaxRange = static_cast<float>(std::sqrt(static_cast<double>(FLT_MAX)));

}  // namespace

class CLight final : public CoClass<CLight, ILight> {
public:
    static constexpr const CLSID& kClsid = CLSID_Light;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        guard([&] {
            trace("Initialising Light.\n");
            for (ComPtr<IColour>* c : {&colour_, &specular_, &diffuse_, &ambient_}) {
                *c = create_child<IColour>(CLSID_Colour, "Colour Not Registered.");
                set_colour(c->get(), 0.0f, 0.0f, 0.0f, 0.0f);
            }
            for (ComPtr<IPosition>* p : {&position_, &direction_}) {
                *p = create_child<IPosition>(CLSID_Position, "Position Not Registered.");
                set_position(p->get(), 0.0f, 0.0f, 0.0f);
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
    HRESULT put_Device(LONG v) override { return device_.put(v); }
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

    HRESULT get_Name(BSTR* out) override { return get_text(name_, out); }
    HRESULT put_Name(BSTR v) override {
        return guard([&] {
            trace("Configuring Light Name --> '%s'\n", text::utf8(v).c_str());
            name_set_ = v != nullptr;
            return put_text(name_, v);
        });
    }

    HRESULT Update() override {
        return guard([&] {
            IDirect3DDevice7* d = device_.require();
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
            }
            check(hr, "SetLight Failed. (Error Code=%x).\n", Site::LightUpdate);
            return S_OK;
        });
    }

    HRESULT get_Enabled(VARIANT_BOOL* out) override {
        return guard([&] {
            IDirect3DDevice7* d = device_.require();
            BOOL on = FALSE;
            const HRESULT hr = d->GetLightEnable(static_cast<DWORD>(id_), &on);
            if (out) *out = variant_bool(SUCCEEDED(hr) && on);  // false when the device cannot say
            check(hr, "GetLightEnable Failed. (Error Code=%x).\n", Site::LightEnabled);
            return S_OK;
        });
    }

    HRESULT put_Enabled(VARIANT_BOOL v) override {
        return guard([&] {
            IDirect3DDevice7* d = device_.require();
            trace("Light --> %s", v ? "Enabled.\n" : "Disabled.\n");
            check(d->LightEnable(static_cast<DWORD>(id_), v != 0), "LightEnable Failed. (Error Code=%x).\n", Site::LightEnabled);
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
            device_.put(0);
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
            // A light after Free has no children: its points are written as 0 and its colours as
            // a blank colour, so the record keeps its length and the rest of the world still saves.
            for (IPosition* p : {position_.get(), direction_.get()}) {
                const D3DVECTOR v = p ? read_position(p) : D3DVECTOR{};
                out.real(v.x);
                out.real(v.y);
                out.real(v.z);
            }
            for (float v : {constant_, linear_, quadratic_, inner_cone_, outer_cone_, falloff_, range_}) out.real(v);
            ComPtr<IColour> blank;
            for (IColour* c : {ambient_.get(), colour_.get(), diffuse_.get(), specular_.get()}) {
                if (!c && !blank) blank = create_child<IColour>(CLSID_Colour, "Colour Not Registered.");
                HRESULT hr = (c ? c : blank.get())->Save(f);
                if (FAILED(hr)) return hr;
            }
            return S_OK;
        });
    }

    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Light.\n");
            RecordReader in(f);
            in.skip();
            const std::u16string name = text::utf16(in.name());
            const LONG type = in.integer();
            const LONG id = in.integer();
            float values[13];  // position, direction, then the seven attenuation, cone, fall-off and range values
            for (float& v : values) v = in.real();
            IColour* colours[] = {need(ambient_.get()), need(colour_.get()), need(diffuse_.get()), need(specular_.get())};
            IPosition* places[] = {need(position_.get()), need(direction_.get())};
            // The colour records are read into copies, so a record cut short changes nothing.
            ComPtr<IColour> read[4];
            for (ComPtr<IColour>& c : read) {
                c = adopt(CreateRegisteredObject<IColour>(CLSID_Colour));
                if (!c) throw failure(E_FAIL, "Colour Not Registered.");
                HRESULT hr = c->Load(f);
                if (FAILED(hr)) return hr;
            }
            name_ = name;
            name_set_ = true;
            type_ = static_cast<LightTypes>(type);
            id_ = id;
            for (int i = 0; i < 2; ++i) {
                places[i]->put_X(values[i * 3]);
                places[i]->put_Y(values[i * 3 + 1]);
                places[i]->put_Z(values[i * 3 + 2]);
            }
            // Stored as read: the cone and range clamps of the puts do not apply here.
            float* fields[] = {&constant_, &linear_, &quadratic_, &inner_cone_, &outer_cone_, &falloff_, &range_};
            for (int i = 0; i < 7; ++i) *fields[i] = values[6 + i];
            for (int i = 0; i < 4; ++i) {
                D3DCOLORVALUE v = read_colour(read[i].get());
                set_colour(colours[i], v.r, v.g, v.b, v.a);
            }
            Update();
            return S_OK;
        });
    }

private:
    std::u16string name_;
    bool name_set_ = false;
    ComPtr<IColour> colour_, diffuse_, specular_, ambient_;
    ComPtr<IPosition> position_, direction_;
    LightTypes type_ = lt_Point;
    LONG direct3d_ = 0;
    DeviceLink device_;
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
            IDirect3DDevice7* d = device_.require();
            D3DDEVICEDESC7 caps{};
            check(d->GetCaps(&caps), "GetCaps Failed. (Error Code=%x).\n", Site::LightsMax);
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
                IDirect3DDevice7* d = device_.get();
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
                light->put_Device(device_.handle());
                light->put_Type(LightType);
                if (ComPtr<IColour> c = child_of<IColour>(light, &ILight::get_Colour)) set_colour(c.get(), Red, Green, Blue, Alpha);
                // The new light's location goes into both its position and its direction.
                for (HRESULT (ILight::*get)(IDispatch**) : {&ILight::get_Position, &ILight::get_Direction})
                    if (ComPtr<IPosition> p = child_of<IPosition>(light, get)) set_position(p.get(), X, Y, Z);
                light->put_FallOff(FallOff);
                light->put_InnerCone(InnerCone);
                light->put_OuterCone(OuterCone);
                light->put_Range(Range);
            },
            [&](ILight* light) {
                trace("Light Name --> '%s'\n", text::utf8(name.data(), name.size()).c_str());
                BSTR n = text::bstr(name);
                light->put_Name(n);
                SysFreeString(n);
                light->put_ID(id);
                light->put_Enabled(VARIANT_TRUE);
            });
    }

    HRESULT Save(LONG f) override { return save_all(f, "Lights"); }

    // Each light is added as a point light, then kept under the key its ID gives ("Light" and
    // the ID, as Add names it), so a world reads back in the order it was written; a key taken
    // already gives way to the first free "Light" key, so every light stays.
    //
    // Add switches each light on at the index it gives; a light saved under another index is
    // switched on there instead, and an index Add switched on that no loaded light took is
    // switched off again, so a world whose lights were removed and added shines as it did.
    HRESULT Load(LONG f) override {
        std::set<std::u16string> used;
        std::vector<std::pair<ComPtr<ILight>, LONG>> added;  // each light and the index Add gave it
        const HRESULT hr = load_each(
            f, "Lights", world::record_lines(world::Section::Lights),
            [&] {
                const LONG index = store_.count();  // the index Add gives
                IDispatch* light = nullptr;
                const HRESULT hr = get_Add(lt_Point, 0, 0, 0, 0, 0, 0, 0, 1.0f, 0.0f, 1.0f, 10.0f, &light);
                ComPtr<ILight> element = element_of(hr, light);
                if (element) added.emplace_back(element, index);
                return element;
            },
            [&](ILight* light) {
                LONG id = 0;
                light->get_ID(&id);
                std::u16string key = text::utf16("Light" + std::to_string(id));
                for (LONG free = 0; used.count(key); ++free) key = text::utf16("Light" + std::to_string(free));
                used.insert(key);
                return key;
            });
        if (FAILED(hr)) return hr;
        std::set<LONG> loaded;
        for (auto& [light, index] : added) {
            LONG id = index;
            light->get_ID(&id);
            loaded.insert(id);
            if (id != index) light->put_Enabled(VARIANT_TRUE);  // results ignored, as Load's are
        }
        if (IDirect3DDevice7* d = device_.get())
            for (auto& [light, index] : added)
                if (!loaded.count(index)) d->LightEnable(static_cast<DWORD>(index), FALSE);
        return hr;
    }

private:
    [[noreturn]] static void unsupported(const char* text) {
        trace("Not Supported.\n");
        throw failure(E_FAIL, text);
    }
};

template <> HRESULT create_class<ILight>(IUnknown* o, REFIID r, void** p) { return CLight::create(o, r, p); }
template <> HRESULT create_class<ILights>(IUnknown* o, REFIID r, void** p) { return CLights::create(o, r, p); }

}  // namespace vantor
