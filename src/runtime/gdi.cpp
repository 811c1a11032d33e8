// GDI: DIB sections, device contexts and BitBlt between any two pixel formats.
//
// Two kinds of device context: compatible DCs (CreateCompatibleDC) draw on the bitmap selected
// into them, and memory DCs (VantorCreateMemoryDC) draw on pixels their creator owns, such as
// a locked DirectDraw surface. One lock covers every bitmap and DC, and BitBlt holds it while
// it copies, so no object can go away under a copy.
#include "dib.h"

#include <vantor/handles.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace vantor::gdi {

void default_masks(int bitCount, DWORD masks[4]) {
    masks[0] = masks[1] = masks[2] = masks[3] = 0;
    if (bitCount == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (bitCount == 24 || bitCount == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0x00FF00;
        masks[2] = 0x0000FF;
    }
}

bool valid_masks(int bitCount, const DWORD masks[4]) {
    if (bitCount != 16 && bitCount != 24 && bitCount != 32) return false;
    const uint64_t inside = (uint64_t{1} << bitCount) - 1;
    uint64_t seen = 0;
    for (int c = 0; c < 4; ++c) {
        const uint64_t mask = masks[c];
        if (c == 3 && mask == 0) continue;  // no alpha channel
        if (mask == 0 || (mask & ~inside) || (mask & seen)) return false;
        const uint64_t run = mask >> __builtin_ctzll(mask);
        if (run & (run + 1)) return false;  // not one contiguous run of bits
        seen |= mask;
    }
    return true;
}

std::unique_ptr<Dib> new_dib(int width, int height, bool topDown, PixelFormat format) {
    if (!sane_size(width, height)) return nullptr;
    auto dib = std::make_unique<Dib>();
    dib->width = width;
    dib->height = height;
    dib->topDown = topDown;
    dib->stride = dib_stride(width, format.bitCount);
    dib->bits = static_cast<uint8_t*>(std::calloc(dib->stride * static_cast<size_t>(height), 1));
    if (!dib->bits) return nullptr;
    BITMAPINFOHEADER& h = dib->header;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = topDown ? -height : height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(format.bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(dib->stride * static_cast<size_t>(height));
    h.biClrUsed = static_cast<DWORD>(format.colours.size());
    dib->format = std::move(format);
    return dib;
}

namespace {

struct Bitmap {
    std::unique_ptr<Dib> dib;
    HDC selectedInto = 0;  // a bitmap lives in one DC at a time; the stock one is never marked
    bool stock = false;
};

struct Dc {
    HBITMAP selected = 0;  // compatible DCs
    // Memory DCs: the creator's pixels, rows top to bottom `pitch` bytes apart.
    bool memory = false;
    uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    size_t pitch = 0;
    PixelFormat format;
};

struct State {
    std::mutex lock;
    std::unordered_map<uint32_t, std::unique_ptr<Bitmap>> bitmaps;
    std::unordered_map<uint32_t, std::unique_ptr<Dc>> dcs;
    HBITMAP stock = 0;
};

State& gdi_state() {
    static State* s = new State;  // never destroyed: objects may be deleted during exit
    return *s;
}

template <typename T>
T* find(std::unordered_map<uint32_t, std::unique_ptr<T>>& map, uint32_t h) {
    auto it = map.find(h);
    return it == map.end() ? nullptr : it->second.get();
}

HBITMAP enter(State& s, std::unique_ptr<Bitmap> b) {
    HBITMAP h = HandleCreate(kHandleBitmap, b.get());
    if (h) s.bitmaps.emplace(h, std::move(b));
    return h;
}

// Windows gives every new memory DC a 1x1 monochrome stock bitmap, so the first SelectObject
// returns something a caller can select back before DeleteDC. Ours is a 1-bit DIB (black and
// white); it can be in any number of DCs and DeleteObject leaves it alone.
HBITMAP stock_bitmap(State& s) {
    if (s.stock) return s.stock;
    PixelFormat mono;
    mono.bitCount = 1;
    mono.colours = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    auto b = std::make_unique<Bitmap>();
    b->dib = new_dib(1, 1, false, std::move(mono));
    b->stock = true;
    if (b->dib) s.stock = enter(s, std::move(b));
    return s.stock;
}

// What a DC draws on: rows from the top, `step` bytes apart (negative for a bottom-up DIB).
struct Surface {
    uint8_t* top = nullptr;
    ptrdiff_t step = 0;
    int width = 0;
    int height = 0;
    const PixelFormat* format = nullptr;
    const uint8_t* first = nullptr;  // the lowest and one past the highest byte in use
    const uint8_t* last = nullptr;

    uint8_t* row(int64_t y) const { return top + step * static_cast<ptrdiff_t>(y); }
};

size_t row_bytes(int width, int bitCount) {
    return (static_cast<size_t>(width) * static_cast<size_t>(bitCount) + 7) / 8;
}

Surface dib_surface(const Dib& dib) {
    Surface s;
    s.top = dib.row(0);
    s.step = dib.topDown ? static_cast<ptrdiff_t>(dib.stride) : -static_cast<ptrdiff_t>(dib.stride);
    s.width = dib.width;
    s.height = dib.height;
    s.format = &dib.format;
    s.first = dib.bits;
    s.last = dib.bits + dib.stride * static_cast<size_t>(dib.height);
    return s;
}

bool surface_of(State& st, HDC h, Surface* out) {
    Dc* dc = find(st.dcs, h);
    if (!dc) return false;
    if (dc->memory) {
        out->top = dc->bits;
        out->step = static_cast<ptrdiff_t>(dc->pitch);
        out->width = dc->width;
        out->height = dc->height;
        out->format = &dc->format;
        out->first = dc->bits;
        out->last = dc->bits + dc->pitch * static_cast<size_t>(dc->height - 1) +
                    row_bytes(dc->width, dc->format.bitCount);
        return true;
    }
    Bitmap* b = find(st.bitmaps, dc->selected);
    if (!b) return false;
    *out = dib_surface(*b->dib);
    return true;
}

// --- pixels -----------------------------------------------------------------------------

uint32_t load_pixel(const uint8_t* row, int64_t x, int bitCount) {
    switch (bitCount) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    case 8: return row[x];
    case 16: return static_cast<uint32_t>(row[2 * x] | row[2 * x + 1] << 8);
    case 24: {
        const uint8_t* p = row + 3 * x;
        return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
    }
    default: {
        const uint8_t* p = row + 4 * x;
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    }
}

void store_pixel(uint8_t* row, int64_t x, int bitCount, uint32_t v) {
    switch (bitCount) {
    case 1: {
        const int bit = 7 - static_cast<int>(x & 7);
        row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1 << bit)) | ((v & 1) << bit));
        break;
    }
    case 4: {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (v & 0x0F))
                    : static_cast<uint8_t>((b & 0x0F) | ((v & 0x0F) << 4));
        break;
    }
    case 8: row[x] = static_cast<uint8_t>(v); break;
    case 16:
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        break;
    case 24:
        for (int k = 0; k < 3; ++k) row[3 * x + k] = static_cast<uint8_t>(v >> (8 * k));
        break;
    default:
        for (int k = 0; k < 4; ++k) row[4 * x + k] = static_cast<uint8_t>(v >> (8 * k));
        break;
    }
}

