// _vantor: the Python script host. Late binding only: every call goes through GetIDsOfNames
// (names cached per type) and Invoke; failures become vantor.COMError.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <vantor/com.h>
#include <vantor/debug.h>
#include <vantor/registry.h>
#include <vantor/system.h>
#include <vantor/text.h>

#include <cmath>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>


namespace py = pybind11;

namespace vantor::host {

void bind_windows(py::module_& m);

// ---- errors -------------------------------------------------------------------------------------

std::string system_text(HRESULT hr) {
    char buf[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr), 0, buf, sizeof buf, nullptr);
    std::string s(buf, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

[[noreturn]] void raise_com(HRESULT hr, const std::string& description, const std::string& source,
                            const char* kind = "COMError") {
    py::object cls = py::module_::import("vantor._errors").attr(kind);
    PyErr_SetObject(cls.ptr(), cls(static_cast<int32_t>(hr), description, source).ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise_hr(HRESULT hr, const std::string& detail = "") {
    std::string text = system_text(hr);
    if (!detail.empty()) text = text.empty() ? detail : text + " " + detail;
    raise_com(hr, text, "");
}

// ---- strings ------------------------------------------------------------------------------------

// A Python str as UTF-16 code units, lone surrogates included (a BSTR holds any code unit).
std::u16string utf16_units(py::handle s) {
    py::object bytes = py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(s.ptr(), "utf-16-le", "surrogatepass"));
    if (!bytes) throw py::error_already_set();
    char* data = nullptr;
    Py_ssize_t size = 0;
    PyBytes_AsStringAndSize(bytes.ptr(), &data, &size);
    std::u16string out(static_cast<size_t>(size) / 2, u'\0');
    std::memcpy(out.data(), data, out.size() * 2);
    return out;
}

// UTF-16 code units as a Python str, lone surrogates and NULs kept.
py::str str_of_units(const OLECHAR* s, size_t length) {
    if (!s || length == 0) return py::str("");
    int order = -1;  // little-endian, as the units are in memory
    PyObject* o = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(s), static_cast<Py_ssize_t>(length * 2),
                                        "surrogatepass", &order);
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

// A Python str as UTF-8 for a name that becomes a C string: false when it holds a NUL or a lone
// surrogate, which no such name can.
bool c_string_of(py::handle s, std::string& out) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s.ptr(), &size);
    if (!data) {
        PyErr_Clear();
        return false;
    }
    out.assign(data, static_cast<size_t>(size));
    return out.find('\0') == std::string::npos;
}

std::string shown(py::handle s) { return py::repr(s).cast<std::string>(); }

// Raises for a failed Invoke, with the error information the member set.
[[noreturn]] void raise_invoke(HRESULT hr, EXCEPINFO& ei, UINT argErr, UINT argCount, const std::string& member) {
    if (hr == DISP_E_EXCEPTION) {
        if (ei.pfnDeferredFillIn) ei.pfnDeferredFillIn(&ei);
        HRESULT code = ei.scode ? ei.scode : static_cast<HRESULT>(0x80040200 + ei.wCode);
        std::string description = text::utf8(ei.bstrDescription);
        std::string source = text::utf8(ei.bstrSource);
        SysFreeString(ei.bstrDescription);
        SysFreeString(ei.bstrSource);
        SysFreeString(ei.bstrHelpFile);
        if (description.empty()) description = system_text(code);
        raise_com(code, description, source);
    }
    std::string detail;
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_PARAMNOTFOUND) && argErr < argCount)
        detail = "(" + member + ", argument " + std::to_string(argCount - argErr) + ")";
    else if (hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL || hr == DISP_E_MEMBERNOTFOUND)
        detail = "(" + member + ")";
    raise_hr(hr, detail);
}

// ---- conversions ------------------------------------------------------------------------------------

class Dispatch;
py::object from_variant(const VARIANT& v);

struct ArgError {
    size_t position;
    std::string type;
};

// Python value -> VARIANT (owned by the caller, cleared with VariantClear).
void to_variant(py::handle value, VARIANT& v, size_t position, bool is_long = false);

// ---- type cache -------------------------------------------------------------------------------------

struct MemberInfo {
    DISPID id = DISPID_UNKNOWN;
    bool has_get = false;          // a property get
    bool get_needs_arguments = false;
    bool has_method = false;
    bool has_put = false;
    std::string name;              // as the type library spells it
    // Which inputs are `long` (VT_I4), in order, for the method or getter and for the setter:
    // those take 0x80000000-0xFFFFFFFF as 32-bit two's complement (ARGB colours written in hex).
    std::vector<bool> long_inputs;
    bool put_takes_long = false;
};

struct TypeCache {
    std::string name;  // interface name
    ITypeInfo* info = nullptr;
    std::unordered_map<std::string, MemberInfo> members;  // by lower-case name
    std::unordered_map<std::string, MemberInfo*> spelled;  // by the spelling scripts used
};

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::map<std::string, std::unique_ptr<TypeCache>>& type_caches() {
    static auto* caches = new std::map<std::string, std::unique_ptr<TypeCache>>;
    return *caches;
}

std::string guid_key(REFGUID g) {
    OLECHAR w[40];
    StringFromGUID2(g, w, 40);
    return text::utf8z(w);
}

// ---- Dispatch -----------------------------------------------------------------------------------------

class Dispatch : public std::enable_shared_from_this<Dispatch> {
public:
    explicit Dispatch(IDispatch* d) : d_(d) { cache_ = cache_for(d); }  // takes the reference
    Dispatch(const Dispatch&) = delete;
    ~Dispatch() {
        if (d_) d_->Release();
    }

