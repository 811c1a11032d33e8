// Automation: VARIANT conversions, BSTRs, and late-bound calls through a type description
// (argument order, named arguments, defaults, coercion and every DISP_E_* error).
#include <gtest/gtest.h>
#include <vantor/text.h>
#include <vantor/typedesc.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

using namespace vantor::typedesc;

namespace {

// ---- a small interface described by hand, as the generator would ------------------------------

struct IThing : IDispatch {
    virtual HRESULT get_Value(FLOAT* v) = 0;
    virtual HRESULT put_Value(FLOAT v) = 0;
    virtual HRESULT get_Add(BSTR name, VARIANT_BOOL visible, FLOAT scale, LONG* out) = 0;
    virtual HRESULT Item(VARIANT index, VARIANT* item) = 0;
    virtual HRESULT Fail() = 0;
    virtual HRESULT Mode(LONG mode) = 0;
};

HRESULT stub_get_Value(void* self, VARIANT*, VARIANT* r) {
    FLOAT v{};
    HRESULT hr = static_cast<IThing*>(self)->get_Value(&v);
    if (SUCCEEDED(hr)) r->vt = VT_R4, r->fltVal = v;
    return hr;
}
HRESULT stub_put_Value(void* self, VARIANT* a, VARIANT*) { return static_cast<IThing*>(self)->put_Value(a[0].fltVal); }
HRESULT stub_get_Add(void* self, VARIANT* a, VARIANT* r) {
    LONG v{};
    HRESULT hr = static_cast<IThing*>(self)->get_Add(a[0].bstrVal, a[1].boolVal, a[2].fltVal, &v);
    if (SUCCEEDED(hr)) r->vt = VT_I4, r->lVal = v;
    return hr;
}
HRESULT stub_Item(void* self, VARIANT* a, VARIANT*) { return static_cast<IThing*>(self)->Item(a[0], a[1].pvarVal); }
HRESULT stub_Fail(void* self, VARIANT*, VARIANT*) { return static_cast<IThing*>(self)->Fail(); }
HRESULT stub_Mode(void* self, VARIANT* a, VARIANT*) { return static_cast<IThing*>(self)->Mode(a[0].lVal); }

const ParamDesc kValueGet[] = {{"pVal", VT_R4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, -1, VT_EMPTY, 0, nullptr}};
const ParamDesc kValuePut[] = {{"newVal", VT_R4, PARAMFLAG_FIN, -1, VT_EMPTY, 0, nullptr}};
const ParamDesc kAdd[] = {
    {"Name", VT_BSTR, PARAMFLAG_FIN, -1, VT_EMPTY, 0, nullptr},
    {"Visible", VT_BOOL, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, -1, VT_BOOL, -1, nullptr},
    {"Scale", VT_R4, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, -1, VT_R4, 2.5, nullptr},
    {"pVal", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, -1, VT_EMPTY, 0, nullptr},
};
const ParamDesc kItem[] = {
    {"Index", VT_VARIANT, PARAMFLAG_FIN, -1, VT_EMPTY, 0, nullptr},
    {"pItem", VT_VARIANT, PARAMFLAG_FOUT, -1, VT_EMPTY, 0, nullptr},
};
const ParamDesc kMode[] = {{"Mode", VT_I4, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, 0, VT_I4, 3, nullptr}};
const MemberDesc kMembers[] = {
    {1, INVOKE_PROPERTYGET, "Value", "The value.", 1, kValueGet, 7, stub_get_Value},
    {1, INVOKE_PROPERTYPUT, "Value", "Sets the value.", 1, kValuePut, 8, stub_put_Value},
    {2, INVOKE_PROPERTYGET, "Add", "Adds.", 4, kAdd, 9, stub_get_Add},
    {0, INVOKE_FUNC, "Item", "An item.", 2, kItem, 10, stub_Item},
    {3, INVOKE_FUNC, "Fail", "Fails.", 0, nullptr, 11, stub_Fail},
    {4, INVOKE_FUNC, "Mode", "Takes a mode.", 1, kMode, 12, stub_Mode},
};
const GUID kIID = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const EnumMemberDesc kModes[] = {{"md_None", 0}, {"md_Linear", 3}, {"md_Cyan", 16776960}, {"md_Yellow", 16776960}};
const EnumDesc kEnums[] = {{{0x1, 0, 0, {0}}, "Modes", "List of Modes.", 4, kModes}};
const InterfaceDesc kInterfaces[] = {{kIID, "IThing", "A thing.", TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE, false, 6, kMembers}};
const CoClassDesc kClasses[] = {{{0x2, 0, 0, {0}}, "Thing", "Thing Class", 0, -1}};
const TypeLibDesc kLib = {{0x3, 0, 0, {0}}, "TestLib", "Test Library", 1, 0, 1, kEnums, 1, kInterfaces, 1, kClasses};

class Thing final : public IThing {
public:
    explicit Thing(ITypeInfo* info) : info_(info) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* n, UINT c, LCID, DISPID* ids) override { return DispGetIDsOfNames(info_, n, c, ids); }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD f, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e, UINT* a) override {
        return DispInvoke(static_cast<IThing*>(this), info_, id, f, p, r, e, a);
    }
    HRESULT get_Value(FLOAT* v) override { return *v = value, S_OK; }
    HRESULT put_Value(FLOAT v) override { return value = v, S_OK; }
    HRESULT get_Add(BSTR name, VARIANT_BOOL visible, FLOAT scale, LONG* out) override {
        last_name = name ? vantor::text::utf8(name) : "<null>";
        last_visible = visible;
        last_scale = scale;
        *out = 42;
        return S_OK;
    }
    HRESULT Item(VARIANT index, VARIANT* item) override {
        last_index_type = index.vt;
        item->vt = VT_I4, item->lVal = 7;
        return S_OK;
    }
    HRESULT Fail() override {
        ICreateErrorInfo* c = nullptr;
        CreateErrorInfo(&c);
        c->SetSource(const_cast<LPOLESTR>(u"Test.Thing.1"));
        c->SetDescription(const_cast<LPOLESTR>(u"It failed."));
        IErrorInfo* e = nullptr;
        c->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&e));
        SetErrorInfo(0, e);
        e->Release();
        c->Release();
        return E_POINTER;
    }
    HRESULT Mode(LONG mode) override { return last_mode = mode, S_OK; }

    float value = 0;
    std::string last_name;
    VARIANT_BOOL last_visible = 0;
    float last_scale = 0;
    VARTYPE last_index_type = VT_EMPTY;
    LONG last_mode = -1;

