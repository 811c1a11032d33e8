// _vantor: the Python script host. Late binding only: every call goes through GetIDsOfNames
// (names cached per type) and Invoke; failures become vantor.COMError.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <structmember.h>

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

// Python value -> VARIANT (owned by the caller, cleared with VariantClear).
void to_variant(py::handle value, VARIANT& v, size_t position, bool is_long = false);

// Runs the body of a slot that CPython calls directly: a C++ exception becomes the Python error.
template <typename Result, typename Body>
Result guarded(Result failed, Body body) {
    try {
        return body();
    } catch (...) {
        py::detail::translate_exception(std::current_exception());
        return failed;
    }
}

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
    std::unordered_map<std::string, MemberInfo> members;  // by lower-case name (nodes never move)
    // The names as scripts spelled them -> the address of the member (an int): a dict, so a
    // lookup reuses the hash the name's str already holds and allocates nothing.
    py::dict spelled;
    ~TypeCache() {
        if (info) info->Release();
    }
};

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The caches of every type seen, kept for the life of the process: by interface id, and by the
// type information pointers that led to them (each held, so no other type can reuse one).
std::map<std::string, std::unique_ptr<TypeCache>>& type_caches() {
    static auto* caches = new std::map<std::string, std::unique_ptr<TypeCache>>;
    return *caches;
}

std::unordered_map<ITypeInfo*, TypeCache*>& caches_by_info() {
    static auto* caches = new std::unordered_map<ITypeInfo*, TypeCache*>;
    return *caches;
}

std::string guid_key(REFGUID g) {
    OLECHAR w[40];
    StringFromGUID2(g, w, 40);
    return text::utf8z(w);
}

// The arguments of one call as Python passed them: positional ones, then named ones.
struct CallArgs {
    PyObject* const* positional = nullptr;
    size_t positional_count = 0;
    PyObject* const* named_values = nullptr;
    PyObject* const* named_names = nullptr;
    size_t named_count = 0;
};

// ---- Dispatch -----------------------------------------------------------------------------------------

