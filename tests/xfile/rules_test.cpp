// The reading rules the samples do not cover, on hand-made files: numbers and strings, lenient
// separators, templates, binary lists, MSZIP blocks, references, the object API, and malformed
// input with the result code it must get.
#include <cmath>
#include <limits>

#include "xfile_support.h"

namespace {

using namespace xfile_test;

// Expected data blocks, written value by value.
struct Block {
    std::string s;
    template <class T>
    Block& put(T v) {
        s.append(reinterpret_cast<const char*>(&v), sizeof v);
        return *this;
    }
    Block& u32(uint32_t v) { return put(v); }
    Block& u16(uint16_t v) { return put(v); }
    Block& f32(float v) { return put(v); }
    Block& u32s(std::initializer_list<uint32_t> vs) {
        for (uint32_t v : vs) put(v);
        return *this;
    }
    Block& f32s(std::initializer_list<float> vs) {
        for (float v : vs) put(v);
        return *this;
    }
    Block& str(const std::string& t) {  // how flatten() shows a string member
        s += "\"" + t + "\"";
        return *this;
    }
};

const std::string kText = "xof 0303txt 0032\n";

// The first top-level object of a file that must read cleanly.
Flat first_object(const std::string& file, DWORD* warnings = nullptr) {
    auto f = file_api();
    HRESULT hr, end;
    auto e = open(f.get(), file, &hr);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) return {};
    auto all = flatten_all(e.get(), &end);
    EXPECT_EQ(end, DXFILEERR_NOMOREOBJECTS) << DXFileResultName(end);
    if (warnings) {
        ComPtr<IDirectXFileDiagnostics> d;
        EXPECT_EQ(query(e, IID_IDirectXFileDiagnostics, d), S_OK);
        d->GetWarningCount(warnings);
    }
    return all.empty() ? Flat{} : all[0];
}

// --- values ----------------------------------------------------------------------------------

struct ValueCase {
    const char* what;
    std::string file;
    GUID type;
    std::string block;
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

const ValueCase kValues[] = {
    {"msvc exponent, bare fraction, plus sign", kText + "Vector { 1.5e-005; -.5; +2; }", TID_D3DRMVector,
     Block().f32(1.5e-5f).f32(-0.5f).f32(2).s},
    {"msvc specials", kText + "Vector { 1.#QNAN0; -1.#IND00; -1.#INF00; }", TID_D3DRMVector,
     Block().f32(kNaN).f32(kNaN).f32(-kInf).s},
    {"integers for floats", kText + "Coords2d { 1, 2 }", TID_D3DRMCoords2d, Block().f32(1).f32(2).s},
    {"whole float for a dword", kText + "AnimTicksPerSecond { 24.0; }", TID_D3DRMAnimTicksPerSecond,
     Block().u32(24).s},
    {"words narrowed", kText + "XSkinMeshHeader { 4; 3; 65537; }", TID_D3DRMXSkinMeshHeader,
     Block().u16(4).u16(3).u16(1).s},
    {"comments beside a string", kText + "# one\n// two\nTextureFilename { \"a//b#c\"; } // three\n",
     TID_D3DRMTextureFilename, Block().str("a//b#c").s},
    {"escapes", kText + R"(TextureFilename { "C:\\dir\"q\x"; })", TID_D3DRMTextureFilename,
     Block().str("C:\\dir\"q\\x").s},
    {"miscased template name", kText + "TextureFileName { \"t.png\"; }", TID_D3DRMTextureFilename,
     Block().str("t.png").s},
    {"template without GUID takes the known one",
     kText + "template Vector { FLOAT x; FLOAT y; FLOAT z; }\nVector { 1; 2; 3; }", TID_D3DRMVector,
     Block().f32(1).f32(2).f32(3).s},
    {"redeclared template: the file's layout wins",
     kText + "template Coords2d { <F6F23F44-7686-11CF-8F52-0040333594A3> FLOAT u; FLOAT v; DWORD w; }\n"
             "Coords2d { 1; 2; 3; }",
     TID_D3DRMCoords2d, Block().f32(1).f32(2).u32(3).s},
    {"array sized by a member, two dimensions",
     kText +
         "template Poly { <11111111-2222-3333-4444-555555555555> DWORD n; array WORD idx[n][2]; FLOAT w; }\n"
         "Poly { 2; 1, 2, 3, 4; 0.5; }",
     GUID{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}},
     Block().u32(2).u16(1).u16(2).u16(3).u16(4).f32(0.5f).s},
    {"double member",
     kText + "template D { <11111111-2222-3333-4444-555555555556> DOUBLE d; UCHAR c; }\nD { 0.1; 200; }",
     GUID{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x56}},
     Block().put(0.1).put(uint8_t(200)).s},
    {"binary: 64-bit float list narrowed",
     Bin(true).name("Vector").open().floats({1.25, -2.5, 1e10}, true).close().s, TID_D3DRMVector,
     Block().f32(1.25f).f32(-2.5f).f32(1e10f).s},
    {"binary: a member spans two lists",
     Bin().name("Vector").open().floats({1, 2}, false).floats({3}, false).close().s, TID_D3DRMVector,
     Block().f32(1).f32(2).f32(3).s},
    {"binary: lone integer, integer list read as floats",
     Bin().name("IndexedColor").open().id(3).u32(7).ints({1, 0, 0, 1}).close().s, GUID{},
     Block().u32(7).f32(1).f32(0).f32(0).f32(1).s},
    {"binary: string with a 2-byte terminator",
     Bin().name("TextureFilename").open().str("a.png", 2).close().s, TID_D3DRMTextureFilename,
     Block().str("a.png").s},
    {"binary: string with a 4-byte terminator",
     Bin().name("TextureFilename").open().str("a.png", 4).close().s, TID_D3DRMTextureFilename,
     Block().str("a.png").s},
    {"binary: names and strings padded with NULs",
     Bin().name(std::string("Frame\0\0", 7)).name("F").open().close().s, TID_D3DRMFrame, ""},
};

