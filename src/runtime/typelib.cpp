// ITypeLib / ITypeInfo over a static description, and the late-bound call path
// (DispGetIDsOfNames, DispInvoke) that every dual interface of a component uses.
#include <vantor/text.h>
#include <vantor/typedesc.h>

#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <vector>

using namespace vantor::typedesc;

namespace {

constexpr MEMBERID kEnumMemberBase = 0x40000000;

bool same_name(const char* a, const OLECHAR* b) {
    if (!a || !b) return false;
    size_t i = 0;
    for (; a[i] && b[i]; ++i) {
        OLECHAR x = static_cast<unsigned char>(a[i]), y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<OLECHAR>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<OLECHAR>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return !a[i] && !b[i];
}

BSTR bstr_or_null(const char* s) { return s ? vantor::text::bstr(s) : nullptr; }

// The type a parameter travels as: enumerations as VT_I4.
VARTYPE param_vt(const ParamDesc& p) { return p.enumIndex >= 0 ? static_cast<VARTYPE>(VT_I4) : p.vt; }

class TypeLib;

// One type (enumeration, interface or co-class) of a TypeLib. Its reference count is the
// library's: infos live exactly as long as their library, which owns them.
class TypeInfo final : public vantor::SingleInterface<ITypeInfo> {
public:
    TypeInfo(TypeLib* lib, UINT index) : lib_(lib), index_(index) {}

    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** out) override;
    HRESULT GetTypeComp(ITypeComp** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override;
    HRESULT GetVarDesc(UINT index, VARDESC** out) override;
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override;
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) override;
    HRESULT GetImplTypeFlags(UINT index, INT* out) override;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
    HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) override;
    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* context, BSTR* file) override;
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) override;
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT CreateInstance(IUnknown*, REFIID, void** out) override;
    HRESULT GetMops(MEMBERID, BSTR* out) override {
        if (out) *out = nullptr;
        return S_OK;
    }
    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
    void ReleaseFuncDesc(FUNCDESC* desc) override;
    void ReleaseVarDesc(VARDESC* desc) override;

private:
    const EnumDesc* as_enum() const;
    const InterfaceDesc* as_interface() const;
    const CoClassDesc* as_coclass() const;
    HRESULT invoke(const MemberDesc& m, void* instance, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr);

    TypeLib* lib_;
    UINT index_;
};

class TypeLib final : public vantor::SingleInterface<ITypeLib> {
public:
    explicit TypeLib(const TypeLibDesc* d) : desc(d) {
        UINT n = count();
        infos.reserve(n);
        for (UINT i = 0; i < n; ++i) infos.push_back(std::make_unique<TypeInfo>(this, i));
    }

