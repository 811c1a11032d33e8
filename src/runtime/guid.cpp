// GUID helpers and the identifiers of the standard interfaces.
#include <vantor/com.h>

#include <cstdio>

#define DEFINE_IID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    extern "C" VANTOR_API const IID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

extern "C" VANTOR_API const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
DEFINE_IID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_IID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_IID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_IID(IID_ITypeInfo, 0x00020401, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_IID(IID_ITypeLib, 0x00020402, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_IID(IID_IEnumVARIANT, 0x00020404, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_IID(IID_ISupportErrorInfo, 0xDF0B3D60, 0x548F, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
DEFINE_IID(IID_IErrorInfo, 0x1CF2B120, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
DEFINE_IID(IID_ICreateErrorInfo, 0x22F03340, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
DEFINE_IID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_IID(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_IID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_IID(IID_IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

namespace {
int hex(OLECHAR c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

extern "C" {

INT StringFromGUID2(REFGUID g, LPOLESTR out, INT cchMax) {
    if (!out || cchMax < 39) return 0;
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    for (int i = 0; i < 39; ++i) out[i] = static_cast<OLECHAR>(buf[i]);
    return 39;
}

HRESULT CLSIDFromString(LPCOLESTR s, CLSID* out) {
    if (!out) return E_INVALIDARG;
    *out = GUID_NULL;
    if (!s) return CO_E_CLASSSTRING;
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    static const char kShape[] = "{........-....-....-....-............}";
    uint8_t digits[32];
    int n = 0;
    for (int i = 0; i < 38; ++i) {
        OLECHAR c = s[i];
        if (kShape[i] == '.') {
            int v = hex(c);
            if (v < 0) return CO_E_CLASSSTRING;
            digits[n++] = static_cast<uint8_t>(v);
        } else if (c != static_cast<OLECHAR>(kShape[i])) {
            return CO_E_CLASSSTRING;
        }
    }
    if (s[38] != 0) return CO_E_CLASSSTRING;
    auto take = [&](int from, int count) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i) v = (v << 4) | digits[from + i];
        return v;
    };
    CLSID g;
    g.Data1 = take(0, 8);
    g.Data2 = static_cast<uint16_t>(take(8, 4));
    g.Data3 = static_cast<uint16_t>(take(12, 4));
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(take(16 + 2 * i, 2));
    *out = g;
    return S_OK;
}

}  // extern "C"
