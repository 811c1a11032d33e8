// The module object and the component's entry points: DllMain's attach and detach work,
// DllGetClassObject with cached class factories, DllCanUnloadNow, DllRegisterServer and
// DllUnregisterServer.
#include "module/module.h"

#include "module/registrar.h"
#include "module/strings.h"

#include <vantor/registry.h>
#include <vantor/system.h>
#include <vantor/text.h>
#include <vantor/typedesc.h>
#include <vantor/vantor.h>

#include <cstdio>
#include <new>

namespace vantor::generated {
extern const vantor::typedesc::TypeLibDesc kTypeLib;
}
namespace vantor::backend {
void attach_component();
}

namespace vantor {

namespace {

std::string guid_text(REFGUID g) {
    OLECHAR w[40];
    StringFromGUID2(g, w, 40);
    return text::utf8z(w);
}

// The registry script every class registers with, its name and identifiers filled in.
const char kScriptTemplate[] = R"(HKCR
{
	Vantor.%NAME%.1 = s '%NAME% Class'
	{
		CLSID = s '%CLSID%'
	}
	Vantor.%NAME% = s '%NAME% Class'
	{
		CLSID = s '%CLSID%'
		CurVer = s 'Vantor.%NAME%.1'
	}
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s '%NAME% Class'
		{
			ProgID = s 'Vantor.%NAME%.1'
			VersionIndependentProgID = s 'Vantor.%NAME%'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '%LIBID%'
		}
	}
}
)";

std::string fill(const std::string& text, const std::string& key, const std::string& value) {
    std::string out = text;
    const std::string pattern = "%" + key + "%";
    for (size_t at = out.find(pattern); at != std::string::npos; at = out.find(pattern, at + value.size()))
        out.replace(at, pattern.size(), value);
    return out;
}

// The class factory: one per class, created on first request and cached until detach.
// Factories do not count towards the lock count; LockServer does.
class ClassFactory final : public vantor::SingleInterface<IClassFactory> {
public:
    explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && !entry_.aggregatable) return CLASS_E_NOAGGREGATION;
        return entry_.create(outer, riid, ppv);
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) module().lock();
        else module().unlock();
        return S_OK;
    }

private:
    const ClassEntry& entry_;
};

}  // namespace

Module& module() {
    static Module* m = new Module;  // outlives every object, even those released at exit
    return *m;
}

void Module::attach(HINSTANCE instance) {
    instance_ = instance;
    size_t count = 0;
    const StringEntry* strings = string_table(&count);
    char name[16];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "#%u", strings[i].id);
        VantorAddResource(instance, "STRING", name, strings[i].text, std::strlen(strings[i].text) + 1, TRUE);
    }
    const ClassEntry* classes = class_table(&count);
    factories_ = new std::atomic<IClassFactory*>[count]();
    for (size_t i = 0; i < count; ++i) {
        std::string script = fill(fill(kScriptTemplate, "NAME", classes[i].name), "CLSID", guid_text(*classes[i].clsid));
        script = fill(script, "LIBID", guid_text(generated::kTypeLib.libid));
        std::snprintf(name, sizeof name, "#%u", classes[i].script_id);
        VantorAddResource(instance, "REGISTRY", name, script.c_str(), script.size() + 1, FALSE);
    }
    VantorAddResource(instance, "TYPELIB", "#1", &generated::kTypeLib, sizeof generated::kTypeLib, TRUE);
}

void Module::detach() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    size_t count = 0;
    class_table(&count);
    for (size_t i = 0; factories_ && i < count; ++i) {
        if (IClassFactory* f = factories_[i].exchange(nullptr)) f->Release();
    }
}

const ClassEntry* Module::find(REFCLSID clsid) const {
    size_t count = 0;
    const ClassEntry* classes = class_table(&count);
    for (size_t i = 0; i < count; ++i)
        if (*classes[i].clsid == clsid) return &classes[i];
    return nullptr;
}

std::string Module::progid_of(REFCLSID clsid) const {
    // Every class of the component is published, whether or not its class is built yet.
    for (UINT i = 0; i < generated::kTypeLib.coclassCount; ++i) {
        const auto& c = generated::kTypeLib.coclasses[i];
        if (c.clsid == clsid) return std::string("Vantor.") + c.name + ".1";
    }
    return "";
}

ITypeLib* Module::type_lib() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!type_lib_) VantorCreateTypeLib(&generated::kTypeLib, &type_lib_);
    return type_lib_;
}

ITypeInfo* Module::type_info(REFIID iid) {
    ITypeLib* lib = type_lib();
    ITypeInfo* info = nullptr;
    if (!lib || FAILED(lib->GetTypeInfoOfGuid(iid, &info))) return nullptr;
    info->Release();  // type infos live as long as the library, which the module keeps
    return info;
}

