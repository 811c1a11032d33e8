// collections/collection.h — the store, lookup and enumeration every collection class shares.
//
//   class CCameras final : public Collection<CCameras, ICameras, ICamera> {
//       HRESULT get_Add(BSTR name, IDispatch** out) override {
//           return add(out, CLSID_Camera, "Camera Not Registered.", name,
//                      [&] { device_.require(); },
//                      [&](ICamera* camera) { camera->put_Device(device_.handle()); camera->put_Name(name); });
//       }
//   };
//
// Entries are kept in descending order of their keys compared code unit by code unit (unsigned
// 16-bit, case-sensitive, no locale; a prefix sorts after the longer name; a null key is the
// empty string and sorts last). Numeric positions (VT_I4, VT_I2) count from 1 in that order;
// a VT_BSTR index is a key; anything else (VT_BYREF forms included) matches nothing. Item and
// Remove answer E_INVALIDARG without error information when nothing matches. _NewEnum hands out
// an enumerator over a snapshot that later changes do not affect.
//
// Persistence is the core's too: a collection's Save writes its count and each element's record
// (`save_all`), its Load reads them back into new elements (`load_each`):
//
//   HRESULT Save(LONG f) override { return save_all(f, "Cameras"); }
//   HRESULT Load(LONG f) override {
//       return load_each(f, "Cameras", world::record_lines(world::Section::Cameras),
//                        [&] { HRESULT hr = get_Add(temp, &d); return element_of(hr, d); },  // null: skipped
//                        [&](ICamera* c) { return name_of(c); });    // the key it is kept under
//   }
#pragma once

#include <vantor/com_ptr.h>
#include "module/create.h"
#include "module/object.h"
#include "module/trace.h"
#include "world/record.h"

#include <functional>
#include <map>
#include <set>
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
    void put(BSTR key, ComPtr<Element> element) { put(u16(key), std::move(element)); }
    void put(const std::u16string& key, ComPtr<Element> element) { entries_[key] = std::move(element); }

    typename Map::iterator find(const VARIANT& index) {
        if (index.vt == VT_I4 || index.vt == VT_I2) {
            LONG position = index.vt == VT_I4 ? index.lVal : static_cast<LONG>(index.iVal);
            if (position < 1 || position > count()) return entries_.end();
            auto it = entries_.begin();
            std::advance(it, position - 1);
            return it;
        }
        if (index.vt == VT_BSTR) return entries_.find(u16(index.bstrVal));
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

    // Takes `element` out wherever it is stored; false when it is not.
    bool erase(const Element* element) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.get() == element) {
                entries_.erase(it);
                return true;
            }
        return false;
    }

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
    HRESULT put_Device(LONG device) { return device_.put(device); }
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

    static std::u16string key_of(BSTR name) { return u16(name); }

    // ---- persistence ----

    // Writes the count line, then each element's record in the collection's order. An element
    // that cannot write its record ends the section with that element's result and error.
    HRESULT save_all(LONG f, const char* plural) {
        return this->guard([&] {
            trace("Saving %s.\n", plural);
            RecordWriter out(f);
            out.number(static_cast<DWORD>(store_.count()));
            for (auto& [key, element] : store_) {
                HRESULT hr = element->Save(f);
                if (FAILED(hr)) return hr;
            }
            return S_OK;
        });
    }

    // Reads the count line, then that many records, each into a new element that `add_one`
    // makes through the collection's own adding member (a null element, one that could not be
    // added, has its `record_lines` lines skipped: loading goes on with the next record). Once
    // all are read, each loaded element is kept under `key_for(element)` (a later element under
    // the same key replaces an earlier one). The loaded elements replace the collection's contents
    // only when the whole section was read; otherwise the contents are as they were and the result
    // is the failure (the element's own, with its error information, when its record failed).
    // With `every_record_stays`, records whose keys fall together all stay (see distinct_keys).
    template <class AddOne, class KeyFor>
    HRESULT load_each(LONG f, const char* plural, size_t record_lines, AddOne&& add_one, KeyFor&& key_for,
                      bool every_record_stays = false) {
        return this->guard([&] {
            trace("Loading %s.\n", plural);
            RecordReader in(f);
            const std::string line = in.line();
            trace("Number of %s to Load: %s.\n", plural, line.c_str());
            const LONG count = in.count(line);
            Store<Element> previous;
            std::swap(previous, store_);  // the adding member fills an empty store, as after Clear
            std::vector<ComPtr<Element>> loaded;  // held here: an add under a key in use replaces the store's entry
            try {
                for (LONG i = 0; i < count; ++i) {
                    ComPtr<Element> element = add_one();
                    if (!element) {
                        in.skip(record_lines);
                        continue;
                    }
                    HRESULT hr = element->Load(f);
                    if (FAILED(hr)) {
                        store_ = std::move(previous);
                        return hr;
                    }
                    loaded.push_back(element);
                }
                std::vector<std::u16string> keys;
                for (ComPtr<Element>& element : loaded) keys.push_back(key_for(element.get()));
                if (every_record_stays) distinct_keys(keys);
                store_.clear();
                for (size_t i = 0; i < loaded.size(); ++i) store_.put(keys[i], loaded[i]);
            } catch (...) {
                store_ = std::move(previous);
                throw;
            }
            return S_OK;
        });
    }

    // Makes keys given in file order distinct. Of the records that share a key the last keeps it
    // and each earlier one gets it followed by " (n)", n counting down to 2 (zero-padded to one
    // width), so the stored order (descending keys) is the file's order and the same file always
    // gives the same keys. A made key that is taken already gets " (n)" once more.
    static void distinct_keys(std::vector<std::u16string>& keys) {
        std::map<std::u16string, size_t> total, seen;
        for (const std::u16string& key : keys) ++total[key];
        std::set<std::u16string> taken(keys.begin(), keys.end());
        for (std::u16string& key : keys) {
            const size_t group = total[key];
            const size_t n = group - seen[key]++;
            if (n == 1) continue;
            std::string digits = std::to_string(n);
            digits.insert(0, std::to_string(group).size() - digits.size(), '0');
            const std::u16string suffix = u" (" + std::u16string(digits.begin(), digits.end()) + u")";
            std::u16string made = key + suffix;
            while (taken.count(made)) made += suffix;
            taken.insert(made);
            key = std::move(made);
        }
    }

    // The element an adding member handed out (`added` is released), or null when it failed.
    // Call the adding member first: `element_of(get_Add(..., &added), added)` may read `added`
    // before the call has set it.
    static ComPtr<Element> element_of(HRESULT hr, IDispatch* added) {
        ComPtr<Element> element;
        if (SUCCEEDED(hr) && added) added->QueryInterface(__uuidof(Element), reinterpret_cast<void**>(element.put()));
        if (added) added->Release();
        return element;
    }

    Store<Element> store_;
    DeviceLink device_;
    LONG direct3d_ = 0;
};

}  // namespace vantor
