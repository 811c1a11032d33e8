// Timer, libraries and modules, resources, and the system message texts.
#include <vantor/handles.h>
#include <vantor/system.h>

#include <dlfcn.h>
#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

thread_local DWORD g_last_error = 0;

struct Resource {
    std::vector<BYTE> copy;
    const void* data = nullptr;
    size_t size = 0;
};

std::string upper(const char* s) {
    std::string r = s ? s : "";
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

struct Module {
    HMODULE handle = 0;
    std::string path;          // file path; "" for the host program; the name for built-ins
    void* dl = nullptr;        // dlopen handle for real libraries
    bool builtin = false;
    bool available = true;
    std::map<std::string, void*> exports;  // built-in exports by name
    std::map<std::pair<std::string, std::string>, Resource> resources;
};

struct Modules {
    std::recursive_mutex lock;
    std::vector<std::unique_ptr<Module>> all;
    std::map<std::string, Module*> loaded;  // real libraries by the name they were loaded as
    Module* host = nullptr;
};

Modules& modules() {
    static Modules* m = new Modules;
    return *m;
}

Module* by_handle(HMODULE h) { return static_cast<Module*>(HandleResolve(h, kHandleModule)); }

Module* add_module(Modules& ms, std::string path) {
    auto m = std::make_unique<Module>();
    m->path = std::move(path);
    m->handle = HandleCreate(kHandleModule, m.get());
    ms.all.push_back(std::move(m));
    return ms.all.back().get();
}

Module* find_path(Modules& ms, const std::string& path, bool builtin) {
    for (auto& m : ms.all) {
        if (m->builtin != builtin) continue;
        if (builtin ? strcasecmp(m->path.c_str(), path.c_str()) == 0 : m->path == path) return m.get();
    }
    return nullptr;
}

std::string real_path(const char* p) {
    char buf[PATH_MAX];
    return realpath(p, buf) ? std::string(buf) : std::string(p);
}

}  // namespace

extern "C" {

DWORD timeGetTime() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);  // wraps at 32 bits like the multimedia timer
}

DWORD GetLastError() { return g_last_error; }
void SetLastError(DWORD code) { g_last_error = code; }

BOOL VantorRegisterBuiltinLibrary(LPCSTR name, const VantorExport* exports, size_t count) {
    if (!name || !*name) return FALSE;
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    Module* m = find_path(ms, name, true);
    if (!m) {
        m = add_module(ms, name);
        m->builtin = true;
    }
    for (size_t i = 0; i < count; ++i)
        if (exports[i].name) m->exports[exports[i].name] = exports[i].proc;
    return TRUE;
}

void VantorSetLibraryAvailable(LPCSTR name, BOOL available) {
    if (!name) return;
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    Module* m = find_path(ms, name, true);
    if (!m) {
        m = add_module(ms, name);
        m->builtin = true;
    }
    m->available = available != FALSE;
}

HMODULE LoadLibraryA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    if (Module* m = find_path(ms, name, true)) {
        if (!m->available || m->exports.empty()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        return m->handle;
    }
    // Libraries are never unloaded, so a name loaded before names the same library: no dlopen
    // and no path resolution (every CoCreateInstance of a class comes through here).
    if (auto it = ms.loaded.find(name); it != ms.loaded.end()) return it->second->handle;
    // A path (a registry's InprocServer32, say) must name a regular file: dlopen would wait
    // forever on a FIFO and cannot load a folder or a device.
    struct stat st{};
    if (std::strchr(name, '/') && (::stat(name, &st) != 0 || !S_ISREG(st.st_mode))) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    void* dl = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!dl) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::string path = real_path(name);
    Module* m = find_path(ms, path, false);
    if (!m) m = add_module(ms, path);
    if (m->dl) dlclose(dl);  // already loaded: keep one reference
    else m->dl = dl;
    ms.loaded.emplace(name, m);
    return m->handle;
}