HRESULT Module::get_class_object(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    size_t count = 0;
    const ClassEntry* classes = class_table(&count);
    for (size_t i = 0; i < count; ++i) {
        if (*classes[i].clsid != clsid) continue;
        // Any thread may ask: the first creation is made under the module-wide lock, checked
        // again inside it, and published whole before other threads can see it.
        IClassFactory* factory = factories_[i].load(std::memory_order_acquire);
        if (!factory) {
            std::lock_guard<std::recursive_mutex> g(lock_);
            factory = factories_[i].load(std::memory_order_relaxed);
            if (!factory) {
                factory = new (std::nothrow) ClassFactory(classes[i]);
                if (!factory) return E_OUTOFMEMORY;
                factories_[i].store(factory, std::memory_order_release);
            }
        }
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT Module::register_server() {
    VantorRegistryBeginUpdate();  // one write of the registry file for the whole registration
    HRESULT hr = register_classes();
    LONG e = VantorRegistryEndUpdate();
    return FAILED(hr) ? hr : (e == ERROR_SUCCESS ? hr : HRESULT_FROM_WIN32(e));
}

HRESULT Module::unregister_server() {
    VantorRegistryBeginUpdate();
    HRESULT hr = unregister_classes();
    LONG e = VantorRegistryEndUpdate();
    return FAILED(hr) ? hr : (e == ERROR_SUCCESS ? hr : HRESULT_FROM_WIN32(e));
}

HRESULT Module::run_class_scripts(const char* module_path) {
    size_t count = 0;
    const ClassEntry* classes = class_table(&count);
    for (size_t i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "#%u", classes[i].script_id);
        const void* data = nullptr;
        if (!VantorFindResource(instance_, "REGISTRY", name, &data, nullptr)) return E_UNEXPECTED;
        HRESULT hr = module_path ? run_registry_script(static_cast<const char*>(data), {{"MODULE", module_path}}, true)
                                 : run_registry_script(static_cast<const char*>(data), {}, false);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT Module::register_classes() {
    char path[4096];
    GetModuleFileNameA(instance_, path, sizeof path);
    if (HRESULT hr = run_class_scripts(path); FAILED(hr)) return hr;
    ITypeLib* lib = nullptr;
    std::u16string wpath = text::utf16(path);
    HRESULT hr = LoadTypeLib(wpath.c_str(), &lib);
    if (FAILED(hr)) return hr;
    std::string dir(path);
    dir = dir.substr(0, dir.rfind('/'));
    std::u16string wdir = text::utf16(dir);
    hr = RegisterTypeLib(lib, wpath.data(), wdir.data());
    lib->Release();
    return hr;
}

HRESULT Module::unregister_classes() {
    if (HRESULT hr = run_class_scripts(nullptr); FAILED(hr)) return hr;
    // Looked up at run time, as the library that provides it may be missing.
    using UnRegisterTypeLibFn = HRESULT (*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    HMODULE oleaut = LoadLibraryA("oleaut32.dll");
    auto unregister = oleaut ? reinterpret_cast<UnRegisterTypeLibFn>(GetProcAddress(oleaut, "UnRegisterTypeLib")) : nullptr;
    if (!unregister) return S_OK;
    HRESULT hr = unregister(generated::kTypeLib.libid, generated::kTypeLib.major, generated::kTypeLib.minor, 0, SYS_WIN64);
    return hr == TYPE_E_REGISTRYACCESS ? S_OK : hr;  // a library that was never registered is no failure
}

}  // namespace vantor

// ---- entry points ----------------------------------------------------------------------------

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

extern "C" {

VANTOR_API BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        // There are no thread attach/detach notifications on this platform to switch off.
        vantor::module().attach(instance);
        vantor::backend::attach_component();
    } else if (reason == DLL_PROCESS_DETACH) {
        vantor::module().detach();
    }
    return TRUE;
}

VANTOR_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    return vantor::module().get_class_object(clsid, riid, ppv);
}

VANTOR_API HRESULT DllCanUnloadNow() { return vantor::module().lock_count() == 0 ? S_OK : S_FALSE; }

VANTOR_API HRESULT DllRegisterServer() { return vantor::module().register_server(); }

VANTOR_API HRESULT DllUnregisterServer() { return vantor::module().unregister_server(); }

}  // extern "C"

namespace {
__attribute__((constructor)) void process_attach() {
    DllMain(VantorModuleFromAddress(reinterpret_cast<const void*>(&process_attach)), DLL_PROCESS_ATTACH, nullptr);
}
__attribute__((destructor)) void process_detach() { DllMain(vantor::module().instance(), DLL_PROCESS_DETACH, nullptr); }
}  // namespace
