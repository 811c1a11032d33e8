// Test support for the component: each test registers libvantor into its own registry file
// (VANTOR_REGISTRY, set per test by CTest) and ends with the module's lock count back at 0.
#pragma once

#include <vantor/com_ptr.h>
#include "module/kit.h"

#include "recording_backend.h"
#include "test_window.h"

#include <gtest/gtest.h>
#include <vantor/backend/backend.h>
#include <vantor/debug.h>
#include <vantor/registry.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

extern "C" HRESULT DllRegisterServer();
extern "C" HRESULT DllUnregisterServer();
extern "C" HRESULT DllCanUnloadNow();
extern "C" HRESULT DllGetClassObject(REFCLSID, REFIID, LPVOID*);

namespace vantor::test {

class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(DllRegisterServer(), S_OK);
    }
    void TearDown() override {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object of the component is still alive";
    }

    template <class I>
    I* create(REFCLSID clsid) {
        I* p = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(&p)), S_OK);
        return p;
    }
};

// A component test with a recording device of its own: a 64x64 context, its device and Direct3D,
// and their handles as a script passes them (`dev`, `d3d_handle`). Calls made while setting up
// are cleared; nothing of the back end may be alive at the end.
class RecordingDeviceTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        rec.D3DXInitialize();
        ASSERT_EQ(rec.D3DXCreateContext(D3DX_DEFAULT, 0, window.handle(), 64, 64, &context), S_OK);
        context->GetD3DDevice(&device);
        context->GetD3D(&d3d);
        dev = static_cast<LONG>(backend::to_handle(device));
        d3d_handle = static_cast<LONG>(backend::to_handle(d3d));
        rec.clear_calls();
    }
    void TearDown() override {
        d3d->Release();
        device->Release();
        context->Release();
        rec.D3DXUninitialize();
        EXPECT_EQ(rec.live_objects(), 0u) << rec.live_object_names_text();
        ComponentTest::TearDown();
    }

    // A new object of the class, bound to this test's device.
    template <class I>
    ComPtr<I> on_device(REFCLSID clsid) {
        ComPtr<I> p = adopt(create<I>(clsid));
        if (p) p->put_Device(dev);
        return p;
    }

    vantor::testing::RecordingBackend rec;
    vantor::testing::ScopedInstall installed{rec};
    vantor::testing::TestWindow window{64, 64};
    ID3DXContext* context = nullptr;
    IDirect3DDevice7* device = nullptr;
    IDirect3D7* d3d = nullptr;
    LONG dev = 0, d3d_handle = 0;
};

// The thread's error information, taken: {source, description}; {"", ""} when none is set.
struct ErrorText {
    std::string source;
    std::string description;
};
inline ErrorText take_error() {
    ErrorText e;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return e;
    BSTR s = nullptr, d = nullptr;
    info->GetSource(&s);
    info->GetDescription(&d);
    e.source = text::utf8(s);
    e.description = text::utf8(d);
    SysFreeString(s);
    SysFreeString(d);
    info->Release();
    return e;
}

// Whether the thread's error description ends with `text` (after the result's own message).
inline ::testing::AssertionResult reported(const std::string& text) {
    const std::string d = take_error().description;
    if (d.size() >= text.size() && d.compare(d.size() - text.size(), text.size(), text) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the description is \"" << d << "\"";
}

// A BSTR the test owns: Bstr name("Alpha"); c->put_Name(name); c->get_Name(got.out()); got.str().
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const char* s) : b_(text::bstr(s)) {}
    explicit Bstr(std::u16string_view s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b_); }
    operator BSTR() const { return b_; }
    BSTR* out() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    std::string str() const { return text::utf8(b_); }

private:
    BSTR b_ = nullptr;
};

