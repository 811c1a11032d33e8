// The text and binary token readers.
#include "lexer.h"

#include <algorithm>

namespace vantor::xfile {

namespace {

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Kw keyword_of(std::string_view w) {
    if (w.empty() || w.size() > 15) return Kw::None;
    static const struct {
        const char* text;
        Kw kw;
    } kWords[] = {
        {"template", Kw::Template},
        {"array", Kw::Array},
        {"word", Kw::Word},
        {"dword", Kw::Dword},
        {"float", Kw::Float},
        {"double", Kw::Double},
        {"char", Kw::Char},
        {"uchar", Kw::Uchar},
        {"byte", Kw::Uchar},
        {"sword", Kw::Sword},
        {"sdword", Kw::Sdword},
        {"string", Kw::String},
        {"cstring", Kw::Cstring},
        {"unicode", Kw::Unicode},
        {"lpstr", Kw::String},
        {"binary", Kw::Binary},
        {"binary_resource", Kw::BinaryResource},
        {"ulonglong", Kw::Ulonglong},
        {"void", Kw::Void},
    };
    for (const auto& k : kWords)
        if (iequal(w, k.text)) return k.kw;
    return Kw::None;
}

// ---------------------------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------------------------

// Bit 0: blank (every byte up to and including space). Bit 1: part of a word.
// clang-format off
const uint8_t TextLexer::kClass[256] = {
#define B1 1
#define W2 2
    // 0x00-0x20
    B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1,
    B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1, B1,
    //  !  "  #   $  %  &  '  (  )  *  +   ,  -   .   /
    B1, 0, 0, W2, 0, 0, 0, 0, 0, 0, 0, W2, 0, W2, W2, 0,
    // 0-9
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, 0, 0, 0, 0, 0, 0,
    // @ A-O
    0, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    // P-Z [ \ ] ^ _
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, 0, 0, 0, 0, W2,
    // ` a-o
    0, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    // p-z { | } ~ DEL
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, 0, 0, 0, 0, 0,
    // 0x80-0xFF: words
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
    W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2, W2,
#undef B1
#undef W2
};
// clang-format on

void TextLexer::skip_blank() {
    for (;;) {
        while (p_ < end_ && is_blank(*p_)) ++p_;
        if (p_ == end_) return;
        // A comment starts only where a token would: "#" or "//".
        if (*p_ == '#' || (*p_ == '/' && p_ + 1 < end_ && p_[1] == '/')) {
            const void* nl = std::memchr(p_, '\n', size_t(end_ - p_));
            p_ = nl ? static_cast<const uint8_t*>(nl) + 1 : end_;
            continue;
        }
        return;
    }
}

void TextLexer::skip_blank_and_separators() {
    for (;;) {
        while (p_ < end_ && (is_blank(*p_) || *p_ == ';' || *p_ == ',')) ++p_;
        if (p_ < end_ && (*p_ == '#' || (*p_ == '/' && p_ + 1 < end_ && p_[1] == '/'))) {
            skip_blank();
            continue;
        }
        return;
    }
}

bool TextLexer::parse_number(const uint8_t* s, const uint8_t* e, double* out) {
    const uint8_t* q = s;
    bool negative = false;
    if (q < e && (*q == '+' || *q == '-')) negative = *q++ == '-';
    if (q == e) return false;
    // MSVC's printed specials: 1.#QNAN0, 1.#SNAN0, -1.#IND00, 1.#INF00.
    if (const void* hash = std::memchr(q, '#', size_t(e - q))) {
        std::string_view rest(static_cast<const char*>(hash), size_t(e - static_cast<const uint8_t*>(hash)));
        if (rest.substr(0, 4) == "#INF") {
            *out =
                negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
            return true;
        }
        if (rest.substr(0, 5) == "#QNAN" || rest.substr(0, 5) == "#SNAN" || rest.substr(0, 4) == "#IND") {
            *out = std::numeric_limits<double>::quiet_NaN();
            return true;
        }
        return false;
    }
    if (*q != '.' && (*q < '0' || *q > '9')) return false;
    double v;
    auto r = std::from_chars(reinterpret_cast<const char*>(q), reinterpret_cast<const char*>(e), v,
                             std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Overflow or underflow: keep the sign and the magnitude class.
        v = std::strtod(std::string(reinterpret_cast<const char*>(q), size_t(e - q)).c_str(), nullptr);
    } else if (r.ec != std::errc() || r.ptr != reinterpret_cast<const char*>(e)) {
        return false;
    }
    *out = negative ? -v : v;
    return true;
}

Token TextLexer::next() {
    skip_blank();
    Token t;
    if (p_ == end_) return t;
    const uint8_t* s = p_;
    switch (*p_) {
        case '{':
            ++p_;
            t.kind = Tok::OBrace;
            return t;
        case '}':
            ++p_;
            t.kind = Tok::CBrace;
            return t;
        case '[':
            ++p_;
            t.kind = Tok::OBracket;
            return t;
        case ']':
            ++p_;
            t.kind = Tok::CBracket;
            return t;
        case '(':
            ++p_;
            t.kind = Tok::OParen;
            return t;
        case ')':
            ++p_;
            t.kind = Tok::CParen;
            return t;
        case ';':
            ++p_;
            t.kind = Tok::Semicolon;
            return t;
        case ',':
            ++p_;
            t.kind = Tok::Comma;
            return t;
        case '"': {
            ++p_;
            while (p_ < end_ && *p_ != '"') p_ += (*p_ == '\\' && p_ + 1 < end_) ? 2 : 1;
            if (p_ >= end_) fail(DXFILEERR_PARSEERROR);
            t.kind = Tok::String;
            t.text = std::string_view(reinterpret_cast<const char*>(s + 1), size_t(p_ - s - 1));
            ++p_;
            return t;
        }
        case '<': {
            // <xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx>, blanks allowed anywhere inside.
            ++p_;
            uint8_t nibbles[32];
            int n = 0;
            while (p_ < end_ && *p_ != '>') {
                uint8_t c = *p_++;
                if (is_blank(c) || c == '-') continue;
                int h = hex_digit(c);
                if (h < 0 || n == 32) fail(DXFILEERR_PARSEERROR);
                nibbles[n++] = uint8_t(h);
            }
            if (p_ == end_ || n != 32) fail(DXFILEERR_PARSEERROR);
            ++p_;
            auto byte = [&](int i) { return uint8_t(nibbles[2 * i] << 4 | nibbles[2 * i + 1]); };
            t.guid.Data1 =
                uint32_t(byte(0)) << 24 | uint32_t(byte(1)) << 16 | uint32_t(byte(2)) << 8 | byte(3);
            t.guid.Data2 = uint16_t(byte(4) << 8 | byte(5));
            t.guid.Data3 = uint16_t(byte(6) << 8 | byte(7));
            for (int i = 0; i < 8; ++i) t.guid.Data4[i] = byte(8 + i);
            t.kind = Tok::Guid;
            return t;
        }
        default:
            break;
    }
    if (*p_ == '.' && end_ - p_ >= 3 && p_[1] == '.' && p_[2] == '.') {
        p_ += 3;
        t.kind = Tok::Ellipsis;
        return t;
    }
    if (!is_word(*p_)) fail(DXFILEERR_PARSEERROR);
    p_ = word_end(p_);
    t.text = std::string_view(reinterpret_cast<const char*>(s), size_t(p_ - s));
    double v;
    if (parse_number(s, p_, &v)) {
        bool integral = true;
        for (char c : t.text)
            if (!(c >= '0' && c <= '9') && c != '-' && c != '+') integral = false;
        if (integral && v >= 0 && v <= 4294967295.0) {
            t.kind = Tok::Integer;
            t.u = uint32_t(v);
        } else {
            t.kind = Tok::Float;
        }
        return t;
    }
    t.kind = Tok::Name;
    t.kw = keyword_of(t.text);
    return t;
}

Got TextLexer::read_u32(uint32_t* out) {
    skip_blank_and_separators();
    if (p_ == end_) return Got::NotValue;
    const uint8_t* s = p_;
    uint8_t c = *s;
    if (c >= '0' && c <= '9') {
        uint64_t v = 0;
        const uint8_t* q = s;
        while (q < end_ && *q >= '0' && *q <= '9' && v <= 0xFFFFFFFFull) v = v * 10 + uint64_t(*q++ - '0');
        if ((q == end_ || !is_word(*q)) && v <= 0xFFFFFFFFull) {
            p_ = q;
            *out = uint32_t(v);
            return Got::Value;
        }
    } else if (c == '"') {
        return Got::Bad;
    } else if (!is_word(c)) {
        return Got::NotValue;
    }
    // Signs, fractions, exponents: a number whose value is a whole 32-bit integer.
    const uint8_t* e = word_end(s);
    double v;
    if (!parse_number(s, e, &v))
        return (c >= '0' && c <= '9') || c == '-' || c == '+' ? Got::Bad : Got::NotValue;
    if (!(v == std::floor(v)) || v < -2147483648.0 || v > 4294967295.0) return Got::Bad;
    p_ = e;
    *out = v < 0 ? uint32_t(int32_t(v)) : uint32_t(v);
    return Got::Value;
}

Got TextLexer::read_double(double* out) {
    skip_blank_and_separators();
    if (p_ == end_) return Got::NotValue;
    uint8_t c = *p_;
    if (c == '"') return Got::Bad;
    if (!is_word(c)) return Got::NotValue;
    const uint8_t* e = word_end(p_);
    if (!parse_number(p_, e, out))
        return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' ? Got::Bad : Got::NotValue;
    p_ = e;
    return Got::Value;
}

Got TextLexer::read_float(float* out) {
    skip_blank_and_separators();
    if (p_ == end_) return Got::NotValue;
    uint8_t c = *p_;
    if (c == '-' || (c >= '0' && c <= '9')) {
        // The common case goes straight to from_chars on the word.
        const uint8_t* e = word_end(p_);
        const uint8_t* s = p_ + (c == '-');
        if (s < e && *s != '#') {
            float v;
            auto r = std::from_chars(reinterpret_cast<const char*>(s), reinterpret_cast<const char*>(e), v,
                                     std::chars_format::general);
            if (r.ec == std::errc() && r.ptr == reinterpret_cast<const char*>(e)) {
                *out = c == '-' ? -v : v;
                p_ = e;
                return Got::Value;
            }
        }
    }
    double d;
    Got g = read_double(&d);
    if (g == Got::Value) *out = float(d);
    return g;
}

Got TextLexer::read_string(char** out) {
    skip_blank_and_separators();
    if (p_ == end_) return Got::NotValue;
    if (*p_ != '"')
        return (*p_ == '-' || *p_ == '.' || (*p_ >= '0' && *p_ <= '9')) ? Got::Bad : Got::NotValue;
    const uint8_t* s = ++p_;
    bool escapes = false;
    while (p_ < end_ && *p_ != '"') {
        if (*p_ == '\\' && p_ + 1 < end_) {
            escapes = true;
            p_ += 2;
        } else {
            ++p_;
        }
    }
    if (p_ >= end_) fail(DXFILEERR_PARSEERROR);
    size_t n = size_t(p_ - s);
    ++p_;
    if (!escapes) {
        *out = strings_->store(reinterpret_cast<const char*>(s), n);
        return Got::Value;
    }
    // "\\" is a backslash and "\"" a quote; any other escape keeps both bytes.
    char* d = strings_->reserve(n);
    char* w = d;
    for (const uint8_t* q = s; q < s + n; ++q) {
        if (*q == '\\' && q + 1 < s + n && (q[1] == '\\' || q[1] == '"')) ++q;
        *w++ = char(*q);
    }
    *w = 0;
    *out = d;
    return Got::Value;
}

// ---------------------------------------------------------------------------------------------
// Binary
// ---------------------------------------------------------------------------------------------

std::string_view BinaryLexer::payload(uint32_t* n_out) {
    if (!have(4)) fail(DXFILEERR_PARSEERROR);
    uint32_t n = u32_at(p_);
    p_ += 4;
    if (!have(n)) fail(DXFILEERR_PARSEERROR);
    const char* s = reinterpret_cast<const char*>(p_);
    p_ += n;
    *n_out = n;
    while (n > 0 && s[n - 1] == 0) --n;  // writers may pad with NULs
    return std::string_view(s, n);
}

Token BinaryLexer::next() {
    if (list_left_) {  // values the template had no member for
        warnings_ += list_left_;
        list_left_ = 0;
    }
    Token t;
    if (p_ == end_) return t;
    if (!have(2)) fail(DXFILEERR_PARSEERROR);
    uint16_t id = peek_id();
    p_ += 2;
    uint32_t n;
    switch (id) {
        case kName:
            t.kind = Tok::Name;
            t.text = payload(&n);
            return t;
        case kString:
            t.kind = Tok::String;
            t.text = payload(&n);
            if (have(2) && (peek_id() == kSemicolon || peek_id() == kComma)) {
                p_ += 2;
                if (have(2) && peek_id() == 0) p_ += 2;  // a DWORD-wide terminator
            }
            return t;
        case kInteger:
            if (!have(4)) fail(DXFILEERR_PARSEERROR);
            t.kind = Tok::Integer;
            t.u = u32_at(p_);
            p_ += 4;
            return t;
        case kGuid:
            if (!have(16)) fail(DXFILEERR_PARSEERROR);
            std::memcpy(&t.guid.Data1, p_, 4);
            std::memcpy(&t.guid.Data2, p_ + 4, 2);
            std::memcpy(&t.guid.Data3, p_ + 6, 2);
            std::memcpy(t.guid.Data4, p_ + 8, 8);
            p_ += 16;
            t.kind = Tok::Guid;
            return t;
        case kIntegerList:
        case kFloatList: {
            if (!have(4)) fail(DXFILEERR_PARSEERROR);
            n = u32_at(p_);
            p_ += 4;
            uint64_t bytes = uint64_t(n) * (id == kIntegerList ? 4 : (wide_ ? 8 : 4));
            if (bytes > uint64_t(end_ - p_)) fail(DXFILEERR_BADARRAYSIZE);
            t.kind = id == kIntegerList ? Tok::IntList : Tok::FloatList;
            t.u = n;
            if (n == 1 && id == kIntegerList) t.u = u32_at(p_), t.kind = Tok::Integer;
            p_ += bytes;
            return t;
        }
        case kOBrace:
            t.kind = Tok::OBrace;
            return t;
        case kCBrace:
            t.kind = Tok::CBrace;
            return t;
        case kOParen:
            t.kind = Tok::OParen;
            return t;
        case kCParen:
            t.kind = Tok::CParen;
            return t;
        case kOBracket:
            t.kind = Tok::OBracket;
            return t;
        case kCBracket:
            t.kind = Tok::CBracket;
            return t;
        case kOAngle:
            t.kind = Tok::OAngle;
            return t;
        case kCAngle:
            t.kind = Tok::CAngle;
            return t;
        case kDot:
            t.kind = Tok::Dot;
            return t;
        case kComma:
            t.kind = Tok::Comma;
            return t;
        case kSemicolon:
            t.kind = Tok::Semicolon;
            return t;
        default:
            break;
    }
    t.kind = Tok::Keyword;
    switch (id) {
        case kTemplate:
            t.kw = Kw::Template;
            break;
        case kWord:
            t.kw = Kw::Word;
            break;
        case kDword:
            t.kw = Kw::Dword;
            break;
        case kFloat:
            t.kw = Kw::Float;
            break;
        case kDouble:
            t.kw = Kw::Double;
            break;
        case kChar:
            t.kw = Kw::Char;
            break;
        case kUchar:
            t.kw = Kw::Uchar;
            break;
        case kSword:
            t.kw = Kw::Sword;
            break;
        case kSdword:
            t.kw = Kw::Sdword;
            break;
        case kVoid:
            t.kw = Kw::Void;
            break;
        case kLpstr:
            t.kw = Kw::String;
            break;
        case kUnicode:
            t.kw = Kw::Unicode;
            break;
        case kCstring:
            t.kw = Kw::Cstring;
            break;
        case kArray:
            t.kw = Kw::Array;
            break;
        default:
            p_ -= 2;
            fail(DXFILEERR_PARSEERROR);
    }
    return t;
}

Got BinaryLexer::refill() {
    for (;;) {
        if (!have(2)) return Got::NotValue;
        uint16_t id = peek_id();
        if (id == kComma || id == kSemicolon) {
            p_ += 2;
            continue;
        }
        if (id == kString) return Got::Bad;
        if (id != kInteger && id != kIntegerList && id != kFloatList) return Got::NotValue;
        if (id == kInteger) {
            if (!have(6)) fail(DXFILEERR_PARSEERROR);
            list_ = p_ + 2;
            list_left_ = 1;
            list_float_ = false;
            p_ += 6;
            return Got::Value;
        }
        if (!have(6)) fail(DXFILEERR_PARSEERROR);
        uint32_t n = u32_at(p_ + 2);
        p_ += 6;
        unsigned width = id == kIntegerList ? 4 : (wide_ ? 8 : 4);
        if (uint64_t(n) * width > uint64_t(end_ - p_)) fail(DXFILEERR_BADARRAYSIZE);
        list_ = p_;
        list_left_ = n;
        list_float_ = id == kFloatList;
        p_ += size_t(n) * width;
        if (n) return Got::Value;
    }
}

double BinaryLexer::list_value() {
    --list_left_;
    if (!list_float_) {
        uint32_t v = u32_at(list_);
        list_ += 4;
        return double(v);
    }
    if (wide_) {
        double d;
        std::memcpy(&d, list_, 8);
        list_ += 8;
        return d;
    }
    float f;
    std::memcpy(&f, list_, 4);
    list_ += 4;
    return double(f);
}

Got BinaryLexer::read_u32(uint32_t* out) {
    if (!list_left_) {
        Got g = refill();
        if (g != Got::Value) return g;
    }
    if (!list_float_) {
        *out = u32_at(list_);
        list_ += 4;
        --list_left_;
        return Got::Value;
    }
    double v = list_value();  // a float where an integer belongs: accepted when whole
    ++warnings_;
    if (!(v == std::floor(v)) || v < -2147483648.0 || v > 4294967295.0) return Got::Bad;
    *out = v < 0 ? uint32_t(int32_t(v)) : uint32_t(v);
    return Got::Value;
}

Got BinaryLexer::read_float(float* out) {
    if (!list_left_) {
        Got g = refill();
        if (g != Got::Value) return g;
    }
    if (list_float_ && !wide_) {
        std::memcpy(out, list_, 4);
        list_ += 4;
        --list_left_;
        return Got::Value;
    }
    if (!list_float_) ++warnings_;
    *out = float(list_value());
    return Got::Value;
}

Got BinaryLexer::read_double(double* out) {
    if (!list_left_) {
        Got g = refill();
        if (g != Got::Value) return g;
    }
    if (!list_float_) ++warnings_;
    *out = list_value();
    return Got::Value;
}

Got BinaryLexer::read_run(uint8_t* out, uint64_t n, bool floats) {
    while (n > 0) {
        if (!list_left_) {
            Got g = refill();
            if (g != Got::Value) return g;
        }
        if (list_float_ == floats && !(floats && wide_)) {
            uint64_t k = std::min<uint64_t>(n, list_left_);
            std::memcpy(out, list_, size_t(k) * 4);
            list_ += k * 4;
            list_left_ -= uint32_t(k);
            out += k * 4;
            n -= k;
            continue;
        }
        Got g;
        if (floats) {
            float v = 0;
            g = read_float(&v);
            std::memcpy(out, &v, 4);
        } else {
            uint32_t v = 0;
            g = read_u32(&v);
            std::memcpy(out, &v, 4);
        }
        if (g != Got::Value) return g;
        out += 4;
        --n;
    }
    return Got::Value;
}

Got BinaryLexer::read_string(char** out) {
    if (list_left_) return Got::Bad;
    for (;;) {
        if (!have(2)) return Got::NotValue;
        uint16_t id = peek_id();
        if (id == kComma || id == kSemicolon) {
            p_ += 2;
            continue;
        }
        if (id == kInteger || id == kIntegerList || id == kFloatList) return Got::Bad;
        if (id != kString) return Got::NotValue;
        break;
    }
    Token t = next();
    *out = strings_->store(t.text.data(), t.text.size());
    return Got::Value;
}

}  // namespace vantor::xfile
