// Storage, template lookup, the header, MSZIP, reference resolution and member lookup.
#include "document.h"

#include <sys/mman.h>
#include <zlib.h>

#include <algorithm>
#include <new>

namespace vantor::xfile {

// Buffers of a large mesh run to tens of megabytes: from 4 MiB on they are anonymous mappings
// that ask for huge pages and grow with mremap, which spares most page faults and copies.
constexpr size_t kMapFrom = size_t(4) << 20;

void Bytes::grow(size_t extra) {
    size_t want = std::max(n_ + extra, cap_ ? cap_ * 2 : size_t(4096));
    if (want < kMapFrom) {
        auto* p = static_cast<uint8_t*>(std::realloc(p_, want));
        if (!p) throw std::bad_alloc();
        p_ = p;
        cap_ = want;
        return;
    }
    want = (want + kMapFrom - 1) / kMapFrom * kMapFrom;
    void* p;
    if (mapped_) {
        p = ::mremap(p_, cap_, want, MREMAP_MAYMOVE);
    } else {
        p = ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED && n_) std::memcpy(p, p_, n_);
    }
    if (p == MAP_FAILED) throw std::bad_alloc();
    ::madvise(p, want, MADV_HUGEPAGE);
    if (!mapped_) std::free(p_);
    p_ = static_cast<uint8_t*>(p);
    cap_ = want;
    mapped_ = true;
}

void Bytes::release() {
    if (mapped_)
        ::munmap(p_, cap_);
    else
        std::free(p_);
}

char* StringArena::reserve(size_t n) {
    if (n + 1 > left_) {
        // Small files keep to a small first chunk; the chunks are not cleared.
        size_t size = std::max(n + 1, chunks_.empty() ? size_t(1024) : size_t(64 * 1024));
        chunks_.push_back(std::unique_ptr<char[]>(new char[size]));
        cur_ = chunks_.back().get();
        left_ = size;
    }
    char* at = cur_;
    cur_ += n + 1;
    left_ -= n + 1;
    return at;
}

char* StringArena::store(const char* s, size_t n) {
    char* at = reserve(n);
    if (n) std::memcpy(at, s, n);
    at[n] = 0;
    return at;
}

// ---------------------------------------------------------------------------------------------
// Templates
// ---------------------------------------------------------------------------------------------

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

const Template* TemplateSet::find_exact(std::string_view name) const {
    for (const TemplateSet* s = this; s; s = s->parent) {
        auto it = s->by_name_.find(name);
        if (it != s->by_name_.end()) return it->second;
    }
    return nullptr;
}

const Template* TemplateSet::find(std::string_view name) const {
    if (const Template* t = find_exact(name)) return t;
    // Exporters miscase names ("TextureFileName"): the latest declaration that matches wins.
    for (const TemplateSet* s = this; s; s = s->parent)
        for (auto it = s->list_.rbegin(); it != s->list_.rend(); ++it)
            if (iequal((*it)->name, name)) return it->get();
    return nullptr;
}

const Template* TemplateSet::find_guid(const GUID& guid) const {
    for (const TemplateSet* s = this; s; s = s->parent)
        for (auto it = s->list_.rbegin(); it != s->list_.rend(); ++it)
            if ((*it)->guid == guid) return it->get();
    return nullptr;
}

void TemplateSet::add(std::shared_ptr<const Template> t) {
    by_name_[t->name] = t.get();
    list_.push_back(std::move(t));
}

void TemplateSet::add_all(const TemplateSet& other) {
    for (const auto& t : other.list_) add(t);
}

const TemplateSet& standard_templates() {
    static const TemplateSet* set = [] {
        auto* doc = new Document;
        std::memcpy(doc->source.extend(D3DRM_XTEMPLATE_BYTES), D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES);
        Header h{};
        read_header(doc->source.data(), doc->source.size(), &h);
        parse(doc, h, 16, false);
        auto* s = new TemplateSet;
        s->add_all(doc->templates);
        doc->release();
        return s;  // lives as long as the process; the templates are shared_ptr-owned by it
    }();
    return *set;
}

// ---------------------------------------------------------------------------------------------
// Header and MSZIP
// ---------------------------------------------------------------------------------------------

