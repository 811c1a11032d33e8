// Reference counting, counted pointers and handle entries shared by every object of the
// OpenGL back end.
//
//   class Palette : public IDirectDrawPalette, public RefCounted {
//       VANTOR_RENDER_REFCOUNT
//       ...
//   };
//   ComPtr<Palette> p = adopt(new Palette(...));   // takes the creation reference
//
// COM interfaces have no virtual destructor (their vtables keep the COM layout), so the count
// and the virtual destructor live in RefCounted, a second base beside the interfaces.
#pragma once

#include <vantor/backend/backend.h>

#include <atomic>
#include <utility>

namespace vantor::render {

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

// A counted reference to an implementation object (anything with add_ref/release).
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->add_ref();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->release();
    }
    // Takes over a reference the caller already owns.
    static ComPtr adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool operator==(const T* p) const { return p_ == p; }
    // Hands the reference out through an interface out-parameter (counted).
    template <class I>
    void copy_to(I** out) const {
        if (p_) p_->add_ref();
        *out = p_;
    }

private:
    T* p_ = nullptr;
};

template <class T>
ComPtr<T> adopt(T* p) {
    return ComPtr<T>::adopt(p);
}

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

// The implementation behind an interface pointer, nullptr when it is not one of ours.
template <class Impl, class I>
Impl* implementation_of(I* iface, REFIID private_iid) {
    if (!iface) return nullptr;
    void* p = nullptr;
    if (iface->QueryInterface(private_iid, &p) != S_OK) return nullptr;
    return static_cast<Impl*>(p);
}

// Clears an out-parameter before the checks, as every method here does.
template <class T>
inline void clear_out(T** out) {
    if (out) *out = nullptr;
}

}  // namespace vantor::render