// Rescales a `from`-bit value to `to` bits. Widening repeats the bits downwards, so full scale
// stays full scale (5-bit 31 becomes 255) and narrowing then widening gives the value back.
uint32_t rescale(uint32_t v, int from, int to) {
    if (from >= to) return v >> (from - to);
    uint32_t out = 0;
    for (int pos = to - from; pos > -from; pos -= from) out |= pos >= 0 ? v << pos : v >> -pos;
    return out;
}

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int width = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (m) {
            shift = __builtin_ctz(m);
            width = __builtin_popcount(m);
        }
    }
    uint8_t expand(uint32_t pixel, uint8_t none) const {
        return mask ? static_cast<uint8_t>(rescale((pixel & mask) >> shift, width, 8)) : none;
    }
    uint32_t Reduce(uint8_t c) const { return mask ? (rescale(c, 8, width) << shift) & mask : 0; }
};

struct Channels {
    Channel c[4];
    explicit Channels(const PixelFormat& f)
        : c{Channel(f.masks[0]), Channel(f.masks[1]), Channel(f.masks[2]), Channel(f.masks[3])} {}
};

// Colours of a table are opaque; an index past the table is black.
void decode_row(const PixelFormat& f, const uint8_t* row, int64_t x0, int n, uint8_t* rgba) {
    if (f.palettised()) {
        for (int i = 0; i < n; ++i, rgba += 4) {
            const uint32_t index = load_pixel(row, x0 + i, f.bitCount);
            const RGBQUAD q = index < f.colours.size() ? f.colours[index] : RGBQUAD{0, 0, 0, 0};
            rgba[0] = q.rgbRed;
            rgba[1] = q.rgbGreen;
            rgba[2] = q.rgbBlue;
            rgba[3] = 255;
        }
        return;
    }
    const Channels ch(f);
    for (int i = 0; i < n; ++i, rgba += 4) {
        const uint32_t px = load_pixel(row, x0 + i, f.bitCount);
        for (int c = 0; c < 4; ++c) rgba[c] = ch.c[c].expand(px, 255);
    }
}

