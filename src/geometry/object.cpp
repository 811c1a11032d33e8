// Object and Objects: mesh objects of the world, each drawing the `.x` file its Parts loaded.
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <set>
#include <string>

#include "collections/collection.h"
#include "module/strings.h"
#include "world/world_file.h"

namespace vantor {

class CObject final : public CoClass<CObject, IObject> {
public:
    static constexpr const CLSID& kClsid = CLSID_Object;

    HRESULT FinalConstruct() {
        trace("Initialising Child Objects.\n");
        guard([&] {
            material_ = create_child<IMaterial>(CLSID_Material, "Material Not Registered.");
            material_->Update();
            position_ = create_child<IPosition>(CLSID_Position, "Position Not Registered.");
            colour_ = create_child<IColour>(CLSID_Colour, "Colour Not Registered.");
            points_ = create_child<IPoints>(CLSID_Points, "Points Not Registered.");
            parts_ = create_child<IParts>(CLSID_Parts, "Parts Not Registered.");
            return S_OK;
        });
        return S_OK;  // the object exists even without its children
    }

    HRESULT get_Colour(IDispatch** out) override { return child(colour_, out); }
    HRESULT get_Material(IDispatch** out) override { return child(material_, out); }
    HRESULT get_Position(IDispatch** out) override { return child(position_, out); }
    HRESULT get_Points(IDispatch** out) override { return child(points_, out); }
    HRESULT get_Parts(IDispatch** out) override { return child(parts_, out); }
    HRESULT get_Texture(IDispatch** out) override {
        return child(texture_, out, ChildRule::refuse("Texture Not Initialised."));
    }

    // Only a Texture is taken; anything else is refused and the previous texture stays.
    HRESULT put_Texture(IDispatch* value) override {
        return guard([&] {
            trace("Configuring Objects' Texture --> '");
            trace("<TBC>");
            trace("'\n");
            ComPtr<ITexture> texture;
            if (value && (FAILED(value->QueryInterface(IID_ITexture, reinterpret_cast<void**>(texture.put()))) || !texture))
                throw failure(E_INVALIDARG, "Invalid Parameter.");
            texture_ = std::move(texture);
            return S_OK;
        });
    }

    HRESULT put_Device(LONG v) override {
        device_.put(v);
        if (material_) material_->put_Device(v);
        if (points_) points_->put_Device(v);
        if (parts_) parts_->put_Device(v);
        return S_OK;
    }
    HRESULT put_Direct3D(LONG v) override {
        direct3d_ = v;
        if (material_) material_->put_Direct3D(v);
        if (parts_) parts_->put_Direct3D(v);
        return S_OK;
    }

    HRESULT Render() override {
        return guard([&] {
            device_.require();
            if (!visible_) return S_OK;
            if (texture_) {
                trace("Applying Texture.\n");
                check(texture_->Apply(), nullptr, "Failed to Apply Texture.");
            }
            return parts_ ? parts_->Render() : S_OK;
        });
    }

    HRESULT get_Name(BSTR* out) override { return get_text(name_, out); }
    HRESULT put_Name(BSTR v) override {
        trace("Configuring Object Name --> '%s'", text::utf8(v).c_str());
        name_set_ = v != nullptr;
        return put_text(name_, v);
    }

    HRESULT Free() override {
        device_.put(0);
        direct3d_ = 0;
        texture_.reset();
        trace("Releasing Object and associated memory.");
        material_.reset();
        parts_.reset();
        position_.reset();
        colour_.reset();
        points_.reset();
        return S_OK;
    }

    HRESULT Scale(FLOAT, FLOAT, FLOAT) override {
        trace("Scaling.\n");
        return S_OK;
    }
    HRESULT Move(FLOAT X, FLOAT Y, FLOAT Z) override {
        trace("Moving %g %g %g.\n", X, Y, Z);
        x_ += X;
        y_ += Y;
        z_ += Z;
        return S_OK;
    }
    HRESULT Rotate(FLOAT X, FLOAT Y, FLOAT Z) override {
        trace("Rotating %g %g %g\n", X, Y, Z);
        return S_OK;
    }

    HRESULT get_Visible(VARIANT_BOOL* out) override { return get(visible_ ? VARIANT_TRUE : VARIANT_FALSE, out); }
    HRESULT put_Visible(VARIANT_BOOL v) override {
        trace("Light Visibility --> ");
        trace(v ? "ON\n" : "OFF\n");
        visible_ = v != 0;
        return S_OK;
    }
    HRESULT get_FillMode(FillModes* out) override { return get(fill_mode_, out); }
    HRESULT put_FillMode(FillModes v) override {
        trace("Fill Mode --> ");
        if (v == fm_Wireframe) trace("Wireframe.\n");
        if (v == fm_Solid) trace("Solid.\n");
        fill_mode_ = v;
        return S_OK;
    }

    HRESULT LoadFile(BSTR Filename) override {
        return guard([&] {
            device_.require();
            require(parts_.get(), "Parts Not Initialised.");
            filename_ = u16(Filename);
            filename_set_ = true;
            HRESULT hr = parts_->Load(Filename);
            if (hr == E_OUTOFMEMORY) throw failure(hr, kStringOutOfMemory);
            if (FAILED(hr)) throw failure(hr, "Failed to Load the requested X File.");
            return S_OK;
        });
    }

    HRESULT get_ScaleFactor(FLOAT* out) override { return get(scale_factor_, out); }
    HRESULT get_X(FLOAT* out) override { return get(x_, out); }
    HRESULT get_Y(FLOAT* out) override { return get(y_, out); }
    HRESULT get_Z(FLOAT* out) override { return get(z_, out); }
    // The name last given to LoadFile; null before any.
    HRESULT get_Filename(BSTR* out) override {
        if (!out) return E_POINTER;
        if (!filename_set_) {
            *out = nullptr;
            return S_OK;
        }
        return get_text(filename_, out);
    }

