// Fuzzes late-bound calls: every member of every registered class (and of the objects they hand
// out), with arbitrary flags, argument counts, named arguments and VARIANTs of every type the
// host may pass. One of the objects is a live Device3D initialised on a virtual window.
#include "fuzz_temp.h"

#include <vantor/registry.h>
#include <vantor/text.h>
#include <vantor/vantor.h>
#include <vantor/window.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" HRESULT DllRegisterServer();

namespace {

struct Target {
    IDispatch* object;
    std::vector<DISPID> members;  // from its type information
};

// Never destroyed: the objects stay reachable (not leaked) until the process ends.
std::vector<Target>& g_targets = *new std::vector<Target>;

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t byte() { return n ? (--n, *p++) : 0; }
    int32_t i32() {
        int32_t v = 0;
        for (int i = 0; i < 4; ++i) v = static_cast<int32_t>((static_cast<uint32_t>(v) << 8) | byte());
        return v;
    }
    double f64() {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
};

// Members that write files named by a string are left out: a fuzzer must not write over files.
bool writes_named_file(ITypeInfo* info, const FUNCDESC& f) {
    if (f.cParams < 1 || f.lprgelemdescParam[0].tdesc.vt != VT_BSTR) return false;
    BSTR name = nullptr;
    UINT got = 0;
    info->GetNames(f.memid, &name, 1, &got);
    std::string n = vantor::text::utf8(name);
    SysFreeString(name);
    return n == "Save";
}

// Calls visit(info, funcdesc) for every member in the object's type information.
template <class Visit>
void for_each_member(IDispatch* d, Visit visit) {
    ITypeInfo* info = nullptr;
    if (FAILED(d->GetTypeInfo(0, 0, &info)) || !info) return;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(info->GetFuncDesc(i, &f))) continue;
            visit(info, *f);
            info->ReleaseFuncDesc(f);
        }
        info->ReleaseTypeAttr(attr);
    }
    info->Release();
}

void add_target(IDispatch* d) {
    for (const Target& t : g_targets)
        if (t.object == d) return;
    Target t{d, {}};
    for_each_member(d, [&](ITypeInfo* info, const FUNCDESC& f) {
        if (!writes_named_file(info, f)) t.members.push_back(f.memid);
    });
    g_targets.push_back(std::move(t));
}

DISPID id_of(IDispatch* d, const char* name) {
    std::u16string w = vantor::text::utf16(name);
    LPOLESTR names[1] = {w.data()};
    DISPID id = DISPID_UNKNOWN;
    d->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
    return id;
}

