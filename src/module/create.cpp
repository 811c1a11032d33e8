#include "module/create.h"

#include "module/trace.h"

namespace vantor {

IUnknown* CreateRegisteredObject(REFCLSID clsid, REFIID iid) {
    void* p = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &p);
    if (FAILED(hr) || !p) {
        direct(hr == E_NOINTERFACE ? "CoCreateInstanceEx Failed. (No Interface).\n" : "CoCreateInstanceEx Failed.\n");
        return nullptr;
    }
    return static_cast<IUnknown*>(p);
}

}  // namespace vantor
