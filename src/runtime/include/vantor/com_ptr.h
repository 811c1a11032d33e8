// vantor/com_ptr.h — the one counted reference to a COM object, for the engine, the back ends,
// the hosts and the tests.
//
//   ComPtr<IColour> colour = adopt(CreateRegisteredObject<IColour>(CLSID_Colour));  // creation reference
//   ComPtr<Surface> target = share(surface);   // a reference held elsewhere: adds one
//   device->GetRenderTarget(target.put());     // out-parameters fill the slot (adopted)
//   target.copy_to(&out);                      // hands a new reference to a caller
//   IDispatch* d; colour.query(&d);            // another interface of the object, counted
//
// A raw pointer never becomes a ComPtr silently: `adopt` takes over a reference the caller
// owns (what creation and out-parameters give), `share` adds a reference of its own. T is an
// interface or an implementation class with COM's AddRef and Release.
#pragma once

#include <vantor/com.h>

#include <cstddef>
#include <utility>

namespace vantor {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already owns.
    static ComPtr adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    // Shares a reference held elsewhere (adds one).
    static ComPtr share(T* p) {
        if (p) p->AddRef();
        return adopt(p);
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool operator==(const T* p) const { return p_ == p; }
    // Releases the reference (if any).
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // Gives up the reference without releasing it; the caller owns it.
    T* detach() { return std::exchange(p_, nullptr); }
    // For out-parameters: releases the current reference and exposes the slot.
    T** put() {
        reset();
        return &p_;
    }
    // put() for calls that fill a void** (QueryInterface, GetDDInterface).
    void** put_void() { return reinterpret_cast<void**>(put()); }
    // Hands a new reference out through an out-parameter (null when empty).
    template <class I>
    void copy_to(I** out) const {
        if (p_) p_->AddRef();
        *out = p_;
    }
    // A new reference of another interface of the same object: E_POINTER for a null `out`
    // or an empty pointer, else what QueryInterface answers.
    template <class U>
    HRESULT query(U** out) const {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!p_) return E_POINTER;
        return p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out));
    }

private:
    T* p_ = nullptr;
};

// Takes over a reference the caller owns: `adopt(new Surface(...))`, `adopt(Create...())`.
template <class T>
ComPtr<T> adopt(T* p) {
    return ComPtr<T>::adopt(p);
}

// Adds a reference of its own to an object someone else holds.
template <class T>
ComPtr<T> share(T* p) {
    return ComPtr<T>::share(p);
}

}  // namespace vantor
