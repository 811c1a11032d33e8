// texture/targa.h — the Truevision Targa reader of the texture registry.
//
//   TargaImage image;
//   if (SUCCEEDED(read_targa_file("bottom.tga", &image))) ... image.pixels[y * width + x] ...
//
// Uncompressed (type 2) and run-length (type 10) true-colour images of 15, 16, 24 and 32 bits
// per pixel. Pixels are stored top row first as R<<24 | G<<16 | B<<8 | A; 24-bit pixels (and 15-
// and 16-bit ones without an attribute bit) are opaque. A run-length packet may continue into
// the next row but is cut at the end of the image. Every other header, a file shorter than its
// image and an image whose word count does not fit 32 bits are refused with E_FAIL before
// anything is allocated for the image.
#pragma once

#include <vantor/com.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vantor {

struct TargaImage {
    DWORD width = 0, height = 0;
    DWORD bits = 0;  // the file's bits per pixel
    std::vector<uint32_t> pixels;
};

// Decodes a whole file held in memory. S_OK or E_FAIL (the image is then left empty).
HRESULT decode_targa(const uint8_t* data, size_t size, TargaImage* image);
// Reads and decodes the file at `path`. S_OK or E_FAIL.
HRESULT read_targa_file(const std::string& path, TargaImage* image);

}  // namespace vantor
