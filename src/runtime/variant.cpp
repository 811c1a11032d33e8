// VARIANT handling: initialise, clear, copy and convert, with Automation's rules.
#include <vantor/com.h>
#include <vantor/text.h>

#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

bool is_numeric(VARTYPE vt) {
    switch (vt) {
        case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
        case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
        case VT_R4: case VT_R8: case VT_BOOL:
            return true;
        default:
            return false;
    }
}

// The value of a numeric VARIANT as a double (exact for every 32-bit integer).
double numeric_value(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1: return v.cVal;
        case VT_I2: return v.iVal;
        case VT_I4: return v.lVal;
        case VT_INT: return v.intVal;
        case VT_I8: return static_cast<double>(v.llVal);
        case VT_UI1: return v.bVal;
        case VT_UI2: return v.uiVal;
        case VT_UI4: return v.ulVal;
        case VT_UINT: return v.uintVal;
        case VT_UI8: return static_cast<double>(v.ullVal);
        case VT_R4: return v.fltVal;
        case VT_R8: return v.dblVal;
        case VT_BOOL: return v.boolVal ? -1.0 : 0.0;
        default: return 0.0;
    }
}

// Parses a number written in the classic locale ("1.5", " -3 ", "1e3"); true on success.
bool parse_number(const std::string& text, double* out) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t') ++s;
    if (!*s) return false;
    locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    locale_t old = c ? uselocale(c) : nullptr;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s, &end);
    if (c) {
        uselocale(old);
        freelocale(c);
    }
    if (end == s) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end) return false;
    *out = v;
    return true;
}

bool equals_ignore_case(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

std::string format_number(const VARIANT& v) {
    char buf[64];
    switch (v.vt) {
        case VT_R4:
            std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(v.fltVal));
            break;
        case VT_R8:
            std::snprintf(buf, sizeof buf, "%.15g", v.dblVal);
            break;
        case VT_UI8:
            std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v.ullVal));
            break;
        default:
            std::snprintf(buf, sizeof buf, "%.0f", numeric_value(v));
            break;
    }
    return buf;
}

// Rounds like Automation (to nearest, ties to even) and checks the target range.
HRESULT to_integer(double d, double lo, double hi, double* out) {
    if (std::isnan(d)) return DISP_E_OVERFLOW;
    double r = std::nearbyint(d);
    if (r < lo || r > hi) return DISP_E_OVERFLOW;
    *out = r;
    return S_OK;
}

HRESULT convert(VARIANT* dst, const VARIANT& src, USHORT flags, VARTYPE vt) {
    VARIANT r;
    VariantInit(&r);
    r.vt = vt;
    const VARTYPE from = src.vt;
    if (from == VT_NULL && vt != VT_NULL) return DISP_E_TYPEMISMATCH;

    double number = 0;
    bool have_number = false;
    if (is_numeric(from)) {
        number = numeric_value(src);
        have_number = true;
    } else if (from == VT_EMPTY) {
        number = 0;
        have_number = true;
    } else if (from == VT_BSTR) {
        std::string text = vantor::text::utf8(src.bstrVal);
        if (vt == VT_BOOL && (equals_ignore_case(text, "true") || equals_ignore_case(text, "false"))) {
            number = equals_ignore_case(text, "true") ? -1 : 0;
            have_number = true;
        } else if (vt != VT_BSTR && vt != VT_DISPATCH && vt != VT_UNKNOWN && vt != VT_ERROR) {
            if (!parse_number(text, &number)) return DISP_E_TYPEMISMATCH;
            have_number = true;
        }
    }

    switch (vt) {
        case VT_EMPTY:
            break;
        case VT_NULL:
            break;
        case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
        case VT_I1: {
            if (!have_number) return DISP_E_TYPEMISMATCH;
            double lo = -2147483648.0, hi = 2147483647.0;
            if (vt == VT_I2) lo = -32768, hi = 32767;
            if (vt == VT_I1) lo = -128, hi = 127;
            if (vt == VT_UI1) lo = 0, hi = 255;
            if (vt == VT_UI2) lo = 0, hi = 65535;
            if (vt == VT_UI4 || vt == VT_UINT) lo = 0, hi = 4294967295.0;
            double v;
            if (HRESULT hr = to_integer(number, lo, hi, &v); FAILED(hr)) return hr;
            if (vt == VT_I2) r.iVal = static_cast<SHORT>(v);
            else if (vt == VT_I1) r.cVal = static_cast<CHAR>(v);
            else if (vt == VT_UI1) r.bVal = static_cast<BYTE>(v);
            else if (vt == VT_UI2) r.uiVal = static_cast<USHORT>(v);
            else if (vt == VT_UI4 || vt == VT_UINT) r.ulVal = static_cast<ULONG>(v);
            else r.lVal = static_cast<LONG>(v);
            break;
        }
        case VT_R4:
            if (!have_number) return DISP_E_TYPEMISMATCH;
            if (std::isfinite(number) && std::fabs(number) > FLT_MAX) return DISP_E_OVERFLOW;
            r.fltVal = static_cast<FLOAT>(number);
            break;
        case VT_R8:
            if (!have_number) return DISP_E_TYPEMISMATCH;
            r.dblVal = number;
            break;
        case VT_BOOL:
            if (!have_number) return DISP_E_TYPEMISMATCH;
            r.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR: {
            std::string text;
            if (from == VT_BSTR) {
                r.bstrVal = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
                if (src.bstrVal && !r.bstrVal) return E_OUTOFMEMORY;
                break;
            }
            if (from == VT_BOOL && (flags & VARIANT_ALPHABOOL)) text = src.boolVal ? "True" : "False";
            else if (from == VT_EMPTY) text = "";
            else if (have_number) text = format_number(src);
            else return DISP_E_TYPEMISMATCH;
            r.bstrVal = vantor::text::bstr(text);
            if (!r.bstrVal) return E_OUTOFMEMORY;
            break;
        }
        case VT_DISPATCH:
            if (from == VT_DISPATCH) {
                r.pdispVal = src.pdispVal;
                if (r.pdispVal) r.pdispVal->AddRef();
            } else if (from == VT_UNKNOWN) {
                if (!src.punkVal) break;
                if (FAILED(src.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&r.pdispVal))))
                    return DISP_E_TYPEMISMATCH;
            } else {
                return DISP_E_TYPEMISMATCH;
            }
            break;
        case VT_UNKNOWN:
            if (from != VT_DISPATCH && from != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
            r.punkVal = from == VT_DISPATCH ? static_cast<IUnknown*>(src.pdispVal) : src.punkVal;
            if (r.punkVal) r.punkVal->AddRef();
            break;
        case VT_ERROR:
            if (from != VT_ERROR) return DISP_E_TYPEMISMATCH;
            r.scode = src.scode;
            break;
        default:
            return DISP_E_BADVARTYPE;
    }
    *dst = r;
    return S_OK;
}

}  // namespace

