// vantor-register: registers the component this tool is installed with (libvantor.so in the
// library folder beside it) into the registry file ($VANTOR_REGISTRY, else
// ~/.config/vantor/registry), or removes it with --unregister. Hosts that create the classes by
// ProgID without linking the component run it once after installing.
//
//   vantor-register [--unregister]
#include <vantor/com.h>

#include <cstdio>
#include <cstring>

extern "C" HRESULT DllRegisterServer();
extern "C" HRESULT DllUnregisterServer();

int main(int argc, char** argv) {
    bool unregister = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--unregister") == 0) {
            unregister = true;
        } else {
            std::fprintf(stderr, "usage: vantor-register [--unregister]\n");
            return 2;
        }
    }
    HRESULT hr = unregister ? DllUnregisterServer() : DllRegisterServer();
    if (FAILED(hr)) {
        std::fprintf(stderr, "vantor-register: %s the component failed: 0x%08X\n",
                     unregister ? "unregistering" : "registering", static_cast<unsigned>(hr));
        return 1;
    }
    return 0;
}
