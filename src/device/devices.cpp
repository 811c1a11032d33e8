// Devices (the machine's rendering devices, each offered as an uninitialised Device3D) and
// DeviceCaps (the render and depth-buffer bit depths of the bound device).
#include "collections/collection.h"
#include "device/device3d.h"
#include "module/strings.h"
#include "module/trace.h"

#include <vantor/backend/backend.h>
#include <vantor/system.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <memory>

namespace vantor {

namespace {

backend::Backend& back_end() { return backend::backend(); }

using DirectDrawCreateExFn = HRESULT (*)(GUID*, void**, REFIID, IUnknown*);
using DirectDrawCreateFn = HRESULT (*)(GUID*, IUnknown**, IUnknown*);

}  // namespace

class CDevices final : public Collection<CDevices, IDevices, IDevice3D> {
public:
    static constexpr const CLSID& kClsid = CLSID_Devices;

    HRESULT FinalConstruct() {
        guarded(kClsid, IID_IDevices, [&] {
            enumerate();
            return S_OK;
        });
        return S_OK;  // the object exists with the devices found so far
    }

    ~CDevices() {
        store_.clear();
        for (uint32_t h : guid_handles_) HandleClose(h);
        if (started_) back_end().D3DXUninitialize();
    }

private:
    // Steps 1 to 3: DirectDraw from "ddraw.dll" and its Direct3D interface. Reports its own
    // failure and answers false.
    bool load_direct3d(ComPtr<IDirect3D7>& d3d) {
        HRESULT hr = guarded(kClsid, IID_IDevices, [&] {
            trace("Loading DirectDraw --> ");
            HMODULE ddraw = LoadLibraryA("ddraw.dll");
            if (!ddraw) {
                trace("Failed.\n");
                throw failure(E_FAIL, kStringNoDirectDraw);
            }
            trace("Succeeded.\n");
            ComPtr<IUnknown> dd;
            HRESULT r;
            if (auto create_ex = reinterpret_cast<DirectDrawCreateExFn>(GetProcAddress(ddraw, "DirectDrawCreateEx"))) {
                void* p = nullptr;
                r = create_ex(nullptr, &p, IID_IDirectDraw7, nullptr);
                dd = adopt(static_cast<IUnknown*>(static_cast<IDirectDraw7*>(p)));
            } else if (auto create = reinterpret_cast<DirectDrawCreateFn>(GetProcAddress(ddraw, "DirectDrawCreate"))) {
                r = create(nullptr, dd.put(), nullptr);
            } else {
                r = E_FAIL;
            }
            if (FAILED(r) || !dd) throw failure(FAILED(r) ? r : E_FAIL, "Failed to Initialise DirectDraw.");
            r = dd->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(d3d.put()));
            if (FAILED(r)) throw failure(r, "Failed to Find a 3D Interface.");
            return S_OK;
        });
        return SUCCEEDED(hr);
    }

    void enumerate() {
        ComPtr<IDirect3D7> d3d;
        if (!load_direct3d(d3d)) throw failure(E_FAIL, "Failed to Initialised Direct3D.");
        trace("Initialising Direct3DX --> ");
        check(back_end().D3DXInitialize(), "Failed. (Error Code=%x)\n", "Failed to Initialise Direct3DX.");
        started_ = true;
        trace("Succeeded.\n");
        const DWORD count = back_end().D3DXGetDeviceCount();
        trace("Number of Devices detected: %lu\n", static_cast<unsigned long>(count));
        for (DWORD i = 0; i < count; ++i) {
            D3DX_DEVICEDESC desc{};
            back_end().D3DXGetDeviceDescription(i, &desc);
            ComPtr<IDevice3D> device;
            if (FAILED(CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDevice3D,
                                        reinterpret_cast<void**>(device.put()))) || !device)
                continue;
            // Each device keeps the utility layer started while it lives, so it still answers
            // (Level, SurfaceFormat) after this collection is gone.
            if (auto* own = dynamic_cast<CDevice3D*>(device.get())) own->hold_utility_layer();
            // The device GUID travels as the handle of a block this collection keeps.
            auto guid = std::make_unique<GUID>(desc.d3dDeviceGuid);
            uint32_t h = HandleCreate(kHandleGuid, guid.get());
            guids_.push_back(std::move(guid));
            guid_handles_.push_back(h);
            device->put_GUID(static_cast<LONG>(h));
            std::string driver(desc.driverDesc, strnlen(desc.driverDesc, sizeof desc.driverDesc));
            trace("\t \xC2\xBB '");
            trace("%s", driver.c_str());
            trace("'\n");
            BSTR name = text::bstr(driver);
            device->put_Name(name);
            device->put_Index(static_cast<LONG>(desc.deviceIndex));
            store_.put(name, device);  // a second device with the same description replaces the first
            SysFreeString(name);
        }
    }

    std::vector<std::unique_ptr<GUID>> guids_;
    std::vector<uint32_t> guid_handles_;
    bool started_ = false;
};

class CDeviceCaps final : public CoClass<CDeviceCaps, IDeviceCaps> {
public:
    static constexpr const CLSID& kClsid = CLSID_DeviceCaps;

    HRESULT put_Device(LONG device) override { return device_.put(device); }
    HRESULT get_Depth(BitDepths* pVal) override { return depth(pVal, false); }
    HRESULT get_ZBufferDepth(BitDepths* pVal) override { return depth(pVal, true); }

private:
    // Reads the device description; reports a failure itself and answers false.
    bool read_caps() {
        HRESULT hr = guard([&] {
            IDirect3DDevice7* d = device_.require();
            record_ = D3DDEVICEDESC7{};
            check(d->GetCaps(&record_), nullptr, "GetCaps Function Failed.");
            return S_OK;
        });
        return SUCCEEDED(hr);
    }

    HRESULT depth(BitDepths* out, bool z) {
        return guard([&] {
            if (!read_caps()) throw failure(E_FAIL, "Failed to obtain Render Depth.");
            if (out) *out = static_cast<BitDepths>(z ? record_.dwDeviceZBufferBitDepth : record_.dwDeviceRenderBitDepth);
            return S_OK;
        });
    }

    DeviceLink device_;
    D3DDEVICEDESC7 record_{};
};

template <> HRESULT create_class<IDevices>(IUnknown* o, REFIID r, void** p) { return CDevices::create(o, r, p); }
template <> HRESULT create_class<IDeviceCaps>(IUnknown* o, REFIID r, void** p) { return CDeviceCaps::create(o, r, p); }

}  // namespace vantor
