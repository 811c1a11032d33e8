// Activation (CoCreateInstance through the registry), ProgIDs, and type-library loading and
// registration. The type-library functions are also exported as the built-in "oleaut32.dll".
#include <vantor/com.h>
#include <vantor/registry.h>
#include <vantor/system.h>
#include <vantor/text.h>
#include <vantor/typedesc.h>

#include <string>

namespace {

thread_local int g_init_count = 0;

std::string guid_text(REFGUID g) {
    OLECHAR w[40];
    StringFromGUID2(g, w, 40);
    return vantor::text::utf8z(w);
}

// Reads a key's default (or named) string value; "" and false when absent.
bool read_string(HKEY root, const std::string& key, const char* name, std::string& out) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    char buf[4096];
    DWORD size = sizeof buf, type = 0;
    LONG e = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (e != ERROR_SUCCESS || type != REG_SZ) return false;
    out.assign(buf, size ? size - 1 : 0);
    return true;
}

HRESULT set_string(HKEY root, const std::string& key, const char* name, const std::string& value) {
    HKEY k;
    LONG e = RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
    if (e == ERROR_SUCCESS) {
        e = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
        RegCloseKey(k);
    }
    return e == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(e);
}

typedef HRESULT (*GetClassObjectFn)(REFCLSID, REFIID, LPVOID*);

}  // namespace

extern "C" {

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID, DWORD) { return g_init_count++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (g_init_count > 0) --g_init_count;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD context, LPVOID, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (!read_string(HKEY_CLASSES_ROOT, "CLSID\\" + guid_text(rclsid) + "\\InprocServer32", "", path) || path.empty())
        return REGDB_E_CLASSNOTREG;
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) return CO_E_DLLNOTFOUND;
    auto get = reinterpret_cast<GetClassObjectFn>(GetProcAddress(module, "DllGetClassObject"));
    if (!get) return CO_E_ERRORINDLL;
    return get(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD context, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return hr;
}

HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid) {
    if (!progid || !clsid) return E_INVALIDARG;
    *clsid = GUID_NULL;
    if (progid[0] == u'{') return CLSIDFromString(progid, clsid);
    std::string text;
    if (!read_string(HKEY_CLASSES_ROOT, vantor::text::utf8z(progid) + "\\CLSID", "", text)) return CO_E_CLASSSTRING;
    std::u16string w = vantor::text::utf16(text);
    return FAILED(CLSIDFromString(w.c_str(), clsid)) ? CO_E_CLASSSTRING : S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid) {
    if (!progid) return E_INVALIDARG;
    *progid = nullptr;
    std::string text;
    if (!read_string(HKEY_CLASSES_ROOT, "CLSID\\" + guid_text(clsid) + "\\ProgID", "", text))
        return REGDB_E_CLASSNOTREG;
    std::u16string w = vantor::text::utf16(text);
    auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((w.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::copy(w.begin(), w.end(), out);
    out[w.size()] = 0;
    *progid = out;
    return S_OK;
}

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** lib) {
    if (!lib) return E_INVALIDARG;
    *lib = nullptr;
    if (!path) return E_INVALIDARG;
    HMODULE module = LoadLibraryA(vantor::text::utf8z(path).c_str());
    if (!module) return TYPE_E_CANTLOADLIBRARY;
    const void* data = nullptr;
    size_t size = 0;
    if (!VantorFindResource(module, "TYPELIB", "#1", &data, &size) ||
        size != sizeof(vantor::typedesc::TypeLibDesc))
        return TYPE_E_CANTLOADLIBRARY;
    return VantorCreateTypeLib(static_cast<const vantor::typedesc::TypeLibDesc*>(data), lib);
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID, ITypeLib** lib) {
    if (!lib) return E_INVALIDARG;
    *lib = nullptr;
    std::string path;
    std::string key = "TypeLib\\" + guid_text(libid) + "\\" + std::to_string(major) + "." + std::to_string(minor);
    if (!read_string(HKEY_CLASSES_ROOT, key + "\\0\\linux64", "", path)) return TYPE_E_LIBNOTREGISTERED;
    std::u16string w = vantor::text::utf16(path);
    return LoadTypeLib(w.c_str(), lib);
}

// Writes HKCR\TypeLib\{libid}\maj.min (help string, FLAGS, HELPDIR, 0\linux64 = path) and, for
// every dual interface, HKCR\Interface\{iid} with the Automation marshaller and the library.
HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
    if (!lib || !fullPath) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    std::string libid = guid_text(attr->guid);
    std::string version = std::to_string(attr->wMajorVerNum) + "." + std::to_string(attr->wMinorVerNum);
    lib->ReleaseTLibAttr(attr);
    BSTR doc = nullptr;
    lib->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr);
    std::string help = vantor::text::utf8(doc);
    SysFreeString(doc);
    std::string path = vantor::text::utf8z(fullPath);
    std::string dir = helpDir ? vantor::text::utf8z(helpDir) : path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    std::string key = "TypeLib\\" + libid + "\\" + version;
    if (FAILED(hr = set_string(HKEY_CLASSES_ROOT, key, "", help))) return TYPE_E_REGISTRYACCESS;
    if (FAILED(hr = set_string(HKEY_CLASSES_ROOT, key + "\\FLAGS", "", "0"))) return TYPE_E_REGISTRYACCESS;
    if (FAILED(hr = set_string(HKEY_CLASSES_ROOT, key + "\\HELPDIR", "", dir))) return TYPE_E_REGISTRYACCESS;
    if (FAILED(hr = set_string(HKEY_CLASSES_ROOT, key + "\\0\\linux64", "", path))) return TYPE_E_REGISTRYACCESS;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_INTERFACE) continue;
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* ta = nullptr;
        BSTR name = nullptr;
        info->GetTypeAttr(&ta);
        info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        std::string ikey = "Interface\\" + guid_text(ta->guid);
        hr = set_string(HKEY_CLASSES_ROOT, ikey, "", vantor::text::utf8(name));
        if (SUCCEEDED(hr)) hr = set_string(HKEY_CLASSES_ROOT, ikey + "\\ProxyStubClsid32", "", "{00020424-0000-0000-C000-000000000046}");
        if (SUCCEEDED(hr)) hr = set_string(HKEY_CLASSES_ROOT, ikey + "\\TypeLib", "", libid);
        if (SUCCEEDED(hr)) hr = set_string(HKEY_CLASSES_ROOT, ikey + "\\TypeLib", "Version", version);
        SysFreeString(name);
        info->ReleaseTypeAttr(ta);
        info->Release();
        if (FAILED(hr)) return TYPE_E_REGISTRYACCESS;
    }
    return S_OK;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID, SYSKIND) {
    std::string id = guid_text(libid);
    std::string key = "TypeLib\\" + id + "\\" + std::to_string(major) + "." + std::to_string(minor);
    HKEY k;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    RegCloseKey(k);
    // The interfaces this library registered go with it.
    ITypeLib* lib = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(libid, major, minor, 0, &lib))) {
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            TYPEKIND kind;
            if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_INTERFACE) continue;
            ITypeInfo* info = nullptr;
            if (FAILED(lib->GetTypeInfo(i, &info))) continue;
            TYPEATTR* ta = nullptr;
            info->GetTypeAttr(&ta);
            RegDeleteTreeA(HKEY_CLASSES_ROOT, ("Interface\\" + guid_text(ta->guid)).c_str());
            info->ReleaseTypeAttr(ta);
            info->Release();
        }
        lib->Release();
    }
    LONG e = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    if (e != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
    // The library's own key goes when no version is left under it.
    HKEY lk;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ("TypeLib\\" + id).c_str(), 0, KEY_READ, &lk) == ERROR_SUCCESS) {
        char name[64];
        DWORD size = sizeof name;
        bool empty = RegEnumKeyExA(lk, 0, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
        RegCloseKey(lk);
        if (empty) RegDeleteTreeA(HKEY_CLASSES_ROOT, ("TypeLib\\" + id).c_str());
    }
    return S_OK;
}

}  // extern "C"

namespace {

// "oleaut32.dll": what components look up at run time.
__attribute__((constructor)) void register_oleaut32() {
    static const VantorExport exports[] = {
        {"LoadTypeLib", reinterpret_cast<void*>(&LoadTypeLib)},
        {"LoadRegTypeLib", reinterpret_cast<void*>(&LoadRegTypeLib)},
        {"RegisterTypeLib", reinterpret_cast<void*>(&RegisterTypeLib)},
        {"UnRegisterTypeLib", reinterpret_cast<void*>(&UnRegisterTypeLib)},
        {"SysAllocString", reinterpret_cast<void*>(&SysAllocString)},
        {"SysFreeString", reinterpret_cast<void*>(&SysFreeString)},
        {"VariantInit", reinterpret_cast<void*>(&VariantInit)},
        {"VariantClear", reinterpret_cast<void*>(&VariantClear)},
        {"VariantChangeType", reinterpret_cast<void*>(&VariantChangeType)},
        {"DispInvoke", reinterpret_cast<void*>(&DispInvoke)},
        {"DispGetIDsOfNames", reinterpret_cast<void*>(&DispGetIDsOfNames)},
    };
    VantorRegisterBuiltinLibrary("oleaut32.dll", exports, sizeof exports / sizeof exports[0]);
}

}  // namespace
