// Material: diffuse, ambient, specular and emissive colours and a specular power, made the
// device's current material by Update (SetMaterial).
#include <vantor/vantor.h>

#include <array>

#include "module/object.h"
#include "module/strings.h"
#include "module/trace.h"
#include "world/record.h"

namespace vantor {

class CMaterial final : public CoClass<CMaterial, IMaterial> {
public:
    static constexpr const CLSID& kClsid = CLSID_Material;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        guard([&] {
            ambient_ = create_child<IColour>(CLSID_Colour, "Ambient Colour Not Registered.");
            colour_ = create_child<IColour>(CLSID_Colour, "Colour Not Registered.");
            diffuse_ = create_child<IColour>(CLSID_Colour, "Diffuse Colour Not Registered.");
            emissive_ = create_child<IColour>(CLSID_Colour, "Emissive Colour Not Registered.");
            specular_ = create_child<IColour>(CLSID_Colour, "Specular Colour Not Registered.");
            return S_OK;
        });
        return S_OK;  // the material exists even without its children
    }

    HRESULT get_Ambient(IDispatch** out) override {
        return child(ambient_, out, ChildRule::refuse("Ambient Colour Not Initialised."));
    }
    HRESULT get_Colour(IDispatch** out) override {
        return child(colour_, out, ChildRule::refuse("Colour Not Initialised."));
    }
    HRESULT get_Diffuse(IDispatch** out) override {
        return child(diffuse_, out, ChildRule::refuse("Diffuse Colour Not Initialised."));
    }
    HRESULT get_Emissive(IDispatch** out) override {
        return child(emissive_, out, ChildRule::refuse("Emissive Colour Not Initialised."));
    }
    HRESULT get_Specular(IDispatch** out) override {
        return child(specular_, out, ChildRule::refuse("Specular Colour Not Initialised."));
    }
    HRESULT get_Handle(LONG* out) override { return get(handle_, out); }
    HRESULT get_Power(FLOAT* out) override { return get(power_, out); }
    HRESULT put_Power(FLOAT v) override { return set(power_, v); }
    HRESULT put_Direct3D(LONG v) override { return set(direct3d_, v); }

    // Binding a device makes this material current on it at once; a failed Update has reported
    // its own failure, which is the put's result. Unbinding (a handle that resolves to no
    // device) only forgets the device.
    HRESULT put_Device(LONG v) override {
        device_.put(v);
        return device_.get() ? Update() : S_OK;
    }

    HRESULT Apply() override {
        return guard([&] {
            device_.require();
            return Update();
        });
    }

    HRESULT Update() override {
        return guard([&] {
            IDirect3DDevice7* d = device_.require();
            D3DMATERIAL7 m{};
            if (ambient_) m.ambient = read_colour(ambient_.get());
            if (diffuse_) m.diffuse = read_colour(diffuse_.get());
            if (specular_) m.specular = read_colour(specular_.get());
            if (emissive_) m.emissive = read_colour(emissive_.get());
            m.power = power_;
            const HRESULT hr = d->SetMaterial(&m);
            if (hr == E_INVALIDARG) throw failure(hr, kStringInvalidParameter);
            if (FAILED(hr)) throw failure(hr, kStringUnknownError);
            return S_OK;
        });
    }

    // The record: a comment line, then the five colours (ambient, colour, diffuse, emissive,
    // specular). The power is not part of it.
    HRESULT Save(LONG f) override {
        return guard([&] {
            trace("Saving Material.\n");
            RecordWriter out(f);
            out.line("// Material\n");
            for (IColour* c : children()) {
                HRESULT hr = need(c)->Save(f);
                if (FAILED(hr)) return hr;
            }
            return S_OK;
        });
    }

    // Reads the record into the colours; nothing is sent to the device.
    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Material.\n");
            RecordReader in(f);
            in.skip();
            for (IColour* c : children()) {
                HRESULT hr = need(c)->Load(f);
                if (FAILED(hr)) return hr;
            }
            return S_OK;
        });
    }

private:
    std::array<IColour*, 5> children() const {
        return {ambient_.get(), colour_.get(), diffuse_.get(), emissive_.get(), specular_.get()};
    }

    DeviceLink device_;
    LONG direct3d_ = 0;
    LONG handle_ = 0;
    FLOAT power_ = 0.0f;
    ComPtr<IColour> ambient_, colour_, diffuse_, emissive_, specular_;
};

template <>
HRESULT create_class<IMaterial>(IUnknown* o, REFIID r, void** p) {
    return CMaterial::create(o, r, p);
}

}  // namespace vantor
