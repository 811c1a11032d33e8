// Fuzzes the registry file reader: any bytes as the file, then reads of every key and value, and
// one change (which must fail without touching a file that could not be parsed).
#include <vantor/registry.h>

#include <unistd.h>

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
    g_path = "/tmp/vantor-fuzz-registry-" + std::to_string(getpid());
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
    if (e == ERROR_SUCCESS) RegCloseKey(k);
    return 0;
}
