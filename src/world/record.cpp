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

// The C locale for numbers, made once; formatting and reading switch to it for the call only.
locale_t classic() {
    static locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    return c;
}

class ClassicNumbers {
public:
    ClassicNumbers() : old_(classic() ? uselocale(classic()) : nullptr) {}
    ~ClassicNumbers() {
        if (old_) uselocale(old_);
    }
    ClassicNumbers(const ClassicNumbers&) = delete;
    ClassicNumbers& operator=(const ClassicNumbers&) = delete;

private:
    locale_t old_;
};

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A name on one line: its line breaks become spaces.
std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

// A line quoted in a message: at most 40 bytes, control characters as '?'.
std::string quoted(std::string_view text) {
    std::string q(text.substr(0, 40));
    for (char& c : q)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text.size() > 40 ? q + "..." : q;
}

}  // namespace

bool parse_real(std::string_view text, float* value) {
    text = trimmed(text);
    if (text.empty() || text.size() > 512) return false;
    const std::string copy(text);
    ClassicNumbers numbers;
    char* end = nullptr;
    double v = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size()) return false;
    if (value) *value = static_cast<float>(v);
    return true;
}

bool parse_integer(std::string_view text, LONG* value) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFull) return false;
    }
    if (negative && v > 0x80000000ull) return false;
    const uint32_t bits = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    if (value) *value = static_cast<LONG>(bits);
    return true;
}

bool parse_count(std::string_view text, LONG* value) {
    LONG v = 0;
    std::string_view t = trimmed(text);
    if (t.empty() || t.front() == '-' || !parse_integer(t, &v) || v < 0) return false;
    if (value) *value = v;
    return true;
}

void throw_not_a_number(size_t number, std::string_view text, bool count) {
    std::string why = "Line " + std::to_string(number) + " of the world file ";
    LONG v = 0;
    if (count && parse_integer(text, &v) && v < 0 && trimmed(text).front() == '-')
        why += "holds the negative count " + quoted(trimmed(text)) + ".";
    else if (count)
        why += "is not a count: '" + quoted(text) + "'.";
    else
        why += "is not a number: '" + quoted(text) + "'.";
    throw failure(E_FAIL, why.c_str());
}

void throw_too_many(size_t number, LONG count) {
    const std::string why = "Line " + std::to_string(number) + " of the world file holds the count " + std::to_string(count) +
                            ", more than the " + std::to_string(kMaxRecords) + " records a collection may hold.";
    throw failure(E_FAIL, why.c_str());
}

void throw_cut_short(size_t number) {
    const std::string why = number == 1 ? std::string("Line 1 of the world file is missing: the file is empty.")
                                        : "Line " + std::to_string(number) + " of the world file is missing: the file ends inside a record.";
    throw failure(E_FAIL, why.c_str());
}

RecordWriter::RecordWriter(LONG f) : stream_(checked(f)) {}

void RecordWriter::line(std::string_view text) {
    if (!VantorStreamWriteBytes(stream_, text.data(), static_cast<DWORD>(text.size())))
        throw failure(E_FAIL, "The world file could not be written.");
}

void RecordWriter::real(float value) {
    char buffer[512];
    {
        ClassicNumbers numbers;
        std::snprintf(buffer, sizeof buffer, "%f\n", static_cast<double>(value));
    }
    line(buffer);
}

void RecordWriter::number(DWORD value) { line(std::to_string(value) + "\n"); }

void RecordWriter::text(BSTR value) { line((value ? one_line(text::utf8(value)) : std::string("(null)")) + "\n"); }

void RecordWriter::name(const std::u16string& value, bool set) {
    line((set ? one_line(text::utf8(value.data(), value.size())) : std::string("(null)")) + "\n");
}

RecordReader::RecordReader(LONG f) : stream_(checked(f)) {}

DWORD RecordReader::line_number() const { return VantorStreamLineNumber(stream_); }

std::string RecordReader::line() {
    std::string text;
    if (!stream::read_line(stream_, text)) throw_cut_short(line_number() + 1);
    return text;
}

std::string RecordReader::name() { return one_line(line()); }

void RecordReader::skip(size_t lines) {
    for (size_t i = 0; i < lines; ++i) line();
}

float RecordReader::real() {
    const std::string text = line();
    float v = 0.0f;
    if (!parse_real(text, &v)) throw_not_a_number(line_number(), text, false);
    return v;
}

LONG RecordReader::integer() {
    const std::string text = line();
    LONG v = 0;
    if (!parse_integer(text, &v)) throw_not_a_number(line_number(), text, false);
    return v;
}

LONG RecordReader::count(const std::string& text) {
    LONG v = 0;
    if (!parse_count(text, &v)) throw_not_a_number(line_number(), text, true);
    if (v > kMaxRecords) throw_too_many(line_number(), v);
    return v;
}

}  // namespace vantor
