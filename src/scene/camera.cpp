// Camera and Cameras: an eye point, a target and accumulated rotation angles, turned into the
// world, view and projection transforms when the script asks (Update, Rotate).
#include "collections/collection.h"
#include "module/trace.h"
#include <vantor/backend/matrix.h>
#include "world/record.h"
#include "world/world_file.h"

#include <vantor/backend/backend.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <bit>
#include <cmath>

namespace vantor {

namespace {

// A coordinate as a whole number for the traces; values beyond an int (and NaN) saturate
// rather than convert undefinedly.
int whole(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<int>(v);
}

// The field of view: the single-precision value with bits 0x3FC90FD0, just under pi/2.
const float kFieldOfView = std::bit_cast<float>(0x3FC90FD0u);

}  // namespace

class CCamera final : public CoClass<CCamera, ICamera> {
public:
    static constexpr const CLSID& kClsid = CLSID_Camera;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        guard([&] {
            position_ = create_child<IPosition>(CLSID_Position, "Position Not Registered.");
            set_position(position_.get(), 0.0f, 0.0f, 10.0f);
            look_at_ = create_child<IPosition>(CLSID_Position, "Position Not Registered.");
            set_position(look_at_.get(), 0.0f, 0.0f, 0.0f);
            view_ = identity();
            rotation_ = identity();
            projection_matrix(kFieldOfView, 1.0f, 1.0f, 1000.0f, &projection_);
            return S_OK;
        });
        return S_OK;  // the camera exists even without its children
    }

    // A null out-pointer is reported with the child's text; a missing child is the general
    // exception path.
    HRESULT get_LookAt(IDispatch** out) override { return child(look_at_, out, ChildRule::raise("LookAt Not Initialised.")); }
    HRESULT get_Position(IDispatch** out) override {
        return child(position_, out, ChildRule::raise("Position Not Initialised."));
    }

    HRESULT put_Device(LONG device) override { return device_.put(device); }

    HRESULT Rotate(FLOAT X, FLOAT Y, FLOAT Z) override {
        return guard([&] {
            IDirect3DDevice7* d = require_device();
            if (X == 0.0f && Y == 0.0f && Z == 0.0f) return S_OK;
            trace("Rotation Req: X=%f Y=%f Z=%f\n", X, Y, Z);
            // The angles accumulate and the matrix is rebuilt from the totals: always
            // RotX(total x) x RotY(total y) x RotZ(total z).
            rx_ += X;
            rotation_ = rotation_x(rx_);
            ry_ += Y;
            rotation_ = multiply(rotation_, rotation_y(ry_));
            rz_ += Z;
            rotation_ = multiply(rotation_, rotation_z(rz_));
            trace("New Rotation: X=%f Y=%f Z=%f\n", rx_, ry_, rz_);
            check(d->SetTransform(D3DTRANSFORMSTATE_WORLD, &rotation_), "SetTransform (World) Failed. (Error Code=%x).\n",
                  "SetTransform Function Failed.");
            return S_OK;
        });
    }