    UINT GetTypeInfoCount() override { return count(); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** out) override {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        if (index >= count()) return TYPE_E_ELEMENTNOTFOUND;
        *out = infos[index].get();
        AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
        if (!kind) return E_INVALIDARG;
        if (index >= count()) return TYPE_E_ELEMENTNOTFOUND;
        *kind = kind_of(index);
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        for (UINT i = 0; i < count(); ++i) {
            if (guid_of(i) == guid) return GetTypeInfo(i, out);
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** out) override {
        if (!out) return E_INVALIDARG;
        auto* a = new (std::nothrow) TLIBATTR{desc->libid, 0, SYS_WIN64, desc->major, desc->minor, 0};
        *out = a;
        return a ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT GetTypeComp(ITypeComp** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* context, BSTR* file) override {
        if (index == -1) {
            if (name) *name = bstr_or_null(desc->name);
            if (doc) *doc = bstr_or_null(desc->help);
            if (context) *context = 0;
            if (file) *file = nullptr;
            return S_OK;
        }
        if (index < 0 || static_cast<UINT>(index) >= count()) return TYPE_E_ELEMENTNOTFOUND;
        return infos[index]->GetDocumentation(MEMBERID_NIL, name, doc, context, file);
    }
    HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override {
        if (!found || !name) return E_INVALIDARG;
        *found = FALSE;
        for (UINT i = 0; i < count() && !*found; ++i) {
            MEMBERID id;
            if (same_name(name_of(i), name) || SUCCEEDED(infos[i]->GetIDsOfNames(&name, 1, &id))) *found = TRUE;
        }
        return S_OK;
    }
    HRESULT FindName(LPOLESTR name, ULONG, ITypeInfo** infosOut, MEMBERID* ids, USHORT* found) override {
        if (!name || !found || !infosOut || !ids) return E_INVALIDARG;
        USHORT max = *found, n = 0;
        for (UINT i = 0; i < count() && n < max; ++i) {
            MEMBERID id = MEMBERID_NIL;
            if (same_name(name_of(i), name) || SUCCEEDED(infos[i]->GetIDsOfNames(&name, 1, &id))) {
                infosOut[n] = infos[i].get();
                AddRef();
                ids[n++] = id;
            }
        }
        *found = n;
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

    UINT count() const { return desc->enumCount + desc->interfaceCount + desc->coclassCount; }
    TYPEKIND kind_of(UINT i) const {
        if (i < desc->enumCount) return TKIND_ENUM;
        i -= desc->enumCount;
        if (i < desc->interfaceCount) return desc->interfaces[i].dispinterface ? TKIND_DISPATCH : TKIND_INTERFACE;
        return TKIND_COCLASS;
    }
    const GUID& guid_of(UINT i) const {
        if (i < desc->enumCount) return desc->enums[i].guid;
        i -= desc->enumCount;
        if (i < desc->interfaceCount) return desc->interfaces[i].iid;
        return desc->coclasses[i - desc->interfaceCount].clsid;
    }
    const char* name_of(UINT i) const {
        if (i < desc->enumCount) return desc->enums[i].name;
        i -= desc->enumCount;
        if (i < desc->interfaceCount) return desc->interfaces[i].name;
        return desc->coclasses[i - desc->interfaceCount].name;
    }

    const TypeLibDesc* desc;
    std::vector<std::unique_ptr<TypeInfo>> infos;
};

// ---- TypeInfo -------------------------------------------------------------------------------

ULONG TypeInfo::AddRef() { return lib_->AddRef(); }
ULONG TypeInfo::Release() { return lib_->Release(); }

const EnumDesc* TypeInfo::as_enum() const {
    return index_ < lib_->desc->enumCount ? &lib_->desc->enums[index_] : nullptr;
}
const InterfaceDesc* TypeInfo::as_interface() const {
    UINT i = index_ - lib_->desc->enumCount;
    return (index_ >= lib_->desc->enumCount && i < lib_->desc->interfaceCount) ? &lib_->desc->interfaces[i] : nullptr;
}
const CoClassDesc* TypeInfo::as_coclass() const {
    UINT first = lib_->desc->enumCount + lib_->desc->interfaceCount;
    return index_ >= first ? &lib_->desc->coclasses[index_ - first] : nullptr;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** out) {
    if (!out) return E_INVALIDARG;
    auto* a = new (std::nothrow) TYPEATTR{};
    if (!(*out = a)) return E_OUTOFMEMORY;
    a->guid = lib_->guid_of(index_);
    a->typekind = lib_->kind_of(index_);
    a->memidConstructor = a->memidDestructor = MEMBERID_NIL;
    a->wMajorVerNum = lib_->desc->major;
    a->wMinorVerNum = lib_->desc->minor;
    a->cbAlignment = 4;
    if (const EnumDesc* e = as_enum()) {
        a->cVars = e->count;
        a->cbSizeInstance = 4;
    } else if (const InterfaceDesc* i = as_interface()) {
        a->cFuncs = i->memberCount;
        a->cImplTypes = 1;
        a->wTypeFlags = i->typeFlags;
        a->cbSizeVft = static_cast<WORD>((7 + (i->dispinterface ? 0 : i->memberCount)) * sizeof(void*));
        a->cbSizeInstance = sizeof(void*);
    } else if (const CoClassDesc* c = as_coclass()) {
        a->cImplTypes = c->sourceInterface >= 0 ? 2 : 1;
        a->wTypeFlags = TYPEFLAG_FCANCREATE;
    }
    return S_OK;
}

// A FUNCDESC with its parameter descriptions in one allocation.
struct FuncDescBlock {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
    std::vector<TYPEDESC> pointees;   // VT_PTR targets, one per parameter
    std::vector<PARAMDESCEX> defaults;
};

void fill_type(const ParamDesc& p, HREFTYPE enumBase, TYPEDESC* td) {
    if (p.enumIndex >= 0) {
        td->vt = VT_USERDEFINED;
        td->hreftype = enumBase + static_cast<HREFTYPE>(p.enumIndex);
    } else {
        td->vt = p.vt;
        td->hreftype = 0;
    }
}

VARIANT default_value(const ParamDesc& p) {
    VARIANT v;
    VariantInit(&v);
    v.vt = p.defaultVt;
    switch (p.defaultVt) {
        case VT_I2: v.iVal = static_cast<SHORT>(p.defaultNum); break;
        case VT_I4: v.lVal = static_cast<LONG>(p.defaultNum); break;
        case VT_R4: v.fltVal = static_cast<FLOAT>(p.defaultNum); break;
        case VT_R8: v.dblVal = p.defaultNum; break;
        case VT_BOOL: v.boolVal = p.defaultNum != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
        case VT_BSTR: v.bstrVal = vantor::text::bstr(p.defaultStr ? p.defaultStr : ""); break;
        default: v.vt = VT_EMPTY; break;
    }
    return v;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const InterfaceDesc* itf = as_interface();
    if (!itf || index >= itf->memberCount) return TYPE_E_ELEMENTNOTFOUND;
    const MemberDesc& m = itf->members[index];
    auto* b = new (std::nothrow) FuncDescBlock;
    if (!b) return E_OUTOFMEMORY;
    b->params.resize(m.paramCount);
    b->pointees.resize(m.paramCount);
    b->defaults.resize(m.paramCount);
    SHORT optional = 0;
    for (UINT i = 0; i < m.paramCount; ++i) {
        const ParamDesc& p = m.params[i];
        ELEMDESC& e = b->params[i];
        e = ELEMDESC{};
        if (p.flags & PARAMFLAG_FOUT) {
            fill_type(p, 0, &b->pointees[i]);
            e.tdesc.vt = VT_PTR;
            e.tdesc.lptdesc = &b->pointees[i];
        } else {
            fill_type(p, 0, &e.tdesc);
        }
        e.paramdesc.wParamFlags = p.flags;
        if (p.flags & PARAMFLAG_FHASDEFAULT) {
            b->defaults[i].cBytes = sizeof(PARAMDESCEX);
            b->defaults[i].varDefaultValue = default_value(p);
            e.paramdesc.pparamdescex = &b->defaults[i];
        }
        if (p.flags & PARAMFLAG_FOPT) ++optional;
    }
    FUNCDESC& f = b->desc;
    f.memid = m.id;
    f.lprgelemdescParam = m.paramCount ? b->params.data() : nullptr;
    f.funckind = FUNC_PUREVIRTUAL;
    f.invkind = m.kind;
    f.callconv = CC_STDCALL;
    f.cParams = static_cast<SHORT>(m.paramCount);
    f.cParamsOpt = 0;  // optional parameters are flagged individually (PARAMFLAG_FOPT)
    (void)optional;
    f.oVft = static_cast<SHORT>(m.vtableIndex * sizeof(void*));
    f.elemdescFunc.tdesc.vt = VT_HRESULT;
    *out = &b->desc;
    return S_OK;
}

void TypeInfo::ReleaseFuncDesc(FUNCDESC* desc) {
    if (!desc) return;
    auto* b = reinterpret_cast<FuncDescBlock*>(desc);  // desc is the block's first member
    for (PARAMDESCEX& d : b->defaults) VariantClear(&d.varDefaultValue);
    delete b;
}

struct VarDescBlock {
    VARDESC desc{};
    VARIANT value;
};

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const EnumDesc* e = as_enum();
    if (!e || index >= e->count) return TYPE_E_ELEMENTNOTFOUND;
    auto* b = new (std::nothrow) VarDescBlock;
    if (!b) return E_OUTOFMEMORY;
    VariantInit(&b->value);
    b->value.vt = VT_I4;
    b->value.lVal = e->members[index].value;
    b->desc.memid = kEnumMemberBase + static_cast<MEMBERID>(index);
    b->desc.lpvarValue = &b->value;
    b->desc.elemdescVar.tdesc.vt = VT_I4;
    b->desc.varkind = VAR_CONST;
    *out = &b->desc;
    return S_OK;
}

void TypeInfo::ReleaseVarDesc(VARDESC* desc) { delete reinterpret_cast<VarDescBlock*>(desc); }

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    if (const EnumDesc* e = as_enum()) {
        UINT i = static_cast<UINT>(memid - kEnumMemberBase);
        if (memid < kEnumMemberBase || i >= e->count) return TYPE_E_ELEMENTNOTFOUND;
        if (max > 0) {
            names[0] = vantor::text::bstr(e->members[i].name);
            *count = 1;
        }
        return S_OK;
    }
    const InterfaceDesc* itf = as_interface();
    if (!itf) return TYPE_E_ELEMENTNOTFOUND;
    for (UINT k = 0; k < itf->memberCount; ++k) {
        const MemberDesc& m = itf->members[k];
        if (m.id != memid) continue;
        UINT n = 0;
        if (n < max) names[n++] = vantor::text::bstr(m.name);
        for (UINT i = 0; i < m.paramCount && n < max; ++i) names[n++] = vantor::text::bstr(m.params[i].name);
        *count = n;
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* out) {
    if (!out) return E_INVALIDARG;
    const TypeLibDesc* d = lib_->desc;
    if (const CoClassDesc* c = as_coclass()) {
        int16_t which = index == 0 ? c->defaultInterface : (index == 1 ? c->sourceInterface : -1);
        if (which < 0) return TYPE_E_ELEMENTNOTFOUND;
        *out = d->enumCount + static_cast<HREFTYPE>(which);
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;  // interfaces derive from IDispatch, which is not in this library
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* out) {
    if (!out) return E_INVALIDARG;
    const CoClassDesc* c = as_coclass();
    if (!c) return TYPE_E_ELEMENTNOTFOUND;
    if (index == 0) *out = IMPLTYPEFLAG_FDEFAULT;
    else if (index == 1 && c->sourceInterface >= 0) *out = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
    else return TYPE_E_ELEMENTNOTFOUND;
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) { return lib_->GetTypeInfo(ref, out); }

HRESULT TypeInfo::CreateInstance(IUnknown* outer, REFIID riid, void** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const CoClassDesc* c = as_coclass();
    if (!c) return TYPE_E_ELEMENTNOTFOUND;
    return CoCreateInstance(c->clsid, outer, CLSCTX_INPROC_SERVER, riid, out);
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
    if (lib) {
        *lib = lib_;
        lib_->AddRef();
    }
    if (index) *index = index_;
    return S_OK;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* context, BSTR* file) {
    const char* n = nullptr;
    const char* h = nullptr;
    if (memid == MEMBERID_NIL) {
        n = lib_->name_of(index_);
        if (const EnumDesc* e = as_enum()) h = e->help;
        else if (const InterfaceDesc* i = as_interface()) h = i->help;
        else if (const CoClassDesc* c = as_coclass()) h = c->help;
    } else if (const EnumDesc* e = as_enum()) {
        UINT i = static_cast<UINT>(memid - kEnumMemberBase);
        if (memid < kEnumMemberBase || i >= e->count) return TYPE_E_ELEMENTNOTFOUND;
        n = e->members[i].name;
    } else if (const InterfaceDesc* itf = as_interface()) {
        for (UINT k = 0; k < itf->memberCount && !n; ++k) {
            if (itf->members[k].id == memid) {
                n = itf->members[k].name;
                h = itf->members[k].help;
            }
        }
        if (!n) return TYPE_E_ELEMENTNOTFOUND;
    } else {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    if (name) *name = bstr_or_null(n);
    if (doc) *doc = bstr_or_null(h);
    if (context) *context = 0;
    if (file) *file = nullptr;
    return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
    const MemberDesc* found = nullptr;
    if (const EnumDesc* e = as_enum()) {
        for (UINT i = 0; i < e->count; ++i) {
            if (same_name(e->members[i].name, names[0])) {
                ids[0] = kEnumMemberBase + static_cast<MEMBERID>(i);
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }
    const InterfaceDesc* itf = as_interface();
    if (!itf) return DISP_E_UNKNOWNNAME;
    // Prefer the member that takes the most named parameters into account: the method or the
    // property get (a put's value is never passed by name).
    for (UINT k = 0; k < itf->memberCount; ++k) {
        const MemberDesc& m = itf->members[k];
        if (!same_name(m.name, names[0])) continue;
        if (!found || (found->kind == INVOKE_PROPERTYPUT && m.kind != INVOKE_PROPERTYPUT)) found = &m;
    }
    if (!found) return DISP_E_UNKNOWNNAME;
    ids[0] = found->id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        for (UINT p = 0; p < found->paramCount; ++p) {
            if (!(found->params[p].flags & PARAMFLAG_FRETVAL) && same_name(found->params[p].name, names[i]))
                ids[i] = static_cast<MEMBERID>(p);
        }
        if (ids[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT TypeInfo::Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* excep, UINT* argErr) {
    const InterfaceDesc* itf = as_interface();
    if (!itf || itf->dispinterface) return DISP_E_MEMBERNOTFOUND;
    if (!instance) return E_INVALIDARG;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if (params->cNamedArgs > params->cArgs || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    const MemberDesc* chosen = nullptr;
    for (UINT k = 0; k < itf->memberCount && !chosen; ++k) {
        const MemberDesc& m = itf->members[k];
        if (m.id != memid) continue;
        if (put ? (m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF)
                : ((m.kind == INVOKE_FUNC && (flags & DISPATCH_METHOD)) ||
                   (m.kind == INVOKE_PROPERTYGET && (flags & DISPATCH_PROPERTYGET))))
            chosen = &m;
    }
    if (!chosen) return DISP_E_MEMBERNOTFOUND;
    return invoke(*chosen, instance, flags, params, result, excep, argErr);
}

// A fixed-size array that lives on the stack for the usual handful of parameters, so that a
// late-bound call allocates nothing.
template <typename T, size_t N>
class Scratch {
public:
    explicit Scratch(size_t n) : data_(n <= N ? inline_ : (heap_ = std::make_unique<T[]>(n)).get()) {}
    T& operator[](size_t i) { return data_[i]; }
    T* data() { return data_; }

private:
    T inline_[N]{};
    std::unique_ptr<T[]> heap_;
    T* data_;
};

// Arguments prepared for a stub: each either borrowed (a VARIANT parameter, passed as given)
// or owned (converted, a default, or a holder for an [out] value the caller did not pass).
struct Arguments {
    explicit Arguments(UINT n) : count(n), values(n), owned(n), holders(n) {}
    ~Arguments() {
        for (UINT i = 0; i < count; ++i)
            if (owned[i]) VariantClear(&values[i]);
        for (UINT i = 0; i < held; ++i) VariantClear(&holders[i]);
    }
    UINT count;
    UINT held = 0;
    Scratch<VARIANT, 8> values;
    Scratch<bool, 8> owned;
    Scratch<VARIANT, 8> holders;  // targets of [out] parameters the caller left out
};

HRESULT TypeInfo::invoke(const MemberDesc& m, void* instance, WORD flags, DISPPARAMS* dp, VARIANT* result,
                         EXCEPINFO* excep, UINT* argErr) {
    // The inputs are every parameter but the retval, in declaration order.
    Scratch<const ParamDesc*, 8> inputs(m.paramCount);
    UINT n = 0;
    for (UINT i = 0; i < m.paramCount; ++i)
        if (!(m.params[i].flags & PARAMFLAG_FRETVAL)) inputs[n++] = &m.params[i];
    const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);

    // Where each input comes from: index into rgvarg, or -1 when left out.
    Scratch<int, 8> source(n);
    for (UINT k = 0; k < n; ++k) source[k] = -1;
    const UINT named = dp->cNamedArgs;
    const UINT positional = dp->cArgs - named;
    for (UINT i = 0; i < named; ++i) {
        DISPID id = dp->rgdispidNamedArgs[i];
        UINT slot;
        if (id == DISPID_PROPERTYPUT && put && n > 0) slot = n - 1;
        else if (id >= 0 && static_cast<UINT>(id) < n) slot = static_cast<UINT>(id);
        else {
            if (argErr) *argErr = i;
            return DISP_E_PARAMNOTFOUND;
        }
        if (source[slot] != -1) {
            if (argErr) *argErr = i;
            return DISP_E_PARAMNOTFOUND;
        }
        source[slot] = static_cast<int>(i);
    }
    // A put without the named value takes its last positional argument as the value.
    UINT take = positional;
    if (put && n > 0 && source[n - 1] == -1 && positional > 0) {
        source[n - 1] = static_cast<int>(named);  // rgvarg[named] is the last positional argument
        --take;
    }
    if (take > n) return DISP_E_BADPARAMCOUNT;
    for (UINT k = 0; k < take; ++k) {
        if (source[k] != -1) return DISP_E_BADPARAMCOUNT;  // given both by position and by name
        source[k] = static_cast<int>(dp->cArgs - 1 - k);
    }

    Arguments args(n);
    int holder_for_result = -1;
    for (UINT k = 0; k < n; ++k) {
        const ParamDesc& p = *inputs[k];
        VARIANT& v = args.values[k];
        VariantInit(&v);
        const VARIANT* given = source[k] >= 0 ? &dp->rgvarg[source[k]] : nullptr;
        const bool missing = !given || (given->vt == VT_ERROR && given->scode == DISP_E_PARAMNOTFOUND);
        const VARTYPE vt = param_vt(p);
        if (p.flags & PARAMFLAG_FOUT) {
            if (missing) {
                VARIANT& h = args.holders[args.held];
                v.vt = static_cast<VARTYPE>(VT_BYREF | vt);
                if (vt == VT_VARIANT) v.pvarVal = &h;
                else v.byref = &h.llVal;
                holder_for_result = static_cast<int>(args.held++);
                continue;
            }
            if (given->vt != (VT_BYREF | vt)) {
                if (argErr) *argErr = static_cast<UINT>(source[k]);
                return DISP_E_TYPEMISMATCH;
            }
            v = *given;
            continue;
        }
        if (missing) {
            if (p.flags & PARAMFLAG_FHASDEFAULT) {
                v = default_value(p);
                args.owned[k] = true;
                if (v.vt != vt && FAILED(VariantChangeType(&v, &v, 0, vt))) return DISP_E_TYPEMISMATCH;
            } else if (p.flags & PARAMFLAG_FOPT) {
                if (vt == VT_VARIANT) {
                    v.vt = VT_ERROR;
                    v.scode = DISP_E_PARAMNOTFOUND;
                } else {
                    v.vt = vt;  // zero of the type: 0, 0.0, false, null string or object
                }
            } else {
                return DISP_E_PARAMNOTOPTIONAL;
            }
            continue;
        }
        if (vt == VT_VARIANT) {
            v = *given;  // passed on exactly as the caller gave it
            continue;
        }
        const VARTYPE gvt = static_cast<VARTYPE>(given->vt & ~VT_BYREF);
        if ((vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN) && (gvt == VT_NULL || gvt == VT_EMPTY)) {
            v.vt = vt;  // null string or null object
            continue;
        }
        HRESULT hr = VariantChangeType(&v, given, 0, vt);
        if (FAILED(hr)) {
            VariantInit(&v);
            if (argErr) *argErr = static_cast<UINT>(source[k]);
            return (hr == DISP_E_OVERFLOW) ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
        }
        args.owned[k] = true;
    }

    VARIANT ret;
    VariantInit(&ret);
    SetErrorInfo(0, nullptr);
    HRESULT hr = m.stub(instance, args.values.data(), &ret);
    if (FAILED(hr)) {
        VariantClear(&ret);
        if (!excep) return hr;
        *excep = EXCEPINFO{};
        excep->scode = hr;
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK && info) {
            info->GetSource(&excep->bstrSource);
            info->GetDescription(&excep->bstrDescription);
            info->GetHelpFile(&excep->bstrHelpFile);
            info->GetHelpContext(&excep->dwHelpContext);
            info->Release();
        }
        return DISP_E_EXCEPTION;
    }
    // A member without a retval whose [out] value the caller left out returns that value.
    if (ret.vt == VT_EMPTY && holder_for_result >= 0) {
        VARIANT& h = args.holders[holder_for_result];
        const ParamDesc* outParam = nullptr;
        for (UINT k = 0; k < n; ++k)
            if (inputs[k]->flags & PARAMFLAG_FOUT) outParam = inputs[k];
        if (outParam && param_vt(*outParam) != VT_VARIANT) h.vt = param_vt(*outParam);
        ret = h;
        VariantInit(&h);
    }
    if (result) {
        VariantClear(result);
        *result = ret;
    } else {
        VariantClear(&ret);
    }
    return hr;
}

}  // namespace

extern "C" {

HRESULT VantorCreateTypeLib(const TypeLibDesc* desc, ITypeLib** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!desc) return E_INVALIDARG;
    auto* lib = new (std::nothrow) TypeLib(desc);
    if (!lib) return E_OUTOFMEMORY;
    *out = lib;
    return S_OK;
}

HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!info) return E_INVALIDARG;
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT DispInvoke(void* self, ITypeInfo* info, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) {
    if (!info) return E_INVALIDARG;
    return info->Invoke(self, id, flags, params, result, excep, argErr);
}

}  // extern "C"