    IDispatch* get() const { return d_; }
    const std::string& type_name() const { return cache_->name; }

    // Looks a member up by a script's name for it; a NUL or a lone surrogate names no member.
    const MemberInfo& member(py::handle name) {
        std::string text;
        if (!c_string_of(name, text))
            raise_com(DISP_E_UNKNOWNNAME,
                      system_text(DISP_E_UNKNOWNNAME) + " " + shown(name) + " is not a member of " + cache_->name + ".",
                      "", "MemberNotFoundError");
        return member(text);
    }

    // Looks a member up by name (GetIDsOfNames once per type and name).
    const MemberInfo& member(const std::string& name) {
        // Names as scripts spell them are looked up first; Automation names are case-insensitive.
        auto exact = cache_->spelled.find(name);
        if (exact != cache_->spelled.end()) return *exact->second;
        std::string key = lower(name);
        auto it = cache_->members.find(key);
        if (it != cache_->members.end()) {
            cache_->spelled.emplace(name, &it->second);
            return it->second;
        }
        std::u16string w = text::utf16(name);
        LPOLESTR names[1] = {w.data()};
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = d_->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) {
            raise_com(DISP_E_MEMBERNOTFOUND,
                      system_text(DISP_E_MEMBERNOTFOUND) + " '" + name + "' is not a member of " + cache_->name + ".",
                      "", "MemberNotFoundError");
        }
        MemberInfo info;
        info.id = id;
        info.name = name;
        describe(info);
        MemberInfo& stored = cache_->members.emplace(key, info).first->second;
        cache_->spelled.emplace(name, &stored);
        return stored;
    }

    py::object invoke(DISPID id, WORD flags, const py::args& args, const py::kwargs& kwargs, const std::string& name,
                      bool put = false, const MemberInfo* info = nullptr) {
        const size_t positional = args.size();
        const size_t named = kwargs ? kwargs.size() : 0;
        const size_t count = positional + named;
        // Up to four arguments live on the stack: the common calls allocate nothing here.
        VARIANT small[4];
        std::vector<VARIANT> large;
        VARIANT* vars = small;
        if (count > 4) {
            large.resize(count);
            vars = large.data();
        }
        for (size_t i = 0; i < count; ++i) VariantInit(&vars[i]);
        std::vector<DISPID> named_ids;
        struct Clear {
            VARIANT* v;
            size_t n;
            ~Clear() {
                for (size_t i = 0; i < n; ++i) VariantClear(&v[i]);
            }
        } clear{vars, count};
        // Named arguments come first in rgvarg; positional ones follow in reverse order.
        if (named) {
            std::vector<std::u16string> wide;
            wide.push_back(text::utf16(name));
            for (auto item : kwargs) {
                std::string arg;
                if (!c_string_of(item.first, arg))
                    raise_com(DISP_E_UNKNOWNNAME,
                              system_text(DISP_E_UNKNOWNNAME) + " " + shown(item.first) + " is not a parameter of " + name + ".",
                              "");
                wide.push_back(text::utf16(arg));
            }
            std::vector<LPOLESTR> names;
            for (auto& w : wide) names.push_back(w.data());
            std::vector<DISPID> ids(names.size());
            HRESULT hr = d_->GetIDsOfNames(GUID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                           ids.data());
            if (FAILED(hr)) {
                std::string unknown;
                size_t i = 1;
                for (auto item : kwargs) {
                    if (ids[i++] == DISPID_UNKNOWN) c_string_of(item.first, unknown);
                }
                raise_com(DISP_E_PARAMNOTFOUND,
                          system_text(DISP_E_PARAMNOTFOUND) + " '" + unknown + "' is not a parameter of " + name + ".",
                          "");
            }
            size_t i = 0;
            for (auto item : kwargs) {
                to_variant(item.second, vars[i], positional + i + 1);
                named_ids.push_back(ids[i + 1]);
                ++i;
            }
        }
        for (size_t k = 0; k < positional; ++k) {
            bool is_long = info && (put ? info->put_takes_long : k < info->long_inputs.size() && info->long_inputs[k]);
            to_variant(args[k], vars[count - 1 - k], k + 1, is_long);
        }
        DISPID put_id = DISPID_PROPERTYPUT;
        DISPPARAMS dp{count ? vars : nullptr, nullptr, static_cast<UINT>(count), 0};
        if (put) {
            dp.rgdispidNamedArgs = &put_id;
            dp.cNamedArgs = 1;
        } else if (named) {
            dp.rgdispidNamedArgs = named_ids.data();
            dp.cNamedArgs = static_cast<UINT>(named);
        }
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO ei{};
        UINT argErr = UINT_MAX;
        HRESULT hr = d_->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, flags, &dp, put ? nullptr : &result, &ei, &argErr);
        if (FAILED(hr)) {
            VariantClear(&result);
            raise_invoke(hr, ei, argErr, static_cast<UINT>(count), cache_->name + "." + name);
        }
        py::object out = from_variant(result);
        VariantClear(&result);
        return out;
    }

    // A property without required parameters reads as its value; a method or a parameterised
    // property as a callable; a write-only property fails as Automation says (member not found).
    py::object getattr(py::handle name) { return read(member(name)); }
    py::object getattr(const std::string& name) { return read(member(name)); }
    py::object read(const MemberInfo& m) {
        if ((m.has_get && !m.get_needs_arguments) || (!m.has_get && !m.has_method))
            return invoke(m.id, DISPATCH_PROPERTYGET, py::args(), py::kwargs(), m.name);
        return bound(m);
    }

    void setattr(py::handle name, py::handle value) {
        const MemberInfo& m = member(name);
        py::args args = py::make_tuple(value);
        invoke(m.id, DISPATCH_PROPERTYPUT, args, py::kwargs(), m.name, true, &m);
    }

    py::object bound(const MemberInfo& m);

    std::vector<std::string> member_names() {
        std::vector<std::string> names;
        ITypeInfo* info = cache_->info;
        if (!info) return names;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr))) return names;
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(info->GetFuncDesc(i, &f))) continue;
            BSTR n = nullptr;
            UINT got = 0;
            if (SUCCEEDED(info->GetNames(f->memid, &n, 1, &got)) && got) {
                std::string s = text::utf8(n);
                if (names.empty() || names.back() != s) names.push_back(s);
                SysFreeString(n);
            }
            info->ReleaseFuncDesc(f);
        }
        info->ReleaseTypeAttr(attr);
        return names;
    }

    // The identity of the object (its IUnknown), for comparisons.
    uintptr_t identity() const {
        IUnknown* u = nullptr;
        if (FAILED(d_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u))) || !u)
            return reinterpret_cast<uintptr_t>(d_);
        u->Release();
        return reinterpret_cast<uintptr_t>(u);
    }