private:
    ITypeInfo* info_;
};

// Builds rgvarg from arguments given in call order.
struct Args {
    std::vector<VARIANT> v;
    std::vector<DISPID> named;
    DISPPARAMS dp{};
    Args& i4(LONG x) { return push([&](VARIANT& a) { a.vt = VT_I4; a.lVal = x; }); }
    Args& r8(double x) { return push([&](VARIANT& a) { a.vt = VT_R8; a.dblVal = x; }); }
    Args& str(const char* s) { return push([&](VARIANT& a) { a.vt = VT_BSTR; a.bstrVal = vantor::text::bstr(s); }); }
    Args& null() { return push([&](VARIANT& a) { a.vt = VT_NULL; }); }
    Args& missing() { return push([&](VARIANT& a) { a.vt = VT_ERROR; a.scode = DISP_E_PARAMNOTFOUND; }); }
    template <class F>
    Args& push(F f) {
        VARIANT a;
        VariantInit(&a);
        f(a);
        v.insert(v.begin(), a);  // Automation passes the arguments in reverse order
        return *this;
    }
    DISPPARAMS* params() {
        dp = {v.empty() ? nullptr : v.data(), named.empty() ? nullptr : named.data(), static_cast<UINT>(v.size()),
              static_cast<UINT>(named.size())};
        return &dp;
    }
    ~Args() {
        for (VARIANT& a : v) VariantClear(&a);
    }
};

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(VantorCreateTypeLib(&kLib, &lib), S_OK);
        ASSERT_EQ(lib->GetTypeInfoOfGuid(kIID, &info), S_OK);
        thing = std::make_unique<Thing>(info);
    }
    void TearDown() override {
        thing.reset();
        info->Release();
        lib->Release();
    }
    HRESULT call(DISPID id, WORD flags, Args& a, VARIANT* result = nullptr, UINT* argErr = nullptr, EXCEPINFO* ei = nullptr) {
        return thing->Invoke(id, GUID_NULL, 0, flags, a.params(), result, ei, argErr);
    }

    ITypeLib* lib = nullptr;
    ITypeInfo* info = nullptr;
    std::unique_ptr<Thing> thing;
};