class Dispatch {
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
        // A plain str is looked up as spelled first (its hash is already in the str).
        const bool plain = PyUnicode_CheckExact(name.ptr());
        if (plain) {
            PyObject* hit = PyDict_GetItemWithError(cache_->spelled.ptr(), name.ptr());
            if (hit) return *static_cast<const MemberInfo*>(PyLong_AsVoidPtr(hit));
            if (PyErr_Occurred()) throw py::error_already_set();
        }
        std::string text;
        if (!c_string_of(name, text))
            raise_com(DISP_E_UNKNOWNNAME,
                      system_text(DISP_E_UNKNOWNNAME) + " " + shown(name) + " is not a member of " + cache_->name + ".",
                      "", "MemberNotFoundError");
        const MemberInfo& found = member(text);
        if (plain) {
            py::object address = py::reinterpret_steal<py::object>(PyLong_FromVoidPtr(const_cast<MemberInfo*>(&found)));
            if (!address || PyDict_SetItem(cache_->spelled.ptr(), name.ptr(), address.ptr()) < 0)
                throw py::error_already_set();
        }
        return found;
    }

    // Looks a member up by name (GetIDsOfNames once per type and name; a failure is not kept).
    const MemberInfo& member(const std::string& name) {
        // Automation names are case-insensitive.
        std::string key = lower(name);
        auto it = cache_->members.find(key);
        if (it != cache_->members.end()) return it->second;
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
        return cache_->members.emplace(key, std::move(info)).first->second;
    }

    // Calls with Python's own containers for the arguments (a tuple and a dict).
    py::object invoke(DISPID id, WORD flags, const py::args& args, const py::kwargs& kwargs, const std::string& name) {
        CallArgs call;
        call.positional = PySequence_Fast_ITEMS(args.ptr());
        call.positional_count = args.size();
        std::vector<PyObject*> names, values;
        if (kwargs && kwargs.size()) {
            for (auto item : kwargs) {
                names.push_back(item.first.ptr());
                values.push_back(item.second.ptr());
            }
            call.named_names = names.data();
            call.named_values = values.data();
            call.named_count = names.size();
        }
        return invoke(id, flags, call, name);
    }

    py::object invoke(DISPID id, WORD flags, const CallArgs& call, const std::string& name, bool put = false,
                      const MemberInfo* info = nullptr) {
        const size_t positional = call.positional_count;
        const size_t named = call.named_count;
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
            for (size_t i = 0; i < named; ++i) {
                std::string arg;
                py::handle key(call.named_names[i]);
                if (!c_string_of(key, arg))
                    raise_com(DISP_E_UNKNOWNNAME,
                              system_text(DISP_E_UNKNOWNNAME) + " " + shown(key) + " is not a parameter of " + name + ".",
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
                for (size_t i = 0; i < named; ++i)
                    if (ids[i + 1] == DISPID_UNKNOWN) c_string_of(py::handle(call.named_names[i]), unknown);
                raise_com(DISP_E_PARAMNOTFOUND,
                          system_text(DISP_E_PARAMNOTFOUND) + " '" + unknown + "' is not a parameter of " + name + ".",
                          "");
            }
            for (size_t i = 0; i < named; ++i) {
                to_variant(call.named_values[i], vars[i], positional + i + 1);
                named_ids.push_back(ids[i + 1]);
            }
        }
        for (size_t k = 0; k < positional; ++k) {
            bool is_long = info && (put ? info->put_takes_long : k < info->long_inputs.size() && info->long_inputs[k]);
            to_variant(call.positional[k], vars[count - 1 - k], k + 1, is_long);
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
        if (result.vt == VT_EMPTY) return py::none();
        py::object out = from_variant(result);
        VariantClear(&result);
        return out;
    }

    // A property without required parameters reads as its value; a method or a parameterised
    // property as a callable bound to `self` (this object's Python wrapper); a write-only property
    // fails as Automation says (member not found).
    py::object getattr(py::handle self, py::handle name) { return read(self, member(name)); }
    py::object getattr(py::handle self, const std::string& name) { return read(self, member(name)); }
    py::object read(py::handle self, const MemberInfo& m) {
        if ((m.has_get && !m.get_needs_arguments) || (!m.has_get && !m.has_method))
            return invoke(m.id, DISPATCH_PROPERTYGET, CallArgs{}, m.name);
        return bound(self, m);
    }

    void setattr(py::handle name, py::handle value) {
        const MemberInfo& m = member(name);
        PyObject* argument = value.ptr();
        CallArgs call;
        call.positional = &argument;
        call.positional_count = 1;
        invoke(m.id, DISPATCH_PROPERTYPUT, call, m.name, true, &m);
    }

    py::object bound(py::handle self, const MemberInfo& m);

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
    // The cache of the object's type, shared by every object of that type. An object without
    // type information (or whose type has no id) gets a cache of its own: two such objects may
    // give one name different DISPIDs.
    TypeCache* cache_for(IDispatch* d) {
        ITypeInfo* info = nullptr;
        if (FAILED(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info))) info = nullptr;
        auto& by_info = caches_by_info();
        if (info) {
            auto seen = by_info.find(info);
            if (seen != by_info.end()) {
                info->Release();
                return seen->second;
            }
        }
        std::string key;
        std::string name = "IDispatch";
        if (info) {
            TYPEATTR* attr = nullptr;
            if (SUCCEEDED(info->GetTypeAttr(&attr)) && attr) {
                key = guid_key(attr->guid);
                info->ReleaseTypeAttr(attr);
            }
            BSTR n = nullptr;
            if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &n, nullptr, nullptr, nullptr))) name = text::utf8(n);
            SysFreeString(n);
        }
        if (key.empty()) {
            own_ = std::make_unique<TypeCache>();
            own_->name = name;
            own_->info = info;
            return own_.get();
        }
        auto& caches = type_caches();
        auto it = caches.find(key);
        if (it == caches.end()) {
            auto cache = std::make_unique<TypeCache>();
            cache->name = name;
            info->AddRef();
            cache->info = info;
            it = caches.emplace(key, std::move(cache)).first;
        }
        by_info.emplace(info, it->second.get());  // keeps the reference GetTypeInfo gave
        return it->second.get();
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
    std::unique_ptr<TypeCache> own_;  // for an object without type information
};

// The C++ object of a Dispatch wrapper, or null when it was never initialised.
Dispatch* dispatch_of(PyObject* self) {
    auto vh = reinterpret_cast<py::detail::instance*>(self)->get_value_and_holder();
    return vh.holder_constructed() ? vh.value_ptr<Dispatch>() : nullptr;
}

Dispatch& checked_dispatch(PyObject* self) {
    Dispatch* d = dispatch_of(self);
    if (!d) throw py::type_error("the Dispatch object was not initialised");
    return *d;
}

// ---- attribute slots ---------------------------------------------------------------------------
// Python calls these directly for every attribute of a Dispatch: a name not starting with "_" is
// a member of the object, looked up without Python's normal lookup failing first; "_" names are
// the wrapper's own (_type_name, _NewEnum) and otherwise asked of the object too.

