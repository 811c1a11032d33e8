// world/record.h — reading and writing world-file records on a stream handle.
//
//   RecordWriter out(f);                 // throws failure(E_INVALIDARG, ...) for a stale handle
//   out.line("// Colour\n");
//   out.real(red_);                      // "%f\n": 1.000000
//   out.number(enabled ? 0xFFFFFFFFu : 0);  // "%u\n"
//
//   RecordReader in(f);
//   in.skip();                           // the comment line
//   red_ = in.real();                    // the next line as a number
//   LONG n = in.integer();               // 32-bit wrap-around (4294967295 reads as -1)
//
// Reading is strict: a line that is not a number where the record has one, or a record that the
// file ends inside, throws failure(E_FAIL, "Line N of the world file ...") and the reader's
// caller changes nothing more. Numbers are written and read in the classic locale ("." decimal
// point) whatever the process locale is. Names are written whole, their line breaks as spaces.
#pragma once

#include <vantor/com.h>

#include <string>
#include <string_view>

namespace vantor {

class RecordWriter {
public:
    explicit RecordWriter(LONG f);
    void line(std::string_view text);     // written as given
    void real(float value);               // "%f\n"
    void number(DWORD value);             // "%u\n"
    void text(BSTR value);                // "%S\n": UTF-8, "(null)" for a string never set
    void name(const std::u16string& value, bool set);  // the same for a name held as a string
private:
    uint32_t stream_;
};

class RecordReader {
public:
    explicit RecordReader(LONG f);
    std::string line();                   // the next line; throws when the file has ended
    std::string name();                   // the next line as a name: a carriage return in it reads as a space
    void skip(size_t lines = 1);
    float real();
    LONG integer();
    LONG count(const std::string& text);  // the line read last as a collection's count: 0 to kMaxRecords
    DWORD line_number() const;            // the number of the line read last
private:
    uint32_t stream_;
};

// The number grammar of a world file's lines (leading and trailing blanks allowed): `real` what
// "%f" writes (nan and inf included); `integer` a decimal from -2147483648 to 4294967295, kept in
// 32 bits; `count` a decimal from 0 to 2147483647.
bool parse_real(std::string_view text, float* value);
bool parse_integer(std::string_view text, LONG* value);
bool parse_count(std::string_view text, LONG* value);

// The most records one collection's section holds: loading a record creates several objects, so
// this bounds what one file can ask for (about ten seconds of loading at the most).
inline constexpr LONG kMaxRecords = 16384;

// The refusal of line `number` (1-based) holding `text` where a number was expected.
[[noreturn]] void throw_not_a_number(size_t number, std::string_view text, bool count);
// The refusal of a count above kMaxRecords on line `number`.
[[noreturn]] void throw_too_many(size_t number, LONG count);
// The refusal of a record that the file ends inside: line `number` is missing.
[[noreturn]] void throw_cut_short(size_t number);

}  // namespace vantor