    HRESULT Update() override {
        return guard([&] {
            IDirect3DDevice7* d = require_device();
            const D3DVECTOR eye = read_position(need(position_.get()));
            trace("Position %d %d %d\n", whole(eye.x), whole(eye.y), whole(eye.z));
            const D3DVECTOR target = read_position(need(look_at_.get()));
            trace("LookAt %d %d %d\n", whole(target.x), whole(target.y), whole(target.z));
            check(d->SetTransform(D3DTRANSFORMSTATE_WORLD, &rotation_), "SetTransform (World) Failed. (Error Code=%x).\n",
                  "World Transformation Failed.");
            // When the builder rejects its input the previous view matrix stays.
            view_matrix(eye, target, D3DVECTOR{0.0f, 1.0f, 0.0f}, &view_);
            check(d->SetTransform(D3DTRANSFORMSTATE_VIEW, &view_), "SetTransform (View) Failed. (Error Code=%x).\n",
                  "View Transformation Failed.");
            check(d->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection_),
                  "SetTransform (Projection) Failed. (Error Code=%x).\n", "Projection Transformation Failed.");
            return S_OK;
        });
    }

    HRESULT get_X(FLOAT* v) override { return get(rx_, v); }
    HRESULT get_Y(FLOAT* v) override { return get(ry_, v); }
    HRESULT get_Z(FLOAT* v) override { return get(rz_, v); }

    HRESULT get_Name(BSTR* out) override { return get_text(name_, out); }
    HRESULT put_Name(BSTR name) override {
        name_set_ = name != nullptr;
        return put_text(name_, name);
    }

    HRESULT Save(LONG f) override {
        return guard([&] {
            trace("Saving Camera.\n");
            RecordWriter out(f);
            out.line("// Camera\n");
            out.name(name_, name_set_);
            out.real(rx_);
            out.real(ry_);
            out.real(rz_);
            for (IPosition* p : {need(position_.get()), need(look_at_.get())}) {
                float x, y, z;
                p->get_X(&x);
                p->get_Y(&y);
                p->get_Z(&z);
                out.real(x);
                out.real(y);
                out.real(z);
            }
            return S_OK;
        });
    }

    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Camera.\n");
            RecordReader in(f);
            in.skip();
            const std::u16string name = text::utf16(in.name());
            float values[9];
            for (float& v : values) v = in.real();
            // The whole record was read: only now does the camera change.
            name_.assign(name);
            name_set_ = true;
            rx_ = values[0];
            ry_ = values[1];
            rz_ = values[2];
            // The rotation is rebuilt from the loaded angles as Rotate builds it.
            rotation_ = multiply(multiply(rotation_x(rx_), rotation_y(ry_)), rotation_z(rz_));
            const float* at = values + 3;
            for (IPosition* p : {need(position_.get()), need(look_at_.get())}) {
                p->put_X(at[0]);
                p->put_Y(at[1]);
                p->put_Z(at[2]);
                at += 3;
            }
            Update();
            return S_OK;
        });
    }

    HRESULT Reset() override { return S_OK; }

private:
    IDirect3DDevice7* require_device() {
        if (!device_.get()) trace("Update Failed. Device Not Set.\n");
        return device_.require();
    }

    std::u16string name_;
    bool name_set_ = false;
    ComPtr<IPosition> position_;
    ComPtr<IPosition> look_at_;
    D3DMATRIX projection_{};
    D3DMATRIX view_ = identity();
    D3DMATRIX rotation_ = identity();
    float rx_ = 0.0f, ry_ = 0.0f, rz_ = 0.0f;
    DeviceLink device_;
};

class CCameras final : public Collection<CCameras, ICameras, ICamera> {
public:
    static constexpr const CLSID& kClsid = CLSID_Cameras;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        return S_OK;
    }

    HRESULT get_Add(BSTR Name, IDispatch** out) override {
        return add(
            out, CLSID_Camera, "Camera Not Registered.", key_of(Name),
            [&] {
                device_.require();
                trace("Creating Camera.\n");
            },
            [&](ICamera* camera) {
                trace("Setting Camera Attributes.\n");
                camera->put_Device(device_.handle());
            },
            [&](ICamera* camera) {
                trace("Camera Name --> '%s'\n", text::utf8(Name).c_str());
                camera->put_Name(Name);
            });
    }

    HRESULT Save(LONG f) override { return save_all(f, "Cameras"); }

    // Each camera is added as "Temp", then kept under the name its record gives it; cameras that
    // share a name (one renamed after it was added) all stay.
    HRESULT Load(LONG f) override {
        BSTR temp = SysAllocString(u"Temp");
        HRESULT hr = load_each(
            f, "Cameras", world::record_lines(world::Section::Cameras),
            [&] {
                IDispatch* added = nullptr;
                const HRESULT hr = get_Add(temp, &added);
                return element_of(hr, added);
            },
            [](ICamera* camera) {
                BSTR name = nullptr;
                camera->get_Name(&name);
                std::u16string key = key_of(name);
                SysFreeString(name);
                return key;
            },
            true);
        SysFreeString(temp);
        return hr;
    }
};

template <> HRESULT create_class<ICamera>(IUnknown* o, REFIID r, void** p) { return CCamera::create(o, r, p); }
template <> HRESULT create_class<ICameras>(IUnknown* o, REFIID r, void** p) { return CCameras::create(o, r, p); }

}  // namespace vantor
