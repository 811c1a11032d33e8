// Fuzzes late-bound calls: arbitrary dispatch ids, flags, argument counts, named arguments and
// VARIANTs of every type the host may pass, against real objects of the component.
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" HRESULT DllRegisterServer();

namespace {

IDispatch* g_objects[4];

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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string path = "/tmp/vantor-fuzz-invoke-" + std::to_string(getpid());
    setenv("VANTOR_REGISTRY", path.c_str(), 1);
    CoInitialize(nullptr);
    if (DllRegisterServer() != S_OK) std::abort();
    const CLSID* classes[] = {&CLSID_Colour, &CLSID_Position, &CLSID_TextureFormats, &CLSID_Part};
    for (int i = 0; i < 4; ++i) {
        if (FAILED(CoCreateInstance(*classes[i], nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    reinterpret_cast<void**>(&g_objects[i]))))
            std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader r{data, size};
    IDispatch* target = g_objects[r.byte() % 4];
    static const DISPID ids[] = {0, 1, 2, 3, 4, 5, 6, 7, -4, -3, -1, 1000};
    DISPID id = ids[r.byte() % (sizeof ids / sizeof ids[0])];
    WORD flags = r.byte() & 0x0F;
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
        switch (r.byte() % 11) {
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
            case 8: v.vt = VT_DISPATCH; v.pdispVal = g_objects[r.byte() % 4]; v.pdispVal->AddRef(); break;
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
        }
    }
    for (UINT i = 0; i < named; ++i) names[i] = static_cast<int8_t>(r.byte()) % 6;
    DISPPARAMS dp{count ? args.data() : nullptr, named ? names.data() : nullptr, count, named};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO ei{};
    UINT argErr = 0;
    target->Invoke(id, GUID_NULL, 0, flags, &dp, (r.byte() & 1) ? &result : nullptr, &ei, &argErr);
    VariantClear(&result);
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrHelpFile);
    for (UINT i = 0; i < count; ++i) {
        VariantClear(&args[i]);
        VariantClear(&variant_store[i]);
    }
    return 0;
}
