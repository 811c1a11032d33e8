// The spy library: its class factory, the log and the failures.
#include "spy.h"

#include <vantor/registry.h>

#include <dlfcn.h>

#include <cstdio>
#include <map>

namespace vantor::spy {

namespace {
std::map<std::string, HRESULT>& failures() {
    static std::map<std::string, HRESULT> f;
    return f;
}
std::atomic<int> g_live{0};

class Factory final : public vantor::SingleInterface<IClassFactory> {
public:
    explicit Factory(Creator c, const char* name) : create_(c), name_(name) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* p = create_(name_);
        HRESULT hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    Creator create_;
    const char* name_;
};
}  // namespace

std::vector<std::string>& log() {
    static std::vector<std::string> l;
    return l;
}

std::vector<std::string> calls(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& s : log())
        if (s.compare(0, prefix.size(), prefix) == 0) out.push_back(s);
    return out;
}

void clear() { log().clear(); }
void fail(const std::string& call, HRESULT hr) { failures()[call] = hr; }
void clear_failures() { failures().clear(); }
int live() { return g_live.load(); }
void count_live(int delta) { g_live += delta; }

HRESULT record(const std::string& object, const char* member, std::initializer_list<std::string> args) {
    std::string line = object + "." + member + "(";
    bool first = true;
    for (const std::string& a : args) {
        if (!first) line += ", ";
        line += a;
        first = false;
    }
    log().push_back(line + ")");
    auto it = failures().find(object + "." + member);
    return it == failures().end() ? S_OK : it->second;
}

std::string number(long long v) { return std::to_string(v); }
std::string real(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return b;
}
std::string text(BSTR v) { return v ? "\"" + vantor::text::utf8(v) + "\"" : "null"; }
std::string variant(const VARIANT& v) {
    if (v.vt == VT_I4) return number(v.lVal);
    if (v.vt == VT_I2) return number(v.iVal);
    if (v.vt == VT_BSTR) return text(v.bstrVal);
    return "<variant " + std::to_string(v.vt) + ">";
}
std::string object(IUnknown* p) { return p ? "<object>" : "null"; }

void install(REFCLSID clsid) {
    Dl_info info{};
    dladdr(reinterpret_cast<const void*>(&install), &info);
    OLECHAR w[40];
    StringFromGUID2(clsid, w, 40);
    std::string key = "CLSID\\" + vantor::text::utf8z(w) + "\\InprocServer32";
    HKEY k;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(k, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(info.dli_fname),
                   static_cast<DWORD>(std::strlen(info.dli_fname) + 1));
    RegCloseKey(k);
}

}  // namespace vantor::spy

extern "C" VANTOR_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    vantor::spy::Creator c = vantor::spy::creator_for(clsid);
    if (!c) return CLASS_E_CLASSNOTAVAILABLE;
    auto* f = new vantor::spy::Factory(c, vantor::spy::class_name(clsid));
    HRESULT hr = f->QueryInterface(riid, ppv);
    f->Release();
    return hr;
}