void* GetProcAddress(HMODULE module, LPCSTR name) {
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    Module* m = by_handle(module);
    if (!m || !name) {
        SetLastError(m ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (m->builtin) {
        auto it = m->exports.find(name);
        if (it == m->exports.end() || !m->available) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return it->second;
    }
    void* dl = m->dl ? m->dl : (m->path.empty() ? dlopen(nullptr, RTLD_NOW) : dlopen(m->path.c_str(), RTLD_NOW | RTLD_NOLOAD));
    if (!m->dl) m->dl = dl;
    void* p = dl ? dlsym(dl, name) : nullptr;
    if (!p) SetLastError(ERROR_PROC_NOT_FOUND);
    return p;
}

// Libraries stay loaded for the life of the process: objects of a component may outlive the
// host's last reference to its module handle.
BOOL FreeLibrary(HMODULE module) { return by_handle(module) ? TRUE : FALSE; }

HMODULE GetModuleHandleA(LPCSTR name) {
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    if (!name) {
        if (!ms.host) ms.host = add_module(ms, "");
        return ms.host->handle;
    }
    if (Module* m = find_path(ms, name, true)) return m->available ? m->handle : 0;
    if (Module* m = find_path(ms, real_path(name), false)) return m->handle;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

HMODULE VantorModuleFromAddress(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return 0;
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    std::string path = real_path(info.dli_fname);
    if (Module* m = find_path(ms, path, false)) return m->handle;
    return add_module(ms, path)->handle;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    Module* m = by_handle(module);
    if (!m || !buffer || size == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    size_t n = std::min<size_t>(m->path.size(), size - 1);
    std::memcpy(buffer, m->path.data(), n);
    buffer[n] = 0;
    return static_cast<DWORD>(n);
}

BOOL VantorAddResource(HMODULE module, LPCSTR type, LPCSTR name, const void* data, size_t size,
                       BOOL borrowed) {
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    Module* m = by_handle(module);
    if (!m || !type || !name || (!data && size)) return FALSE;
    Resource r;
    if (borrowed) {
        r.data = data;
        r.size = size;
    } else {
        r.copy.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
        r.size = size;
    }
    m->resources[{upper(type), upper(name)}] = std::move(r);
    return TRUE;
}

BOOL VantorRemoveResource(HMODULE module, LPCSTR type, LPCSTR name) {
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    Module* m = by_handle(module);
    if (!m || !type || !name) return FALSE;
    return m->resources.erase({upper(type), upper(name)}) ? TRUE : FALSE;
}

BOOL VantorFindResource(HMODULE module, LPCSTR type, LPCSTR name, const void** data, size_t* size) {
    Modules& ms = modules();
    std::lock_guard<std::recursive_mutex> g(ms.lock);
    Module* m = by_handle(module);
    if (!m || !type || !name) return FALSE;
    auto it = m->resources.find({upper(type), upper(name)});
    if (it == m->resources.end()) return FALSE;
    const Resource& r = it->second;
    if (data) *data = r.copy.empty() ? r.data : r.copy.data();
    if (size) *size = r.size;
    return TRUE;
}

INT LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, INT bufferMax) {
    if (!buffer || bufferMax <= 0) return 0;
    buffer[0] = 0;
    char name[16];
    std::snprintf(name, sizeof name, "#%u", id);
    const void* data = nullptr;
    size_t size = 0;
    if (!VantorFindResource(instance, "STRING", name, &data, &size)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const char* text = static_cast<const char*>(data);
    size_t n = strnlen(text, size);
    if (n > static_cast<size_t>(bufferMax - 1)) n = static_cast<size_t>(bufferMax - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = 0;
    return static_cast<INT>(n);
}

}  // extern "C"

namespace {

struct Message {
    uint32_t code;
    const char* text;
};

// Our own short texts for the codes the engine and its hosts meet.
const Message kMessages[] = {
    {0x00000000, "The operation completed successfully.\n"},
    {0x00000001, "Incorrect function.\n"},
    {0x80004001, "Not implemented\n"},
    {0x80004002, "No such interface supported\n"},
    {0x80004003, "Invalid pointer\n"},
    {0x80004004, "Operation aborted\n"},
    {0x80004005, "Unspecified error\n"},
    {0x8000FFFF, "Catastrophic failure\n"},
    {0x80070002, "The system cannot find the file specified.\n"},
    {0x80070003, "The system cannot find the path specified.\n"},
    {0x80070005, "Access is denied.\n"},
    {0x80070006, "The handle is invalid.\n"},
    {0x80070008, "Not enough memory resources are available to process this command.\n"},
    {0x8007000E, "Not enough memory resources are available to complete this operation.\n"},
    {0x80070057, "The parameter is incorrect.\n"},
    {0x8007007E, "The specified module could not be found.\n"},
    {0x8007007F, "The specified procedure could not be found.\n"},
    {0x800703F1, "The configuration registry database is corrupt.\n"},
    {0x800703F5, "The configuration registry key could not be written.\n"},
    {0x80040110, "Class does not support aggregation (or class object is remote)\n"},
    {0x80040111, "ClassFactory cannot supply requested class\n"},
    {0x80040150, "Could not read key from registry\n"},
    {0x80040151, "Could not write key to registry\n"},
    {0x80040154, "Class not registered\n"},
    {0x80040155, "Interface not registered\n"},
    {0x80040200, "No connection for this connection ID\n"},
    {0x800401F0, "CoInitialize has not been called.\n"},
    {0x800401F3, "Invalid class string\n"},
    {0x800401F8, "DLL for class not found\n"},
    {0x800401F9, "Error in the DLL\n"},
    {0x80020001, "Unknown interface.\n"},
    {0x80020003, "Member not found.\n"},
    {0x80020004, "Parameter not found.\n"},
    {0x80020005, "Type mismatch.\n"},
    {0x80020006, "Unknown name.\n"},
    {0x80020007, "No named arguments.\n"},
    {0x80020008, "Bad variable type.\n"},
    {0x80020009, "Exception occurred.\n"},
    {0x8002000A, "Out of present range.\n"},
    {0x8002000B, "Invalid index.\n"},
    {0x8002000E, "Invalid number of parameters.\n"},
    {0x8002000F, "Parameter not optional.\n"},
    {0x8002801C, "Error accessing the OLE registry.\n"},
    {0x8002801D, "Library not registered.\n"},
    {0x8002802B, "Element not found.\n"},
    {0x80029C4A, "Error loading type library/DLL.\n"},
};

}  // namespace

extern "C" DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer,
                                DWORD size, void*) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    uint32_t code = messageId;
    // A plain Win32 error code reads as its HRESULT form.
    if (code != 0 && code <= 0xFFFF) code = 0x80070000u | code;
    for (const Message& m : kMessages) {
        if (m.code != code) continue;
        size_t n = std::strlen(m.text);
        if (n + 1 > size) {
            SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
            return 0;
        }
        std::memcpy(buffer, m.text, n + 1);
        return static_cast<DWORD>(n);
    }
    buffer[0] = 0;
    SetLastError(317);  // ERROR_MR_MID_NOT_FOUND
    return 0;
}