HRESULT read_header(const uint8_t* p, size_t n, Header* out) {
    if (n < 16 || std::memcmp(p, "xof ", 4) != 0) return DXFILEERR_BADFILETYPE;
    if (std::memcmp(p + 4, "03", 2) != 0) return DXFILEERR_BADFILEVERSION;
    if (p[6] < '0' || p[6] > '9' || p[7] < '0' || p[7] > '9') return DXFILEERR_BADFILEVERSION;
    const char* f = reinterpret_cast<const char*>(p + 8);
    if (std::memcmp(f, "txt ", 4) == 0)
        *out = {Header::Text, false, 32};
    else if (std::memcmp(f, "bin ", 4) == 0)
        *out = {Header::Binary, false, 32};
    else if (std::memcmp(f, "tzip", 4) == 0)
        *out = {Header::Text, true, 32};
    else if (std::memcmp(f, "bzip", 4) == 0)
        *out = {Header::Binary, true, 32};
    else if (std::memcmp(f, "cmp ", 4) == 0)
        return DXFILEERR_BADFILECOMPRESSIONTYPE;
    else
        return DXFILEERR_BADFILETYPE;
    if (std::memcmp(p + 12, "0032", 4) == 0)
        out->float_bits = 32;
    else if (std::memcmp(p + 12, "0064", 4) == 0)
        out->float_bits = 64;
    else
        return DXFILEERR_BADFILEFLOATSIZE;
    return S_OK;
}

HRESULT inflate_mszip(const uint8_t* body, size_t n, Bytes* out, uint32_t* where) {
    // u32 size of the whole uncompressed file, then blocks: u16 raw size, u16 packed size
    // (counting "CK"), "CK", one raw deflate stream. The last 32 KiB of output is the
    // dictionary of the next block.
    constexpr size_t kBlock = 32768;
    *where = 16;
    if (n < 4) return DXFILEERR_BADFILE;
    uint32_t declared;
    std::memcpy(&declared, body, 4);
    if (declared < 16 || declared - 16 > kMaxInflated) return DXFILEERR_BADFILE;
    // The declared size is believed only as far as ordinary compression ratios go; beyond that
    // the buffer grows as blocks actually inflate.
    out->reserve_more(std::min<size_t>(declared - 16, std::max<size_t>(n * 8, 65536)));
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return E_OUTOFMEMORY;
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } end{&z};
    size_t at = 4;
    while (at < n) {
        *where = uint32_t(16 + at);
        if (n - at < 4) return DXFILEERR_BADFILE;
        uint16_t raw, packed;
        std::memcpy(&raw, body + at, 2);
        std::memcpy(&packed, body + at + 2, 2);
        at += 4;
        if (raw > kBlock || packed < 2 || packed > n - at) return DXFILEERR_BADFILE;
        if (body[at] != 'C' || body[at + 1] != 'K') return DXFILEERR_BADFILE;
        if (out->size() + raw > declared - 16) return DXFILEERR_BADFILE;
        if (inflateReset(&z) != Z_OK) return DXFILEERR_BADFILE;
        size_t before = out->size();
        out->extend(raw);
        if (before) {
            size_t dict = std::min(before, kBlock);
            if (inflateSetDictionary(&z, out->data() + before - dict, uInt(dict)) != Z_OK)
                return DXFILEERR_BADFILE;
        }
        z.next_in = const_cast<Bytef*>(body + at + 2);
        z.avail_in = packed - 2u;
        z.next_out = out->data() + before;
        z.avail_out = raw;
        int rc = inflate(&z, Z_FINISH);
        if (rc != Z_STREAM_END || z.avail_out != 0) return DXFILEERR_BADFILE;
        at += packed;
    }
    if (out->size() + 16 != declared) return DXFILEERR_BADFILE;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// References and members
// ---------------------------------------------------------------------------------------------

