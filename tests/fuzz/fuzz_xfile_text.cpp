// Fuzzes the `.x` reader on the text body. Inputs are whole files (their format code
// is forced) or bare bodies (a header is added).
#include "xfile_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return xfile_fuzz::run(data, size, "txt ");
}
