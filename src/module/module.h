// module/module.h — the component's module object: class registry, lock count, type library.
//
//   module().lock();  module().unlock();          // one count per live object and server lock
//   ITypeInfo* info = module().type_info(IID_IColour);
//   std::string progid = module().progid_of(CLSID_Colour);   // "Vantor.Colour.1"
#pragma once

#include <vantor/com.h>

#include <atomic>
#include <mutex>
#include <string>

namespace vantor {

using CreateFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// One class of the component, in the registry's (alphabetical) order.
struct ClassEntry {
    const CLSID* clsid;
    const char* name;     // co-class name: ProgID "Vantor.<name>.1", description "<name> Class"
    unsigned script_id;   // resource id of the registry script
    bool aggregatable;
    CreateFn create;
};

// The classes this component implements (module/classes.cpp).
const ClassEntry* class_table(size_t* count);

class Module {
public:
    void attach(HINSTANCE instance);
    void detach();

    HINSTANCE instance() const { return instance_; }
    HINSTANCE resource_instance() const { return instance_; }

    LONG lock() { return ++locks_; }
    LONG unlock() { return --locks_; }
    LONG lock_count() const { return locks_.load(); }

    const ClassEntry* find(REFCLSID clsid) const;
    std::string progid_of(REFCLSID clsid) const;

    // The type library and the type information of one of its interfaces (borrowed, cached).
    ITypeLib* type_lib();
    ITypeInfo* type_info(REFIID iid);

    HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** ppv);
    HRESULT register_server();
    HRESULT unregister_server();

private:
    HRESULT register_classes();
    HRESULT unregister_classes();

    HINSTANCE instance_ = 0;
    std::atomic<LONG> locks_{0};
    std::recursive_mutex lock_;  // the module-wide critical section
    ITypeLib* type_lib_ = nullptr;
    IClassFactory** factories_ = nullptr;
};

Module& module();

}  // namespace vantor
