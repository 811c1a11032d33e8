// module/com_ptr.h — a counted reference to a COM interface.
//
//   ComPtr<IColour> colour = CreateRegisteredObject<IColour>(CLSID_Colour);  // takes ownership
//   colour->put_Red(1.0f);
//   IDispatch* out; colour.query(&out);   // a new reference for a caller
//   colour.reset();                         // releases
#pragma once

#include <vantor/com.h>

#include <utility>

namespace vantor {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : p_(p) {}  // takes ownership of the caller's reference
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Shares a reference held elsewhere (adds one).
    static ComPtr share(T* p) {
        if (p) p->AddRef();
        return ComPtr(p);
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* detach() { return std::exchange(p_, nullptr); }
    // For out-parameters: releases the current reference and exposes the slot.
    T** put() {
        reset();
        return &p_;
    }
    // A new reference of another interface of the same object.
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

}  // namespace vantor