class Values : public testing::TestWithParam<ValueCase> {};

TEST_P(Values, FillTheBlock) {
    const ValueCase& c = GetParam();
    Flat got = first_object(c.file);
    if (c.type != GUID{}) EXPECT_EQ(got.type, c.type);
    EXPECT_EQ(got.block, c.block);
}

INSTANTIATE_TEST_SUITE_P(Rules, Values, testing::ValuesIn(kValues));

// --- separators --------------------------------------------------------------------------------

// One mesh written the strict way and the ways exporters actually write it.
TEST(Separators, EveryStyleGivesTheSameMeshBlock) {
    const std::string kStyles[] = {
        "Mesh m { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 2; 3;0,1,2;, 4;0,1,2,3;; }",           // documented
        "Mesh m { 4; 0;0;0, 1;0;0, 1;1;0, 0;1;0; 2; 3;0,1,2, 4;0,1,2,3 }",                  // no final ';'
        "Mesh m { 4;; 0;;0;0;;, 1;0;0;;,, 1;1;0;; 0;1;0;;; 2;; 3;0,1,2;;, 4;0,1,2,3;;; }",  // doubled
        "Mesh m { 4, 0,0,0, 1,0,0, 1,1,0, 0,1,0, 2, 3,0,1,2, 4,0,1,2,3, }",                 // commas only
        "Mesh m { 4 0 0 0 1 0 0 1 1 0 0 1 0 2 3 0 1 2 4 0 1 2 3 }",                         // blanks only
    };
    const std::string want =
        Block().u32s({4}).f32s({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}).u32s({2, 3, 0, 1, 2, 4, 0, 1, 2, 3}).s;
    for (const std::string& style : kStyles) EXPECT_EQ(first_object(kText + style).block, want) << style;
}

TEST(Separators, LeftOverValuesAreSkippedAndCounted) {
    DWORD warnings = 0;
    EXPECT_EQ(first_object(kText + "AnimTicksPerSecond { 24; 25; 26; }", &warnings).block, Block().u32(24).s);
    EXPECT_EQ(warnings, 2u);
}

// A mesh of several megabytes: the file and block buffers grow past the size where they become
// mappings, and the block still holds every value in place.
TEST(Separators, LargeMeshKeepsEveryValue) {
    constexpr uint32_t kCount = 400000;
    std::string file = kText + "Mesh Big { " + std::to_string(kCount) + ";\n";
    for (uint32_t i = 0; i < kCount; ++i) file += std::to_string(i) + ";0;" + std::to_string(i % 7) + ";,\n";
    file += std::to_string(kCount) + ";\n";
    for (uint32_t i = 0; i < kCount; ++i) file += "3;" + std::to_string(i) + ",1,2;,\n";
    file += "}\n";
    Flat mesh = first_object(file);
    ASSERT_EQ(mesh.block.size(), 8u + 12u * kCount + 16u * kCount);
    auto f32_at = [&](size_t at) {
        float v;
        std::memcpy(&v, mesh.block.data() + at, 4);
        return v;
    };
    auto u32_at = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, mesh.block.data() + at, 4);
        return v;
    };
    EXPECT_EQ(f32_at(4 + 12 * (kCount - 1)), float(kCount - 1));
    EXPECT_EQ(f32_at(4 + 12 * (kCount - 1) + 8), float((kCount - 1) % 7));
    EXPECT_EQ(u32_at(4 + 12 * kCount), kCount);
    EXPECT_EQ(u32_at(mesh.block.size() - 12), kCount - 1);
}

