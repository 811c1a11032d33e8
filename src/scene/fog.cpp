// Fog: a view of the device's fog render states, with a colour child and the mode last set.
#include "module/object.h"
#include "module/strings.h"
#include "module/trace.h"
#include "world/record.h"

#include <vantor/vantor.h>

#include <bit>

namespace vantor {

class CFog final : public CoClass<CFog, IFog> {
public:
    static constexpr const CLSID& kClsid = CLSID_Fog;

    HRESULT FinalConstruct() {
        CoInitialize(nullptr);
        guard([&] {
            colour_ = create_child<IColour>(CLSID_Colour, "Colour Not Registered.");
            set_colour(colour_.get(), 0.0f, 0.0f, 0.0f, 0.0f);
            return S_OK;
        });
        return S_OK;
    }

    HRESULT get_Colour(IDispatch** out) override { return child(colour_, out); }

    HRESULT put_Device(LONG device) override { return device_.put(device); }

    HRESULT put_Density(FLOAT d) override {
        return guard([&] {
            IDirect3DDevice7* dev = checked_device();
            if (mode_ == fm_Linear) {
                trace("Linear Fog Does Not Support Density.\n");
                throw failure(E_FAIL, "Linear Fog does not support Density.");
            }
            // Written so that NaN, which lies in no range, is refused with the values outside it.
            if (!(d >= 0.0f && d <= 1.0f)) throw failure(E_FAIL, "Density must be between 0.0 and 1.0 inclusive.");
            trace("Fog Density --> ");
            trace("<TBC>");
            trace("\n");
            set(dev, D3DRENDERSTATE_FOGDENSITY, std::bit_cast<DWORD>(d), "Failed to Set Fog Density.");
            return S_OK;
        });
    }

    HRESULT get_Density(FLOAT* out) override {
        return guard([&] {
            IDirect3DDevice7* dev = checked_device();
            if (mode_ == fm_Linear) throw failure(E_FAIL, "Linear Fog does not support Density.");
            DWORD bits = get(dev, D3DRENDERSTATE_FOGDENSITY, "Failed to Get Fog Density.");
            if (out) *out = std::bit_cast<float>(bits);
            return S_OK;
        });
    }

    HRESULT get_StartingPos(FLOAT* out) override {
        return linear_get(D3DRENDERSTATE_FOGSTART, "Linear Fog Only Supports Starting Position.",
                          "Failed to Get Fog Starting Position.", out);
    }
    HRESULT put_StartingPos(FLOAT v) override {
        return linear_put(D3DRENDERSTATE_FOGSTART, "Linear Fog Only Supports Starting Position.",
                          "Failed to Set Fog Starting Position.", v);
    }
    HRESULT get_EndPosition(FLOAT* out) override {
        return linear_get(D3DRENDERSTATE_FOGEND, "Linear Fog Only Supports End Position.", "Failed to Get Fog End Position.", out);
    }
    HRESULT put_EndPosition(FLOAT v) override {
        return linear_put(D3DRENDERSTATE_FOGEND, "Linear Fog Only Supports End Position.", "Failed to Set Fog End Position.", v);
    }

    HRESULT put_Mode(FogModes m) override {
        return guard([&] {
            IDirect3DDevice7* dev = checked_device();
            static const char* const kWords[] = {"None.\n", "Exp.\n", "Exp2.\n", "Linear.\n"};
            trace("Fog Type --> ");
            trace("%s", (m >= 0 && m <= 3) ? kWords[m] : "Unknown.\n");
            set(dev, D3DRENDERSTATE_FOGTABLEMODE, static_cast<DWORD>(m), "Failed to Set Fog Mode.");
            set(dev, D3DRENDERSTATE_FOGVERTEXMODE, static_cast<DWORD>(m), "Failed to Set Fog Mode.");
            mode_ = m;  // remembered only when both states were set
            return S_OK;
        });
    }

    HRESULT get_Mode(FogModes* out) override {
        return guard([&] {
            IDirect3DDevice7* dev = checked_device();
            DWORD v = get(dev, D3DRENDERSTATE_FOGTABLEMODE, "Failed to Get Fog Mode.");
            if (out) *out = static_cast<FogModes>(v);
            return S_OK;
        });
    }

    HRESULT put_Enabled(VARIANT_BOOL v) override {
        return guard([&] {
            IDirect3DDevice7* dev = checked_device();
            trace("Fog Status --> ");
            trace("%s", v ? "Enabled.\n" : "Disabled.\n");
            set(dev, D3DRENDERSTATE_FOGENABLE, v ? 1 : 0, "Failed to Set Fog Enabled Status.");
            return S_OK;
        });
    }