private:
    static TypeCache* cache_for(IDispatch* d) {
        ITypeInfo* info = nullptr;
        std::string key = "(no type information)";
        std::string name = "IDispatch";
        if (SUCCEEDED(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) && info) {
            TYPEATTR* attr = nullptr;
            if (SUCCEEDED(info->GetTypeAttr(&attr))) {
                key = guid_key(attr->guid);
                info->ReleaseTypeAttr(attr);
            }
            BSTR n = nullptr;
            if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &n, nullptr, nullptr, nullptr))) name = text::utf8(n);
            SysFreeString(n);
        }
        auto& caches = type_caches();
        auto it = caches.find(key);
        if (it != caches.end()) {
            if (info) info->Release();
            return it->second.get();
        }
        auto cache = std::make_unique<TypeCache>();
        cache->name = name;
        cache->info = info;  // kept for the life of the process
        return caches.emplace(key, std::move(cache)).first->second.get();
    }

    // A `long`, or an enumeration (whose values are longs).
    static bool is_long(ITypeInfo* info, const TYPEDESC& t) {
        if (t.vt == VT_I4 || t.vt == VT_INT) return true;
        if (t.vt != VT_USERDEFINED) return false;
        ITypeInfo* ref = nullptr;
        if (FAILED(info->GetRefTypeInfo(t.hreftype, &ref)) || !ref) return false;
        TYPEATTR* attr = nullptr;
        bool is_enum = SUCCEEDED(ref->GetTypeAttr(&attr)) && attr && attr->typekind == TKIND_ENUM;
        if (attr) ref->ReleaseTypeAttr(attr);
        ref->Release();
        return is_enum;
    }

    void describe(MemberInfo& m) {
        ITypeInfo* info = cache_->info;
        if (!info) {
            m.has_method = true;  // unknown shape: a call decides
            return;
        }
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr))) return;
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(info->GetFuncDesc(i, &f))) continue;
            if (f->memid == m.id) {
                int required = 0;  // inputs a caller must pass ([out] values it may leave out)
                for (SHORT p = 0; p < f->cParams; ++p) {
                    USHORT flags = f->lprgelemdescParam[p].paramdesc.wParamFlags;
                    if (!(flags & (PARAMFLAG_FOPT | PARAMFLAG_FRETVAL | PARAMFLAG_FOUT))) ++required;
                }
                BSTR n = nullptr;
                UINT got = 0;
                if (SUCCEEDED(info->GetNames(f->memid, &n, 1, &got)) && got) m.name = text::utf8(n);
                SysFreeString(n);
                std::vector<bool> longs;
                for (SHORT p = 0; p < f->cParams; ++p) {
                    const ELEMDESC& e = f->lprgelemdescParam[p];
                    if (e.paramdesc.wParamFlags & (PARAMFLAG_FRETVAL | PARAMFLAG_FOUT)) continue;
                    longs.push_back(is_long(info, e.tdesc));
                }
                if (f->invkind == INVOKE_PROPERTYPUT || f->invkind == INVOKE_PROPERTYPUTREF)
                    m.put_takes_long = !longs.empty() && longs.back();
                else if (m.long_inputs.empty())
                    m.long_inputs = longs;
                if (f->invkind == INVOKE_PROPERTYGET) {
                    m.has_get = true;
                    m.get_needs_arguments = required > 0;
                } else if (f->invkind == INVOKE_FUNC) {
                    m.has_method = true;
                } else {
                    m.has_put = true;
                }
            }
            info->ReleaseFuncDesc(f);
        }
        info->ReleaseTypeAttr(attr);
    }

    IDispatch* d_;
    TypeCache* cache_;
};

// A member bound to its object, for methods and parameterised properties.
class BoundMember {
public:
    BoundMember(std::shared_ptr<Dispatch> owner, MemberInfo m) : owner_(std::move(owner)), m_(std::move(m)) {}
    py::object call(const py::args& args, const py::kwargs& kwargs) {
        return owner_->invoke(m_.id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, kwargs, m_.name, false, &m_);
    }
    std::string repr() const { return "<bound member " + owner_->type_name() + "." + m_.name + ">"; }

private:
    std::shared_ptr<Dispatch> owner_;
    MemberInfo m_;
};