// --- MSZIP -------------------------------------------------------------------------------------

TEST(Compressed, MultiBlockFilesCarryTheDictionary) {
    auto f = file_api();
    for (const char* name : {"test_cube_text.x", "test_cube_binary.x", "anim_test.x"}) {
        const std::string plain = read_file(std::string(XFILE_SAMPLES) + "/X/" + name);
        HRESULT hr, end_plain, end_zip;
        auto a = open(f.get(), plain, &hr);
        ASSERT_EQ(hr, S_OK);
        auto want = flatten_all(a.get(), &end_plain);
        for (size_t block : {size_t(700), size_t(32768)}) {
            auto b = open(f.get(), mszip(plain, block), &hr);
            ASSERT_EQ(hr, S_OK) << name << " in blocks of " << block;
            EXPECT_EQ(flatten_all(b.get(), &end_zip), want) << name;
            EXPECT_EQ(end_zip, DXFILEERR_NOMOREOBJECTS);
        }
    }
}

// --- references --------------------------------------------------------------------------------

const std::string kMaterial = "1;1;1;1;; 0; 0;0;0;; 0;0;0;;";

struct ReferenceCase {
    const char* what;
    std::string file;
    HRESULT resolve;
    std::string target;  // name of the object it resolves to
    GUID target_type;
};

const ReferenceCase kReferences[] = {
    {"by GUID",
     kText + "Material A { <AAAAAAAA-0000-0000-0000-000000000001> " + kMaterial + " }\nMaterial B { " +
         kMaterial + " }\nFrame F { { <AAAAAAAA-0000-0000-0000-000000000001> } }",
     S_OK, "A", TID_D3DRMMaterial},
    {"nearest earlier of two with one name",
     kText + "Material M { " + kMaterial + " }\nFrame M { }\nFrame F { { M } }", S_OK, "M", TID_D3DRMFrame},
    {"the parent's allowed type first",
     kText + "Material M { " + kMaterial +
         " }\nFrame M { }\nMesh X { 1; 0;0;0;; 1; 3;0,0,0;; "
         "MeshMaterialList { 1; 1; 0;; { M } } }",
     S_OK, "M", TID_D3DRMMaterial},
    {"a frame and its mesh share a name",
     kText + "Frame Cube { Mesh Cube { 1; 0;0;0;; 1; 3;0,0,0;; } }\nFrame F { { Cube } }", S_OK, "Cube",
     TID_D3DRMMesh},
    {"a later object when none is earlier", kText + "Frame F { { Later } }\nFrame Later { }", S_OK, "Later",
     TID_D3DRMFrame},
    {"two frames naming each other", kText + "Frame A { { B } }\nFrame B { { A } }", S_OK, "B",
     TID_D3DRMFrame},
    {"dangling", kText + "Frame F { { Nowhere } }", DXFILEERR_NOTFOUND, "", GUID{}},
    {"to its own container", kText + "Frame A { Frame B { { A } } }", DXFILEERR_NOTFOUND, "", GUID{}},
};

class References : public testing::TestWithParam<ReferenceCase> {};

// The reference is the last child somewhere in the file; find it and resolve it.
bool find_reference(IDirectXFileData* d, ComPtr<IDirectXFileDataReference>* out) {
    ComPtr<IDirectXFileObject> child;
    while (d->GetNextObject(child.put()) == S_OK) {
        ComPtr<IDirectXFileData> cd;
        if (query(child, IID_IDirectXFileDataReference, *out) == S_OK) return true;
        if (query(child, IID_IDirectXFileData, cd) == S_OK && find_reference(cd.get(), out)) return true;
        child.reset();
    }
    return false;
}

