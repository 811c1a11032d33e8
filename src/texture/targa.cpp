#include "texture/targa.h"

#include <vantor/file.h>

#include <cstdio>
#include <new>

namespace vantor {

namespace {

constexpr size_t kHeaderSize = 18;

uint32_t pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return r << 24 | g << 16 | b << 8 | a;
}

// One pixel of `bytes` bytes at p; `attribute` says whether a 16-bit pixel's top bit is alpha.
uint32_t read_pixel(const uint8_t* p, size_t bytes, bool attribute) {
    if (bytes == 2) {
        const uint32_t v = p[0] | p[1] << 8;
        auto wide = [](uint32_t c) { return (c << 3) | (c >> 2); };  // 5 bits to 8
        const uint32_t alpha = attribute ? ((v & 0x8000) ? 255 : 0) : 255;
        return pack(wide((v >> 10) & 0x1F), wide((v >> 5) & 0x1F), wide(v & 0x1F), alpha);
    }
    return pack(p[2], p[1], p[0], bytes == 4 ? p[3] : 255);
}

}  // namespace

HRESULT decode_targa(const uint8_t* data, size_t size, TargaImage* image) {
    *image = TargaImage{};
    if (!data || size < kHeaderSize) return E_FAIL;
    const uint8_t id_length = data[0], map_type = data[1], type = data[2];
    const DWORD width = data[12] | data[13] << 8, height = data[14] | data[15] << 8;
    const DWORD bits = data[16];
    const uint8_t descriptor = data[17];
    if (map_type != 0 || (type != 2 && type != 10)) return E_FAIL;
    if (bits != 15 && bits != 16 && bits != 24 && bits != 32) return E_FAIL;
    const size_t bytes = (bits + 7) / 8;
    const bool attribute = bits == 16 && (descriptor & 0x0F) != 0;
    const uint64_t count = uint64_t{width} * height;
    if (count == 0 || count * 4 > UINT32_MAX) return E_FAIL;
    size_t at = kHeaderSize + id_length;
    if (at > size) return E_FAIL;
    // The least pixel data the image needs: every pixel for type 2; for type 10, one packet of a
    // header and one pixel for every 128 pixels.
    const uint64_t least = type == 2 ? count * bytes : (count + 127) / 128 * (1 + bytes);
    if (size - at < least) return E_FAIL;

    std::vector<uint32_t> pixels;
    try {
        pixels.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        return E_FAIL;  // a run-length file of a few megabytes can describe gigabytes of pixels
    }
    const bool top_down = (descriptor & 0x20) != 0;
    auto store = [&](uint64_t index, uint32_t value) {
        const DWORD y = static_cast<DWORD>(index / width), x = static_cast<DWORD>(index % width);
        const DWORD row = top_down ? y : height - 1 - y;
        pixels[static_cast<size_t>(row) * width + x] = value;
    };
    uint64_t written = 0;
    if (type == 2) {
        for (; written < count; ++written, at += bytes)
            store(written, read_pixel(data + at, bytes, attribute));
    } else {
        while (written < count) {
            if (at >= size) return E_FAIL;
            const uint8_t h = data[at++];
            const uint64_t n = (h & 0x7F) + 1u;
            const uint64_t run = n < count - written ? n : count - written;  // never past the image
            if (h & 0x80) {
                if (size - at < bytes) return E_FAIL;
                const uint32_t v = read_pixel(data + at, bytes, attribute);
                at += bytes;
                for (uint64_t i = 0; i < run; ++i) store(written++, v);
            } else {
                if ((size - at) / bytes < n) return E_FAIL;
                for (uint64_t i = 0; i < run; ++i, at += bytes)
                    store(written++, read_pixel(data + at, bytes, attribute));
                at += (n - run) * bytes;
            }
        }
    }
    image->width = width;
    image->height = height;
    image->bits = bits;
    image->pixels = std::move(pixels);
    return S_OK;
}

HRESULT read_targa_file(const std::string& path, TargaImage* image) {
    *image = TargaImage{};
    std::vector<uint8_t> data;
    if (!read_regular_file(path.c_str(), &data)) return E_FAIL;
    return decode_targa(data.data(), data.size(), image);
}

}  // namespace vantor
