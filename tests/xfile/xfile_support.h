// Helpers for the `.x` reader tests: open bytes or files through the API, flatten what an
// enumeration yields, and write binary and MSZIP files by hand.
#pragma once

#include <gtest/gtest.h>
#include <vantor/com_ptr.h>
#include <vantor/dxfile.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace xfile_test {

using vantor::ComPtr;

// QueryInterface into a counted pointer.
template <class T, class U>
HRESULT query(T* from, REFIID iid, ComPtr<U>& to) {
    return from->QueryInterface(iid, to.put_void());
}
template <class T, class U>
HRESULT query(const ComPtr<T>& from, REFIID iid, ComPtr<U>& to) {
    return query(from.get(), iid, to);
}

inline ComPtr<IDirectXFile> file_api(bool templates = true) {
    ComPtr<IDirectXFile> f;
    EXPECT_EQ(DirectXFileCreate(f.put()), S_OK);
    if (templates)
        EXPECT_EQ(f->RegisterTemplates(const_cast<unsigned char*>(D3DRM_XTEMPLATES), D3DRM_XTEMPLATE_BYTES),
                  S_OK);
    return f;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Opens bytes from memory; *hr gets CreateEnumObject's result.
inline ComPtr<IDirectXFileEnumObject> open(IDirectXFile* f, const std::string& bytes, HRESULT* hr) {
    ComPtr<IDirectXFileEnumObject> e;
    DXFILELOADMEMORY m{const_cast<char*>(bytes.data()), DWORD(bytes.size())};
    *hr = f->CreateEnumObject(&m, DXFILELOAD_FROMMEMORY, e.put());
    return e;
}

inline std::string name_of(IDirectXFileObject* o) {
    char buf[256];
    DWORD n = sizeof buf;
    EXPECT_EQ(o->GetName(buf, &n), S_OK);
    return n ? std::string(buf, n - 1) : std::string();
}

// One object of a flattened enumeration. Strings inside blocks are replaced by their text so
// that blocks from different readings compare equal.
struct Flat {
    int depth;
    GUID type;
    std::string name;
    std::string block;
    bool reference;
    bool operator==(const Flat&) const = default;
};

inline bool first_member_is_string(const GUID& t) {
    static const GUID kKeyValuePair = {
        0x26E6B1C3, 0x3D4D, 0x4A1D, {0xA4, 0x37, 0xB3, 0x36, 0x68, 0xFF, 0xA1, 0xC2}};
    return t == TID_D3DRMTextureFilename || t == TID_D3DRMSkinWeights || t == kKeyValuePair;
}

inline void flatten(IDirectXFileData* d, int depth, std::vector<Flat>* out) {
    const GUID* type = nullptr;
    DWORD size = 0;
    void* data = nullptr;
    EXPECT_EQ(d->GetType(&type), S_OK);
    EXPECT_EQ(d->GetData(nullptr, &size, &data), S_OK);
    std::string block(static_cast<const char*>(data), size);
    if (first_member_is_string(*type) && size >= sizeof(char*)) {
        const char* s;
        std::memcpy(&s, data, sizeof s);
        block = "\"" + std::string(s) + "\"" + block.substr(sizeof(char*));
    }
    out->push_back(Flat{depth, *type, name_of(d), block, false});
    ComPtr<IDirectXFileObject> child;
    while (d->GetNextObject(child.put()) == S_OK) {
        ComPtr<IDirectXFileData> cd;
        if (child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(cd.put())) == S_OK) {
            flatten(cd.get(), depth + 1, out);
        } else {
            out->push_back(Flat{depth + 1, GUID{}, name_of(child.get()), {}, true});
        }
        child.reset();
    }
}

// Every top-level object, flattened; *end gets the result that ended the enumeration.
inline std::vector<Flat> flatten_all(IDirectXFileEnumObject* e, HRESULT* end) {
    std::vector<Flat> out;
    for (;;) {
        ComPtr<IDirectXFileData> d;
        *end = e->GetNextDataObject(d.put());
        if (FAILED(*end)) return out;
        flatten(d.get(), 0, &out);
    }
}

// A binary body written token by token.
struct Bin {
    std::string s = "xof 0303bin 0032";
    explicit Bin(bool wide = false) {
        if (wide) s = "xof 0303bin 0064";
    }
    Bin& id(uint16_t v) { return raw(&v, 2); }
    Bin& u32(uint32_t v) { return raw(&v, 4); }
    Bin& raw(const void* p, size_t n) {
        s.append(static_cast<const char*>(p), n);
        return *this;
    }
    Bin& name(const std::string& n) { return id(1).u32(uint32_t(n.size())).raw(n.data(), n.size()); }
    Bin& str(const std::string& v, int terminator_bytes) {
        id(2).u32(uint32_t(v.size())).raw(v.data(), v.size()).id(20);
        if (terminator_bytes == 4) id(0);
        return *this;
    }
    Bin& ints(std::vector<uint32_t> v) {
        id(6).u32(uint32_t(v.size()));
        for (uint32_t x : v) u32(x);
        return *this;
    }
    Bin& floats(std::vector<double> v, bool wide) {
        id(7).u32(uint32_t(v.size()));
        for (double x : v) {
            if (wide)
                raw(&x, 8);
            else {
                float f = float(x);
                raw(&f, 4);
            }
        }
        return *this;
    }
    Bin& guid(const GUID& g) {
        return id(5).raw(&g.Data1, 4).raw(&g.Data2, 2).raw(&g.Data3, 2).raw(g.Data4, 8);
    }
    Bin& open() { return id(10); }
    Bin& close() { return id(11); }
};

// An MSZIP file of `plain` (a whole uncompressed `.x` file): its body cut into blocks of
// `block` bytes, each deflated with the previous output as dictionary.
inline std::string mszip(const std::string& plain, size_t block) {
    std::string out = plain.substr(0, 16);
    std::memcpy(out.data() + 8, plain.compare(8, 4, "txt ") == 0 ? "tzip" : "bzip", 4);
    uint32_t total = uint32_t(plain.size());
    out.append(reinterpret_cast<const char*>(&total), 4);
    std::string body = plain.substr(16);
    for (size_t at = 0; at < body.size(); at += block) {
        size_t n = std::min(block, body.size() - at);
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        if (at) {
            size_t dict = std::min<size_t>(at, 32768);
            deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(body.data() + at - dict), uInt(dict));
        }
        std::string packed(deflateBound(&z, uLong(n)) + 16, '\0');
        z.next_in = reinterpret_cast<Bytef*>(body.data() + at);
        z.avail_in = uInt(n);
        z.next_out = reinterpret_cast<Bytef*>(packed.data());
        z.avail_out = uInt(packed.size());
        EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        packed.resize(z.total_out);
        deflateEnd(&z);
        uint16_t raw = uint16_t(n), size = uint16_t(packed.size() + 2);
        out.append(reinterpret_cast<const char*>(&raw), 2).append(reinterpret_cast<const char*>(&size), 2);
        out += "CK" + packed;
    }
    return out;
}

}  // namespace xfile_test