TEST_P(References, Resolve) {
    const ReferenceCase& c = GetParam();
    auto f = file_api();
    HRESULT hr;
    auto e = open(f.get(), c.file, &hr);
    ASSERT_EQ(hr, S_OK);
    ComPtr<IDirectXFileDataReference> ref;
    for (;;) {
        ComPtr<IDirectXFileData> d;
        ASSERT_EQ(e->GetNextDataObject(d.put()), S_OK) << "no reference found";
        if (find_reference(d.get(), &ref)) break;
    }
    ComPtr<IDirectXFileData> target;
    ASSERT_EQ(ref->Resolve(target.put()), c.resolve);
    if (FAILED(c.resolve)) {
        EXPECT_EQ(target.get(), nullptr);
        return;
    }
    EXPECT_EQ(name_of(target.get()), c.target);
    const GUID* type;
    target->GetType(&type);
    EXPECT_EQ(*type, c.target_type);
}

INSTANTIATE_TEST_SUITE_P(Rules, References, testing::ValuesIn(kReferences));

// --- the object API ------------------------------------------------------------------------------

TEST(Objects, MembersNamesInterfacesAndLifetime) {
    const std::string file = kText +
                             "Mesh Quad { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 1; 4;0,1,2,3;; "
                             "MeshMaterialList { 1; 1; 0;; { Quad } } }";
    ComPtr<IDirectXFileData> mesh;
    {
        auto f = file_api();
        HRESULT hr;
        auto e = open(f.get(), file, &hr);
        ASSERT_EQ(e->GetNextDataObject(mesh.put()), S_OK);
    }  // the file and enumeration objects are gone; the data object keeps its data alive

    DWORD size;
    void* data;
    void* whole;
    ASSERT_EQ(mesh->GetData(nullptr, &size, &whole), S_OK);
    EXPECT_EQ(size, 4u + 48 + 4 + 20);
    ASSERT_EQ(mesh->GetData("nFaces", &size, &data), S_OK);
    EXPECT_EQ(static_cast<char*>(data) - static_cast<char*>(whole), 52);
    EXPECT_EQ(size, 4u);
    ASSERT_EQ(mesh->GetData("faces", &size, &data), S_OK);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(mesh->GetData("normals", &size, &data), DXFILEERR_NOTFOUND);

    char small[3];
    DWORD len = sizeof small;
    EXPECT_EQ(mesh->GetName(small, &len), DXFILEERR_BADVALUE);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(mesh->GetName(nullptr, &len), S_OK);
    EXPECT_EQ(len, 5u);

    ComPtr<IDirectXFileDataReference> not_a_reference;
    EXPECT_EQ(query(mesh, IID_IDirectXFileDataReference, not_a_reference), E_NOINTERFACE);
    ComPtr<IDirectXFileBinary> not_binary;
    EXPECT_EQ(query(mesh, IID_IDirectXFileBinary, not_binary), E_NOINTERFACE);

    ComPtr<IDirectXFileObject> list;
    ASSERT_EQ(mesh->GetNextObject(list.put()), S_OK);
    ComPtr<IDirectXFileObject> none;
    EXPECT_EQ(mesh->GetNextObject(none.put()), DXFILEERR_NOMOREOBJECTS);
    ComPtr<IDirectXFileData> list_data;
    ASSERT_EQ(query(list, IID_IDirectXFileData, list_data), S_OK);
    ComPtr<IDirectXFileObject> ref_object;
    ASSERT_EQ(list_data->GetNextObject(ref_object.put()), S_OK);
    ComPtr<IDirectXFileData> not_data;
    EXPECT_EQ(query(ref_object, IID_IDirectXFileData, not_data), E_NOINTERFACE);
    EXPECT_EQ(name_of(ref_object.get()), "Quad");
    EXPECT_EQ(list_data->AddDataReference("x", nullptr), DXFILEERR_NOTDONEYET);
}

TEST(Objects, TemplatesMustBeRegistered) {
    auto bare = file_api(false);
    HRESULT hr, end;
    auto e = open(bare.get(), kText + "Frame F { }", &hr);
    ASSERT_EQ(hr, S_OK);
    flatten_all(e.get(), &end);
    EXPECT_EQ(end, DXFILEERR_NOTEMPLATE);
    EXPECT_EQ(bare->RegisterTemplates(const_cast<char*>("xof 0303txt 0032 template X { DWORD"), 35),
              DXFILEERR_PARSEERROR);
}

// --- malformed input ------------------------------------------------------------------------------

struct BadCase {
    const char* what;
    std::string file;
    HRESULT open;           // CreateEnumObject's result
    size_t objects_before;  // top-level objects read before the error
    HRESULT end;            // what GetNextDataObject answers then
};

std::string nested(int depth) {
    std::string s = kText;
    for (int i = 0; i < depth; ++i) s += "Frame {";
    return s + std::string(size_t(depth), '}');
}