py::object Dispatch::bound(const MemberInfo& m) { return py::cast(BoundMember(shared_from_this(), m)); }

py::object wrap(IDispatch* d) {  // takes the reference
    if (!d) return py::none();
    return py::cast(std::make_shared<Dispatch>(d));
}

py::object from_variant(const VARIANT& v) {
    if (v.vt & VT_BYREF) {
        VARIANT copy;
        VariantInit(&copy);
        if (FAILED(VariantCopyInd(&copy, &v))) return py::none();
        py::object o = from_variant(copy);
        VariantClear(&copy);
        return o;
    }
    switch (v.vt) {
        case VT_EMPTY: case VT_NULL: return py::none();
        case VT_I1: return py::int_(v.cVal);
        case VT_I2: return py::int_(v.iVal);
        case VT_I4: case VT_INT: return py::int_(v.lVal);
        case VT_I8: return py::int_(v.llVal);
        case VT_UI1: return py::int_(v.bVal);
        case VT_UI2: return py::int_(v.uiVal);
        case VT_UI4: case VT_UINT: return py::int_(v.ulVal);
        case VT_UI8: return py::int_(v.ullVal);
        case VT_R4: return py::float_(static_cast<double>(v.fltVal));
        case VT_R8: return py::float_(v.dblVal);
        case VT_BOOL: return py::bool_(v.boolVal != VARIANT_FALSE);
        case VT_ERROR: return py::int_(v.scode);
        case VT_BSTR: return str_of_units(v.bstrVal, SysStringLen(v.bstrVal));
        case VT_DISPATCH:
            if (v.pdispVal) v.pdispVal->AddRef();
            return wrap(v.pdispVal);
        case VT_UNKNOWN: {
            if (!v.punkVal) return py::none();
            IDispatch* d = nullptr;
            if (SUCCEEDED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) return wrap(d);
            return py::none();
        }
        default:
            raise_hr(DISP_E_BADVARTYPE, "(result of type " + std::to_string(v.vt) + ")");
    }
}

void to_variant(py::handle value, VARIANT& v, size_t position, bool is_long) {
    VariantInit(&v);
    if (value.is_none()) {
        v.vt = VT_NULL;  // a null string or a null object where the parameter takes one
    } else if (py::isinstance<py::bool_>(value)) {
        v.vt = VT_BOOL;
        v.boolVal = value.cast<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (py::isinstance<py::int_>(value)) {
        long long n;
        try {
            n = value.cast<long long>();
        } catch (const py::cast_error&) {
            n = LLONG_MAX;
        }
        if (n >= INT32_MIN && n <= INT32_MAX) {
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(n);
        } else if (is_long && n > INT32_MAX && n <= 0xFFFFFFFFLL) {
            v.vt = VT_I4;  // a long written as an unsigned 32-bit value (0xFFFFFFFF is -1)
            v.lVal = static_cast<LONG>(static_cast<uint32_t>(n));
        } else {
            v.vt = VT_R8;  // too large for a long: the member's own range check decides
            v.dblVal = value.cast<double>();
        }
    } else if (py::isinstance<py::float_>(value)) {
        v.vt = VT_R8;
        v.dblVal = value.cast<double>();
    } else if (py::isinstance<py::str>(value)) {
        std::u16string units = utf16_units(value);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
        if (!v.bstrVal) throw std::bad_alloc();
    } else if (py::isinstance<Dispatch>(value)) {
        v.vt = VT_DISPATCH;
        v.pdispVal = value.cast<Dispatch&>().get();
        v.pdispVal->AddRef();
    } else {
        std::string type = py::str(py::type::of(value).attr("__name__")).cast<std::string>();
        raise_com(DISP_E_TYPEMISMATCH,
                  system_text(DISP_E_TYPEMISMATCH) + " (argument " + std::to_string(position) + ": a " + type +
                      " cannot be passed to a COM member)",
                  "");
    }
}

// ---- enumeration -----------------------------------------------------------------------------------

class Enumerator {
public:
    explicit Enumerator(IEnumVARIANT* e) : e_(e) {}
    ~Enumerator() {
        if (e_) e_->Release();
    }
    py::object next() {
        if (!e_) throw py::stop_iteration();
        VARIANT v;
        VariantInit(&v);
        ULONG fetched = 0;
        HRESULT hr = e_->Next(1, &v, &fetched);
        if (FAILED(hr)) raise_hr(hr);
        if (hr != S_OK || fetched == 0) throw py::stop_iteration();
        py::object o = from_variant(v);
        VariantClear(&v);
        return o;
    }
    py::list next_items(long long count) {
        if (count < 0 || count > 0x7FFFFFFF) throw py::value_error("Next takes a count from 0 to 2147483647");
        py::list out;
        if (!e_) return out;
        for (long long i = 0; i < count; ++i) {  // one at a time: a huge count allocates nothing
            VARIANT v;
            VariantInit(&v);
            ULONG fetched = 0;
            HRESULT hr = e_->Next(1, &v, &fetched);
            if (FAILED(hr)) raise_hr(hr);
            if (hr != S_OK || fetched == 0) break;
            py::object o = from_variant(v);
            VariantClear(&v);
            out.append(o);
        }
        return out;
    }
    bool skip(long long count) {
        if (count < 0 || count > 0xFFFFFFFFLL) throw py::value_error("Skip takes a count from 0 to 4294967295");
        if (!e_) return count == 0;
        HRESULT hr = e_->Skip(static_cast<ULONG>(count));
        if (FAILED(hr)) raise_hr(hr);
        return hr == S_OK;
    }
    void reset() {
        if (!e_) return;
        HRESULT hr = e_->Reset();
        if (FAILED(hr)) raise_hr(hr);
    }
    Enumerator* clone() {
        IEnumVARIANT* copy = nullptr;
        if (e_) {
            HRESULT hr = e_->Clone(&copy);
            if (FAILED(hr)) raise_hr(hr);
        }
        return new Enumerator(copy);
    }

private:
    IEnumVARIANT* e_;
};

Enumerator* iterate(Dispatch& d) {
    VARIANT r;
    VariantInit(&r);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO ei{};
    UINT argErr = 0;
    HRESULT hr = d.get()->Invoke(DISPID_NEWENUM, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                 &none, &r, &ei, &argErr);
    if (hr == DISP_E_MEMBERNOTFOUND)  // no collection: an AttributeError, so hasattr() answers False
        raise_com(hr, system_text(hr) + " '_NewEnum' is not a member of " + d.type_name() + ".", "", "MemberNotFoundError");
    if (FAILED(hr)) raise_invoke(hr, ei, argErr, 0, d.type_name() + "._NewEnum");
    IUnknown* u = (r.vt == VT_UNKNOWN) ? r.punkVal : (r.vt == VT_DISPATCH ? r.pdispVal : nullptr);
    IEnumVARIANT* e = nullptr;
    if (u) u->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e));
    VariantClear(&r);
    if (!e && u) raise_hr(E_NOINTERFACE, "(" + d.type_name() + " does not enumerate)");
    return new Enumerator(e);
}