// The nearest entry of a colour table (squared RGB distance, first one on a tie), remembered
// per colour for the length of one blit.
class Nearest {
public:
    explicit Nearest(const PixelFormat& f) : f_(f) {}
    uint32_t find(const uint8_t* rgba) {
        const uint32_t key = static_cast<uint32_t>(rgba[0] << 16 | rgba[1] << 8 | rgba[2]);
        auto it = cache_.find(key);
        if (it != cache_.end()) return it->second;
        uint32_t best = 0;
        int bestDistance = 1 << 30;
        for (size_t k = 0; k < f_.colours.size() && bestDistance > 0; ++k) {
            const RGBQUAD& q = f_.colours[k];
            const int dr = rgba[0] - q.rgbRed, dg = rgba[1] - q.rgbGreen, db = rgba[2] - q.rgbBlue;
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = static_cast<uint32_t>(k);
            }
        }
        cache_.emplace(key, best);
        return best;
    }

private:
    const PixelFormat& f_;
    std::unordered_map<uint32_t, uint32_t> cache_;
};

void encode_row(const PixelFormat& f, uint8_t* row, int64_t x0, int n, const uint8_t* rgba,
               Nearest& nearest) {
    if (f.palettised()) {
        for (int i = 0; i < n; ++i, rgba += 4) store_pixel(row, x0 + i, f.bitCount, nearest.find(rgba));
        return;
    }
    const Channels ch(f);
    for (int i = 0; i < n; ++i, rgba += 4) {
        uint32_t px = 0;
        for (int c = 0; c < 4; ++c) px |= ch.c[c].Reduce(rgba[c]);
        store_pixel(row, x0 + i, f.bitCount, px);
    }
}

bool same_colour(const RGBQUAD& a, const RGBQUAD& b) {
    return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}

enum class CopyMode { Bytes, Indices, Convert };

