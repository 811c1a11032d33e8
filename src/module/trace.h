// module/trace.h — progress lines on the debugger output.
//
//   trace("Setting Shade Mode --> ");             // an action line, completed later by
//   trace("Failed. (Error Code=%x).\n", hr);      // exactly one completion
//   direct("VTR: (ERROR) SimpleObject Draw --> "); // fixed literal, straight to the output
//
// Trace(category, level, ...) writes only for a non-zero category at level 0, formats into a
// 512-character buffer (longer results are cut to 511 characters) and adds nothing: no prefix,
// no time stamp, no line break. With no debug-output listener nothing is formatted at all.
#pragma once

#include <vantor/types.h>

namespace vantor {

constexpr DWORD kTraceCategory = 0x20;  // every trace of the engine

void Trace(DWORD category, DWORD level, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Trace(kTraceCategory, 0, ...)
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The direct channel: a fixed literal written unformatted.
void direct(const char* literal);

}  // namespace vantor
