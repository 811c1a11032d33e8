// vantor/backend/pixel_format.h — DirectDraw pixel formats for every back end: validation, the
// standard formats, and conversion of pixel rows to and from 8-bit RGBA (bytes R, G, B, A).
//
//   PixelLayout layout;
//   if (!PixelLayout::from(desc.ddpfPixelFormat, &layout)) return DDERR_INVALIDPIXELFORMAT;
//   decode_row(layout, surfaceRow, width, paletteRgba, rgbaRow);   // any format -> RGBA
//   encode_row(layout, rgbaRow, width, paletteRgba, surfaceRow);   // RGBA -> any format
//
// Conversions round exactly: encoding the decoded value of any n-bit channel gives the same
// n bits back, so a Lock/Unlock or Blt round trip never changes a pixel.
#pragma once

#include <vantor/backend/ddraw.h>
#include <vantor/backend/d3dx.h>

#include <cstdint>
#include <vector>

namespace vantor::backend {

enum class FormatKind : uint8_t { Rgb, Palette8, Luminance, BumpDuDv, Depth };

// The formats this back end offers by name (textures, render targets, depth buffers).
enum class StandardFormat : uint8_t {
    R5G6B5,
    X1R5G5B5,
    A1R5G5B5,
    A4R4G4B4,
    R8G8B8,
    X8R8G8B8,
    A8R8G8B8,
    P8,
    L8,
    A8L8,
    V8U8,
    D16,
    D24S8,
    D32,
    R3G3B2,
};

struct Channel {
    uint32_t mask = 0;
    uint8_t shift = 0;
    uint8_t bits = 0;
    uint32_t max() const { return bits ? (bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1) : 0; }
};

struct PixelLayout {
    FormatKind kind = FormatKind::Rgb;
    uint32_t bits = 0;   // per pixel
    uint32_t bytes = 0;  // per pixel
    Channel r, g, b, a;  // Luminance: r is L; BumpDuDv: r is Du, g is Dv
    DDPIXELFORMAT ddpf{};

    bool has_alpha() const { return a.bits != 0; }
    // A format a render target can have (16 or 32 bits, RGB).
    bool renderable() const;
    // Validates a DirectDraw pixel format (contiguous, non-overlapping masks inside the bit count).
    static bool from(const DDPIXELFORMAT& pf, PixelLayout* out);
    static PixelLayout standard(StandardFormat f);
};

DDPIXELFORMAT standard_ddpf(StandardFormat f);
// An RGB format of `bits` bits with the given channel masks (alpha when `a` is not 0).
DDPIXELFORMAT rgb_ddpf(DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a);
// The desktop format of a display colour depth (8: P8, 16: R5G6B5, 24: R8G8B8, else X8R8G8B8).
StandardFormat display_format(DWORD bpp);

// The texture formats the device offers, in the order EnumTextureFormats gives them. The engine
// takes the first format that fits, so R5G6B5 comes before X1R5G5B5: 16-bit images without alpha
// keep six bits of green.
inline constexpr StandardFormat kTextureFormats[] = {
    StandardFormat::R5G6B5, StandardFormat::X1R5G5B5, StandardFormat::A1R5G5B5, StandardFormat::A4R4G4B4,
    StandardFormat::R8G8B8, StandardFormat::X8R8G8B8, StandardFormat::A8R8G8B8, StandardFormat::P8,
    StandardFormat::L8,     StandardFormat::A8L8,     StandardFormat::V8U8,
};
// The utility layer's name of a format (D3DX_SF_UNKNOWN for formats it has none for).
D3DX_SURFACEFORMAT surface_format_of(const PixelLayout& layout);
// The standard format the utility layer names `sf`; false for D3DX_SF_UNKNOWN and names without one.
bool standard_format_of(D3DX_SURFACEFORMAT sf, StandardFormat* out);
// Same kind, size and channel masks: raw pixels copy between the two unchanged.
bool same_layout(const PixelLayout& a, const PixelLayout& b);

// Raw pixel access (little-endian, `bytes` 1 to 4).
uint32_t read_pixel(const uint8_t* p, uint32_t bytes);
void write_pixel(uint8_t* p, uint32_t bytes, uint32_t value);

// `palette` is 256 RGBA entries (bytes R, G, B, A) for Palette8 layouts, else unused; a
// palettised row without a palette decodes to black. Depth layouts do not convert.
void decode_row(const PixelLayout& layout, const uint8_t* src, uint32_t count, const uint8_t* palette,
                uint8_t* rgba);
// Palette8 rows take the nearest palette entry (index 0 without a palette).
void encode_row(const PixelLayout& layout, const uint8_t* rgba, uint32_t count, const uint8_t* palette,
                uint8_t* dst);
// One pixel in the layout's raw encoding.
uint32_t encode_pixel(const PixelLayout& layout, const uint8_t rgba[4], const uint8_t* palette);

// Palettes: CreatePalette's capabilities give D3D_OK for a palette of 256 entries,
// DDERR_UNSUPPORTED for 1-, 2- and 4-bit ones and DDERR_INVALIDPARAMS for unknown flags or no
// size; GetEntries and SetEntries take a range inside the 256 entries and no flags.
HRESULT check_palette_caps(DWORD caps);
bool palette_range_ok(DWORD flags, DWORD start, DWORD count);

// True for a rectangle of at least one pixel inside a w x h surface (Lock and Blt take no other).
bool rect_inside(const RECT& r, DWORD w, DWORD h);

// A rectangle of a surface's pixels, as Blt and colour fills see it.
struct PixelRegion {
    uint8_t* bits = nullptr;  // the surface's first row
    uint32_t pitch = 0;
    const PixelLayout* layout = nullptr;
    const uint8_t* palette = nullptr;  // 256 RGBA entries for Palette8 layouts, or nullptr
    RECT rect{};                       // inside the surface
};
// Blt's pixel work: the nearest source pixel for each destination pixel (DirectDraw's stretch
// samples, it does not filter); a raw source value inside `key`, when given, leaves its
// destination pixel alone; different layouts convert through RGBA. The source rectangle is read
// before anything is written, so a blit within one surface reads the old pixels.
void blit(const PixelRegion& dst, const PixelRegion& src, const DDCOLORKEY* key);
// Stores the raw `value` into every pixel of the region's rectangle.
void fill(const PixelRegion& region, uint32_t value);

}  // namespace vantor::backend