extern "C" {

void VariantInit(VARIANT* v) {
    if (!v) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
            case VT_BSTR: SysFreeString(v->bstrVal); break;
            case VT_DISPATCH: if (v->pdispVal) v->pdispVal->Release(); break;
            case VT_UNKNOWN: if (v->punkVal) v->punkVal->Release(); break;
            default: break;
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
    if (!dst || !src) return E_INVALIDARG;
    if (dst == src) return S_OK;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        switch (src->vt) {
            case VT_BSTR:
                copy.bstrVal = src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
                if (src->bstrVal && !copy.bstrVal) return E_OUTOFMEMORY;
                break;
            case VT_DISPATCH: if (copy.pdispVal) copy.pdispVal->AddRef(); break;
            case VT_UNKNOWN: if (copy.punkVal) copy.punkVal->AddRef(); break;
            default: break;
        }
    }
    VariantClear(dst);
    *dst = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src) {
    if (!dst || !src) return E_INVALIDARG;
    if (!(src->vt & VT_BYREF)) return VariantCopy(dst, src);
    if (!src->byref) return E_INVALIDARG;
    VARIANT value;
    VariantInit(&value);
    const VARTYPE vt = static_cast<VARTYPE>(src->vt & ~VT_BYREF);
    switch (vt) {
        case VT_I2: value.iVal = *src->piVal; break;
        case VT_I4: case VT_INT: case VT_UI4: case VT_UINT: value.lVal = *src->plVal; break;
        case VT_R4: value.fltVal = *src->pfltVal; break;
        case VT_R8: value.dblVal = *src->pdblVal; break;
        case VT_BOOL: value.boolVal = *src->pboolVal; break;
        case VT_ERROR: value.scode = *src->pscode; break;
        case VT_UI1: case VT_I1: value.bVal = *src->pbVal; break;
        case VT_BSTR: value.bstrVal = *src->pbstrVal; break;
        case VT_DISPATCH: value.pdispVal = *src->ppdispVal; break;
        case VT_UNKNOWN: value.punkVal = *src->ppunkVal; break;
        case VT_VARIANT: return VariantCopyInd(dst, src->pvarVal);
        default: return DISP_E_BADVARTYPE;
    }
    value.vt = vt;
    return VariantCopy(dst, &value);  // takes its own reference/copy
}

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, USHORT flags, VARTYPE vt) {
    if (!dst || !src) return E_INVALIDARG;
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = VariantCopyInd(&value, src);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    hr = (vt == VT_VARIANT) ? VariantCopy(&result, &value) : convert(&result, value, flags, vt);
    VariantClear(&value);
    if (FAILED(hr)) return hr;
    VariantClear(dst);  // when dst is src this drops the original, which `value` copied
    *dst = result;
    return S_OK;
}

}  // extern "C"