    HRESULT get_Enabled(VARIANT_BOOL* out) override {
        return guard([&] {
            IDirect3DDevice7* dev = checked_device();
            DWORD v = get(dev, D3DRENDERSTATE_FOGENABLE, "Failed to Get Fog Enabled Status.");
            trace("Fog Enabled --> ");
            trace("%s", v ? "YES\n" : "NO\n");
            if (out) *out = v ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }

    // RangeBased answers the device's result without a report of its own, and without a device
    // leaves "Device Not Initialised." as the description.
    HRESULT put_RangeBased(VARIANT_BOOL v) override {
        IDirect3DDevice7* dev = device_or_report();
        if (!dev) return E_POINTER;
        trace("Fog Range Based --> ");
        trace("%s", v ? "Enabled.\n" : "Disabled.\n");
        HRESULT hr = dev->SetRenderState(D3DRENDERSTATE_RANGEFOGENABLE, static_cast<DWORD>(static_cast<int32_t>(v)));
        return FAILED(hr) ? hr : S_OK;
    }

    HRESULT get_RangeBased(VARIANT_BOOL* out) override {
        IDirect3DDevice7* dev = device_or_report();
        if (!dev) return E_POINTER;
        DWORD v = 0;
        HRESULT hr = dev->GetRenderState(D3DRENDERSTATE_RANGEFOGENABLE, &v);
        if (FAILED(hr)) return hr;
        if (out) *out = v ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    HRESULT Update() override {
        return guard([&] {
            if (!colour_) throw failure(E_POINTER, "Colour Not Initialised.");
            // No clamping or masking: components outside 0 to 1 spill into the neighbouring bytes.
            const D3DCOLOR value = pack_colour(read_colour(colour_.get()));
            IDirect3DDevice7* dev = need(device_.get());  // no check of its own: Exception Raised
            return dev->SetRenderState(D3DRENDERSTATE_FOGCOLOR, value);
        });
    }

    HRESULT Save(LONG f) override {
        return guard([&] {
            trace("Saving Fog.\n");
            RecordWriter out(f);
            // The values are what the fog reports now; a getter that fails gives 0.
            float density = 0, start = 0, end = 0;
            FogModes mode = fm_None;
            VARIANT_BOOL enabled = VARIANT_FALSE, range = VARIANT_FALSE;
            get_Density(&density);
            get_StartingPos(&start);
            get_EndPosition(&end);
            get_Mode(&mode);
            get_Enabled(&enabled);
            get_RangeBased(&range);
            out.line("// Fog\n");
            out.real(density);
            out.real(start);
            out.real(end);
            out.number(static_cast<DWORD>(mode));
            out.number(static_cast<DWORD>(static_cast<int32_t>(enabled)));  // true is written 4294967295
            out.number(static_cast<DWORD>(static_cast<int32_t>(range)));
            need(colour_.get())->Save(f);
            return S_OK;
        });
    }

    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Fog.\n");
            RecordReader in(f);
            in.skip();
            const float density = in.real(), start = in.real(), end = in.real();
            const LONG mode = in.integer(), enabled = in.integer(), range = in.integer();
            // The mode first, then the values that mode takes: linear fog its start and end, the
            // others their density. Each put keeps its own checks and effects.
            put_Mode(static_cast<FogModes>(mode));
            if (mode == fm_Linear) {
                put_StartingPos(start);
                put_EndPosition(end);
            } else {
                put_Density(density);
            }
            // Any non-zero line is true: a 32-bit value cut to 16 bits would turn 65536 into false.
            put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
            put_RangeBased(range ? VARIANT_TRUE : VARIANT_FALSE);
            need(colour_.get())->Load(f);
            Update();
            return S_OK;
        });
    }

private:
    // Reports "Device Not Initialised." when the fog has no device and answers null.
    IDirect3DDevice7* device_or_report() {
        IDirect3DDevice7* d = device_.get();
        if (!d) report(failure(E_POINTER, "Device Not Initialised."));
        return d;
    }
    // The device check of every member but RangeBased: "Fog unavailable." replaces the first report.
    IDirect3DDevice7* checked_device() {
        IDirect3DDevice7* d = device_or_report();
        if (!d) throw failure(E_POINTER, kStringFogUnavailable);
        return d;
    }
    static void set(IDirect3DDevice7* d, D3DRENDERSTATETYPE state, DWORD value, const char* text) {
        set_state(d, state, value, {nullptr, text});
    }
    static DWORD get(IDirect3DDevice7* d, D3DRENDERSTATETYPE state, const char* text) {
        DWORD v = 0;
        get_state(d, state, &v, {nullptr, text});
        return v;
    }
    HRESULT linear_get(D3DRENDERSTATETYPE state, const char* only_linear, const char* failed, FLOAT* out) {
        return guard([&] {
            IDirect3DDevice7* dev = checked_device();
            if (mode_ != fm_Linear) throw failure(E_FAIL, only_linear);
            DWORD bits = get(dev, state, failed);
            if (out) *out = std::bit_cast<float>(bits);
            return S_OK;
        });
    }
    HRESULT linear_put(D3DRENDERSTATETYPE state, const char* only_linear, const char* failed, FLOAT v) {
        return guard([&] {
            IDirect3DDevice7* dev = checked_device();
            if (mode_ != fm_Linear) throw failure(E_FAIL, only_linear);
            set(dev, state, std::bit_cast<DWORD>(v), failed);
            return S_OK;
        });
    }

    FogModes mode_ = fm_None;
    DeviceLink device_;
    ComPtr<IColour> colour_;
};

template <> HRESULT create_class<IFog>(IUnknown* o, REFIID r, void** p) { return CFog::create(o, r, p); }

}  // namespace vantor