// ---- creation and registration ----------------------------------------------------------------

std::shared_ptr<Dispatch> create(py::handle progid) {
    if (!py::isinstance<py::str>(progid))
        throw py::type_error("Dispatch() argument 'progid' must be str, not " +
                             py::str(py::type::of(progid).attr("__name__")).cast<std::string>());
    CoInitialize(nullptr);
    std::string name;
    if (!c_string_of(progid, name))  // a NUL would cut the name short: no class is named so
        raise_com(CO_E_CLASSSTRING, system_text(CO_E_CLASSSTRING) + " " + shown(progid) + " is not a class name.", "");
    std::u16string w = text::utf16(name);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(w.c_str(), &clsid);
    if (FAILED(hr)) raise_com(hr, system_text(hr) + " '" + name + "' is not a registered class.", "");
    IDispatch* d = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d));
    if (FAILED(hr)) {
        // Creation may have set error information (a class that reports during construction).
        IErrorInfo* info = nullptr;
        std::string description = system_text(hr) + " (creating '" + name + "')";
        std::string source;
        if (GetErrorInfo(0, &info) == S_OK && info) {
            BSTR s = nullptr, t = nullptr;
            info->GetSource(&s);
            info->GetDescription(&t);
            if (t && SysStringLen(t)) description = text::utf8(t);
            source = text::utf8(s);
            SysFreeString(s);
            SysFreeString(t);
            info->Release();
        }
        raise_com(hr, description, source);
    }
    return std::make_shared<Dispatch>(d);
}

HRESULT call_component(const std::string& path, const char* entry) {
    HMODULE m = LoadLibraryA(path.c_str());
    if (!m) raise_com(CO_E_DLLNOTFOUND, system_text(CO_E_DLLNOTFOUND) + " (" + path + ")", "");
    auto fn = reinterpret_cast<HRESULT (*)()>(GetProcAddress(m, entry));
    if (!fn) raise_com(CO_E_ERRORINDLL, system_text(CO_E_ERRORINDLL) + " (" + entry + " in " + path + ")", "");
    return fn();
}

bool key_exists(const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// Calls fn(info, name, attr) for each type of the given kind in a component's type library.
template <typename Fn>
void for_each_type(const std::string& path, TYPEKIND wanted, Fn fn) {
    std::u16string w = text::utf16(path);
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLib(w.c_str(), &lib);
    if (FAILED(hr)) raise_hr(hr, "(" + path + ")");
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != wanted) continue;
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) continue;
        BSTR name = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr)) && attr) {
            fn(info, py::str(text::utf8(name)), *attr);
            info->ReleaseTypeAttr(attr);
        }
        SysFreeString(name);
        info->Release();
    }
    lib->Release();
}

// The enumerations of a component's type library: {enum name: {member: value}}.
py::dict type_library_enums(const std::string& path) {
    py::dict out;
    for_each_type(path, TKIND_ENUM, [&](ITypeInfo* info, py::str name, const TYPEATTR& attr) {
        py::dict members;
        for (UINT k = 0; k < attr.cVars; ++k) {
            VARDESC* vd = nullptr;
            if (FAILED(info->GetVarDesc(k, &vd))) continue;
            BSTR member = nullptr;
            UINT got = 0;
            info->GetNames(vd->memid, &member, 1, &got);
            if (got && vd->lpvarValue) members[py::str(text::utf8(member))] = py::int_(vd->lpvarValue->lVal);
            SysFreeString(member);
            info->ReleaseVarDesc(vd);
        }
        out[name] = members;
    });
    return out;
}

// The co-classes of a component's type library: {name: "{clsid}"}.
py::dict type_library_classes(const std::string& path) {
    py::dict out;
    for_each_type(path, TKIND_COCLASS,
                  [&](ITypeInfo*, py::str name, const TYPEATTR& attr) { out[name] = guid_key(attr.guid); });
    return out;
}

