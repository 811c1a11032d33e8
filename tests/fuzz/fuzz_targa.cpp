// Fuzzes the Targa reader: any bytes as a file. An image it accepts has exactly width x height
// pixels of a depth it knows; a refusal leaves the image empty.
#include <cstdint>

#include "texture/targa.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vantor::TargaImage image;
    const HRESULT hr = vantor::decode_targa(data, size, &image);
    if (SUCCEEDED(hr)) {
        if (image.pixels.size() != size_t{image.width} * image.height || image.pixels.empty())
            __builtin_trap();
        if (image.bits != 15 && image.bits != 16 && image.bits != 24 && image.bits != 32) __builtin_trap();
        uint32_t sum = 0;
        for (uint32_t p : image.pixels) sum += p;  // every pixel was written and is readable
        if (image.bits == 24 && (image.pixels.front() & 0xFF) != 0xFF) __builtin_trap();
        (void)sum;
    } else if (!image.pixels.empty() || image.width || image.height) {
        __builtin_trap();
    }
    return 0;
}
