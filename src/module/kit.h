// module/kit.h — the small pieces every engine class is built from, beside CoClass.
//
//   class CFog final : public CoClass<CFog, IFog> {
//       HRESULT FinalConstruct() {
//           guard([&] { colour_ = create_child<IColour>(CLSID_Colour, "Colour Not Registered."); ... });
//           return S_OK;
//       }
//       HRESULT put_Device(LONG v) override { return device_.put(v); }
//       HRESULT get_Colour(IDispatch** out) override { return child(colour_, out); }
//       HRESULT put_Enabled(VARIANT_BOOL v) override {
//           return guard([&] {
//               return set_state(device_.require(), D3DRENDERSTATE_FOGENABLE, v ? 1 : 0,
//                                {nullptr, "Failed to Set Fog Enabled Status."});
//           });
//       }
//       DeviceLink device_;
//       ComPtr<IColour> colour_;
//   };
//
// Sections: required references and checked results; text; children; the device link; render
// states; colours and positions.
#pragma once

#include <vantor/com_ptr.h>
#include "module/create.h"
#include "module/failure.h"
#include "module/results.h"
#include "module/trace.h"

#include <vantor/backend/backend.h>
#include <vantor/vantor.h>

#include <string>

namespace vantor {

// ---- required references and checked results ------------------------------------------------

// p, or a thrown failure(E_POINTER, text) when it is null.
template <class T>
T* require(T* p, const char* text) {
    if (!p) throw failure(E_POINTER, text);
    return p;
}

// The "trace, then throw" step after a back-end call: a failed hr is traced with `trace_format`
// (one %x for the result; nullptr traces nothing) and thrown with `text` (a literal, a string
// id or a reporting Site). A success is returned unchanged.
struct Check {
    const char* trace_format;
    const char* text = nullptr;
    unsigned id = 0;
    Site site{};
    enum class Kind { literal, id, site } kind = Kind::literal;

    Check(const char* trace_format, const char* text) : trace_format(trace_format), text(text) {}
    Check(const char* trace_format, unsigned id) : trace_format(trace_format), id(id), kind(Kind::id) {}
    Check(const char* trace_format, Site site) : trace_format(trace_format), site(site), kind(Kind::site) {}
};

inline HRESULT check(HRESULT hr, const Check& c) {
    if (SUCCEEDED(hr)) return hr;
    if (c.trace_format) trace(c.trace_format, static_cast<unsigned>(hr));
    switch (c.kind) {
        case Check::Kind::id:
            throw failure(hr, c.id);
        case Check::Kind::site:
            throw backend_failure(hr, c.site);
        case Check::Kind::literal:
            break;
    }
    throw failure(hr, c.text);
}
template <class Text>
HRESULT check(HRESULT hr, const char* trace_format, Text text) {
    return check(hr, Check(trace_format, text));
}

// ---- text ---------------------------------------------------------------------------------

// A BSTR's characters (a null BSTR is the empty string).
inline std::u16string u16(BSTR s) {
    return std::u16string(s ? s : u"", SysStringLen(s));
}

// A string property's get: a new BSTR for the caller (E_POINTER, E_OUTOFMEMORY).
inline HRESULT get_text(const std::u16string& s, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}
// A string property's put: the characters are copied; S_OK.
inline HRESULT put_text(std::u16string& s, BSTR v) {
    s = u16(v);
    return S_OK;
}

// ---- children -----------------------------------------------------------------------------

// A child of class `clsid` created through the registry; a class that cannot be created throws
// failure(E_FAIL, not_registered) (after CreateRegisteredObject's own debugger line).
template <class I>
ComPtr<I> create_child(REFCLSID clsid, const char* not_registered) {
    ComPtr<I> p = adopt(CreateRegisteredObject<I>(clsid));
    if (!p) throw failure(E_FAIL, not_registered);
    return p;
}

// The child `owner` hands out through `getter`, as interface I; null when it has none.
template <class I, class Owner>
ComPtr<I> child_of(Owner* owner, HRESULT (Owner::*getter)(IDispatch**)) {
    ComPtr<IDispatch> d;
    ComPtr<I> p;
    if (SUCCEEDED((owner->*getter)(d.put())) && d) d.query(p.put());
    return p;
}

// What a child getter answers when the child is missing (CoClass::child).
struct ChildRule {
    enum class Missing {
        refuse,  // E_POINTER: with `text` reported, or without error information when text is null
        empty,   // S_OK and a null reference
        raise,   // the general exception path: E_FAIL "Exception Raised."
    };
    Missing missing = Missing::refuse;
    const char* text = nullptr;
    // A null out-pointer: E_POINTER, reported with this text when given.
    const char* null_out_text = nullptr;

    static ChildRule refuse(const char* text = nullptr) { return {Missing::refuse, text, nullptr}; }
    static ChildRule empty() { return {Missing::empty, nullptr, nullptr}; }
    static ChildRule raise(const char* null_out_text) { return {Missing::raise, nullptr, null_out_text}; }
};

// ---- the device link ----------------------------------------------------------------------

// The Direct3D device a child was bound to (put Device carries its handle). A stale or unset
// handle resolves to null.
class DeviceLink {
public:
    HRESULT put(LONG handle) {
        handle_ = handle;
        return S_OK;
    }
    LONG handle() const { return handle_; }
    IDirect3DDevice7* get() const {
        return backend::from_handle<IDirect3DDevice7>(static_cast<uint32_t>(handle_));
    }
    // The device, or a thrown failure(E_POINTER, text).
    IDirect3DDevice7* require(const char* text = "Device Not Initialised.") const {
        return vantor::require(get(), text);
    }

private:
    LONG handle_ = 0;
};

// ---- render states ------------------------------------------------------------------------

// A render state read from the device into *value. `action` (nullptr: none) is traced first and
// "Succeeded.\n" after a successful read; a failed read goes through check(). Returns the
// device's result.
inline HRESULT get_state(IDirect3DDevice7* d, D3DRENDERSTATETYPE state, DWORD* value, const Check& failed,
                         const char* action = nullptr) {
    if (action) trace("%s", action);
    *value = 0;
    HRESULT hr = check(d->GetRenderState(state, value), failed);
    if (action) trace("Succeeded.\n");
    return hr;
}

// A render state set on the device; a failed set goes through check(). Returns the device's result.
inline HRESULT set_state(IDirect3DDevice7* d, D3DRENDERSTATETYPE state, DWORD value, const Check& failed) {
    return check(d->SetRenderState(state, value), failed);
}

// A Boolean for a script: VARIANT_TRUE for any non-zero value.
inline VARIANT_BOOL variant_bool(DWORD v) {
    return v ? VARIANT_TRUE : VARIANT_FALSE;
}

// ---- colours and positions ----------------------------------------------------------------

void set_colour(IColour* c, float r, float g, float b, float a);
D3DCOLORVALUE read_colour(IColour* c);
void set_position(IPosition* p, float x, float y, float z);
D3DVECTOR read_position(IPosition* p);

// A colour packed as 0xAARRGGBB, each component times 255 truncated toward zero (as D3DRGBA
// does). Nothing is clamped or masked: a component outside 0 to 1 spills into its neighbours;
// beyond the 32-bit range (and NaN, as 0) a component saturates.
D3DCOLOR pack_colour(const D3DCOLORVALUE& c);

}  // namespace vantor
