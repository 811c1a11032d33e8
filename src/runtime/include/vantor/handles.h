// vantor/handles.h — 32-bit handles in place of addresses.
//
// Objects that the engine passes between classes as 32-bit integers (windows, bitmaps,
// world-file streams, GUID blocks, and the back end's devices and surfaces) are entered in one
// process-wide table. A handle is a positive 32-bit id carrying a slot and a generation; the
// table holds weak references, so a handle whose object is gone resolves to nothing, and a
// handle value is never issued twice:
//
//   uint32_t h = HandleCreate(kHandleStream, stream);   // the owner keeps the object alive
//   auto* s = static_cast<Stream*>(HandleResolve(h, kHandleStream));  // nullptr if not live
//   HandleClose(h);                                      // from the owner's destructor
#pragma once

#include <vantor/types.h>

// Handle types. A handle resolves only when asked for with the type it was created with. The
// runtime names the types of its own objects; the layers above define theirs from
// kHandleFirstComponentType up (the back end's interfaces, for instance, in its own header).
enum : uint16_t {
    kHandleNone = 0,
    kHandleWindow = 1,
    kHandleModule = 2,
    kHandleBitmap = 3,
    kHandleDC = 4,
    kHandleStream = 5,          // world-file text stream
    kHandleGuid = 6,            // a 16-byte GUID block
    kHandleFirstComponentType = 16,
};

extern "C" {
// A new handle for `object` (non-null), or 0 when the table is full.
VANTOR_API uint32_t HandleCreate(uint16_t type, void* object);
// The object behind `h` if it is live and of `type`; nullptr otherwise (never a stale object).
VANTOR_API void* HandleResolve(uint32_t h, uint16_t type);
// The live handle of `object` with `type`, or 0 when it has none.
VANTOR_API uint32_t HandleOf(uint16_t type, const void* object);
// The type of a live handle, kHandleNone otherwise.
VANTOR_API uint16_t HandleTypeOf(uint32_t h);
// Ends the handle; later resolves of it give nullptr. Unknown or stale handles are ignored.
VANTOR_API void HandleClose(uint32_t h);
// Number of live handles (for leak checks in tests).
VANTOR_API uint32_t HandleCount();
}
