// Fuzzes the registry file reader: any bytes as the file, then reads of every key and value, and
// one change (which must fail without touching a file that could not be parsed, and must not
// make a file that parsed unreadable).
#include "fuzz_temp.h"

#include <vantor/registry.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string g_path;

void walk(HKEY key, int depth) {
    if (depth > 8) return;
    for (DWORD i = 0; i < 64; ++i) {
        char name[256];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY child;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        char value[64];
        DWORD type = 0, vsize = sizeof value;
        RegQueryValueExA(child, "", nullptr, &type, reinterpret_cast<BYTE*>(value), &vsize);
        walk(child, depth + 1);
        RegCloseKey(child);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_path = vantor::fuzz::make_scratch("registry") + "/registry";
    setenv("VANTOR_REGISTRY", g_path.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) walk(root, 0);
    char problem[256];
    bool corrupt = VantorRegistryProblem(problem, sizeof problem) > 0;
    HKEY k;
    LONG e = RegCreateKeyExA(HKEY_CURRENT_USER, "Fuzz", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (corrupt && e != ERROR_BADDB) std::abort();  // a file that could not be parsed must not be rewritten
    if (e == ERROR_SUCCESS) {
        // The file we wrote back must parse again.
        static const char kText[] = "line\nbreak \"quoted\" \\ end";
        if (RegSetValueExA(k, "Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(kText), sizeof kText) != ERROR_SUCCESS)
            std::abort();
        RegCloseKey(k);
        // Read it as another process would: a copy under another name is parsed anew.
        std::string copy = g_path + ".copy";
        if (std::rename(g_path.c_str(), copy.c_str()) == 0) {
            setenv("VANTOR_REGISTRY", copy.c_str(), 1);
            bool unreadable = VantorRegistryProblem(problem, sizeof problem) > 0;
            setenv("VANTOR_REGISTRY", g_path.c_str(), 1);
            if (unreadable) std::abort();
        }
    }
    return 0;
}
