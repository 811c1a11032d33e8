// module/strings.h — the string table (resource STRINGTABLE of the component).
//
//   throw failure(E_OUTOFMEMORY, kStringOutOfMemory);   // "Out of Memory."
//   std::string text = load_string(kStringUnknownError);
#pragma once

#include <vantor/types.h>

#include <string>

namespace vantor {

enum : unsigned {
    kStringProductName = 100,
    kStringOutOfMemory = 101,
    kStringInvalidParameter = 102,
    kStringInvalidObject = 103,
    kStringUnknownError = 104,
    kStringUnsupported = 105,
    kStringSettingLightFailed = 138,
    kStringLightNotInViewport = 139,
    kStringNoFilename = 155,
    kStringFogUnavailable = 156,
    kStringNoDirectDraw = 157,
    kStringD3DXInitFailed = 158,
};

// Every (id, text) pair of the table, for registration as the module's resources.
struct StringEntry {
    unsigned id;
    const char* text;
};
const StringEntry* string_table(size_t* count);

// The text of a string id from this component's resources ("" when it does not load).
std::string load_string(unsigned id);

}  // namespace vantor