std::string template_chain(int depth) {
    std::string s = kText + "template T0 { <10000000-0000-0000-0000-000000000000> DWORD a; }\n";
    for (int i = 1; i < depth; ++i)
        s += "template T" + std::to_string(i) + " { <10000000-0000-0000-0000-00000000" +
             std::to_string(1000 + i) + "> T" + std::to_string(i - 1) + " t; }\n";
    return s;
}

std::string cube_binary_with_vertex_count(uint32_t count) {
    std::string s = read_file(std::string(XFILE_SAMPLES) + "/X/test_cube_binary.x");
    const std::string mesh_name("\x01\x00\x04\x00\x00\x00Mesh", 10);
    const std::string mesh_count("\x06\x00\x01\x00\x00\x00\x18\x00\x00\x00", 10);  // INTEGER_LIST {24}
    size_t at = s.find(mesh_count, s.find(mesh_name));
    if (at != std::string::npos) std::memcpy(s.data() + at + 6, &count, 4);
    return s;
}

std::string compressed(uint32_t declared, std::vector<std::string> blocks) {
    std::string s = "xof 0303tzip0032";
    s.append(reinterpret_cast<const char*>(&declared), 4);
    for (const auto& b : blocks) s += b;
    return s;
}

std::string block(uint16_t raw, const std::string& packed) {
    uint16_t size = uint16_t(packed.size());
    return std::string(reinterpret_cast<const char*>(&raw), 2) +
           std::string(reinterpret_cast<const char*>(&size), 2) + packed;
}

const BadCase kBad[] = {
    {"empty", "", DXFILEERR_BADFILETYPE, 0, 0},
    {"short header", "xof 0303txt", DXFILEERR_BADFILETYPE, 0, 0},
    {"bad magic", "xyz 0303txt 0032", DXFILEERR_BADFILETYPE, 0, 0},
    {"unknown format", "xof 0303abc 0032", DXFILEERR_BADFILETYPE, 0, 0},
    {"obsolete compression", "xof 0303cmp 0032", DXFILEERR_BADFILECOMPRESSIONTYPE, 0, 0},
    {"float size", "xof 0303txt 0016", DXFILEERR_BADFILEFLOATSIZE, 0, 0},
    {"major version", "xof 0403txt 0032", DXFILEERR_BADFILEVERSION, 0, 0},
    {"unknown template", kText + "AnimTicksPerSecond { 1; }\nBogus { 1; }", S_OK, 1, DXFILEERR_NOTEMPLATE},
    {"count far past the data", kText + "Mesh { 4294967295; 1;2;3;; 0;; }", S_OK, 0, DXFILEERR_BADARRAYSIZE},
    {"count past the values", kText + "Mesh { 3; 1;2;3;, 4;5;6;; 0;; }", S_OK, 0, DXFILEERR_BADARRAYSIZE},
    {"fraction for a dword", kText + "AnimTicksPerSecond { 24.5; }", S_OK, 0, DXFILEERR_BADVALUE},
    {"string for a number", kText + "AnimTicksPerSecond { \"24\"; }", S_OK, 0, DXFILEERR_BADVALUE},
    {"too few values", kText + "AnimTicksPerSecond { }", S_OK, 0, DXFILEERR_PARSEERROR},
    {"unterminated string", kText + "TextureFilename { \"abc", S_OK, 0, DXFILEERR_PARSEERROR},
    {"unbalanced braces", kText + "Frame A { }\nFrame B { Frame C { }", S_OK, 1, DXFILEERR_PARSEERROR},
    {"restricted template refuses a child", kText + "AnimationSet { Frame { } }", S_OK, 0,
     DXFILEERR_PARSEERROR},
    {"closed template refuses a child", kText + "Vector { 1; 2; 3; Frame { } }", S_OK, 0,
     DXFILEERR_PARSEERROR},
    {"dim names a missing member",
     kText + "template T { <10000000-0000-0000-0000-000000000001> array DWORD a[n]; }", S_OK, 0,
     DXFILEERR_PARSEERROR},
    {"nesting 256 levels is fine", nested(256), S_OK, 1, DXFILEERR_NOMOREOBJECTS},
    {"nesting 257 levels", nested(257), S_OK, 0, DXFILEERR_BADFILE},
    {"template nesting past 256", template_chain(300), S_OK, 0, DXFILEERR_BADFILE},
    {"binary: unknown token", Bin().name("Frame").open().id(0x6C61).close().s, S_OK, 0, DXFILEERR_PARSEERROR},
    {"binary: list past the end", Bin().name("Vector").open().id(7).u32(0xFFFFFFFF).s, S_OK, 0,
     DXFILEERR_BADARRAYSIZE},
    {"binary: name past the end", Bin().id(1).u32(100).s + "Fra", S_OK, 0, DXFILEERR_PARSEERROR},
    {"binary: vertex count 0xFFFFFFFF", cube_binary_with_vertex_count(0xFFFFFFFF), S_OK, 2,
     DXFILEERR_BADARRAYSIZE},
    {"mszip: no blocks but a size", compressed(100, {}), DXFILEERR_BADFILE, 0, 0},
    {"mszip: block over 32 KiB", compressed(32785, {block(32769, "CK\x03\x00")}), DXFILEERR_BADFILE, 0, 0},
    {"mszip: missing CK", compressed(17, {block(1, "XY\x03\x00")}), DXFILEERR_BADFILE, 0, 0},
    {"mszip: garbage deflate", compressed(20, {block(4, "CK\xff\xff\xff\xff")}), DXFILEERR_BADFILE, 0, 0},
    {"mszip: claims over 1 GiB", compressed(0x50000000, {}), DXFILEERR_BADFILE, 0, 0},
    {"mszip: size field disagrees", mszip(kText + "Frame F { }", 100).replace(16, 1, "\x01"),
     DXFILEERR_BADFILE, 0, 0},
    {"mszip: truncated block", mszip(kText + "Frame F { }", 100).substr(0, 30), DXFILEERR_BADFILE, 0, 0},
};

