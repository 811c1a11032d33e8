// vantor/com.h — COM and Automation: interfaces, BSTR, VARIANT, error information, activation.
//
//   CoInitialize(nullptr);
//   IDispatch* colour = nullptr;
//   CLSID clsid;
//   CLSIDFromProgID(u"Vantor.Colour", &clsid);
//   CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, (void**)&colour);
//   ... colour->Invoke(...) ...
//   colour->Release();
//
// Interfaces are abstract classes with no virtual destructor, so their vtables have the COM
// layout: the three IUnknown slots, then each interface's methods in declaration order.
// Every function returns an HRESULT unless noted; out-parameters are cleared before checks.
#pragma once

#include <vantor/types.h>

#include <atomic>
#include <new>

// ---------------------------------------------------------------------------------------------
// Interface identifiers and the uuid_of helper
// ---------------------------------------------------------------------------------------------
template <class T>
struct uuid_of;  // specialised for every interface: uuid_of<IDispatch>::value
#define VANTOR_DECLARE_UUID(T, NAME)                              \
    extern "C" VANTOR_API const IID NAME;                         \
    template <>                                                   \
    struct uuid_of<T> {                                           \
        static const IID& value() { return NAME; }                \
    };
// Header-only identifiers (for interfaces defined outside the runtime).
#define VANTOR_DEFINE_UUID(T, NAME, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr IID NAME = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};   \
    template <>                                                                 \
    struct uuid_of<T> {                                                         \
        static const IID& value() { return NAME; }                              \
    };
#define __uuidof(T) (uuid_of<T>::value())

struct IUnknown;
struct IDispatch;
struct ITypeInfo;
struct ITypeLib;
struct ITypeComp;
struct IErrorInfo;
struct IRecordInfo;

// ---------------------------------------------------------------------------------------------
// BSTR
// ---------------------------------------------------------------------------------------------
extern "C" {
VANTOR_API BSTR SysAllocString(const OLECHAR* s);
VANTOR_API BSTR SysAllocStringLen(const OLECHAR* s, UINT len);
VANTOR_API INT SysReAllocString(BSTR* p, const OLECHAR* s);
VANTOR_API void SysFreeString(BSTR s);
VANTOR_API UINT SysStringLen(BSTR s);
VANTOR_API UINT SysStringByteLen(BSTR s);
VANTOR_API LPVOID CoTaskMemAlloc(size_t n);
VANTOR_API void CoTaskMemFree(LPVOID p);
}

// ---------------------------------------------------------------------------------------------
// VARIANT
// ---------------------------------------------------------------------------------------------
typedef uint16_t VARTYPE;
enum VARENUM : uint16_t {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        ULONGLONG ullVal;
        LONG lVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        BYTE bVal;
        CHAR cVal;
        SHORT iVal;
        USHORT uiVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        void* byref;
    };
};
typedef VARIANT VARIANTARG;
#define V_VT(v) ((v)->vt)

// VariantChangeType flags
#define VARIANT_NOVALUEPROP 0x1
#define VARIANT_ALPHABOOL 0x2

extern "C" {
VANTOR_API void VariantInit(VARIANT* v);
VANTOR_API HRESULT VariantClear(VARIANT* v);
VANTOR_API HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
VANTOR_API HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src);
// Converts src to vt into dst (dst may equal src). Numbers convert between each other with
// range checks (DISP_E_OVERFLOW); strings parse as numbers ("1.5", "True"/"False" for VT_BOOL);
// VT_DISPATCH/VT_UNKNOWN convert through QueryInterface; anything else gives DISP_E_TYPEMISMATCH.
VANTOR_API HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, USHORT flags, VARTYPE vt);
}

// ---------------------------------------------------------------------------------------------
// IUnknown, IClassFactory, IDispatch
// ---------------------------------------------------------------------------------------------
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};
VANTOR_DECLARE_UUID(IUnknown, IID_IUnknown)

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;
};
VANTOR_DECLARE_UUID(IClassFactory, IID_IClassFactory)

struct DISPPARAMS {
    VARIANTARG* rgvarg;         // arguments in reverse order: rgvarg[cArgs-1] is the first
    DISPID* rgdispidNamedArgs;  // ids of the named arguments, which come first in rgvarg
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           UINT* puArgErr) = 0;
};
VANTOR_DECLARE_UUID(IDispatch, IID_IDispatch)

