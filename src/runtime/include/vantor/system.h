// vantor/system.h — timer, modules, resources and system message texts.
//
//   DWORD t = timeGetTime();                          // milliseconds, CLOCK_MONOTONIC, wraps at 2^32
//   HMODULE dd = LoadLibraryA("ddraw.dll");           // built-in libraries by name, or a real path
//   auto create = (DirectDrawCreateExFn)GetProcAddress(dd, "DirectDrawCreateEx");
//   char text[512];
//   FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, E_POINTER,
//                  0, text, sizeof text, nullptr);    // "Invalid pointer\n"
//   LoadStringA(module, 101, text, sizeof text);      // from the module's string resources
#pragma once

#include <vantor/types.h>

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

struct VantorExport {
    const char* name;
    void* proc;
};

extern "C" {
VANTOR_API DWORD timeGetTime();

// Libraries. Built-in names ("ddraw.dll", "oleaut32.dll") map to exports registered by the
// component that provides them; other names are paths loaded with dlopen. NULL and
// GetLastError() == ERROR_MOD_NOT_FOUND when a library cannot be had.
VANTOR_API HMODULE LoadLibraryA(LPCSTR name);
VANTOR_API void* GetProcAddress(HMODULE module, LPCSTR name);
VANTOR_API BOOL FreeLibrary(HMODULE module);
// NULL gives the host program's own module (whose resources a host fills, e.g. bitmaps).
VANTOR_API HMODULE GetModuleHandleA(LPCSTR name);
VANTOR_API DWORD GetLastError();
VANTOR_API void SetLastError(DWORD code);
VANTOR_API BOOL VantorRegisterBuiltinLibrary(LPCSTR name, const VantorExport* exports, size_t count);
// Tests: make a built-in library name unavailable (LoadLibraryA then fails) or available again.
VANTOR_API void VantorSetLibraryAvailable(LPCSTR name, BOOL available);

// The module handle of the shared library that contains `address` (registered on first use).
VANTOR_API HMODULE VantorModuleFromAddress(const void* address);
// Full path of a module's file ("" for the host program).
VANTOR_API DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// Resources: (type, name) -> bytes. Names are strings; numeric ids are written "#101".
// The data is copied unless `borrowed` is TRUE (then it must outlive the module).
VANTOR_API BOOL VantorAddResource(HMODULE module, LPCSTR type, LPCSTR name, const void* data,
                                  size_t size, BOOL borrowed);
VANTOR_API BOOL VantorRemoveResource(HMODULE module, LPCSTR type, LPCSTR name);
VANTOR_API BOOL VantorFindResource(HMODULE module, LPCSTR type, LPCSTR name, const void** data,
                                   size_t* size);

// The text of string resource `id` ("STRING", "#id") copied into buffer; 0 when it is missing.
VANTOR_API INT LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, INT bufferMax);
// System texts for HRESULTs (short English sentences ending in "\n"); 0 when there is none,
// as for every code of facilities 0x876 and 0x877.
VANTOR_API DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                LPSTR buffer, DWORD size, void* arguments);
}