class Malformed : public testing::TestWithParam<BadCase> {};

TEST_P(Malformed, GetTheirResultCode) {
    const BadCase& c = GetParam();
    auto f = file_api();
    HRESULT hr, end;
    auto e = open(f.get(), c.file, &hr);
    ASSERT_EQ(hr, c.open) << DXFileResultName(hr);
    if (FAILED(hr)) {
        EXPECT_EQ(e.get(), nullptr);
        return;
    }
    size_t top = 0;
    for (;;) {
        ComPtr<IDirectXFileData> d;
        end = e->GetNextDataObject(d.put());
        if (FAILED(end)) break;
        ++top;
    }
    EXPECT_EQ(top, c.objects_before);
    EXPECT_EQ(end, c.end) << DXFileResultName(end);
    ComPtr<IDirectXFileData> again;
    EXPECT_EQ(e->GetNextDataObject(again.put()), c.end) << "the error stays";
}

INSTANTIATE_TEST_SUITE_P(Rules, Malformed, testing::ValuesIn(kBad));

// A zip bomb: blocks of zeros that inflate to far more than the size field allows stop at the
// size field, before the memory is spent.
TEST(Compressed, InflateStopsAtTheDeclaredSize) {
    std::string zeros(32768, '\0');
    std::string plain = kText + zeros + zeros + zeros;
    std::string bomb = mszip(plain, 32768);
    uint32_t declared = 16 + 40000;
    std::memcpy(bomb.data() + 16, &declared, 4);
    auto f = file_api();
    HRESULT hr;
    auto e = open(f.get(), bomb, &hr);
    EXPECT_EQ(hr, DXFILEERR_BADFILE);
    ComPtr<IDirectXFileDiagnostics> d;
    ASSERT_EQ(query(f, IID_IDirectXFileDiagnostics, d), S_OK);
    HRESULT stopped;
    DWORD offset, line;
    EXPECT_EQ(d->GetStopPosition(&stopped, &offset, &line), S_OK);
    EXPECT_EQ(stopped, DXFILEERR_BADFILE);
    EXPECT_GT(offset, 20u) << "the second block is the one refused";
}

TEST(Diagnostics, TextErrorsGiveTheirLine) {
    auto f = file_api();
    HRESULT hr, end;
    auto e = open(f.get(), kText + "Frame A { }\n\nFrame B {\n  Bogus { }\n}\n", &hr);
    flatten_all(e.get(), &end);
    ComPtr<IDirectXFileDiagnostics> d;
    ASSERT_EQ(query(e, IID_IDirectXFileDiagnostics, d), S_OK);
    HRESULT stopped;
    DWORD offset, line;
    EXPECT_EQ(d->GetStopPosition(&stopped, &offset, &line), S_OK);
    EXPECT_EQ(stopped, DXFILEERR_NOTEMPLATE);
    EXPECT_EQ(line, 5u);
}

}  // namespace
