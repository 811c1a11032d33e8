// The BMP reader: Windows bitmap files into DIB sections, and LoadImageA over files and module
// resources. Every size and offset in a file is checked against the data before it is used;
// run-length packets that run past a row or past the image are clipped.
#include "dib.h"

#include <vantor/debug.h>
#include <vantor/file.h>
#include <vantor/system.h>


#include <algorithm>
#include <cstdio>
#include <string>

namespace vantor::gdi {
namespace {

static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;  // BITMAPCOREHEADER: 16-bit sizes, 3-byte colours
// Largest file LoadImageA reads: the largest uncompressed image we accept plus its headers.
constexpr size_t kMaxFileSize = (size_t{1} << 30) + (size_t{1} << 20);

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool known_header_size(uint32_t size) {
    // BITMAPCOREHEADER, BITMAPINFOHEADER, the V2 and V3 info headers (masks inside the
    // header), BITMAPV4HEADER and BITMAPV5HEADER.
    return size == kCoreHeaderSize || size == 40 || size == 52 || size == 56 || size == 108 ||
           size == 124;
}

void set_index(Dib& dib, int64_t x, int64_t row, uint8_t index) {
    uint8_t* line = dib.bits + dib.stride * static_cast<size_t>(row);
    if (dib.format.bitCount == 8) {
        line[x] = index;
    } else {
        uint8_t& b = line[x / 2];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F))
                    : static_cast<uint8_t>((b & 0x0F) | (index << 4));
    }
}

// Decodes BI_RLE8 or BI_RLE4 into the uncompressed 8- or 4-bit layout, as Windows does when
// it makes a DIB section from a compressed bitmap. Compressed bitmaps are always bottom-up, so
// the stream's first row is the DIB's first row in memory. Pixels that no packet reaches (end
// of line, deltas, a stream that stops early) keep index 0.
void decode_rle(const uint8_t* p, size_t n, Dib& dib) {
    const bool four = dib.format.bitCount == 4;
    const int64_t width = dib.width;
    const int64_t height = dib.height;
    size_t i = 0;
    int64_t x = 0;
    int64_t row = 0;
    while (i + 1 < n && row < height) {
        const uint8_t count = p[i];
        const uint8_t value = p[i + 1];
        i += 2;
        if (count > 0) {
            // Encoded run: `count` pixels of one index (RLE4: two indices alternating).
            for (int64_t k = 0; k < count && x + k < width; ++k)
                set_index(dib, x + k, row, four ? ((k & 1) ? value & 0x0F : value >> 4) : value);
            x += count;
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++row;
            break;
        case 1:  // end of bitmap
            return;
        case 2:  // delta: move right and up
            if (i + 1 >= n) return;
            x += p[i];
            row += p[i + 1];
            i += 2;
            break;
        default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = four ? (value + 1u) / 2 : value;
            const size_t available = std::min(bytes, n - i);
            for (int64_t k = 0; k < value; ++k) {
                const size_t at = four ? static_cast<size_t>(k / 2) : static_cast<size_t>(k);
                if (at >= available) return;  // the stream ends inside the run
                if (x + k < width) {
                    const uint8_t b = p[i + at];
                    set_index(dib, x + k, row, four ? ((k & 1) ? b & 0x0F : b >> 4) : b);
                }
            }
            x += value;
            i += bytes + (bytes & 1);
            break;
        }
        }
    }
}

void trace(const char* where, const char* what) {
    if (!DebugOutputHasListener()) return;
    std::string line = std::string(where) + ": bitmap refused: " + what + "\n";
    OutputDebugStringA(line.c_str());
}


}  // namespace

