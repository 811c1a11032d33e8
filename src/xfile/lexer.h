// xfile/lexer.h — the two token readers the parser is instantiated with. Both hand out tokens
// for the structure (names, braces, templates) and read data values straight into numbers,
// without building tokens: that is where the time goes in a large mesh.
#pragma once

#include <charconv>
#include <cmath>
#include <limits>

#include "document.h"

namespace vantor::xfile {

enum class Tok : uint8_t {
    Eof,
    Name,
    String,
    Integer,
    Float,
    Guid,
    IntList,
    FloatList,
    OBrace,
    CBrace,
    OBracket,
    CBracket,
    OParen,
    CParen,
    OAngle,
    CAngle,
    Comma,
    Semicolon,
    Dot,
    Ellipsis,
    Keyword,
};

enum class Kw : uint8_t {
    None,
    Template,
    Array,
    Word,
    Dword,
    Float,
    Double,
    Char,
    Uchar,
    Sword,
    Sdword,
    Void,
    String,
    Unicode,
    Cstring,
    Binary,
    BinaryResource,
    Ulonglong,
};

struct Token {
    Tok kind = Tok::Eof;
    Kw kw = Kw::None;
    std::string_view text;  // names, numbers as written, string contents as written
    uint32_t u = 0;         // integers
    GUID guid{};
};

// Value reads answer one of these; NotValue leaves the structure token unread.
enum class Got : uint8_t { Value, NotValue, Bad };

struct ParseError {
    HRESULT hr;
    size_t offset;
};

Kw keyword_of(std::string_view word);  // case-insensitive; Kw::None for ordinary names

// ---------------------------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------------------------
class TextLexer {
public:
    static constexpr unsigned kMinValueBytes = 2;  // "1;" — used to check counts before reading

    TextLexer(const uint8_t* begin, const uint8_t* at, const uint8_t* end, StringArena* strings)
        : begin_(begin), p_(at), end_(end), strings_(strings) {}

    size_t offset() const { return size_t(p_ - begin_); }
    bool can_hold(uint64_t values) const { return values <= uint64_t(end_ - p_) / kMinValueBytes; }
    uint32_t take_warnings() { return 0; }

    Token next();
    // An instance GUID right after an object's '{', if there is one.
    bool take_guid(GUID* out) {
        skip_blank();
        if (p_ == end_ || *p_ != '<') return false;
        *out = next().guid;
        return true;
    }

    Got read_u32(uint32_t* out);
    Got read_float(float* out);
    Got read_double(double* out);
    Got read_string(char** out);
    // n values into `out` (4 bytes each, any alignment).
    Got read_floats(uint8_t* out, uint64_t n) {
        for (uint64_t i = 0; i < n; ++i) {
            float v;
            Got g = read_float(&v);
            if (g != Got::Value) return g;
            std::memcpy(out + i * 4, &v, 4);
        }
        return Got::Value;
    }
    Got read_u32s(uint8_t* out, uint64_t n) {
        for (uint64_t i = 0; i < n; ++i) {
            uint32_t v;
            Got g = read_u32(&v);
            if (g != Got::Value) return g;
            std::memcpy(out + i * 4, &v, 4);
        }
        return Got::Value;
    }

private:
    static bool is_word(uint8_t c) { return kClass[c] & 2; }
    static bool is_blank(uint8_t c) { return kClass[c] & 1; }
    void skip_blank();
    void skip_blank_and_separators();
    const uint8_t* word_end(const uint8_t* s) const {
        while (s < end_ && is_word(*s)) ++s;
        return s;
    }
    // A number token [s, e) as a double; false when it is not one (a name such as "1stFrame").
    static bool parse_number(const uint8_t* s, const uint8_t* e, double* out);
    [[noreturn]] void fail(HRESULT hr) const { throw ParseError{hr, offset()}; }

    static const uint8_t kClass[256];
    const uint8_t* begin_;
    const uint8_t* p_;
    const uint8_t* end_;
    StringArena* strings_;
};

// ---------------------------------------------------------------------------------------------
// Binary
// ---------------------------------------------------------------------------------------------
class BinaryLexer {
public:
    static constexpr unsigned kMinValueBytes = 4;

    BinaryLexer(const uint8_t* begin, const uint8_t* at, const uint8_t* end, StringArena* strings,
                unsigned float_bits)
        : begin_(begin), p_(at), end_(end), strings_(strings), wide_(float_bits == 64) {}

    size_t offset() const { return size_t(p_ - begin_); }
    bool can_hold(uint64_t values) const {
        return values <= list_left_ + uint64_t(end_ - p_) / kMinValueBytes;
    }
    uint32_t take_warnings() {
        uint32_t w = warnings_;
        warnings_ = 0;
        return w;
    }

    Token next();
    bool take_guid(GUID* out) {
        if (list_left_ || !have(2) || peek_id() != kGuid) return false;
        *out = next().guid;
        return true;
    }

    Got read_u32(uint32_t* out);
    Got read_float(float* out);
    Got read_double(double* out);
    Got read_string(char** out);
    // n values into `out` (4 bytes each): runs of a list of the right kind are copied whole.
    Got read_floats(uint8_t* out, uint64_t n) { return read_run(out, n, true); }
    Got read_u32s(uint8_t* out, uint64_t n) { return read_run(out, n, false); }

private:
    Got read_run(uint8_t* out, uint64_t n, bool floats);
    enum : uint16_t {
        kName = 1,
        kString = 2,
        kInteger = 3,
        kGuid = 5,
        kIntegerList = 6,
        kFloatList = 7,
        kOBrace = 10,
        kCBrace,
        kOParen,
        kCParen,
        kOBracket,
        kCBracket,
        kOAngle,
        kCAngle,
        kDot,
        kComma,
        kSemicolon,
        kTemplate = 31,
        kWord = 40,
        kDword,
        kFloat,
        kDouble,
        kChar,
        kUchar,
        kSword,
        kSdword,
        kVoid,
        kLpstr,
        kUnicode,
        kCstring,
        kArray,
    };
    bool have(size_t n) const { return size_t(end_ - p_) >= n; }
    uint16_t peek_id() const {
        uint16_t id;
        std::memcpy(&id, p_, 2);
        return id;
    }
    uint32_t u32_at(const uint8_t* q) const {
        uint32_t v;
        std::memcpy(&v, q, 4);
        return v;
    }
    // Starts the next list (or lone integer) for a value read; false when the next token is
    // not a number.
    Got refill();
    double list_value();  // the next list element as a number (list_left_ > 0)
    std::string_view payload(uint32_t* n_out);
    [[noreturn]] void fail(HRESULT hr) const { throw ParseError{hr, offset()}; }

    const uint8_t* begin_;
    const uint8_t* p_;
    const uint8_t* end_;
    StringArena* strings_;
    bool wide_;
    const uint8_t* list_ = nullptr;
    uint32_t list_left_ = 0;
    bool list_float_ = false;
    uint32_t warnings_ = 0;
};

}  // namespace vantor::xfile