// ---------------------------------------------------------------------------------------------
// Error information
// ---------------------------------------------------------------------------------------------
struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;
};
VANTOR_DECLARE_UUID(IErrorInfo, IID_IErrorInfo)

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID rguid) = 0;
    virtual HRESULT SetSource(LPOLESTR szSource) = 0;
    virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
};
VANTOR_DECLARE_UUID(ICreateErrorInfo, IID_ICreateErrorInfo)

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};
VANTOR_DECLARE_UUID(ISupportErrorInfo, IID_ISupportErrorInfo)

extern "C" {
VANTOR_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// The calling thread's error information: SetErrorInfo replaces it (nullptr clears);
// GetErrorInfo hands it over (the thread's slot is cleared) or answers S_FALSE when there is none.
VANTOR_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
VANTOR_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
}

// ---------------------------------------------------------------------------------------------
// Enumerators and connection points
// ---------------------------------------------------------------------------------------------
struct IEnumVARIANT : IUnknown {
    virtual HRESULT Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumVARIANT** ppEnum) = 0;
};
VANTOR_DECLARE_UUID(IEnumVARIANT, IID_IEnumVARIANT)

struct IConnectionPointContainer;
struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};
struct IEnumConnections : IUnknown {
    virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;
};
VANTOR_DECLARE_UUID(IEnumConnections, IID_IEnumConnections)

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;
};
VANTOR_DECLARE_UUID(IConnectionPoint, IID_IConnectionPoint)

struct IEnumConnectionPoints : IUnknown {
    virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;
};
VANTOR_DECLARE_UUID(IEnumConnectionPoints, IID_IEnumConnectionPoints)

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};
VANTOR_DECLARE_UUID(IConnectionPointContainer, IID_IConnectionPointContainer)

// ---------------------------------------------------------------------------------------------
// Activation
// ---------------------------------------------------------------------------------------------
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)
#define COINIT_APARTMENTTHREADED 0x2

extern "C" {
VANTOR_API HRESULT CoInitialize(LPVOID reserved);
VANTOR_API HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit);
VANTOR_API void CoUninitialize();
// Finds the class through HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 in the registry file,
// loads that library and asks its DllGetClassObject. REGDB_E_CLASSNOTREG when the key is missing,
// CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when the library cannot be loaded or has no entry point.
VANTOR_API HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved,
                                    REFIID riid, LPVOID* ppv);
VANTOR_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                    REFIID riid, LPVOID* ppv);
VANTOR_API HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
VANTOR_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);  // CoTaskMemFree it
VANTOR_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);          // "{...}" form
VANTOR_API INT StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, INT cchMax);   // 39 with the nul
}

// ---------------------------------------------------------------------------------------------
// Type information (a subset of oleaut32's, enough to list members, parameters, defaults and
// enumerations, and to invoke members through their descriptions)
// ---------------------------------------------------------------------------------------------
typedef DWORD HREFTYPE;
enum TYPEKIND : int32_t {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
};
enum INVOKEKIND : int32_t {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8
};
enum FUNCKIND : int32_t { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum CALLCONV : int32_t { CC_FASTCALL = 0, CC_CDECL = 1, CC_STDCALL = 4 };
enum VARKIND : int32_t { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH };
enum SYSKIND : int32_t { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };
enum DESCKIND : int32_t { DESCKIND_NONE = 0, DESCKIND_FUNCDESC, DESCKIND_VARDESC, DESCKIND_TYPECOMP };

#define PARAMFLAG_NONE 0x00
#define PARAMFLAG_FIN 0x01
#define PARAMFLAG_FOUT 0x02
#define PARAMFLAG_FLCID 0x04
#define PARAMFLAG_FRETVAL 0x08
#define PARAMFLAG_FOPT 0x10
#define PARAMFLAG_FHASDEFAULT 0x20

#define TYPEFLAG_FAPPOBJECT 0x01
#define TYPEFLAG_FCANCREATE 0x02
#define TYPEFLAG_FHIDDEN 0x10
#define TYPEFLAG_FDUAL 0x40
#define TYPEFLAG_FNONEXTENSIBLE 0x80
#define TYPEFLAG_FOLEAUTOMATION 0x100
#define TYPEFLAG_FDISPATCHABLE 0x1000

#define IMPLTYPEFLAG_FDEFAULT 0x1
#define IMPLTYPEFLAG_FSOURCE 0x2

#define MEMBERID_NIL DISPID_UNKNOWN

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;  // VT_PTR
        HREFTYPE hreftype;  // VT_USERDEFINED: the enumeration's reference
    };
    VARTYPE vt;
};
struct PARAMDESCEX {
    ULONG cBytes;
    VARIANT varDefaultValue;
};
struct PARAMDESC {
    PARAMDESCEX* pparamdescex;
    USHORT wParamFlags;
};
struct IDLDESC {
    uintptr_t dwReserved;
    USHORT wIDLFlags;
};
struct ELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
};
struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};
struct VARDESC {
    MEMBERID memid;
    LPOLESTR lpstrSchema;
    union {
        ULONG oInst;
        VARIANT* lpvarValue;  // VAR_CONST: the enumeration member's value
    };
    ELEMDESC elemdescVar;
    WORD wVarFlags;
    VARKIND varkind;
};
struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
};
struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