PyObject* dispatch_getattro(PyObject* self, PyObject* name) {
    if (!PyUnicode_Check(name) || (PyUnicode_GET_LENGTH(name) > 0 && PyUnicode_READ_CHAR(name, 0) == '_')) {
        PyObject* found = PyObject_GenericGetAttr(self, name);
        if (found || !PyUnicode_Check(name) || !PyErr_ExceptionMatches(PyExc_AttributeError)) return found;
        PyErr_Clear();
    }
    return guarded<PyObject*>(nullptr, [&] { return checked_dispatch(self).getattr(self, name).release().ptr(); });
}

int dispatch_setattro(PyObject* self, PyObject* name, PyObject* value) {
    if (!value || !PyUnicode_Check(name)) return PyObject_GenericSetAttr(self, name, value);  // del, or not a name
    return guarded(-1, [&] {
        checked_dispatch(self).setattr(name, value);
        return 0;
    });
}

// ---- bound members -----------------------------------------------------------------------------
// A method or parameterised property read from an object, called like a function. A plain
// CPython type with vectorcall: reading and calling one allocates one small object and nothing
// else.

struct BoundObject {
    PyObject_HEAD
    PyObject* owner;           // the Dispatch wrapper it was read from (held)
    Dispatch* dispatch;        // owner's object
    const MemberInfo* member;  // in the type cache, which outlives the owner
    vectorcallfunc vectorcall;
};

PyTypeObject* bound_type = nullptr;

PyObject* bound_call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* b = reinterpret_cast<BoundObject*>(self);
    return guarded<PyObject*>(nullptr, [&] {
        CallArgs call;
        call.positional = args;
        call.positional_count = static_cast<size_t>(PyVectorcall_NARGS(nargsf));
        if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) {
            call.named_names = PySequence_Fast_ITEMS(kwnames);
            call.named_values = args + call.positional_count;
            call.named_count = static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
        }
        const MemberInfo& m = *b->member;
        return b->dispatch->invoke(m.id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, call, m.name, false, &m).release().ptr();
    });
}

void bound_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<BoundObject*>(self)->owner);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* bound_repr(PyObject* self) {
    auto* b = reinterpret_cast<BoundObject*>(self);
    std::string text = "<bound member " + b->dispatch->type_name() + "." + b->member->name + ">";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyMemberDef bound_members[] = {
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(BoundObject, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot bound_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&bound_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&bound_repr)},
    {Py_tp_call, reinterpret_cast<void*>(&PyVectorcall_Call)},
    {Py_tp_members, bound_members},
    {Py_tp_doc, const_cast<char*>("A method or parameterised property of a Vantor object, bound to it.")},
    {0, nullptr},
};

PyType_Spec bound_spec = {"vantor._vantor.BoundMember", sizeof(BoundObject), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL, bound_slots};