// Identical layouts copy bytes, as GDI does. A colour table whose entries open the
// destination's table copies indices, so palettised pixels keep their index even where a
// table holds one colour twice; everything else goes through RGBA.
CopyMode mode_for(const PixelFormat& s, const PixelFormat& d) {
    if (s.palettised() && d.palettised()) {
        if (d.bitCount < s.bitCount || s.colours.size() > d.colours.size()) return CopyMode::Convert;
        for (size_t k = 0; k < s.colours.size(); ++k)
            if (!same_colour(s.colours[k], d.colours[k])) return CopyMode::Convert;
        return s.bitCount == d.bitCount && s.bitCount == 8 ? CopyMode::Bytes : CopyMode::Indices;
    }
    if (!s.palettised() && s.bitCount == d.bitCount && std::equal(s.masks, s.masks + 4, d.masks))
        return CopyMode::Bytes;
    return CopyMode::Convert;
}

void copy_pixels(const Surface& src, int64_t sx, int64_t sy, const Surface& dst, int64_t dx, int64_t dy,
          int w, int h) {
    const PixelFormat& sf = *src.format;
    const PixelFormat& df = *dst.format;
    const CopyMode mode = mode_for(sf, df);
    std::vector<uint8_t> rgba(mode == CopyMode::Convert ? static_cast<size_t>(w) * 4 : 0);
    Nearest nearest(df);
    const size_t bytes = static_cast<size_t>(sf.bitCount / 8);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = src.row(sy + y);
        uint8_t* d = dst.row(dy + y);
        switch (mode) {
        case CopyMode::Bytes:
            std::memcpy(d + dx * bytes, s + sx * bytes, static_cast<size_t>(w) * bytes);
            break;
        case CopyMode::Indices:
            for (int x = 0; x < w; ++x) store_pixel(d, dx + x, df.bitCount, load_pixel(s, sx + x, sf.bitCount));
            break;
        case CopyMode::Convert:
            decode_row(sf, s, sx, w, rgba.data());
            encode_row(df, d, dx, w, rgba.data(), nearest);
            break;
        }
    }
}

}  // namespace

HBITMAP adopt_dib(std::unique_ptr<Dib> dib) {
    if (!dib) return 0;
    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    auto b = std::make_unique<Bitmap>();
    b->dib = std::move(dib);
    return enter(s, std::move(b));
}

}  // namespace vantor::gdi

using namespace vantor::gdi;

extern "C" {

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset) {
    if (bits) *bits = nullptr;
    // DIB_PAL_COLORS would index the DC's logical palette, which our DCs do not have; file
    // mapping sections do not exist here either.
    if (!info || usage != DIB_RGB_COLORS || section != 0) return 0;
    const auto* raw = reinterpret_cast<const uint8_t*>(info);
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const DWORD size = h.biSize;
    if (size != 40 && size != 52 && size != 56 && size != 108 && size != 124) return 0;
    const int64_t height = h.biHeight < 0 ? -int64_t{h.biHeight} : int64_t{h.biHeight};
    if (!sane_size(h.biWidth, height) || h.biPlanes != 1) return 0;

    PixelFormat format;
    format.bitCount = h.biBitCount;
    switch (h.biBitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return 0;
    }
    if (h.biCompression == BI_BITFIELDS) {
        if (h.biBitCount != 16 && h.biBitCount != 32) return 0;
        // With a 40-byte header the masks follow it; larger headers hold them at offset 40.
        std::memcpy(format.masks, raw + 40, 3 * sizeof(DWORD));
        if (size >= 56) std::memcpy(&format.masks[3], raw + 52, sizeof(DWORD));
        if (!valid_masks(format.bitCount, format.masks)) return 0;
    } else if (h.biCompression == BI_RGB) {
        default_masks(format.bitCount, format.masks);
    } else {
        return 0;
    }
    if (format.palettised()) {
        size_t count = size_t{1} << format.bitCount;
        if (h.biClrUsed != 0 && h.biClrUsed < count) count = h.biClrUsed;
        format.colours.resize(count);
        std::memcpy(format.colours.data(), raw + size, count * sizeof(RGBQUAD));
        for (RGBQUAD& q : format.colours) q.rgbReserved = 0;
    }
    auto dib = new_dib(h.biWidth, static_cast<int>(height), h.biHeight < 0, std::move(format));
    if (!dib) return 0;
    dib->header.biCompression = h.biCompression;
    dib->header.biXPelsPerMeter = h.biXPelsPerMeter;
    dib->header.biYPelsPerMeter = h.biYPelsPerMeter;
    void* pixels = dib->bits;
    HBITMAP handle = adopt_dib(std::move(dib));
    if (handle && bits) *bits = pixels;
    return handle;
}