// A plain description of a component's type library, for scripts that browse it:
// {"name", "help", "version", "enumerations": {name: {"help", "members": {..}}},
//  "interfaces": {name: {"help", "iid", "members": [{"name", "id", "kind", "help", "params": [..]}]}},
//  "classes": {name: {"clsid", "interface", "events"}}}
py::object default_of(const ELEMDESC& e) {
    if (!(e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) || !e.paramdesc.pparamdescex) return py::none();
    return from_variant(e.paramdesc.pparamdescex->varDefaultValue);
}

std::string type_text(ITypeInfo* info, const TYPEDESC& t) {
    if (t.vt == VT_PTR && t.lptdesc) return type_text(info, *t.lptdesc) + "*";
    if (t.vt == VT_USERDEFINED) {
        ITypeInfo* ref = nullptr;
        std::string name = "enum";
        if (SUCCEEDED(info->GetRefTypeInfo(t.hreftype, &ref))) {
            BSTR n = nullptr;
            ref->GetDocumentation(MEMBERID_NIL, &n, nullptr, nullptr, nullptr);
            name = text::utf8(n);
            SysFreeString(n);
            ref->Release();
        }
        return name;
    }
    switch (t.vt) {
        case VT_I2: return "short";
        case VT_I4: return "long";
        case VT_R4: return "float";
        case VT_R8: return "double";
        case VT_BOOL: return "VARIANT_BOOL";
        case VT_BSTR: return "BSTR";
        case VT_VARIANT: return "VARIANT";
        case VT_DISPATCH: return "IDispatch*";
        case VT_UNKNOWN: return "IUnknown*";
        case VT_HRESULT: return "HRESULT";
        default: return "vt" + std::to_string(t.vt);
    }
}

py::dict type_library_description(const std::string& path) {
    std::u16string w = text::utf16(path);
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLib(w.c_str(), &lib);
    if (FAILED(hr)) raise_hr(hr, "(" + path + ")");
    py::dict out, enums, interfaces, classes;
    BSTR lname = nullptr, lhelp = nullptr;
    lib->GetDocumentation(-1, &lname, &lhelp, nullptr, nullptr);
    out["name"] = text::utf8(lname);
    out["help"] = text::utf8(lhelp);
    SysFreeString(lname);
    SysFreeString(lhelp);
    TLIBATTR* la = nullptr;
    lib->GetLibAttr(&la);
    out["version"] = py::make_tuple(la->wMajorVerNum, la->wMinorVerNum);
    out["libid"] = guid_key(la->guid);
    lib->ReleaseTLibAttr(la);
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        BSTR name = nullptr, help = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr);
        std::string n = text::utf8(name);
        py::dict entry;
        entry["help"] = text::utf8(help);
        SysFreeString(name);
        SysFreeString(help);
        if (attr->typekind == TKIND_ENUM) {
            py::dict members;
            for (UINT k = 0; k < attr->cVars; ++k) {
                VARDESC* vd = nullptr;
                if (FAILED(info->GetVarDesc(k, &vd))) continue;
                BSTR m = nullptr;
                UINT got = 0;
                info->GetNames(vd->memid, &m, 1, &got);
                members[py::str(text::utf8(m))] = vd->lpvarValue->lVal;
                SysFreeString(m);
                info->ReleaseVarDesc(vd);
            }
            entry["members"] = members;
            enums[py::str(n)] = entry;
        } else if (attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH) {
            py::list members;
            for (UINT k = 0; k < attr->cFuncs; ++k) {
                FUNCDESC* f = nullptr;
                if (FAILED(info->GetFuncDesc(k, &f))) continue;
                std::vector<BSTR> names(f->cParams + 1, nullptr);
                UINT got = 0;
                info->GetNames(f->memid, names.data(), static_cast<UINT>(names.size()), &got);
                BSTR mhelp = nullptr;
                info->GetDocumentation(f->memid, nullptr, &mhelp, nullptr, nullptr);
                py::dict member;
                member["name"] = text::utf8(names[0]);
                member["id"] = f->memid;
                member["kind"] = f->invkind == INVOKE_PROPERTYGET ? "propget" : f->invkind == INVOKE_PROPERTYPUT ? "propput" : "method";
                member["help"] = text::utf8(mhelp);
                SysFreeString(mhelp);
                py::list params;
                for (SHORT p = 0; p < f->cParams; ++p) {
                    const ELEMDESC& e = f->lprgelemdescParam[p];
                    USHORT flags = e.paramdesc.wParamFlags;
                    py::dict param;
                    param["name"] = p + 1 < static_cast<SHORT>(got) ? text::utf8(names[p + 1]) : std::string();
                    param["type"] = type_text(info, e.tdesc);
                    param["in"] = (flags & PARAMFLAG_FIN) != 0;
                    param["out"] = (flags & PARAMFLAG_FOUT) != 0;
                    param["retval"] = (flags & PARAMFLAG_FRETVAL) != 0;
                    param["optional"] = (flags & PARAMFLAG_FOPT) != 0;
                    param["default"] = default_of(e);
                    params.append(param);
                }
                member["params"] = params;
                for (BSTR b : names) SysFreeString(b);
                members.append(member);
                info->ReleaseFuncDesc(f);
            }
            entry["iid"] = guid_key(attr->guid);
            entry["dispinterface"] = attr->typekind == TKIND_DISPATCH;
            entry["members"] = members;
            interfaces[py::str(n)] = entry;
        } else if (attr->typekind == TKIND_COCLASS) {
            entry["clsid"] = guid_key(attr->guid);
            for (UINT k = 0; k < attr->cImplTypes; ++k) {
                HREFTYPE ref;
                INT flags = 0;
                ITypeInfo* ri = nullptr;
                if (FAILED(info->GetRefTypeOfImplType(k, &ref)) || FAILED(info->GetRefTypeInfo(ref, &ri))) continue;
                info->GetImplTypeFlags(k, &flags);
                BSTR rn = nullptr;
                ri->GetDocumentation(MEMBERID_NIL, &rn, nullptr, nullptr, nullptr);
                entry[(flags & IMPLTYPEFLAG_FSOURCE) ? "events" : "interface"] = text::utf8(rn);
                SysFreeString(rn);
                ri->Release();
            }
            classes[py::str(n)] = entry;
        }
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
    lib->Release();
    out["enumerations"] = enums;
    out["interfaces"] = interfaces;
    out["classes"] = classes;
    return out;
}

