// world/record.h — reading and writing world-file records on a stream handle.
//
//   RecordWriter out(f);                 // throws failure(E_INVALIDARG, ...) for a stale handle
//   out.line("// Colour\n");
//   out.real(red_);                      // "%f\n": 1.000000
//   out.number(enabled ? 0xFFFFFFFFu : 0);  // "%u\n"
//
//   RecordReader in(f);
//   in.skip();                           // the comment line
//   red_ = in.real();                    // atof of the next line (0.0 at the end of the file)
//   LONG n = in.integer();               // atoi, 32-bit wrap-around (4294967295 reads as -1)
//
// Numbers are written and read in the classic locale ("." decimal point). Lines of any length
// are written whole and read back whole.
#pragma once

#include <vantor/com.h>

#include <string>

namespace vantor {

class RecordWriter {
public:
    explicit RecordWriter(LONG f);
    void line(const std::string& text);   // written as given
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
    std::string line();                   // the next line; "" at the end of the file
    void skip() { line(); }
    bool at_end() const;                  // no line is left
    float real();
    LONG integer();
private:
    uint32_t stream_;
};

// The C library's conversions in the classic locale.
double classic_atof(const std::string& text);
LONG classic_atoi(const std::string& text);

}  // namespace vantor
