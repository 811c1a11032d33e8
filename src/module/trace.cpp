#include "module/trace.h"

#include <vantor/debug.h>

#include <cstdarg>
#include <cstdio>

namespace vantor {

namespace {
void write(const char* format, va_list args) {
    if (!DebugOutputHasListener()) return;
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, args);  // cuts at 511 characters
    OutputDebugStringA(buffer);
}
}  // namespace

void Trace(DWORD category, DWORD level, const char* format, ...) {
    if (category == 0 || level != 0) return;
    va_list args;
    va_start(args, format);
    write(format, args);
    va_end(args);
}

void trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write(format, args);
    va_end(args);
}

void direct(const char* literal) {
    if (DebugOutputHasListener()) OutputDebugStringA(literal);
}

}  // namespace vantor
