// BSTR: UTF-16 text preceded by its byte length (4 bytes) and followed by a terminating zero.
#include <vantor/com.h>

#include <cstdlib>
#include <cstring>

namespace {
size_t length_of(const OLECHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}
}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* s, UINT len) {
    if (len > (0x7FFFFFFFu - 8) / sizeof(OLECHAR)) return nullptr;
    size_t bytes = static_cast<size_t>(len) * sizeof(OLECHAR);
    auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    block[0] = static_cast<uint32_t>(bytes);
    BSTR text = reinterpret_cast<BSTR>(block + 1);
    if (s) std::memcpy(text, s, bytes);
    else std::memset(text, 0, bytes);
    text[len] = 0;
    return text;
}

BSTR SysAllocString(const OLECHAR* s) {
    if (!s) return nullptr;
    return SysAllocStringLen(s, static_cast<UINT>(length_of(s)));
}

INT SysReAllocString(BSTR* p, const OLECHAR* s) {
    if (!p) return FALSE;
    BSTR copy = SysAllocString(s);
    if (s && !copy) return FALSE;
    SysFreeString(*p);
    *p = copy;
    return TRUE;
}

void SysFreeString(BSTR s) {
    if (s) std::free(reinterpret_cast<uint32_t*>(s) - 1);
}

UINT SysStringByteLen(BSTR s) { return s ? reinterpret_cast<uint32_t*>(s)[-1] : 0; }

UINT SysStringLen(BSTR s) { return SysStringByteLen(s) / sizeof(OLECHAR); }

LPVOID CoTaskMemAlloc(size_t n) { return std::malloc(n ? n : 1); }

void CoTaskMemFree(LPVOID p) { std::free(p); }

}  // extern "C"