    // The record: "// " and the name, the name, X, Y, Z, then the material's record. An object
    // without a material (after Free) writes a blank material, so every record has one length.
    HRESULT Save(LONG f) override {
        return guard([&] {
            trace("Saving Object.\n");
            RecordWriter out(f);
            const std::string name = name_set_ ? text::utf8(name_.data(), name_.size()) : "(null)";
            std::string comment = "// " + name;
            for (char& c : comment)
                if (c == '\n' || c == '\r') c = ' ';
            out.line(comment + "\n");
            out.name(name_, name_set_);
            out.real(x_);
            out.real(y_);
            out.real(z_);
            ComPtr<IMaterial> material = material_;
            if (!material) material = create_child<IMaterial>(CLSID_Material, "Material Not Registered.");
            HRESULT hr = material->Save(f);
            if (FAILED(hr)) return hr;
            if (texture_) texture_->Save(f);
            if (points_) points_->Save(f);
            return S_OK;
        });
    }

    // Reads the record as Save writes it; the material's colours are read into it.
    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Object.\n");
            RecordReader in(f);
            in.skip();
            const std::u16string name = text::utf16(in.name());
            const float x = in.real(), y = in.real(), z = in.real();
            ComPtr<IMaterial> material = material_;
            if (!material) material = create_child<IMaterial>(CLSID_Material, "Material Not Registered.");
            HRESULT hr = material->Load(f);
            if (FAILED(hr)) return hr;
            name_ = name;
            name_set_ = true;
            x_ = x, y_ = y, z_ = z;
            if (points_) points_->Load(f);
            return S_OK;
        });
    }

private:
    std::u16string name_;
    bool name_set_ = false;
    std::u16string filename_;
    bool filename_set_ = false;
    FLOAT scale_factor_ = 1.0f;
    ComPtr<IColour> colour_;
    ComPtr<IPoints> points_;
    ComPtr<ITexture> texture_;
    ComPtr<IMaterial> material_;
    ComPtr<IParts> parts_;
    ComPtr<IPosition> position_;
    DeviceLink device_;
    LONG direct3d_ = 0;
    bool visible_ = true;
    FillModes fill_mode_ = fm_Solid;
    FLOAT x_ = 0, y_ = 0, z_ = 0;
};

class CObjects final : public Collection<CObjects, IObjects, IObject> {
public:
    static constexpr const CLSID& kClsid = CLSID_Objects;

    HRESULT get__NewEnum(IUnknown** out) override { return Collection::get__NewEnum(out); }
    HRESULT Item(VARIANT index, VARIANT* item) override { return Collection::Item(index, item); }
    HRESULT get_Count(LONG* count) override { return Collection::get_Count(count); }
    HRESULT Remove(VARIANT index) override { return Collection::Remove(index); }
    HRESULT Clear() override { return Collection::Clear(); }
    HRESULT put_Device(LONG v) override { return Collection::put_Device(v); }
    HRESULT put_Direct3D(LONG v) override { return Collection::put_Direct3D(v); }

    HRESULT get_Add(BSTR Name, VARIANT_BOOL Visible, IDispatch** out) override {
        return add(out, CLSID_Object, "Object Not Registered.", key_of(Name), [] {},
                   [&](IObject* o) { configure(o, Visible); });
    }

    // The object stays in the collection when its file does not load; its own error
    // information says why.
    HRESULT get_LoadFile(BSTR Filename, BSTR Name, VARIANT_BOOL Visible, IDispatch** out) override {
        trace("Loading Object.\n");
        return add(out, CLSID_Object, "Object Not Registered.", key_of(Name), [] {},
                   [&](IObject* o) {
                       o->put_Name(Name);
                       trace("Name --> '%s'\n", text::utf8(Name).c_str());
                       trace("Filename --> '%s'\n", text::utf8(Filename).c_str());
                       trace("Size of Collection (After Load) = %d\n", static_cast<int>(store_.count()));
                       configure(o, Visible);
                       o->LoadFile(Filename);
                       trace("Returning Interface.\n");
                   });
    }

    HRESULT Render() override {
        return guard([&] {
            device_.require();
            unsigned n = 0;
            for (auto& [key, object] : store_) {
                trace("Rending Object %u.\n", n++);
                object->Render();
            }
            return S_OK;
        });
    }

    HRESULT Save(LONG f) override { return save_all(f, "Objects"); }
    // Each object is added under "Temp", then kept under the name its record gives; objects that
    // share a name all stay (objects added without a name are all saved as "(null)").
    HRESULT Load(LONG f) override {
        return load_each(
            f, "Objects", world::record_lines(world::Section::Objects),
            [&] {
                IDispatch* added = nullptr;
                BSTR temp = SysAllocString(u"Temp");
                const HRESULT hr = get_Add(temp, VARIANT_TRUE, &added);
                SysFreeString(temp);
                return element_of(hr, added);
            },
            [&](IObject* o) {
                BSTR name = nullptr;
                o->get_Name(&name);
                std::u16string key = u16(name);
                SysFreeString(name);
                return key;
            },
            true);
    }

private:
    void configure(IObject* o, VARIANT_BOOL visible) {
        o->put_Device(device_.handle());
        o->put_Direct3D(direct3d_);
        o->put_Visible(visible);
    }
};

template <> HRESULT create_class<IObject>(IUnknown* o, REFIID r, void** p) { return CObject::create(o, r, p); }
template <> HRESULT create_class<IObjects>(IUnknown* o, REFIID r, void** p) { return CObjects::create(o, r, p); }

}  // namespace vantor