INT GetObjectA(HANDLE object, INT size, void* out) {
    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    Bitmap* b = find(s.bitmaps, object);
    if (!b) return 0;
    // With no buffer Windows answers the size of a BITMAP, the part every bitmap has.
    if (!out) return sizeof(BITMAP);
    if (size < static_cast<INT>(sizeof(BITMAP))) return 0;
    const Dib& dib = *b->dib;
    BITMAP bm{};
    bm.bmWidth = dib.width;
    bm.bmHeight = dib.height;
    bm.bmWidthBytes = static_cast<LONG>(dib.stride);
    bm.bmPlanes = 1;
    bm.bmBitsPixel = static_cast<WORD>(dib.format.bitCount);
    // The stock bitmap is not a DIB section in Windows: no pixel address and no DIBSECTION.
    bm.bmBits = b->stock ? nullptr : dib.bits;
    if (b->stock || size < static_cast<INT>(sizeof(DIBSECTION))) {
        std::memcpy(out, &bm, sizeof bm);
        return sizeof(BITMAP);
    }
    DIBSECTION ds{};
    ds.dsBm = bm;
    ds.dsBmih = dib.header;
    if (!dib.format.palettised()) std::copy(dib.format.masks, dib.format.masks + 3, ds.dsBitfields);
    std::memcpy(out, &ds, sizeof ds);
    return sizeof(DIBSECTION);
}

HDC CreateCompatibleDC(HDC dc) {
    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    if (dc != 0 && !find(s.dcs, dc)) return 0;
    const HBITMAP stock = stock_bitmap(s);
    if (!stock) return 0;
    auto d = std::make_unique<Dc>();
    d->selected = stock;
    HDC h = HandleCreate(kHandleDC, d.get());
    if (h) s.dcs.emplace(h, std::move(d));
    return h;
}

HDC VantorCreateMemoryDC(void* bits, INT width, INT height, INT pitch, const VantorPixelLayout* layout) {
    if (!bits || !layout || !sane_size(width, height)) return 0;
    PixelFormat format;
    format.bitCount = static_cast<int>(layout->bitCount);
    if (format.bitCount == 8) {
        if (!layout->palette) return 0;
        format.colours.assign(layout->palette, layout->palette + 256);
        for (RGBQUAD& q : format.colours) q.rgbReserved = 0;
    } else if (format.bitCount == 16 || format.bitCount == 24 || format.bitCount == 32) {
        const DWORD given[4] = {layout->redMask, layout->greenMask, layout->blueMask, layout->alphaMask};
        if (given[0] == 0 && given[1] == 0 && given[2] == 0 && given[3] == 0) {
            default_masks(format.bitCount, format.masks);
        } else {
            if (!valid_masks(format.bitCount, given)) return 0;
            std::copy(given, given + 4, format.masks);
        }
    } else {
        return 0;
    }
    if (pitch <= 0 || static_cast<size_t>(pitch) < row_bytes(width, format.bitCount)) return 0;

    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    auto d = std::make_unique<Dc>();
    d->memory = true;
    d->bits = static_cast<uint8_t*>(bits);
    d->width = width;
    d->height = height;
    d->pitch = static_cast<size_t>(pitch);
    d->format = std::move(format);
    HDC h = HandleCreate(kHandleDC, d.get());
    if (h) s.dcs.emplace(h, std::move(d));
    return h;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    Dc* d = find(s.dcs, dc);
    Bitmap* b = find(s.bitmaps, object);
    // A memory DC always draws on its creator's pixels: nothing can be selected into it.
    if (!d || d->memory || !b) return 0;
    if (d->selected == object) return object;
    if (!b->stock && b->selectedInto != 0) return 0;  // Windows: one DC at a time
    const HGDIOBJ old = d->selected;
    if (Bitmap* previous = find(s.bitmaps, old); previous && !previous->stock) previous->selectedInto = 0;
    if (!b->stock) b->selectedInto = dc;
    d->selected = object;
    return old;
}

