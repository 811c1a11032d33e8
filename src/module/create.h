// module/create.h — the one way owners create children and collections create elements.
//
//   ComPtr<IColour> colour = adopt(CreateRegisteredObject<IColour>(CLSID_Colour));
//   if (!colour) throw failure(E_FAIL, "Colour Not Registered.");
//
// Creates the class through the registry as an in-process server (so a class whose registry
// key is missing really cannot be created) and asks for the interface. On failure it writes
// "CoCreateInstanceEx Failed. (No Interface).\n" (E_NOINTERFACE) or "CoCreateInstanceEx
// Failed.\n" straight to the debugger output and returns null; the caller owns the reference.
#pragma once

#include <vantor/com.h>

namespace vantor {

IUnknown* CreateRegisteredObject(REFCLSID clsid, REFIID iid);

template <class I>
I* CreateRegisteredObject(REFCLSID clsid) {
    return static_cast<I*>(CreateRegisteredObject(clsid, __uuidof(I)));
}

}  // namespace vantor
