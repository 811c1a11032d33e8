// module/registrar.h — runs registry scripts (the component's REGISTRY resources).
//
//   run_registry_script(text, {{"MODULE", "/opt/vantor/libvantor.so"}}, /*registering=*/true);
//
// Returns S_OK, E_UNEXPECTED for a script that does not parse, or the registry's failure as an
// HRESULT (e.g. HRESULT_FROM_WIN32(ERROR_BADDB) when the registry file was set aside).
#pragma once

#include <vantor/com.h>

#include <map>
#include <string>

namespace vantor {

HRESULT run_registry_script(const std::string& script, const std::map<std::string, std::string>& values,
                            bool registering);

}  // namespace vantor