BOOL BitBlt(HDC dst, INT x, INT y, INT cx, INT cy, HDC src, INT x1, INT y1, DWORD rop) {
    if (rop != SRCCOPY) return FALSE;
    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    Surface from, to;
    if (!surface_of(s, src, &from) || !surface_of(s, dst, &to)) return FALSE;

    // Clip the rectangle to both sides, moving source and destination together.
    int64_t sx = x1, sy = y1, dx = x, dy = y, w = cx, h = cy;
    auto clipLow = [&](int64_t& a, int64_t& b, int64_t& extent) {
        if (a < 0) {
            b -= a;
            extent += a;
            a = 0;
        }
    };
    clipLow(sx, dx, w);
    clipLow(dx, sx, w);
    clipLow(sy, dy, h);
    clipLow(dy, sy, h);
    w = std::min({w, from.width - sx, to.width - dx});
    h = std::min({h, from.height - sy, to.height - dy});
    if (w <= 0 || h <= 0) return TRUE;  // nothing overlaps: nothing to draw

    // Source and destination in the same memory: copy the source rows aside first.
    std::vector<uint8_t> staged;
    if (from.first < to.last && to.first < from.last) {
        const size_t rowBytes = row_bytes(from.width, from.format->bitCount);
        staged.resize(rowBytes * static_cast<size_t>(h));
        for (int64_t r = 0; r < h; ++r)
            std::memcpy(staged.data() + rowBytes * static_cast<size_t>(r), from.row(sy + r), rowBytes);
        from.top = staged.data();
        from.step = static_cast<ptrdiff_t>(rowBytes);
        sy = 0;
    }
    copy_pixels(from, sx, sy, to, dx, dy, static_cast<int>(w), static_cast<int>(h));
    return TRUE;
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colours) {
    if (!colours) return 0;
    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    Dc* d = find(s.dcs, dc);
    if (!d) return 0;
    const PixelFormat* f = &d->format;
    if (!d->memory) {
        Bitmap* b = find(s.bitmaps, d->selected);
        if (!b || b->stock) return 0;
        f = &b->dib->format;
    }
    if (!f->palettised() || start >= f->colours.size()) return 0;
    const size_t n = std::min<size_t>(count, f->colours.size() - start);
    std::copy_n(f->colours.begin() + start, n, colours);
    return static_cast<UINT>(n);
}

BOOL DeleteDC(HDC dc) {
    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.dcs.find(dc);
    if (it == s.dcs.end()) return FALSE;
    if (Bitmap* b = find(s.bitmaps, it->second->selected); b && !b->stock) b->selectedInto = 0;
    s.dcs.erase(it);
    HandleClose(dc);
    return TRUE;
}

BOOL DeleteObject(HGDIOBJ object) {
    State& s = gdi_state();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.bitmaps.find(object);
    if (it == s.bitmaps.end()) return FALSE;
    // Stock objects cannot be deleted; Windows answers TRUE and keeps them.
    if (it->second->stock) return TRUE;
    // Windows refuses to delete a bitmap still selected into a DC; so do we (the bitmap
    // stays valid, and can be deleted once it is deselected or its DC deleted).
    if (it->second->selectedInto != 0) return FALSE;
    s.bitmaps.erase(it);
    HandleClose(object);
    return TRUE;
}

}  // extern "C"