HRESULT call(IDispatch* d, const char* name, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr) {
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS dp{args.empty() ? nullptr : args.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                  static_cast<UINT>(args.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    return d->Invoke(id_of(d, name), GUID_NULL, 0, flags, &dp, result, nullptr, nullptr);
}

VARIANT long_value(LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

// The objects a target hands out through properties without arguments (children, collections).
void add_children(IDispatch* d) {
    std::vector<DISPID> getters;
    for_each_member(d, [&](ITypeInfo*, const FUNCDESC& f) {
        if (f.invkind == INVOKE_PROPERTYGET && f.cParams == 1 && f.elemdescFunc.tdesc.vt == VT_HRESULT)
            getters.push_back(f.memid);
    });
    for (DISPID id : getters) {
        VARIANT r;
        VariantInit(&r);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (SUCCEEDED(d->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr)) &&
            r.vt == VT_DISPATCH && r.pdispVal) {
            r.pdispVal->AddRef();
            add_target(r.pdispVal);  // kept for the whole run
        }
        VariantClear(&r);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& scratch = vantor::fuzz::make_scratch("invoke");
    setenv("VANTOR_REGISTRY", (scratch + "/registry").c_str(), 1);
    if (chdir(scratch.c_str()) != 0) std::abort();  // relative file names land in the scratch folder
    CoInitialize(nullptr);
    if (DllRegisterServer() != S_OK) std::abort();
    // Every class the component registered.
    HKEY clsids;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &clsids) != ERROR_SUCCESS) std::abort();
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(clsids, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        CLSID clsid;
        std::u16string w = vantor::text::utf16(name);
        IDispatch* d = nullptr;
        if (SUCCEEDED(CLSIDFromString(w.c_str(), &clsid)) &&
            SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d))))
            add_target(d);
    }
    RegCloseKey(clsids);
    if (g_targets.size() < 4) std::abort();
    // A live device on a virtual window, with its children.
    IDispatch* device = nullptr;
    if (FAILED(CoCreateInstance(CLSID_Device3D, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&device))))
        std::abort();
    HWND window = VantorCreateVirtualWindow(64, 48, "fuzz");
    if (FAILED(call(device, "Window", DISPATCH_PROPERTYPUT, {long_value(static_cast<LONG>(window))})) ||
        FAILED(call(device, "Initialise", DISPATCH_METHOD, {long_value(48), long_value(64), long_value(0)})))
        std::abort();
    add_target(device);
    const size_t classes = g_targets.size();
    for (size_t i = 0; i < classes; ++i) add_children(g_targets[i].object);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader r{data, size};
    const Target& target = g_targets[r.byte() % g_targets.size()];
    static const DISPID kSpecial[] = {0, -4, -3, -1, 1000, 0x7FFFFFFF};
    uint8_t pick = r.byte();
    DISPID id = (pick & 0x80 || target.members.empty()) ? kSpecial[pick % (sizeof kSpecial / sizeof kSpecial[0])]
                                                        : target.members[pick % target.members.size()];
    WORD flags = r.byte() & 0x0F;
    if (std::getenv("VANTOR_FUZZ_TRACE")) {  // for triage: which member an input calls
        BSTR name = nullptr;
        UINT got = 0;
        ITypeInfo* info = nullptr;
        if (SUCCEEDED(target.object->GetTypeInfo(0, 0, &info)) && info) {
            BSTR type = nullptr;
            info->GetDocumentation(MEMBERID_NIL, &type, nullptr, nullptr, nullptr);
            info->GetNames(id, &name, 1, &got);
            std::fprintf(stderr, "call %s.%s (id %d, flags %u)\n", vantor::text::utf8(type).c_str(),
                         vantor::text::utf8(name).c_str(), static_cast<int>(id), flags);
            SysFreeString(type);
            SysFreeString(name);
            info->Release();
        }
    }
    UINT count = r.byte() % 6;
    UINT named = count ? r.byte() % (count + 1) : 0;
    std::vector<VARIANT> args(count);
    std::vector<DISPID> names(named);
    LONG long_store[6];
    VARIANT variant_store[6];
    for (UINT i = 0; i < count; ++i) {
        VARIANT& v = args[i];
        VariantInit(&v);
        VariantInit(&variant_store[i]);
        switch (r.byte() % 12) {
            case 0: break;
            case 1: v.vt = VT_NULL; break;
            case 2: v.vt = VT_I2; v.iVal = static_cast<SHORT>(r.i32()); break;
            case 3: v.vt = VT_I4; v.lVal = r.i32(); break;
            case 4: v.vt = VT_R4; v.fltVal = static_cast<float>(r.f64()); break;
            case 5: v.vt = VT_R8; v.dblVal = r.f64(); break;
            case 6: v.vt = VT_BOOL; v.boolVal = r.byte() & 1 ? VARIANT_TRUE : VARIANT_FALSE; break;
            case 7: {
                std::string s;
                for (int k = r.byte() % 16; k > 0; --k) s.push_back(static_cast<char>(r.byte()));
                v.vt = VT_BSTR;
                v.bstrVal = vantor::text::bstr(s);
                break;
            }
            case 8: {
                IDispatch* d = g_targets[r.byte() % g_targets.size()].object;
                v.vt = VT_DISPATCH;
                v.pdispVal = d;
                d->AddRef();
                break;
            }
            case 9: v.vt = VT_ERROR; v.scode = DISP_E_PARAMNOTFOUND; break;
            case 10:
                if (r.byte() & 1) {
                    long_store[i] = r.i32();
                    v.vt = VT_BYREF | VT_I4;
                    v.plVal = &long_store[i];
                } else {
                    v.vt = VT_BYREF | VT_VARIANT;
                    v.pvarVal = &variant_store[i];
                }
                break;
            case 11: {  // UTF-16 code units as they come, lone surrogates and NULs included
                UINT length = r.byte() % 8;
                v.vt = VT_BSTR;
                v.bstrVal = SysAllocStringLen(nullptr, length);
                for (UINT k = 0; k < length; ++k) v.bstrVal[k] = static_cast<OLECHAR>(r.byte() << 8 | r.byte());
                break;
            }
        }
    }
    for (UINT i = 0; i < named; ++i) names[i] = static_cast<int8_t>(r.byte()) % 6;
    DISPPARAMS dp{count ? args.data() : nullptr, named ? names.data() : nullptr, count, named};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO ei{};
    UINT argErr = 0;
    target.object->Invoke(id, GUID_NULL, 0, flags, &dp, (r.byte() & 1) ? &result : nullptr, &ei, &argErr);
    VariantClear(&result);
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrHelpFile);
    for (UINT i = 0; i < count; ++i) {
        VariantClear(&args[i]);
        VariantClear(&variant_store[i]);
    }
    SetErrorInfo(0, nullptr);
    return 0;
}
