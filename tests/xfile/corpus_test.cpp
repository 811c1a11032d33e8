// Every `.x` sample of Debian's assimp-testmodels, read through the file API and through
// libassimp: top-level objects, mesh counts, materials, texture names and references must match
// the known values, and the counts must agree with the second reader.
#include <assimp/scene.h>
#include <vantor/xfile_summary.h>

#include <assimp/Importer.hpp>
#include <cmath>

#include "xfile_support.h"

namespace {

using namespace xfile_test;

struct Counts {
    uint32_t meshes, vertices, faces, indices, frames, materials, references;
};

struct Sample {
    const char* file;
    std::vector<std::string> top_level;  // empty with `open_error`
    Counts n;
    std::vector<uint32_t> mesh_bytes;
    std::vector<std::string> textures;
    HRESULT open_error = S_OK;
};

const std::string kKv = "KeyValuePair";  // declared by the 3ds Max exporter's files
const std::vector<std::string> kCubeObjects = {"AnimTicksPerSecond", "Material Material", "Frame Root"};
const std::string kKwx = "C:\\code\\sourceforge\\kwxport\\trunkMerged\\test\\data\\";

const Sample kSamples[] = {
    {"X/test_cube_text.x", kCubeObjects, {1, 24, 12, 36, 2, 1, 1}, {488}, {}},
    {"X/test_cube_binary.x", kCubeObjects, {1, 24, 12, 36, 2, 1, 1}, {488}, {}},
    {"X/test_cube_compressed.x", kCubeObjects, {1, 24, 12, 36, 2, 1, 1}, {488}, {}},
    {"X/fromtruespace_bin32.x",
     {"Header", "Frame FeedTheDinoGPU-0"},
     {1, 4132, 6656, 19968, 1, 1, 0},
     {156088},
     {}},
    {"X/test.x", {"Frame pCube1"}, {1, 24, 12, 36, 1, 1, 0}, {488}, {".\\test.png"}},
    {"X/TestFormatDetection", {"Frame pCube1"}, {1, 24, 12, 36, 1, 1, 0}, {488}, {".\\test.png"}},
    {"X/kwxport_test_cubewithvcolors.x",
     {kKv, kKv, kKv, kKv, "Frame Box01"},
     {1, 24, 12, 36, 1, 3, 0},
     {488},
     {kKwx + "bottom.tga", kKwx + "top.tga", kKwx + "updown.tga"}},
    {"X/anim_test.x",
     {"AnimTicksPerSecond", "Frame pCylinder1", "Frame joint1", "Frame ikHandle1",
      "AnimationSet cylinder_test"},
     {1, 1720, 840, 2520, 4, 1, 4},
     {34088},
     {""}},
    {"X/BCN_Epileptic.X",
     {kKv, kKv, kKv, kKv, "Frame Torso", "Frame B_Root_Pelvis_L", "Frame Head", "Frame Legs",
      "AnimTicksPerSecond fps", "AnimationSet Epileptisch"},
     {3, 3014, 5126, 15378, 57, 0, 57},
     {45504, 46936, 25768},
     {}},
    {"X/Testwuson.X",
     {kKv, kKv, kKv, kKv, "Frame Wuson", "Frame Root", "AnimTicksPerSecond fps", "AnimationSet Wuson_Run",
      "AnimTicksPerSecond fps", "AnimationSet Wuson_Walk", "AnimTicksPerSecond fps",
      "AnimationSet Wuson_Bind"},
     {1, 3205, 3732, 11196, 39, 0, 117},
     {98180},
     {}},
    // One flipped byte: zlib inflates it without complaint, but 3 bytes short of the declared size.
    {"X/OV_GetNextToken", {}, {}, {}, {}, DXFILEERR_BADFILE},
    {"invalid/empty.x", {}, {}, {}, {}, DXFILEERR_BADFILETYPE},
};

class Samples : public testing::TestWithParam<Sample> {};

TEST_P(Samples, MatchKnownCountsAndAssimp) {
    const Sample& s = GetParam();
    const std::string path = std::string(XFILE_SAMPLES) + "/" + s.file;
    vantor::xfile::Summary got = vantor::xfile::summarize(path.c_str());
    if (s.open_error != S_OK) {
        EXPECT_EQ(got.result, s.open_error);
        EXPECT_TRUE(got.top_level.empty());
        Assimp::Importer assimp;
        EXPECT_EQ(assimp.ReadFile(path, 0), nullptr) << "assimp refuses it too";
        return;
    }
    ASSERT_EQ(got.result, DXFILEERR_NOMOREOBJECTS)
        << DXFileResultName(got.result) << " at byte " << got.offset;
    EXPECT_EQ(got.top_level, s.top_level);
    uint32_t vertices = 0, faces = 0, indices = 0, materials = 0;
    std::vector<uint32_t> bytes;
    for (const auto& m : got.meshes) {
        vertices += m.vertices;
        faces += m.faces;
        indices += m.indices;
        materials += m.materials;
        bytes.push_back(m.block_bytes);
        // Every sample gives one normal and one texture coordinate per vertex.
        EXPECT_EQ(m.normals, m.vertices);
        EXPECT_EQ(m.texture_coords, m.vertices);
    }
    EXPECT_EQ(got.meshes.size(), s.n.meshes);
    EXPECT_EQ(vertices, s.n.vertices);
    EXPECT_EQ(faces, s.n.faces);
    EXPECT_EQ(indices, s.n.indices);
    EXPECT_EQ(got.frames, s.n.frames);
    EXPECT_EQ(materials, s.n.materials);
    EXPECT_EQ(got.references, s.n.references);
    EXPECT_EQ(got.unresolved, 0u);
    EXPECT_EQ(bytes, s.mesh_bytes);
    EXPECT_EQ(got.textures, s.textures);

    // libassimp: faces split by material, one vertex per face corner, a default material when
    // the file has none, one animation per AnimationSet.
    Assimp::Importer assimp;
    const aiScene* scene = assimp.ReadFile(path, 0);
    ASSERT_NE(scene, nullptr) << assimp.GetErrorString();
    uint32_t a_faces = 0, a_corners = 0;
    std::vector<std::string> a_textures;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        a_faces += scene->mMeshes[i]->mNumFaces;
        a_corners += scene->mMeshes[i]->mNumVertices;
    }
    for (unsigned i = 0; i < scene->mNumMaterials; ++i) {
        aiString t;
        if (scene->mMaterials[i]->GetTexture(aiTextureType_DIFFUSE, 0, &t) == AI_SUCCESS && t.length)
            a_textures.push_back(t.C_Str());
    }
    std::vector<std::string> named;
    for (const auto& t : got.textures)
        if (!t.empty()) named.push_back(t);
    EXPECT_EQ(a_faces, faces);
    EXPECT_EQ(a_corners, indices);
    EXPECT_EQ(scene->mNumMaterials, std::max(materials, 1u));
    EXPECT_EQ(a_textures, named);
    unsigned sets = 0;
    for (const auto& t : got.top_level) sets += t.rfind("AnimationSet", 0) == 0;
    EXPECT_EQ(scene->mNumAnimations, sets);
}