// A VARIANT the test owns, cleared when it goes: Var::i4(1), Var::i2(1), Var::text("Light0").
class Var {
public:
    Var() { VariantInit(&v_); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    ~Var() { VariantClear(&v_); }
    static Var i4(LONG n) { return Var(VT_I4, [n](VARIANT& v) { v.lVal = n; }); }
    static Var i2(SHORT n) { return Var(VT_I2, [n](VARIANT& v) { v.iVal = n; }); }
    static Var text(const char* s) { return Var(VT_BSTR, [s](VARIANT& v) { v.bstrVal = vantor::text::bstr(s); }); }
    Var(Var&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
    // By value for an [in] VARIANT (the callee copies what it keeps).
    operator VARIANT() const { return v_; }
    VARIANT* out() {
        VariantClear(&v_);
        return &v_;
    }
    const VARIANT& get() const { return v_; }

private:
    template <class F>
    Var(VARTYPE vt, F fill) {
        VariantInit(&v_);
        v_.vt = vt;
        fill(v_);
    }
    VARIANT v_;
};

// What a getter answers; `initial` (a value-initialised T unless given) when it writes nothing:
// EXPECT_EQ(value_of(light, &ILight::get_Range), 50.0f).
template <class T, class O>
T value_of(O* o, HRESULT (O::*get)(T*), std::type_identity_t<T> initial = {}) {
    (o->*get)(&initial);
    return initial;
}
template <class T, class O>
T value_of(const ComPtr<O>& o, HRESULT (O::*get)(T*), std::type_identity_t<T> initial = {}) {
    return value_of(o.get(), get, initial);
}

// The text a string property answers ("<failed>" when the getter fails).
template <class O>
std::string text_of(O* o, HRESULT (O::*get)(BSTR*)) {
    Bstr b;
    return SUCCEEDED((o->*get)(b.out())) ? b.str() : "<failed>";
}

// A collection's element at `index` as interface I; null when Item fails.
template <class I, class C>
ComPtr<I> item_of(C* collection, const Var& index) {
    Var item;
    ComPtr<I> p;
    if (SUCCEEDED(collection->Item(index, item.out())) && item.get().vt == VT_DISPATCH && item.get().pdispVal)
        item.get().pdispVal->QueryInterface(__uuidof(I), reinterpret_cast<void**>(p.put()));
    return p;
}

// A GUID as the registry writes it: "{xxxxxxxx-xxxx-...}".
inline std::string guid(REFGUID g) {
    OLECHAR w[40];
    StringFromGUID2(g, w, 40);
    return text::utf8z(w);
}

// Takes a class away from the registry, as a host may.
inline void unregister_class(REFCLSID clsid) { RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + guid(clsid)).c_str()); }

// The object `d` points to as interface I, taking over the caller's reference to `d`.
template <class I>
ComPtr<I> take_as(IDispatch* d) {
    ComPtr<IDispatch> owned = adopt(d);
    ComPtr<I> p;
    if (d) owned.query(p.put());
    return p;
}

// The same object as IDispatch, as a property of type Object takes it.
template <class I>
ComPtr<IDispatch> as_dispatch(const ComPtr<I>& p) {
    ComPtr<IDispatch> d;
    if (p) p.query(d.put());
    return d;
}

// A collection's enumerator: its _NewEnum as IEnumVARIANT.
template <class C>
ComPtr<IEnumVARIANT> enumerator_of(C* collection) {
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> e;
    if (SUCCEEDED(collection->get__NewEnum(unknown.put())) && unknown) unknown.query(e.put());
    return e;
}

// The objects one Next(n) call yields; *hr gets its result.
inline std::vector<ComPtr<IDispatch>> next_items(IEnumVARIANT* e, ULONG n, HRESULT* hr = nullptr) {
    std::vector<VARIANT> got(n);
    ULONG fetched = 0;
    const HRESULT r = e->Next(n, got.data(), &fetched);
    if (hr) *hr = r;
    std::vector<ComPtr<IDispatch>> items;
    for (ULONG i = 0; i < fetched; ++i) {
        items.push_back(got[i].vt == VT_DISPATCH ? ComPtr<IDispatch>::share(got[i].pdispVal) : ComPtr<IDispatch>());
        VariantClear(&got[i]);
    }
    return items;
}

// A file's bytes, "" when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Everything written to the debugger output while it lives.
class DebugCapture {
public:
    DebugCapture() { cookie_ = DebugOutputAddListener([](const char* s, void* self) { static_cast<DebugCapture*>(self)->text_ += s; }, this); }
    ~DebugCapture() { DebugOutputRemoveListener(cookie_); }
    const std::string& text() const { return text_; }
    void clear() { text_.clear(); }

private:
    int cookie_;
    std::string text_;
};

}  // namespace vantor::test
