// module/object.h — what every class of the component is built from.
//
//   class CColour final : public CoClass<CColour, IColour> {
//   public:
//       static constexpr const CLSID& kClsid = CLSID_Colour;
//       HRESULT get_Red(FLOAT* v) override { *v = red_; return S_OK; }
//       HRESULT Save(LONG f) override {
//           return guard([&] {
//               ...                              // throw failure(...) on a failed check
//               return S_OK;
//           });
//       }
//   };
//   // enters the class table generated from the IDL's co-classes:
//   template <> HRESULT create_class<IColour>(IUnknown* o, REFIID r, void** p) { return CColour::create(o, r, p); }
//
// CoClass gives: reference counting with aggregation (an inner, non-delegating unknown and a
// delegating outer identity), the lock count (one per live object), IDispatch answered from the
// type library, ISupportErrorInfo (S_OK for the class's own interface only), and a connection-
// point container without connection points. guard() is the method skeleton: a thrown
// `failure` is reported with the class's and interface's identifiers; anything else becomes
// E_FAIL "Exception Raised.". child() hands out a child; the rest of the kit is in module/kit.h.
#pragma once

#include "module/failure.h"
#include "module/kit.h"
#include "module/module.h"

#include <new>

namespace vantor {

template <class Derived, class Interface>
class CoClass : public Interface, public ISupportErrorInfo, public IConnectionPointContainer {
public:
    // ---- IUnknown: delegates to the outer object when aggregated ----
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return outer_ ? outer_->QueryInterface(riid, ppv) : inner_query(riid, ppv);
    }
    ULONG AddRef() override { return outer_ ? outer_->AddRef() : inner_addref(); }
    ULONG Release() override { return outer_ ? outer_->Release() : inner_release(); }

    // ---- IDispatch, from the type library ----
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_INVALIDARG;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        ITypeInfo* info = type_info();
        if (!info) return TYPE_E_ELEMENTNOTFOUND;
        info->AddRef();
        *out = info;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
        return DispGetIDsOfNames(type_info(), names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) override {
        if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
        return DispInvoke(static_cast<Interface*>(this), type_info(), id, flags, params, result, excep, argErr);
    }

    // ---- ISupportErrorInfo ----
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == __uuidof(Interface) ? S_OK : S_FALSE;
    }

    // ---- IConnectionPointContainer: the outgoing interface has no connection points ----
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override { return EmptyConnectionPoints::make(out); }
    HRESULT FindConnectionPoint(REFIID, IConnectionPoint** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return CONNECT_E_NOCONNECTION;
    }

    // ---- creation (used by the class factory) ----
    static HRESULT create(IUnknown* outer, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        Derived* object = new (std::nothrow) Derived;
        if (!object) return E_OUTOFMEMORY;
        CoClass* base = object;
        base->outer_ = outer;
        base->inner_addref();  // held during the final construction
        HRESULT hr = object->FinalConstruct();
        if (SUCCEEDED(hr)) hr = base->inner_query(riid, ppv);
        base->inner_release();  // destroys the object when construction failed
        return hr;
    }

    // The final-construction step; a class overrides it to build its children.
    HRESULT FinalConstruct() { return S_OK; }

protected:
    CoClass() {
        inner_.owner = this;
        module().lock();
    }
    ~CoClass() { module().unlock(); }

    static const CLSID& clsid() { return Derived::kClsid; }
    static const IID& iid() { return __uuidof(Interface); }

    // The method skeleton.
    template <class F>
    HRESULT guard(F&& body) {
        return guarded(clsid(), iid(), std::forward<F>(body));
    }
    // Plain properties, which cannot fail. A null out-pointer, which late binding never passes,
    // is refused rather than written through.
    template <class T, class V>
    static HRESULT get(const T& field, V* out) {
        if (!out) return E_POINTER;
        *out = static_cast<V>(field);
        return S_OK;
    }
    template <class T, class V>
    static HRESULT set(T& field, V value) {
        field = static_cast<T>(value);
        return S_OK;
    }

    // A child getter: the child's IDispatch as a new reference; `rule` says what a missing child
    // (and a null out-pointer) answers.
    template <class T>
    HRESULT child(const ComPtr<T>& c, IDispatch** out, const ChildRule& rule = ChildRule::refuse()) {
        return guard([&] {
            if (!out) {
                if (rule.null_out_text) throw failure(E_POINTER, rule.null_out_text);
                return E_POINTER;
            }
            *out = nullptr;
            if (!c) {
                switch (rule.missing) {
                    case ChildRule::Missing::empty: return S_OK;
                    case ChildRule::Missing::raise: throw missing_reference{};
                    case ChildRule::Missing::refuse: break;
                }
                if (rule.text) throw failure(E_POINTER, rule.text);
                return E_POINTER;
            }
            return c.query(out);
        });
    }

    // Reports a failure for this class without a method around it (construction).
    HRESULT report(const failure& f) { return f.Report(clsid(), iid()); }

    // The object's own IDispatch, as a new reference (for handing the object out).
    IDispatch* dispatch() {
        IDispatch* d = static_cast<Interface*>(this);
        d->AddRef();
        return d;
    }

private:
    static ITypeInfo* type_info() {
        static ITypeInfo* info = module().type_info(__uuidof(Interface));
        return info;
    }

    HRESULT inner_query(REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = outer_ ? static_cast<IUnknown*>(&inner_) : static_cast<IUnknown*>(static_cast<Interface*>(this));
        } else if (riid == IID_IDispatch || riid == __uuidof(Interface)) {
            *ppv = static_cast<Interface*>(this);
        } else if (riid == IID_ISupportErrorInfo) {
            *ppv = static_cast<ISupportErrorInfo*>(this);
        } else if (riid == IID_IConnectionPointContainer) {
            *ppv = static_cast<IConnectionPointContainer*>(this);
        } else {
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }
    ULONG inner_addref() { return ++refs_; }
    ULONG inner_release() {
        ULONG n = --refs_;
        if (n == 0) delete static_cast<Derived*>(this);
        return n;
    }

    // The non-delegating unknown an aggregating outer object holds.
    struct Inner final : IUnknown {
        CoClass* owner = nullptr;
        HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner->inner_query(riid, ppv); }
        ULONG AddRef() override { return owner->inner_addref(); }
        ULONG Release() override { return owner->inner_release(); }
    };

    ULONG refs_ = 0;
    IUnknown* outer_ = nullptr;
    Inner inner_;
};

}  // namespace vantor