// ---- debug output capture ----------------------------------------------------------------------

class DebugCapture {
public:
    void start() {
        if (!cookie_) cookie_ = DebugOutputAddListener(&DebugCapture::listen, this);
    }
    void stop() {
        if (cookie_) DebugOutputRemoveListener(cookie_);
        cookie_ = 0;
    }
    ~DebugCapture() { stop(); }
    std::string text() {
        std::lock_guard<std::mutex> g(lock_);
        return text_;
    }
    void clear() {
        std::lock_guard<std::mutex> g(lock_);
        text_.clear();
    }

private:
    static void listen(const char* s, void* self) {
        auto* c = static_cast<DebugCapture*>(self);
        std::lock_guard<std::mutex> g(c->lock_);
        c->text_ += s;
    }
    int cookie_ = 0;
    std::mutex lock_;
    std::string text_;
};

// ---- registry ----------------------------------------------------------------------------------

HKEY root_of(const std::string& name) {
    if (name == "HKEY_CLASSES_ROOT" || name == "HKCR") return HKEY_CLASSES_ROOT;
    if (name == "HKEY_LOCAL_MACHINE" || name == "HKLM") return HKEY_LOCAL_MACHINE;
    if (name == "HKEY_CURRENT_USER" || name == "HKCU") return HKEY_CURRENT_USER;
    throw py::value_error("unknown registry root '" + name +
                          "' (use HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER)");
}

// Registry names and values are C strings: one holding a NUL is refused, never cut short.
void check_registry_text(const std::string& s, const char* what) {
    if (s.find('\0') != std::string::npos)
        raise_com(E_INVALIDARG, system_text(E_INVALIDARG) + " (the registry " + what + " holds a NUL character)", "");
}

[[noreturn]] void raise_registry(LONG e, const std::string& what) {
    char problem[512];
    VantorRegistryProblem(problem, sizeof problem);
    std::string text = system_text(HRESULT_FROM_WIN32(e)) + " (" + what + ")";
    if (e == ERROR_BADDB && problem[0]) text += ": " + std::string(problem);
    raise_com(HRESULT_FROM_WIN32(e), text, "");
}

py::object registry_get(const std::string& root, const std::string& key, const std::string& name) {
    check_registry_text(key, "key");
    check_registry_text(name, "value name");
    HKEY k;
    if (RegOpenKeyExA(root_of(root), key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return py::none();
    DWORD type = 0, size = 0;
    LONG e = RegQueryValueExA(k, name.c_str(), nullptr, &type, nullptr, &size);
    if (e != ERROR_SUCCESS) {
        RegCloseKey(k);
        return py::none();
    }
    std::string data(size, '\0');
    e = RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(k);
    if (e != ERROR_SUCCESS) return py::none();
    if (type == REG_DWORD) {
        DWORD n;
        std::memcpy(&n, data.data(), 4);
        return py::int_(n);
    }
    return py::str(std::string(data.c_str()));
}

void registry_set(const std::string& root, const std::string& key, const std::string& name, py::handle value) {
    check_registry_text(key, "key");
    check_registry_text(name, "value name");
    if (py::isinstance<py::str>(value)) check_registry_text(value.cast<std::string>(), "value");
    HKEY k;
    LONG e = RegCreateKeyExA(root_of(root), key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (e != ERROR_SUCCESS) raise_registry(e, "creating " + key);
    if (py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value)) {
        long long n = value.cast<long long>();
        if (n < 0 || n > 0xFFFFFFFFLL) {
            RegCloseKey(k);
            throw py::value_error("registry numbers are 32-bit unsigned values");
        }
        DWORD d = static_cast<DWORD>(n);
        e = RegSetValueExA(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), 4);
    } else if (py::isinstance<py::str>(value)) {
        std::string s = value.cast<std::string>();
        e = RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()),
                           static_cast<DWORD>(s.size() + 1));
    } else {
        RegCloseKey(k);
        throw py::type_error("registry values are str or int");
    }
    RegCloseKey(k);
    if (e != ERROR_SUCCESS) raise_registry(e, "setting " + key + "\\" + name);
}

bool registry_delete(const std::string& root, const std::string& key) {
    check_registry_text(key, "key");
    LONG e = RegDeleteTreeA(root_of(root), key.c_str());
    if (e == ERROR_FILE_NOT_FOUND) return false;
    if (e != ERROR_SUCCESS) raise_registry(e, "deleting " + key);
    return true;
}