py::object Dispatch::bound(py::handle self, const MemberInfo& m) {
    PyObject* o = bound_type->tp_alloc(bound_type, 0);
    if (!o) throw py::error_already_set();
    auto* b = reinterpret_cast<BoundObject*>(o);
    b->owner = self.inc_ref().ptr();
    b->dispatch = this;
    b->member = &m;
    b->vectorcall = &bound_call;
    return py::reinterpret_steal<py::object>(o);
}
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
    PyObject* o = value.ptr();
    if (PyFloat_CheckExact(o)) {  // the most common value first
        v.vt = VT_R8;
        v.dblVal = PyFloat_AS_DOUBLE(o);
    } else if (o == Py_None) {
        v.vt = VT_NULL;  // a null string or a null object where the parameter takes one
    } else if (PyBool_Check(o)) {
        v.vt = VT_BOOL;
        v.boolVal = o == Py_True ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (PyLong_Check(o)) {
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (n == -1 && !overflow && PyErr_Occurred()) throw py::error_already_set();
        if (overflow) n = LLONG_MAX;
        if (n >= INT32_MIN && n <= INT32_MAX) {
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(n);
        } else if (is_long && n > INT32_MAX && n <= 0xFFFFFFFFLL) {
            v.vt = VT_I4;  // a long written as an unsigned 32-bit value (0xFFFFFFFF is -1)
            v.lVal = static_cast<LONG>(static_cast<uint32_t>(n));
        } else {
            // Too large for a long: the member's own range check decides. One too large for
            // any number a member takes is refused here.
            double d = PyLong_AsDouble(o);
            if (d == -1.0 && PyErr_Occurred()) {
                PyErr_Clear();
                raise_com(DISP_E_OVERFLOW,
                          system_text(DISP_E_OVERFLOW) + " (argument " + std::to_string(position) +
                              ": the integer is too large for any number a COM member takes)",
                          "");
            }
            v.vt = VT_R8;
            v.dblVal = d;
        }
    } else if (PyFloat_Check(o)) {
        v.vt = VT_R8;
        v.dblVal = PyFloat_AsDouble(o);
        if (v.dblVal == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    } else if (PyUnicode_Check(o)) {
        // UTF-16 code units, lone surrogates included (a BSTR holds any code unit).
        py::object bytes = py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(o, "utf-16-le", "surrogatepass"));
        if (!bytes) throw py::error_already_set();
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(PyBytes_AS_STRING(bytes.ptr())),
                                      static_cast<UINT>(PyBytes_GET_SIZE(bytes.ptr()) / 2));
        if (!v.bstrVal) {
            v.vt = VT_EMPTY;
            throw std::bad_alloc();
        }
    } else if (py::isinstance<Dispatch>(value)) {
        Dispatch* d = dispatch_of(o);
        if (!d) throw py::type_error("the Dispatch object was not initialised");
        v.vt = VT_DISPATCH;
        v.pdispVal = d->get();
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
    // Only what this creation reports may explain its failure: a record left on the thread by an
    // earlier call (an owner that went on without a child) belongs to another object.
    SetErrorInfo(0, nullptr);
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
    std::string text_value;
    if (py::isinstance<py::str>(value)) {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
        if (!data) {  // a lone surrogate has no UTF-8 form
            PyErr_Clear();
            throw py::value_error("registry values are text without lone surrogates");
        }
        text_value.assign(data, static_cast<size_t>(size));
        check_registry_text(text_value, "value");
    }
    HKEY k;
    LONG e = RegCreateKeyExA(root_of(root), key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (e != ERROR_SUCCESS) raise_registry(e, "creating " + key);
    if (py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value)) {
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (overflow || n < 0 || n > 0xFFFFFFFFLL) {
            RegCloseKey(k);
            throw py::value_error("registry numbers are 32-bit unsigned values");
        }
        DWORD d = static_cast<DWORD>(n);
        e = RegSetValueExA(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), 4);
    } else if (py::isinstance<py::str>(value)) {
        e = RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text_value.c_str()),
                           static_cast<DWORD>(text_value.size() + 1));
    } else {
        RegCloseKey(k);
        throw py::type_error("registry values are str or int");
    }
    RegCloseKey(k);
    if (e != ERROR_SUCCESS) raise_registry(e, "setting " + key + "\\" + name);
}

bool registry_delete(const std::string& root, const std::string& key) {
    check_registry_text(key, "key");
    // An empty name would clear the whole root: every class of every component registered there.
    if (key.find_first_not_of('\\') == std::string::npos)
        throw py::value_error("delete_key needs the name of a key under the root");
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

    py::class_<Dispatch, std::shared_ptr<Dispatch>> dispatch(m, "Dispatch");
    dispatch.def(py::init(&create), py::arg("progid"))
        // Attribute access goes through dispatch_getattro and dispatch_setattro, set as the type's
        // slots below; these entries serve Python subclasses and explicit calls.
        .def("__getattribute__",
             [](py::handle self, py::handle name) {
                 PyObject* r = dispatch_getattro(self.ptr(), name.ptr());
                 if (!r) throw py::error_already_set();
                 return py::reinterpret_steal<py::object>(r);
             })
        .def("__setattr__",
             [](py::handle self, py::handle name, py::handle value) {
                 if (dispatch_setattro(self.ptr(), name.ptr(), value.ptr()) < 0) throw py::error_already_set();
             })
        .def("__call__",
             [](Dispatch& d, const py::args& args, const py::kwargs& kwargs) {
                 return d.invoke(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, kwargs, "(default)");
             })
        .def("__getitem__",
             [](Dispatch& d, py::handle key) {
                 static const std::string item = "Item";
                 PyObject* index = key.ptr();
                 CallArgs call;
                 call.positional = &index;
                 call.positional_count = 1;
                 return d.invoke(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, call, item);
             })
        .def("__len__", [](py::handle self) { return checked_dispatch(self.ptr()).getattr(self, "Count").cast<long long>(); })
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

    auto* dispatch_type = reinterpret_cast<PyTypeObject*>(dispatch.ptr());
    dispatch_type->tp_getattro = &dispatch_getattro;
    dispatch_type->tp_setattro = &dispatch_setattro;
    PyType_Modified(dispatch_type);

    bound_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&bound_spec));
    if (!bound_type) throw py::error_already_set();
    m.add_object("BoundMember", py::handle(reinterpret_cast<PyObject*>(bound_type)));

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
