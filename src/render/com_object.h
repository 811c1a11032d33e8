// What every object of the OpenGL back end shares: counted pointers (vantor/com_ptr.h), the
// one-interface object template (vantor::SingleInterface in vantor/com.h), handle entries and
// the private interface ids that tell our objects from others.
//
//   class Palette final : public SingleInterface<IDirectDrawPalette, &IID_VantorRenderPalette> { ... };
//   ComPtr<Palette> p = adopt(new Palette(...));   // takes the creation reference
//   Palette* mine = implementation_of<Palette>(caller_pointer, IID_VantorRenderPalette);
#pragma once

#include <vantor/backend/backend.h>
#include <vantor/com_ptr.h>

#include <atomic>
#include <utility>

namespace vantor::render {

// The count of an object with more than one interface (DirectDraw is also Direct3D). COM
// interfaces have no virtual destructor, so the count and the virtual destructor live in a
// second base beside the interfaces, and VANTOR_RENDER_REFCOUNT answers AddRef and Release
// of every interface with it.
class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    ULONG add_ref() { return ++refs_; }
    ULONG release() {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~RefCounted() = default;

private:
    std::atomic<ULONG> refs_{1};
};

#define VANTOR_RENDER_REFCOUNT                        \
    ULONG AddRef() override { return add_ref(); }     \
    ULONG Release() override { return release(); }

// The handle-table entry of one interface of an object: entered at construction, closed at
// destruction, so a handle of a released object resolves to nothing.
class HandleEntry {
public:
    HandleEntry() = default;
    template <class I>
    explicit HandleEntry(I* iface) : h_(vantor::backend::enter_handle(iface)) {}
    HandleEntry(const HandleEntry&) = delete;
    HandleEntry& operator=(const HandleEntry&) = delete;
    ~HandleEntry() {
        if (h_) HandleClose(h_);
    }
    uint32_t value() const { return h_; }

private:
    uint32_t h_ = 0;
};

// Private interface ids. QueryInterface with one of them answers the implementation object
// itself, uncounted, so that a pointer handed in by a caller is known to be ours before it is
// used (another back end's surface gives E_NOINTERFACE and is refused).
inline constexpr IID IID_VantorRenderSurface = {0x5A0E6D11, 0x7C2B, 0x4E51, {0x9A, 0x10, 0x3B, 0x64, 0x21, 0xC7, 0x00, 0x01}};
inline constexpr IID IID_VantorRenderDirectDraw = {0x5A0E6D11, 0x7C2B, 0x4E51, {0x9A, 0x10, 0x3B, 0x64, 0x21, 0xC7, 0x00, 0x02}};
inline constexpr IID IID_VantorRenderPalette = {0x5A0E6D11, 0x7C2B, 0x4E51, {0x9A, 0x10, 0x3B, 0x64, 0x21, 0xC7, 0x00, 0x03}};
inline constexpr IID IID_VantorRenderVertexBuffer = {0x5A0E6D11, 0x7C2B, 0x4E51, {0x9A, 0x10, 0x3B, 0x64, 0x21, 0xC7, 0x00, 0x04}};
inline constexpr IID IID_VantorRenderDevice = {0x5A0E6D11, 0x7C2B, 0x4E51, {0x9A, 0x10, 0x3B, 0x64, 0x21, 0xC7, 0x00, 0x05}};

// The implementation behind an interface pointer, nullptr when it is not one of ours. The
// private id answers the object's `interface_type` pointer, which is cast back to `Impl`.
template <class Impl, class I>
Impl* implementation_of(I* iface, REFIID private_iid) {
    if (!iface) return nullptr;
    void* p = nullptr;
    if (iface->QueryInterface(private_iid, &p) != S_OK) return nullptr;
    return static_cast<Impl*>(static_cast<typename Impl::interface_type*>(p));
}

// Clears an out-parameter before the checks, as every method here does.
template <class T>
inline void clear_out(T** out) {
    if (out) *out = nullptr;
}

}  // namespace vantor::render