std::unique_ptr<Dib> read_bmp(const uint8_t* data, size_t size, const char** reason) {
    const char* dummy = nullptr;
    const char*& why = reason ? *reason : dummy;
    auto refuse = [&](const char* text) {
        why = text;
        return std::unique_ptr<Dib>();
    };

    if (!data || size < kFileHeaderSize + kCoreHeaderSize) return refuse("too short");
    if (data[0] != 'B' || data[1] != 'M') return refuse("not a BMP file");
    const size_t offBits = U32(data + 10);
    const uint32_t headerSize = U32(data + 14);
    if (!known_header_size(headerSize)) return refuse("unsupported header size");
    const size_t headerEnd = kFileHeaderSize + headerSize;
    if (headerEnd > size) return refuse("header runs past the end of the data");

    const uint8_t* h = data + kFileHeaderSize;
    const bool core = headerSize == kCoreHeaderSize;
    int64_t width, height;
    uint32_t planes, bitCount, compression = BI_RGB, sizeImage = 0, clrUsed = 0;
    int32_t xPels = 0, yPels = 0;
    if (core) {
        width = U16(h + 4);
        height = U16(h + 6);
        planes = U16(h + 8);
        bitCount = U16(h + 10);
    } else {
        width = static_cast<int32_t>(U32(h + 4));
        height = static_cast<int32_t>(U32(h + 8));
        planes = U16(h + 12);
        bitCount = U16(h + 14);
        compression = U32(h + 16);
        sizeImage = U32(h + 20);
        xPels = static_cast<int32_t>(U32(h + 24));
        yPels = static_cast<int32_t>(U32(h + 28));
        clrUsed = U32(h + 32);
    }
    const bool topDown = height < 0;
    height = topDown ? -height : height;  // int64, so -INT32_MIN is fine
    if (width <= 0) return refuse("width is not positive");
    if (height == 0) return refuse("height is zero");
    if (!sane_size(width, height)) return refuse("image too large");
    if (planes != 1) return refuse("planes is not 1");
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32)
        return refuse("unsupported bit count");
    if (core && bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)
        return refuse("unsupported bit count");
    const bool rle = compression == BI_RLE8 || compression == BI_RLE4;
    switch (compression) {
    case BI_RGB: break;
    case BI_RLE8:
        if (bitCount != 8) return refuse("BI_RLE8 needs 8 bits per pixel");
        break;
    case BI_RLE4:
        if (bitCount != 4) return refuse("BI_RLE4 needs 4 bits per pixel");
        break;
    case BI_BITFIELDS:
        if (bitCount != 16 && bitCount != 32) return refuse("BI_BITFIELDS needs 16 or 32 bits per pixel");
        break;
    default: return refuse("unsupported compression");
    }
    if (rle && topDown) return refuse("a compressed bitmap must be bottom-up");

    PixelFormat format;
    format.bitCount = static_cast<int>(bitCount);
    size_t tableStart = headerEnd;
    if (compression == BI_BITFIELDS) {
        // Info headers of 52 bytes and more hold the masks themselves (and from 56 bytes an
        // alpha mask); after a 40-byte header three masks follow it.
        const uint8_t* m = h + 40;
        if (headerSize == 40) {
            if (headerEnd + 12 > size) return refuse("bit field masks run past the end of the data");
            m = data + headerEnd;
            tableStart += 12;
        }
        for (int c = 0; c < 3; ++c) format.masks[c] = U32(m + 4 * c);
        format.masks[3] = headerSize >= 56 ? U32(h + 52) : 0;
        if (!valid_masks(format.bitCount, format.masks)) return refuse("invalid bit field masks");
    } else {
        default_masks(format.bitCount, format.masks);
    }

    if (offBits < tableStart || offBits >= size) return refuse("pixel data offset outside the file");
    if (format.palettised()) {
        // The table holds biClrUsed entries (0: all 2^bits); more than 2^bits are ignored, as
        // Windows does. A table that would reach into the pixel data is cut at bfOffBits.
        const size_t entrySize = core ? 3 : 4;
        size_t count = size_t{1} << bitCount;
        if (clrUsed != 0 && clrUsed < count) count = clrUsed;
        count = std::min(count, (offBits - tableStart) / entrySize);
        if (count == 0) return refuse("no colour table");
        format.colours.resize(count);
        for (size_t k = 0; k < count; ++k) {
            const uint8_t* e = data + tableStart + k * entrySize;
            format.colours[k] = RGBQUAD{e[0], e[1], e[2], 0};
        }
    }

    const size_t available = size - offBits;
    const uint8_t* pixels = data + offBits;
    const size_t stride = dib_stride(width, static_cast<int>(bitCount));
    if (!rle) {
        // The last row may lack its padding (a common writer's slip); every other byte must
        // be there. Checked before any memory is taken for the image.
        const size_t rowBytes = static_cast<size_t>((width * bitCount + 7) / 8);
        if (stride * static_cast<size_t>(height - 1) + rowBytes > available)
            return refuse("pixel data runs past the end of the data");
    }
    auto dib = new_dib(static_cast<int>(width), static_cast<int>(height), topDown, std::move(format));
    if (!dib) return refuse("out of memory");
    if (rle) {
        // biSizeImage bounds the stream when it is given and fits; a larger one is cut to
        // the data there is.
        const size_t length = (sizeImage != 0 && sizeImage <= available) ? sizeImage : available;
        decode_rle(pixels, length, *dib);
    } else {
        std::memcpy(dib->bits, pixels, std::min(stride * static_cast<size_t>(height), available));
    }
    if (compression == BI_BITFIELDS) dib->header.biCompression = BI_BITFIELDS;
    dib->header.biXPelsPerMeter = xPels;
    dib->header.biYPelsPerMeter = yPels;
    return dib;
}

}  // namespace vantor::gdi

using namespace vantor::gdi;

extern "C" {

HBITMAP VantorLoadBitmapFromMemory(const void* data, size_t size) {
    const char* reason = nullptr;
    auto dib = read_bmp(static_cast<const uint8_t*>(data), size, &reason);
    if (!dib) {
        trace("VantorLoadBitmapFromMemory", reason);
        return 0;
    }
    return adopt_dib(std::move(dib));
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, INT cx, INT cy, UINT flags) {
    if (type != IMAGE_BITMAP || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // A "name" below 0x10000 is a numeric resource id (MAKEINTRESOURCE), never a string to
    // read; resource tables write such ids "#101".
    const bool numeric = reinterpret_cast<uintptr_t>(name) < 0x10000;
    std::vector<uint8_t> file;
    const void* data = nullptr;
    size_t size = 0;
    if (flags & LR_LOADFROMFILE) {
        if (numeric) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (!vantor::read_regular_file(name, &file, kMaxFileSize)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        data = file.data();
        size = file.size();
    } else {
        char id[16];
        const char* key = name;
        if (numeric) {
            std::snprintf(id, sizeof id, "#%u", static_cast<unsigned>(reinterpret_cast<uintptr_t>(name)));
            key = id;
        }
        // Without LR_LOADFROMFILE the name is a resource of `instance`; instance 0 would mean
        // the system's own (OEM) bitmaps in Windows, which we do not have.
        if (!VantorFindResource(instance, "BITMAP", key, &data, &size)) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
    }
    const char* reason = nullptr;
    auto dib = read_bmp(static_cast<const uint8_t*>(data), size, &reason);
    if (!dib) {
        trace("LoadImageA", reason);
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Windows stretches the image when cx or cy asks for another size; we do not scale.
    if ((cx != 0 && cx != dib->width) || (cy != 0 && cy != dib->height)) {
        trace("LoadImageA", "scaling to another size is not supported");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return adopt_dib(std::move(dib));
}

}  // extern "C"