uint32_t Document::resolve(const Reference& r) {
    uint32_t complete = top_level.empty() ? 0 : objects[top_level.back()].end;
    if (!indexed_) {
        for (uint32_t i = 0; i < complete; ++i)
            if (!objects[i].name.empty()) by_name_.emplace(objects[i].name, i);
        indexed_ = true;
    }
    const Template* parent_type = objects[r.parent].type;
    // Best candidates: earlier and allowed by the parent, earlier, later and allowed, later.
    uint32_t best[4] = {kNone, kNone, kNone, kNone};
    auto consider = [&](uint32_t i) {
        const Object& o = objects[i];
        if (r.has_id && o.id != r.id) return;
        if (i <= r.parent && o.end > r.parent) return;  // an object never holds itself
        bool allowed = parent_type->allows(*o.type);
        if (i < r.position) {
            if (allowed && (best[0] == kNone || i > best[0])) best[0] = i;
            if (best[1] == kNone || i > best[1]) best[1] = i;
        } else {
            if (allowed && (best[2] == kNone || i < best[2])) best[2] = i;
            if (best[3] == kNone || i < best[3]) best[3] = i;
        }
    };
    if (!r.name.empty()) {
        auto range = by_name_.equal_range(r.name);
        for (auto it = range.first; it != range.second; ++it) consider(it->second);
    } else {
        for (uint32_t i = 0; i < complete; ++i) consider(i);
    }
    for (uint32_t b : best)
        if (b != kNone) return b;
    return kNone;
}

namespace {

// Bytes one instance of `t` takes at `p` (end: the block's end); false past the end.
bool instance_size(const Template& t, const uint8_t* p, const uint8_t* end, uint64_t* size, unsigned depth);

bool member_size(const Template& t, size_t i, const uint8_t* p, const uint8_t* end, const uint32_t* values,
                 uint64_t* size, unsigned depth) {
    const Member& m = t.members[i];
    uint64_t count = 1;
    for (const Dim& d : m.dims) count *= d.by_member ? values[d.value] : d.value;
    if (!m.type || !m.type->has_variable) {
        uint64_t each = m.type ? m.type->fixed_size : 0;
        if (!m.type) {
            switch (m.prim) {
                case Prim::Word:
                case Prim::Sword:
                    each = 2;
                    break;
                case Prim::Char:
                case Prim::Uchar:
                    each = 1;
                    break;
                case Prim::Double:
                    each = 8;
                    break;
                case Prim::String:
                    each = sizeof(char*);
                    break;
                default:
                    each = 4;
                    break;
            }
        }
        *size = count * each;
        return *size <= uint64_t(end - p);
    }
    uint64_t total = 0;
    for (uint64_t k = 0; k < count; ++k) {
        uint64_t one;
        if (!instance_size(*m.type, p + total, end, &one, depth + 1)) return false;
        total += one;
    }
    *size = total;
    return true;
}

bool walk(const Template& t, const uint8_t* p, const uint8_t* end, std::string_view stop, uint32_t* stop_at,
          uint32_t* stop_size, uint64_t* size, unsigned depth) {
    if (depth > kMaxDepth) return false;
    std::vector<uint32_t> values(t.members.size());
    uint64_t at = 0;
    for (size_t i = 0; i < t.members.size(); ++i) {
        const Member& m = t.members[i];
        uint64_t n;
        if (!member_size(t, i, p + at, end, values.data(), &n, depth)) return false;
        if (m.dims.empty() && !m.type && n > 0 && n <= 4) {
            uint32_t v = 0;
            std::memcpy(&v, p + at, size_t(n));
            if (m.prim == Prim::Sword) v = uint32_t(int32_t(int16_t(v)));
            values[i] = v;
        }
        if (!stop.empty() && m.name == stop) {
            *stop_at = uint32_t(at);
            *stop_size = uint32_t(n);
            return true;
        }
        at += n;
    }
    *size = at;
    return stop.empty();
}

bool instance_size(const Template& t, const uint8_t* p, const uint8_t* end, uint64_t* size, unsigned depth) {
    if (!t.has_variable) {
        *size = t.fixed_size;
        return *size <= uint64_t(end - p);
    }
    uint32_t a, b;
    return walk(t, p, end, {}, &a, &b, size, depth);
}

}  // namespace

bool locate_member(const Template& t, const uint8_t* block, uint32_t size, std::string_view member,
                   uint32_t* offset, uint32_t* length) {
    uint64_t total;
    return walk(t, block, block + size, member, offset, length, &total, 0);
}

}  // namespace vantor::xfile