TEST_F(DispatchTest, PositionalArgumentsDefaultsAndNamedArguments) {
    struct Case {
        const char* what;
        void (*fill)(Args&);
        WORD flags;
        std::string name;
        VARIANT_BOOL visible;
        float scale;
    };
    constexpr WORD kGet = DISPATCH_PROPERTYGET, kEither = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    const Case cases[] = {
        {"Visible and Scale left out take their defaults", [](Args& a) { a.str("first"); }, kEither, "first", VARIANT_TRUE,
         2.5f},
        {"a string converts to the float parameter", [](Args& a) { a.str("second").i4(0).str("0.75"); }, kGet, "second",
         VARIANT_FALSE, 0.75f},
        {"Scale by name (named arguments come first), Name positional",
         [](Args& a) {
             a.r8(4.0).str("third");
             a.v = {a.v[1], a.v[0]};
             a.named = {2};
         },
         kEither, "third", VARIANT_TRUE, 4.0f},
        {"an argument explicitly missing takes its default", [](Args& a) { a.str("fourth").missing().r8(1.5); }, kGet,
         "fourth", VARIANT_TRUE, 1.5f},
        {"VT_NULL passes a null string", [](Args& a) { a.null(); }, kGet, "<null>", VARIANT_TRUE, 2.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Args args;
        c.fill(args);
        VARIANT r;
        VariantInit(&r);
        ASSERT_EQ(call(2, c.flags, args, &r), S_OK);
        EXPECT_EQ(std::tie(r.vt, r.lVal), std::tuple(VARTYPE{VT_I4}, 42));
        EXPECT_EQ(std::tie(thing->last_name, thing->last_visible, thing->last_scale),
                  std::tie(c.name, c.visible, c.scale));
    }
    Args mode;
    ASSERT_EQ(call(4, DISPATCH_METHOD, mode), S_OK);
    EXPECT_EQ(thing->last_mode, 3) << "enumeration default";
}

TEST_F(DispatchTest, PropertyPutAndGet) {
    Args put;
    put.i4(3);
    put.named = {DISPID_PROPERTYPUT};
    ASSERT_EQ(call(1, DISPATCH_PROPERTYPUT, put), S_OK);
    EXPECT_EQ(thing->value, 3.0f);
    VARIANT r;
    VariantInit(&r);
    Args none;
    ASSERT_EQ(call(1, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, &r), S_OK);
    EXPECT_EQ(std::tie(r.vt, r.fltVal), std::tuple(VARTYPE{VT_R4}, 3.0f));
}

TEST_F(DispatchTest, ErrorsNameTheArgumentAndTheProblem) {
    VARIANT r;
    VariantInit(&r);
    UINT argErr = 99;
    Args none;
    EXPECT_EQ(call(2, DISPATCH_PROPERTYGET, none, &r), DISP_E_PARAMNOTOPTIONAL);
    Args many;
    many.str("a").i4(1).i4(2).i4(3);
    EXPECT_EQ(call(2, DISPATCH_PROPERTYGET, many, &r), DISP_E_BADPARAMCOUNT);
    Args bad;
    bad.str("a").i4(1).str("not a number");
    EXPECT_EQ(call(2, DISPATCH_PROPERTYGET, bad, &r, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u) << "rgvarg index of the third argument";
    Args big;
    big.str("a").i4(1).r8(1e40);
    EXPECT_EQ(call(2, DISPATCH_PROPERTYGET, big, &r, &argErr), DISP_E_OVERFLOW);
    Args badName;
    badName.i4(1);
    badName.named = {17};
    EXPECT_EQ(call(2, DISPATCH_PROPERTYGET, badName, &r, &argErr), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(call(99, DISPATCH_METHOD, none, &r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(2, DISPATCH_METHOD, none, &r), DISP_E_MEMBERNOTFOUND) << "a property get asked for as a method only";
    EXPECT_EQ(call(3, DISPATCH_PROPERTYPUT, none, &r), DISP_E_MEMBERNOTFOUND);
}

TEST_F(DispatchTest, FailuresWithErrorInformationBecomeExceptions) {
    Args none;
    EXCEPINFO ei{};
    EXPECT_EQ(call(3, DISPATCH_METHOD, none, nullptr, nullptr, &ei), DISP_E_EXCEPTION);
    EXPECT_EQ(ei.scode, E_POINTER);
    EXPECT_EQ(vantor::text::utf8(ei.bstrSource), "Test.Thing.1");
    EXPECT_EQ(vantor::text::utf8(ei.bstrDescription), "It failed.");
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);
    // Without an EXCEPINFO the member's own result comes back and the information stays set.
    EXPECT_EQ(call(3, DISPATCH_METHOD, none), E_POINTER);
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_OK);
    info->Release();
}

TEST_F(DispatchTest, VariantParametersPassAsGivenAndOutValuesReturn) {
    VARIANT r;
    VariantInit(&r);
    VARIANT target;
    VariantInit(&target);
    LONG n = 5;
    Args byref;
    byref.push([&](VARIANT& a) { a.vt = VT_BYREF | VT_I4; a.plVal = &n; });
    ASSERT_EQ(call(0, DISPATCH_METHOD, byref, &r), S_OK);
    EXPECT_EQ(thing->last_index_type, VT_BYREF | VT_I4) << "a VARIANT parameter is not dereferenced";
    EXPECT_EQ(r.vt, VT_I4) << "an [out] value the caller left out comes back as the result";
    EXPECT_EQ(r.lVal, 7);
    Args given;
    given.i4(1).push([&](VARIANT& a) { a.vt = VT_BYREF | VT_VARIANT; a.pvarVal = &target; });
    VariantInit(&r);
    ASSERT_EQ(call(0, DISPATCH_METHOD, given, &r), S_OK);
    EXPECT_EQ(target.vt, VT_I4);
    EXPECT_EQ(target.lVal, 7);
    Args wrong;
    wrong.i4(1).i4(2);
    UINT argErr = 9;
    EXPECT_EQ(call(0, DISPATCH_METHOD, wrong, &r, &argErr), DISP_E_TYPEMISMATCH);
}

TEST_F(DispatchTest, TypeInformationListsMembersParametersAndDefaults) {
    LPOLESTR names[3] = {const_cast<LPOLESTR>(u"aDd"), const_cast<LPOLESTR>(u"SCALE"), const_cast<LPOLESTR>(u"name")};
    DISPID ids[3];
    ASSERT_EQ(info->GetIDsOfNames(names, 3, ids), S_OK);
    EXPECT_EQ(std::vector<DISPID>(ids, ids + 3), (std::vector<DISPID>{2, 2, 0})) << "a member, then its parameters";
    LPOLESTR unknown = const_cast<LPOLESTR>(u"Nope");
    EXPECT_EQ(info->GetIDsOfNames(&unknown, 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);

    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(2, &f), S_OK);
    EXPECT_EQ(std::tie(f->memid, f->invkind, f->cParams, f->oVft),
              std::tuple(2, INVOKE_PROPERTYGET, 4, static_cast<SHORT>(9 * sizeof(void*))));
    const PARAMDESC& scale = f->lprgelemdescParam[2].paramdesc;
    EXPECT_TRUE(scale.wParamFlags & PARAMFLAG_FHASDEFAULT);
    EXPECT_EQ(std::tie(scale.pparamdescex->varDefaultValue.vt, scale.pparamdescex->varDefaultValue.fltVal),
              std::tuple(VARTYPE{VT_R4}, 2.5f));
    EXPECT_EQ(std::tie(f->lprgelemdescParam[3].tdesc.vt, f->lprgelemdescParam[3].tdesc.lptdesc->vt),
              std::tuple(VARTYPE{VT_PTR}, VARTYPE{VT_I4}));
    EXPECT_TRUE(f->lprgelemdescParam[3].paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
    info->ReleaseFuncDesc(f);
    BSTR n[5] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(2, n, 5, &count), S_OK);
    ASSERT_EQ(count, 5u);
    EXPECT_EQ(std::tuple(vantor::text::utf8(n[0]), vantor::text::utf8(n[3])), std::tuple("Add", "Scale"));
    for (BSTR b : n) SysFreeString(b);

    ITypeInfo* e = nullptr;
    ASSERT_EQ(lib->GetTypeInfo(0, &e), S_OK);
    TYPEATTR* attr = nullptr;
    e->GetTypeAttr(&attr);
    EXPECT_EQ(std::tie(attr->typekind, attr->cVars), std::tuple(TKIND_ENUM, 4));
    e->ReleaseTypeAttr(attr);
    VARDESC* v = nullptr;
    ASSERT_EQ(e->GetVarDesc(2, &v), S_OK);
    EXPECT_EQ(v->lpvarValue->lVal, 16776960);
    BSTR member = nullptr;
    e->GetNames(v->memid, &member, 1, &count);
    EXPECT_EQ(vantor::text::utf8(member), "md_Cyan");
    SysFreeString(member);
    e->ReleaseVarDesc(v);
    BSTR doc = nullptr;
    e->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr);
    EXPECT_EQ(vantor::text::utf8(doc), "List of Modes.");
    SysFreeString(doc);
    e->Release();
}

TEST(VariantTest, ConversionsFollowAutomationRules) {
    struct Case {
        VARIANT from;
        VARTYPE to;
        HRESULT hr;
        double expect;
    };
    auto i4 = [](LONG x) { VARIANT v; VariantInit(&v); v.vt = VT_I4; v.lVal = x; return v; };
    auto r8 = [](double x) { VARIANT v; VariantInit(&v); v.vt = VT_R8; v.dblVal = x; return v; };
    auto b = [](bool x) { VARIANT v; VariantInit(&v); v.vt = VT_BOOL; v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return v; };
    VARIANT empty;
    VariantInit(&empty);
    VARIANT null = empty;
    null.vt = VT_NULL;
    Case cases[] = {
        {r8(2.5), VT_I4, S_OK, 2},            // ties go to even
        {r8(3.5), VT_I4, S_OK, 4},
        {r8(-2.5), VT_I2, S_OK, -2},
        {r8(3e9), VT_I4, DISP_E_OVERFLOW, 0},
        {i4(40000), VT_I2, DISP_E_OVERFLOW, 0},
        {r8(1e39), VT_R4, DISP_E_OVERFLOW, 0},
        {i4(7), VT_BOOL, S_OK, -1},
        {b(true), VT_I4, S_OK, -1},
        {empty, VT_I4, S_OK, 0},
        {null, VT_I4, DISP_E_TYPEMISMATCH, 0},
        {r8(std::nan("")), VT_I4, DISP_E_OVERFLOW, 0},
    };
    for (Case& c : cases) {
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &c.from, 0, c.to), c.hr) << c.from.vt << "->" << c.to;
        if (c.hr == S_OK) {
            double got = c.to == VT_I4 ? out.lVal : c.to == VT_I2 ? out.iVal : c.to == VT_BOOL ? out.boolVal : out.fltVal;
            EXPECT_EQ(got, c.expect);
        }
    }
    VARIANT s, out;
    VariantInit(&s);
    VariantInit(&out);
    s.vt = VT_BSTR;
    s.bstrVal = vantor::text::bstr(" 1.25 ");
    EXPECT_EQ(VariantChangeType(&out, &s, 0, VT_R4), S_OK);
    EXPECT_EQ(out.fltVal, 1.25f);
    SysReAllocString(&s.bstrVal, u"TRUE");
    EXPECT_EQ(VariantChangeType(&out, &s, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    SysReAllocString(&s.bstrVal, u"12abc");
    EXPECT_EQ(VariantChangeType(&out, &s, 0, VT_I4), DISP_E_TYPEMISMATCH);
    VariantClear(&s);
    VARIANT t = b(true);
    EXPECT_EQ(VariantChangeType(&out, &t, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
    EXPECT_EQ(vantor::text::utf8(out.bstrVal), "True");
    VariantClear(&out);
    VARIANT x = r8(0.5);
    EXPECT_EQ(VariantChangeType(&x, &x, 0, VT_BSTR), S_OK) << "in place";
    EXPECT_EQ(vantor::text::utf8(x.bstrVal), "0.5");
    VariantClear(&x);
}

TEST(BstrTest, LengthPrefixedAndNullSafe) {
    BSTR s = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(vantor::text::utf8(s), std::string("a\0b", 3));
    SysFreeString(s);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
    EXPECT_EQ(vantor::text::utf8(vantor::text::utf16("h\xC3\xA9llo \xF0\x9F\x98\x80")), "h\xC3\xA9llo \xF0\x9F\x98\x80");
    EXPECT_EQ(vantor::text::utf16("\xFF"), std::u16string(1, 0xFFFD)) << "invalid UTF-8 becomes U+FFFD";
}

}  // namespace
