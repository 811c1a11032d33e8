// collections/collection.h — the store, lookup and enumeration every collection class shares.
//
//   class CCameras final : public Collection<CCameras, ICameras, ICamera> {
//       HRESULT get_Add(BSTR name, IDispatch** out) override {
//           return add(out, CLSID_Camera, "Camera Not Registered.", name,
//                      [&] { if (!device_) throw failure(E_POINTER, "Device Not Initialised."); },
//                      [&](ICamera* camera) { camera->put_Device(device_); camera->put_Name(name); });
//       }
//   };
//
// Entries are kept in descending order of their keys compared code unit by code unit (unsigned
// 16-bit, case-sensitive, no locale; a prefix sorts after the longer name; a null key is the
// empty string and sorts last). Numeric positions (VT_I4, VT_I2) count from 1 in that order;
// a VT_BSTR index is a key; anything else (VT_BYREF forms included) matches nothing. Item and
// Remove answer E_INVALIDARG without error information when nothing matches. _NewEnum hands out
// an enumerator over a snapshot that later changes do not affect.
#pragma once

#include <vantor/com_ptr.h>
#include "module/create.h"
#include "module/object.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vantor {

// An IEnumVARIANT over its own copies of the VARIANTs it was given.
IEnumVARIANT* make_enumerator(std::vector<VARIANT>&& items);  // takes the VARIANTs; one reference

template <class Element>
class Store {
public:
    using Map = std::map<std::u16string, ComPtr<Element>, std::greater<std::u16string>>;

    LONG count() const { return static_cast<LONG>(entries_.size()); }

    // Stores under `key` (a copy), replacing and releasing any element stored there.
    void put(BSTR key, ComPtr<Element> element) { put(std::u16string(key ? key : u"", SysStringLen(key)), std::move(element)); }
    void put(const std::u16string& key, ComPtr<Element> element) { entries_[key] = std::move(element); }

    typename Map::iterator find(const VARIANT& index) {
        if (index.vt == VT_I4 || index.vt == VT_I2) {
            LONG position = index.vt == VT_I4 ? index.lVal : static_cast<LONG>(index.iVal);
            if (position < 1 || position > count()) return entries_.end();
            auto it = entries_.begin();
            std::advance(it, position - 1);
            return it;
        }
        if (index.vt == VT_BSTR) return entries_.find(std::u16string(index.bstrVal ? index.bstrVal : u"", SysStringLen(index.bstrVal)));
        return entries_.end();
    }

    HRESULT item(const VARIANT& index, VARIANT* out) {
        auto it = find(index);
        if (it == entries_.end() || !out) return E_INVALIDARG;
        IDispatch* d = nullptr;
        HRESULT hr = it->second->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
        if (FAILED(hr)) return hr;
        VariantClear(out);
        out->vt = VT_DISPATCH;
        out->pdispVal = d;
        return hr;
    }

    HRESULT remove(const VARIANT& index) {
        auto it = find(index);
        if (it == entries_.end()) return E_INVALIDARG;
        entries_.erase(it);
        return S_OK;
    }

    void clear() { entries_.clear(); }

    HRESULT new_enum(IUnknown** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::vector<VARIANT> items;
        items.reserve(entries_.size());
        for (auto& [key, element] : entries_) {
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(element->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal)))) v.vt = VT_DISPATCH;
            items.push_back(v);
        }
        IEnumVARIANT* e = make_enumerator(std::move(items));
        if (!e) return E_OUTOFMEMORY;
        HRESULT hr = e->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
        e->Release();
        return hr;
    }

    typename Map::iterator begin() { return entries_.begin(); }
    typename Map::iterator end() { return entries_.end(); }

private:
    Map entries_;
};

// The members every collection answers the same way. Each is used only where the collection's
// interface declares it (these are not `override`s, so a collection without `Clear` simply has none).
template <class Derived, class Interface, class Element>
class Collection : public CoClass<Derived, Interface> {
public:
    HRESULT get_Count(LONG* count) {
        if (!count) return E_POINTER;
        *count = store_.count();
        return S_OK;
    }
    HRESULT Item(VARIANT index, VARIANT* item) { return store_.item(index, item); }
    HRESULT get__NewEnum(IUnknown** out) { return store_.new_enum(out); }
    HRESULT Remove(VARIANT index) { return store_.remove(index); }
    HRESULT Clear() {
        store_.clear();
        return S_OK;
    }
    HRESULT put_Device(LONG device) {
        device_ = device;
        return S_OK;
    }
    HRESULT put_Direct3D(LONG direct3d) {
        direct3d_ = direct3d;
        return S_OK;
    }

protected:
    // The Add skeleton: output cleared; `check()` runs the collection's preconditions (throwing
    // failure); the element is created through the registry (E_FAIL with `not_registered` when
    // it cannot be); `prepare` may set it up before it is stored (a throw there stores nothing);
    // it is stored under `key`; `configure` sets it up through its own interface (results
    // ignored); then its IDispatch is the output and that query's result the method's.
    template <class Check, class Prepare, class Configure>
    HRESULT add(IDispatch** out, REFCLSID clsid, const char* not_registered, const std::u16string& key, Check&& check,
                Prepare&& prepare, Configure&& configure) {
        if (out) *out = nullptr;
        return this->guard([&] {
            check();
            ComPtr<Element> element = adopt(CreateRegisteredObject<Element>(clsid));
            if (!element) throw failure(E_FAIL, not_registered);
            prepare(element.get());
            store_.put(key, element);
            configure(element.get());
            if (!out) return E_POINTER;
            return element.query(out);
        });
    }
    template <class Check, class Configure>
    HRESULT add(IDispatch** out, REFCLSID clsid, const char* not_registered, const std::u16string& key, Check&& check,
                Configure&& configure) {
        return add(out, clsid, not_registered, key, std::forward<Check>(check), [](Element*) {},
                   std::forward<Configure>(configure));
    }

    static std::u16string key_of(BSTR name) { return std::u16string(name ? name : u"", SysStringLen(name)); }

    Store<Element> store_;
    LONG device_ = 0;
    LONG direct3d_ = 0;
};

}  // namespace vantor
