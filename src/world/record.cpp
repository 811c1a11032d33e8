#include "world/record.h"

#include "module/failure.h"

#include <vantor/stream.h>
#include <vantor/text.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace vantor {

namespace {

uint32_t checked(LONG f) {
    uint32_t h = static_cast<uint32_t>(f);
    if (!VantorStreamIsOpen(h))
        throw failure(E_INVALIDARG, "The value given is not an open world-file stream.");
    return h;
}

// Formats in the classic locale whatever the process locale is.
std::string format_classic(const char* format, double value) {
    locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    locale_t old = c ? uselocale(c) : nullptr;
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, value);
    if (c) {
        uselocale(old);
        freelocale(c);
    }
    return buffer;
}

}  // namespace

RecordWriter::RecordWriter(LONG f) : stream_(checked(f)) {}

void RecordWriter::line(const std::string& text) { VantorStreamWrite(stream_, text.c_str()); }

void RecordWriter::real(float value) { line(format_classic("%f\n", static_cast<double>(value))); }

void RecordWriter::number(DWORD value) { line(std::to_string(value) + "\n"); }

void RecordWriter::text(BSTR value) { line((value ? text::utf8(value) : std::string("(null)")) + "\n"); }

void RecordWriter::name(const std::u16string& value, bool set) {
    line((set ? text::utf8(value.data(), value.size()) : std::string("(null)")) + "\n");
}

bool RecordReader::at_end() const { return VantorStreamAtEnd(stream_) != FALSE; }

RecordReader::RecordReader(LONG f) : stream_(checked(f)) {}

std::string RecordReader::line() {
    std::string text;
    if (!stream::read_line(stream_, text)) text.clear();
    return text;
}

float RecordReader::real() { return static_cast<float>(classic_atof(line())); }

LONG RecordReader::integer() { return classic_atoi(line()); }

double classic_atof(const std::string& text) {
    locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    locale_t old = c ? uselocale(c) : nullptr;
    double v = std::strtod(text.c_str(), nullptr);
    if (c) {
        uselocale(old);
        freelocale(c);
    }
    return v;
}

LONG classic_atoi(const std::string& text) {
    // atoi: white space, an optional sign, digits; accumulates in 32 bits and wraps around.
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = v * 10u + static_cast<uint32_t>(text[i] - '0');
    if (negative) v = 0u - v;
    return static_cast<LONG>(v);
}

}  // namespace vantor
