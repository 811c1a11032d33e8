// Camera and Cameras: an eye point, a target and accumulated rotation angles, turned into the
// world, view and projection transforms when the script asks (Update, Rotate).
#include "collections/collection.h"
#include "module/classes.h"
#include "module/trace.h"
#include <vantor/backend/matrix.h>
#include "world/record.h"

#include <vantor/backend/backend.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <bit>
#include <cmath>

namespace vantor {

namespace {

IDirect3DDevice7* device_of(LONG handle) { return backend::from_handle<IDirect3DDevice7>(static_cast<uint32_t>(handle)); }

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
            position_ = adopt(CreateRegisteredObject<IPosition>(CLSID_Position));
            if (!position_) throw failure(E_FAIL, "Position Not Registered.");
            position_->put_X(0.0f);
            position_->put_Y(0.0f);
            position_->put_Z(10.0f);
            look_at_ = adopt(CreateRegisteredObject<IPosition>(CLSID_Position));
            if (!look_at_) throw failure(E_FAIL, "Position Not Registered.");
            look_at_->put_X(0.0f);
            look_at_->put_Y(0.0f);
            look_at_->put_Z(0.0f);
            view_ = identity();
            rotation_ = identity();
            projection_matrix(kFieldOfView, 1.0f, 1.0f, 1000.0f, &projection_);
            return S_OK;
        });
        return S_OK;  // the camera exists even without its children
    }

    HRESULT get_LookAt(IDispatch** out) override { return child(look_at_, out, "LookAt Not Initialised."); }
    HRESULT get_Position(IDispatch** out) override { return child(position_, out, "Position Not Initialised."); }

    HRESULT put_Device(LONG device) override {
        device_ = device;
        return S_OK;
    }

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
            HRESULT hr = d->SetTransform(D3DTRANSFORMSTATE_WORLD, &rotation_);
            if (FAILED(hr)) {
                trace("SetTransform (World) Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                throw failure(hr, "SetTransform Function Failed.");
            }
            return S_OK;
        });
    }

    HRESULT Update() override {
        return guard([&] {
            IDirect3DDevice7* d = require_device();
            D3DVECTOR eye{}, target{};
            need(position_.get())->get_X(&eye.x);
            position_->get_Y(&eye.y);
            position_->get_Z(&eye.z);
            trace("Position %d %d %d\n", whole(eye.x), whole(eye.y), whole(eye.z));
            need(look_at_.get())->get_X(&target.x);
            look_at_->get_Y(&target.y);
            look_at_->get_Z(&target.z);
            trace("LookAt %d %d %d\n", whole(target.x), whole(target.y), whole(target.z));
            HRESULT hr = d->SetTransform(D3DTRANSFORMSTATE_WORLD, &rotation_);
            if (FAILED(hr)) {
                trace("SetTransform (World) Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                throw failure(hr, "World Transformation Failed.");
            }
            // When the builder rejects its input the previous view matrix stays.
            view_matrix(eye, target, D3DVECTOR{0.0f, 1.0f, 0.0f}, &view_);
            hr = d->SetTransform(D3DTRANSFORMSTATE_VIEW, &view_);
            if (FAILED(hr)) {
                trace("SetTransform (View) Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                throw failure(hr, "View Transformation Failed.");
            }
            hr = d->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection_);
            if (FAILED(hr)) {
                trace("SetTransform (Projection) Failed. (Error Code=%x).\n", static_cast<unsigned>(hr));
                throw failure(hr, "Projection Transformation Failed.");
            }
            return S_OK;
        });
    }

    HRESULT get_X(FLOAT* v) override { return get(rx_, v); }
    HRESULT get_Y(FLOAT* v) override { return get(ry_, v); }
    HRESULT get_Z(FLOAT* v) override { return get(rz_, v); }

    HRESULT get_Name(BSTR* out) override {
        if (!out) return E_POINTER;
        *out = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT put_Name(BSTR name) override {
        name_set_ = name != nullptr;
        name_.assign(name ? name : u"", SysStringLen(name));
        return S_OK;
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
            std::u16string name = text::utf16(in.line());
            name_.assign(name);
            name_set_ = true;
            // The angles are stored as read; the rotation matrix is rebuilt only by Rotate.
            rx_ = in.real();
            ry_ = in.real();
            rz_ = in.real();
            for (IPosition* p : {need(position_.get()), need(look_at_.get())}) {
                p->put_X(in.real());
                p->put_Y(in.real());
                p->put_Z(in.real());
            }
            Update();
            return S_OK;
        });
    }

    HRESULT Reset() override { return S_OK; }

private:
    IDirect3DDevice7* require_device() {
        IDirect3DDevice7* d = device_of(device_);
        if (!d) {
            trace("Update Failed. Device Not Set.\n");
            throw failure(E_POINTER, "Device Not Initialised.");
        }
        return d;
    }

    // A null out-pointer is reported with the child's text; a missing child is the general
    // exception path.
    HRESULT child(const ComPtr<IPosition>& c, IDispatch** out, const char* null_text) {
        return guard([&] {
            if (!out) throw failure(E_POINTER, null_text);
            *out = nullptr;
            return need(c.get())->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
        });
    }

    std::u16string name_;
    bool name_set_ = false;
    ComPtr<IPosition> position_;
    ComPtr<IPosition> look_at_;
    D3DMATRIX projection_{};
    D3DMATRIX view_ = identity();
    D3DMATRIX rotation_ = identity();
    float rx_ = 0.0f, ry_ = 0.0f, rz_ = 0.0f;
    LONG device_ = 0;
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
                if (!device_of(device_)) throw failure(E_POINTER, "Device Not Initialised.");
                trace("Creating Camera.\n");
            },
            [&](ICamera* camera) {
                trace("Setting Camera Attributes.\n");
                camera->put_Device(device_);
            },
            [&](ICamera* camera) {
                trace("Camera Name --> '%s'\n", text::utf8(Name).c_str());
                camera->put_Name(Name);
            });
    }

    HRESULT Save(LONG f) override {
        return guard([&] {
            trace("Saving Cameras.\n");
            RecordWriter out(f);
            out.number(static_cast<DWORD>(store_.count()));
            for (auto& [key, camera] : store_) camera->Save(f);
            return S_OK;
        });
    }

    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Cameras.\n");
            RecordReader in(f);
            store_.clear();
            std::string line = in.line();
            trace("Number of Cameras to Load: %s.\n", line.c_str());
            const LONG count = classic_atoi(line);
            BSTR temp = SysAllocString(u"Temp");
            for (LONG i = 0; i < count && !in.at_end(); ++i) {
                IDispatch* added = nullptr;
                if (FAILED(get_Add(temp, &added)) || !added) break;  // no camera to read the record into
                ComPtr<ICamera> camera;
                added->QueryInterface(IID_ICamera, reinterpret_cast<void**>(camera.put()));
                added->Release();
                camera->Load(f);
                // A loaded camera is kept under its own name, not the "Temp" it was added under.
                VARIANT key;
                VariantInit(&key);
                key.vt = VT_BSTR;
                key.bstrVal = temp;
                store_.remove(key);
                BSTR name = nullptr;
                camera->get_Name(&name);
                store_.put(name, camera);
                SysFreeString(name);
            }
            SysFreeString(temp);
            return S_OK;
        });
    }
};

HRESULT create_camera(IUnknown* outer, REFIID riid, void** ppv) { return CCamera::create(outer, riid, ppv); }
HRESULT create_cameras(IUnknown* outer, REFIID riid, void** ppv) { return CCameras::create(outer, riid, ppv); }

}  // namespace vantor
