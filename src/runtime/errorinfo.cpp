// Error information objects and the per-thread error slot (CreateErrorInfo/SetErrorInfo/GetErrorInfo).
#include <vantor/com.h>

#include <atomic>
#include <new>

namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
public:
    ~ErrorInfo() {
        SysFreeString(source_);
        SysFreeString(description_);
        SysFreeString(help_file_);
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo) *ppv = static_cast<ICreateErrorInfo*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT GetGUID(GUID* g) override {
        if (!g) return E_INVALIDARG;
        *g = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* s) override { return copy_out(source_, s); }
    HRESULT GetDescription(BSTR* s) override { return copy_out(description_, s); }
    HRESULT GetHelpFile(BSTR* s) override { return copy_out(help_file_, s); }
    HRESULT GetHelpContext(DWORD* c) override {
        if (!c) return E_INVALIDARG;
        *c = help_context_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID g) override {
        guid_ = g;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR s) override { return copy_in(source_, s); }
    HRESULT SetDescription(LPOLESTR s) override { return copy_in(description_, s); }
    HRESULT SetHelpFile(LPOLESTR s) override { return copy_in(help_file_, s); }
    HRESULT SetHelpContext(DWORD c) override {
        help_context_ = c;
        return S_OK;
    }

private:
    static HRESULT copy_out(BSTR from, BSTR* to) {
        if (!to) return E_INVALIDARG;
        *to = from ? SysAllocStringLen(from, SysStringLen(from)) : nullptr;
        return (from && !*to) ? E_OUTOFMEMORY : S_OK;
    }
    static HRESULT copy_in(BSTR& to, LPOLESTR from) {
        BSTR copy = SysAllocString(from);
        if (from && !copy) return E_OUTOFMEMORY;
        SysFreeString(to);
        to = copy;
        return S_OK;
    }

    std::atomic<ULONG> refs_{1};
    GUID guid_ = GUID_NULL;
    BSTR source_ = nullptr;
    BSTR description_ = nullptr;
    BSTR help_file_ = nullptr;
    DWORD help_context_ = 0;
};

// The thread's current error information; released when the thread ends.
struct Slot {
    IErrorInfo* info = nullptr;
    ~Slot() {
        if (info) info->Release();
    }
};
thread_local Slot g_slot;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** out) {
    if (!out) return E_INVALIDARG;
    auto* e = new (std::nothrow) ErrorInfo;
    *out = e;
    return e ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
    if (info) info->AddRef();
    IErrorInfo* old = g_slot.info;
    g_slot.info = info;
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = g_slot.info;
    g_slot.info = nullptr;
    return *out ? S_OK : S_FALSE;
}

}  // extern "C"