std::vector<std::string> registry_subkeys(const std::string& root, const std::string& key) {
    check_registry_text(key, "key");
    std::vector<std::string> names;
    HKEY k;
    if (RegOpenKeyExA(root_of(root), key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
    std::vector<char> name(256);
    for (DWORD i = 0;;) {
        DWORD size = static_cast<DWORD>(name.size());
        LONG e = RegEnumKeyExA(k, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (e == ERROR_MORE_DATA && size > name.size()) {
            name.resize(size);  // the size it needs, terminator included: ask again
            continue;
        }
        if (e != ERROR_SUCCESS) break;
        names.emplace_back(name.data(), size);
        ++i;
    }
    RegCloseKey(k);
    return names;
}

}  // namespace vantor::host

using namespace vantor::host;

PYBIND11_MODULE(_vantor, m) {
    m.doc() = "Vantor's script host: late-bound calls into COM-style objects.";
    CoInitialize(nullptr);

    py::class_<Dispatch, std::shared_ptr<Dispatch>>(m, "Dispatch")
        .def(py::init(&create), py::arg("progid"))
        // Every attribute not starting with "_" is a member of the object: looked up directly,
        // without Python's failed normal lookup first.
        .def("__getattribute__",
             [](py::handle self, py::str name) -> py::object {
                 if (PyUnicode_GetLength(name.ptr()) > 0 && PyUnicode_ReadChar(name.ptr(), 0) == '_') {
                     PyObject* found = PyObject_GenericGetAttr(self.ptr(), name.ptr());
                     if (!found) throw py::error_already_set();
                     return py::reinterpret_steal<py::object>(found);
                 }
                 return self.cast<Dispatch&>().getattr(py::handle(name));
             })
        .def("__getattr__", [](Dispatch& d, py::str name) { return d.getattr(py::handle(name)); })
        .def("__setattr__", [](Dispatch& d, py::str name, py::handle value) { d.setattr(name, value); })
        .def("__call__",
             [](Dispatch& d, const py::args& args, const py::kwargs& kwargs) {
                 return d.invoke(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, kwargs, "(default)");
             })
        .def("__getitem__",
             [](Dispatch& d, py::object key) {
                 return d.invoke(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, py::make_tuple(key), py::kwargs(),
                                 "Item");
             })
        .def("__len__", [](Dispatch& d) { return d.getattr("Count").cast<long long>(); })
        .def("__iter__", &iterate, py::return_value_policy::take_ownership)
        .def("__bool__", [](Dispatch&) { return true; })
        .def("__eq__",
             [](Dispatch& a, py::object b) {
                 return py::isinstance<Dispatch>(b) && a.identity() == b.cast<Dispatch&>().identity();
             })
        .def("__hash__", [](Dispatch& d) { return static_cast<py::ssize_t>(d.identity() >> 4); })
        .def("__dir__", &Dispatch::member_names)
        .def("__repr__", [](Dispatch& d) { return "<vantor.Dispatch " + d.type_name() + ">"; })
        .def_property_readonly("_type_name", &Dispatch::type_name)
        // The collection's enumerator as a late-bound object: Next, Skip, Reset, Clone.
        .def_property_readonly("_NewEnum", [](Dispatch& d) { return iterate(d); }, py::return_value_policy::take_ownership);

    py::class_<BoundMember>(m, "BoundMember")
        .def("__call__", &BoundMember::call)
        .def("__repr__", &BoundMember::repr);

    py::class_<Enumerator>(m, "Enumerator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Enumerator::next)
        .def("Next", &Enumerator::next_items, py::arg("count") = 1,
             "The next `count` items as a list (shorter at the end of the collection).")
        .def("Skip", &Enumerator::skip, py::arg("count") = 1, "Skips `count` items; False when fewer were left.")
        .def("Reset", &Enumerator::reset, "Starts again from the first item.")
        .def("Clone", &Enumerator::clone, py::return_value_policy::take_ownership,
             "A second enumerator at the same position.");

    py::class_<DebugCapture>(m, "DebugCapture")
        .def(py::init<>())
        .def("start", &DebugCapture::start)
        .def("stop", &DebugCapture::stop)
        .def("clear", &DebugCapture::clear)
        .def_property_readonly("text", &DebugCapture::text);

    m.def("call_component", &call_component, "Calls a component's entry point (DllRegisterServer, ...) by name.");
    m.def("key_exists", &key_exists, "Whether HKEY_CLASSES_ROOT has the key.");
    m.def("type_library_enums", &type_library_enums);
    m.def("type_library_classes", &type_library_classes);
    m.def("type_library_description", &type_library_description);
    m.def("system_text", &system_text);
    m.def("registry_get", &registry_get);
    m.def("registry_set", &registry_set);
    m.def("registry_delete", &registry_delete);
    m.def("registry_subkeys", &registry_subkeys);
    m.def("registry_path", [] {
        char buf[4096];
        VantorRegistryPath(buf, sizeof buf);
        return std::string(buf);
    });
    m.def("registry_problem", [] {
        char buf[1024];
        VantorRegistryProblem(buf, sizeof buf);
        return std::string(buf);
    });
    // Resource names are C strings too: one with a NUL is refused, never cut short.
    auto resource_name = [](const std::string& name) {
        if (name.find('\0') != std::string::npos) throw py::value_error("a resource name cannot hold a NUL character");
        return name;
    };
    m.def("add_bitmap_resource", [resource_name](const std::string& name, py::bytes data) {
        resource_name(name);
        std::string bytes = data;
        return VantorAddResource(GetModuleHandleA(nullptr), "BITMAP", name.c_str(), bytes.data(), bytes.size(), FALSE) != 0;
    });
    bind_windows(m);
    m.def("remove_bitmap_resource", [resource_name](const std::string& name) {
        resource_name(name);
        return VantorRemoveResource(GetModuleHandleA(nullptr), "BITMAP", name.c_str()) != 0;
    });
}