struct ITypeInfo : IUnknown {
    virtual HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) = 0;
    virtual HRESULT GetVarDesc(UINT index, VARDESC** ppVarDesc) = 0;
    virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    virtual HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                     DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName,
                                BSTR* pBstrName, WORD* pwOrdinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND invKind, void** ppv) = 0;
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) = 0;
    virtual HRESULT GetMops(MEMBERID memid, BSTR* pBstrMops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* pTypeAttr) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* pFuncDesc) = 0;
    virtual void ReleaseVarDesc(VARDESC* pVarDesc) = 0;
};
VANTOR_DECLARE_UUID(ITypeInfo, IID_ITypeInfo)

struct ITypeLib : IUnknown {
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                     DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    virtual HRESULT IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) = 0;
    virtual HRESULT FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo,
                             MEMBERID* rgMemId, USHORT* pcFound) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;
};
VANTOR_DECLARE_UUID(ITypeLib, IID_ITypeLib)

extern "C" {
// Loads the type library stored as resource TYPELIB 1 in the library at `path` (loading it).
VANTOR_API HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** pptlib);
// Finds HKEY_CLASSES_ROOT\TypeLib\{libid}\maj.min\0\linux64 and loads that library's type library.
VANTOR_API HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                  ITypeLib** pptlib);
VANTOR_API HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
VANTOR_API HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                     SYSKIND syskind);
// Automation's standard IDispatch helpers, driven by the type information.
VANTOR_API HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames,
                                     DISPID* rgdispid);
VANTOR_API HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                              DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                              UINT* puArgErr);
}

// ---------------------------------------------------------------------------------------------
// Objects with one interface (class factories, enumerators, type libraries, the renderer's
// surfaces and devices): QueryInterface for IUnknown and that interface, and a thread-safe
// count that deletes the object at zero (the destructor is virtual).
//
//   class Factory final : public vantor::SingleInterface<IClassFactory> { ... };
//   class Surface final : public vantor::SingleInterface<IDirectDrawSurface7, &IID_Private> { ... };
//
// `PrivateIid`, when given, is an id that no caller outside the implementation knows:
// QueryInterface with it answers the interface pointer uncounted, which tells that an
// interface handed in by a caller is one of ours before it is cast back (another
// implementation's object answers E_NOINTERFACE).
// ---------------------------------------------------------------------------------------------
namespace vantor {

template <class Interface, const IID* PrivateIid = nullptr>
class SingleInterface : public Interface {
public:
    using interface_type = Interface;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if constexpr (PrivateIid != nullptr) {
            if (riid == *PrivateIid) {
                *ppv = static_cast<Interface*>(this);
                return S_OK;
            }
        }
        if (riid != IID_IUnknown && riid != uuid_of<Interface>::value()) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        this->AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    SingleInterface(const SingleInterface&) = delete;
    SingleInterface& operator=(const SingleInterface&) = delete;

protected:
    SingleInterface() = default;
    virtual ~SingleInterface() = default;

private:
    std::atomic<ULONG> refs_{1};
};

// The connection-point enumerator of a container that has no connection points.
class EmptyConnectionPoints final : public SingleInterface<IEnumConnectionPoints> {
public:
    HRESULT Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (count && !points) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        return count == 0 ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
    HRESULT Reset() override { return S_OK; }
    HRESULT Clone(IEnumConnectionPoints** out) override { return make(out); }

    static HRESULT make(IEnumConnectionPoints** out) {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) EmptyConnectionPoints;
        return *out ? S_OK : E_OUTOFMEMORY;
    }
};

}  // namespace vantor
