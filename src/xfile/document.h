// xfile/document.h — what one `.x` image becomes: templates, objects in file order with their
// data blocks, children and references. Built once by the parser, read-only afterwards.
#pragma once

#include <vantor/dxfile.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantor::xfile {

constexpr unsigned kMaxDepth = 256;               // objects and template nesting
constexpr size_t kMaxInflated = size_t(1) << 30;  // whole inflated file
constexpr uint64_t kMaxArrayElements = uint64_t(1) << 31;

enum class Prim : uint8_t { None, Word, Dword, Float, Double, Char, Uchar, Sword, Sdword, String };

struct Template;

struct Dim {
    uint32_t value;  // constant count, or index of the member that holds it
    bool by_member;
};

struct Member {
    std::string name;
    Prim prim = Prim::None;  // Prim::None: the template `type`
    const Template* type = nullptr;
    std::vector<Dim> dims;  // empty: one value
};

enum class Restriction : uint8_t { Closed, Open, Restricted };

struct Allowed {
    std::string name;
    GUID guid{};
    bool has_guid = false;
};

struct Template {
    std::string name;
    GUID guid{};
    std::vector<Member> members;
    Restriction restriction = Restriction::Closed;
    std::vector<Allowed> allowed;
    uint32_t fixed_size = 0;    // block size when has_variable is false
    uint32_t min_values = 0;    // values one instance needs at least
    uint32_t depth = 1;         // nesting of template members
    bool has_variable = false;  // an array sized by a member somewhere inside
    Prim flat = Prim::None;     // every value has this type, no arrays sized by members:
    uint32_t flat_count = 0;    // the block is flat_count values in a row

    bool allows(const Template& child) const;
};

// Templates by name: a file's own declarations over the registered ones.
class TemplateSet {
public:
    const Template* find(std::string_view name) const;  // exact, then any case
    const Template* find_exact(std::string_view name) const;
    const Template* find_guid(const GUID& guid) const;  // the latest declaration with it
    void add(std::shared_ptr<const Template> t);
    void add_all(const TemplateSet& other);
    const TemplateSet* parent = nullptr;
    size_t size() const { return list_.size(); }

private:
    std::unordered_map<std::string_view, const Template*> by_name_;
    std::vector<std::shared_ptr<const Template>> list_;
};

// ASCII case-insensitive equality (template names, keywords).
bool iequal(std::string_view a, std::string_view b);

// The standard templates (parsed once from D3DRM_XTEMPLATES), for GUIDs a file leaves out.
const TemplateSet& standard_templates();

// A growable byte buffer without zero-filling (data blocks are written value by value).
class Bytes {
public:
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { release(); }
    uint8_t* data() const { return p_; }
    size_t size() const { return n_; }
    void reserve_more(size_t extra) {
        if (cap_ - n_ < extra) grow(extra);
    }
    uint8_t* extend(size_t k) {  // k more bytes, returns where they start
        reserve_more(k);
        uint8_t* at = p_ + n_;
        n_ += k;
        return at;
    }
    void truncate(size_t n) {
        if (n < n_) n_ = n;
    }
    void swap(Bytes& o) {
        std::swap(p_, o.p_);
        std::swap(n_, o.n_);
        std::swap(cap_, o.cap_);
        std::swap(mapped_, o.mapped_);
    }
    void align8() {
        size_t pad = (8 - (n_ & 7)) & 7;
        if (pad) std::memset(extend(pad), 0, pad);
    }

private:
    void grow(size_t extra);
    void release();
    uint8_t* p_ = nullptr;
    size_t n_ = 0, cap_ = 0;
    bool mapped_ = false;  // large buffers are mappings on huge pages
};

// Stable storage for strings referred to by data blocks.
class StringArena {
public:
    char* store(const char* s, size_t n);  // copies, adds the terminator
    char* reserve(size_t n);               // n + 1 bytes, caller writes the terminator

private:
    std::vector<std::unique_ptr<char[]>> chunks_;
    char* cur_ = nullptr;
    size_t left_ = 0;
};

enum class ChildKind : uint8_t { Object, Reference };
struct Child {
    ChildKind kind;
    uint32_t index;
};

struct Object {
    const Template* type;
    std::string_view name;
    GUID id;
    uint64_t data_offset;
    uint32_t data_size;
    uint32_t first_child;
    uint32_t child_count;
    uint32_t parent;  // kNone at top level
    uint32_t end;     // objects [this + 1, end) are its descendants
};

struct Reference {
    std::string_view name;
    GUID id;
    bool has_id;
    uint32_t parent;    // the object the reference sits in
    uint32_t position;  // objects before it in file order
};

constexpr uint32_t kNone = 0xFFFFFFFFu;

struct Document {
    std::atomic<ULONG> refs{1};
    void add_ref() { ++refs; }
    void release() {
        if (--refs == 0) delete this;
    }

    Bytes source;           // the file (inflated when compressed); names point into it
    TemplateSet templates;  // declared by the file; parent: the registered set
    std::shared_ptr<const TemplateSet> registered;
    std::vector<Object> objects;  // file order (pre-order)
    std::vector<uint32_t> top_level;
    std::vector<Child> children;
    std::vector<Reference> references;
    Bytes data;
    StringArena strings;

    HRESULT error = S_OK;  // what stopped reading (after top_level were complete)
    uint32_t error_offset = 0;
    uint32_t error_line = 0;
    uint32_t warnings = 0;

    const uint8_t* block(const Object& o) const { return data.data() + o.data_offset; }
    // The object a reference names, or kNone.
    uint32_t resolve(const Reference& r);

private:
    std::unordered_multimap<std::string_view, uint32_t> by_name_;
    bool indexed_ = false;
};

// Where a member's bytes lie inside a block; false when the template has no such member.
bool locate_member(const Template& t, const uint8_t* block, uint32_t size, std::string_view member,
                   uint32_t* offset, uint32_t* length);

// --- reading -------------------------------------------------------------------------------

struct Header {
    enum Format : uint8_t { Text, Binary } format;
    bool compressed;
    unsigned float_bits;
};

// Checks the 16-byte header. DXFILEERR_BADFILETYPE, BADFILEVERSION, BADFILEFLOATSIZE,
// BADFILECOMPRESSIONTYPE.
HRESULT read_header(const uint8_t* p, size_t n, Header* out);

// Inflates an MSZIP body (after the header) into `out`. DXFILEERR_BADFILE; *where gets the
// offset of the failing block.
HRESULT inflate_mszip(const uint8_t* body, size_t n, Bytes* out, uint32_t* where);

// Parses `doc->source` from byte `start` (past the header). Objects are kept only when
// `objects_allowed`; template declarations go into doc->templates. Errors land in doc->error.
void parse(Document* doc, const Header& h, size_t start, bool objects_allowed);

}  // namespace vantor::xfile
