// vantor/debug.h — the debugger output and its listeners.
//
//   int cookie = DebugOutputAddListener([](const char* s, void*) { fputs(s, stderr); }, nullptr);
//   OutputDebugStringA("Checking Registry.\n");
//   DebugOutputRemoveListener(cookie);
//
// $VANTOR_DEBUG_OUTPUT ("stderr" or a file path) adds a listener at start-up. With no listener,
// DebugOutputHasListener() is false and callers skip formatting altogether.
#pragma once

#include <vantor/types.h>

typedef void (*DebugOutputListener)(const char* text, void* context);

extern "C" {
VANTOR_API void OutputDebugStringA(LPCSTR text);
VANTOR_API int DebugOutputAddListener(DebugOutputListener listener, void* context);
VANTOR_API void DebugOutputRemoveListener(int cookie);
VANTOR_API BOOL DebugOutputHasListener();
}