INSTANTIATE_TEST_SUITE_P(AssimpTestModels, Samples, testing::ValuesIn(kSamples),
                         [](const testing::TestParamInfo<Sample>& i) {
                             std::string n = i.param.file;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// The three cubes hold one scene in three encodings. The compressed file inflates to the binary
// one, so those agree byte for byte; the text file prints floats with six decimals, so its floats
// agree to that precision and everything else (counts, indices, names, strings) exactly.
bool same_to_six_decimals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i + 4 <= a.size(); i += 4) {
        if (a.compare(i, 4, b, i, 4) == 0) continue;
        float x, y;
        std::memcpy(&x, a.data() + i, 4);
        std::memcpy(&y, b.data() + i, 4);
        // Whole numbers read as floats are denormals: they must match exactly.
        if (!std::isnormal(x) || !std::isnormal(y) || std::fabs(x - y) > 1e-6f + 1e-6f * std::fabs(x))
            return false;
    }
    return a.size() % 4 == 0 || a.compare(a.size() / 4 * 4, std::string::npos, b, a.size() / 4 * 4) == 0;
}

TEST(Samples, CubeEncodingsGiveTheSameBlocks) {
    auto f = file_api();
    std::vector<std::vector<Flat>> all;
    for (const char* name : {"test_cube_text.x", "test_cube_binary.x", "test_cube_compressed.x"}) {
        HRESULT hr, end;
        auto e = open(f.get(), read_file(std::string(XFILE_SAMPLES) + "/X/" + name), &hr);
        ASSERT_EQ(hr, S_OK) << name;
        all.push_back(flatten_all(e.get(), &end));
        EXPECT_EQ(end, DXFILEERR_NOMOREOBJECTS) << name;
    }
    ASSERT_EQ(all[0].size(), 14u);  // 13 objects and the reference to the material
    EXPECT_EQ(all[1], all[2]);
    ASSERT_EQ(all[0].size(), all[1].size());
    for (size_t i = 0; i < all[0].size(); ++i) {
        const Flat& t = all[0][i];
        const Flat& b = all[1][i];
        EXPECT_EQ(t.depth, b.depth);
        EXPECT_EQ(t.type, b.type);
        EXPECT_EQ(t.name, b.name);
        EXPECT_EQ(t.reference, b.reference);
        EXPECT_TRUE(same_to_six_decimals(t.block, b.block)) << "object " << i << " " << t.name;
    }
}

// Every prefix of the small samples: a cut file never passes for the whole one, and never
// crashes or reads past its data (this runs under AddressSanitizer).
TEST(Samples, EveryPrefixFailsCleanly) {
    auto f = file_api();
    for (const char* name : {"test_cube_text.x", "test_cube_binary.x", "test_cube_compressed.x"}) {
        const std::string whole = read_file(std::string(XFILE_SAMPLES) + "/X/" + name);
        const size_t last_brace = whole.compare(8, 4, "txt ") == 0 ? whole.rfind('}') + 1 : whole.size();
        constexpr size_t kEntries = 14;
        for (size_t n = 0; n < whole.size(); ++n) {
            HRESULT hr, end;
            auto e = open(f.get(), whole.substr(0, n), &hr);
            if (FAILED(hr)) continue;
            auto objects = flatten_all(e.get(), &end);
            if (n < last_brace) EXPECT_LT(objects.size(), kEntries) << name << " cut at " << n;
        }
    }
}

}  // namespace
