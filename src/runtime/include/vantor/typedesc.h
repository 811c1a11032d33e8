// vantor/typedesc.h — the static description of a type library, as the IDL generator emits it.
//
// The generator (tools/idlgen.py) turns idl/*.idl into one TypeLibDesc with its enumerations,
// interfaces (members, parameters, defaults, dispatch ids) and co-classes, plus one typed invoke
// stub per member. VantorCreateTypeLib wraps such a description in ITypeLib/ITypeInfo objects,
// and DispInvoke (vantor/com.h) uses the stubs to call members late-bound:
//
//   ITypeLib* lib = nullptr;
//   VantorCreateTypeLib(&kVantorLib, &lib);          // usually done once by the component
//   ITypeInfo* info = nullptr;
//   lib->GetTypeInfoOfGuid(IID_IColour, &info);
//   DispInvoke(colourInterface, info, 1, DISPATCH_PROPERTYGET, &params, &result, &excep, &argErr);
#pragma once

#include <vantor/com.h>

namespace vantor::typedesc {

// Calls one vtable member. `args` holds the member's parameters in declaration order, the
// [retval] one excluded, each already converted to its declared type (an [out] parameter that is
// not the retval arrives as VT_BYREF of its type). The stub stores the retval in `result`
// (never null) as a VARIANT of the retval's type.
typedef HRESULT (*InvokeStub)(void* iface, VARIANT* args, VARIANT* result);

// Parameter (and retval) types. Enumerations travel as VT_I4 and are described by `enumIndex`.
struct ParamDesc {
    const char* name;
    VARTYPE vt;          // VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL, VT_BSTR, VT_DISPATCH, VT_UNKNOWN, VT_VARIANT
    uint16_t flags;      // PARAMFLAG_FIN / FOUT / FRETVAL / FOPT / FHASDEFAULT
    int16_t enumIndex;   // index into TypeLibDesc::enums, or -1
    VARTYPE defaultVt;   // VT_EMPTY without a default value
    double defaultNum;   // numeric and boolean defaults (booleans: 0 or -1)
    const char* defaultStr;  // VT_BSTR defaults (UTF-8)
};

struct MemberDesc {
    DISPID id;
    INVOKEKIND kind;
    const char* name;
    const char* help;
    uint16_t paramCount;  // including the retval
    const ParamDesc* params;
    int16_t vtableIndex;  // slot number in the interface's vtable (IUnknown's three included)
    InvokeStub stub;
};

struct InterfaceDesc {
    GUID iid;
    const char* name;
    const char* help;
    uint16_t typeFlags;    // TYPEFLAG_*
    bool dispinterface;    // an outgoing (source) dispinterface: no vtable members
    uint16_t memberCount;
    const MemberDesc* members;
};

struct EnumMemberDesc {
    const char* name;
    int32_t value;
};

struct EnumDesc {
    GUID guid;
    const char* name;
    const char* help;
    uint16_t count;
    const EnumMemberDesc* members;
};

struct CoClassDesc {
    GUID clsid;
    const char* name;
    const char* help;
    int16_t defaultInterface;  // index into TypeLibDesc::interfaces
    int16_t sourceInterface;   // index into TypeLibDesc::interfaces, or -1
};

struct TypeLibDesc {
    GUID libid;
    const char* name;
    const char* help;
    WORD major;
    WORD minor;
    uint16_t enumCount;
    const EnumDesc* enums;
    uint16_t interfaceCount;
    const InterfaceDesc* interfaces;
    uint16_t coclassCount;
    const CoClassDesc* coclasses;
};

}  // namespace vantor::typedesc

extern "C" {
// Wraps a static description in a type library object. Type infos are numbered enumerations
// first, then interfaces, then co-classes, each group in declaration order.
VANTOR_API HRESULT VantorCreateTypeLib(const vantor::typedesc::TypeLibDesc* desc, ITypeLib** out);
}
