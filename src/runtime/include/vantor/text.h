// vantor/text.h — UTF-8 and UTF-16 conversions (narrow strings are UTF-8 throughout Vantor).
//
//   BSTR b = vantor::text::bstr("Default");          // caller frees with SysFreeString
//   std::string s = vantor::text::utf8(b);            // "Default"
//   std::u16string w = vantor::text::utf16("héllo");
//
// Invalid UTF-8 bytes become U+FFFD; unpaired surrogates become U+FFFD in UTF-8.
#pragma once

#include <vantor/com.h>

#include <string>
#include <string_view>

namespace vantor::text {

inline std::u16string utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        size_t n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
        else { out.push_back(0xFFFD); ++i; continue; }
        if (i + n > s.size()) { out.push_back(0xFFFD); break; }
        bool ok = true;
        for (size_t k = 1; k < n; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (d & 0x3F);
        }
        if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
            (n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return out;
}

inline std::string utf8(const OLECHAR* s, size_t len) {
    std::string out;
    if (!s) return out;
    out.reserve(len);
    for (size_t i = 0; i < len; ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < len && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// A BSTR's text (its full length, embedded zeros included); "" for a null BSTR.
inline std::string utf8(BSTR s) { return utf8(s, SysStringLen(s)); }
// A zero-terminated wide string's text.
inline std::string utf8z(const OLECHAR* s) {
    size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return utf8(s, n);
}

inline std::string utf8(const std::u16string& s) { return utf8(s.data(), s.size()); }

inline BSTR bstr(std::string_view s) {
    std::u16string w = utf16(s);
    return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}
inline BSTR bstr(const std::u16string& w) { return SysAllocStringLen(w.data(), static_cast<UINT>(w.size())); }

}  // namespace vantor::text
