// Objects and their `.x` meshes on the OpenGL device: files of every kind load into the tree the
// loader's rules give, and what is drawn shows their texels, blending, frames and winding.
#include <vantor/backend/backend.h>
#include <vantor/gdi.h>
#include <vantor/system.h>
#include <vantor/xfile_summary.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "engine_test.h"
#include <vantor/com_ptr.h>
#include "geometry/mesh_file.h"
#include "module/kit.h"
#include "render_test_support.h"
#include "texture/registry.h"

using namespace vantor;
using namespace render_test;
using vantor::test::Bstr;
using vantor::test::take_error;
namespace fs = std::filesystem;

namespace {

const std::string kHeader = "xof 0302txt 0032\n";

// "r;g;b;a;; power; specular;; emissive;;" with an optional texture file.
std::string material(float r, float g, float b, float a, const std::string& texture = "") {
    char s[160];
    std::snprintf(s, sizeof s, "Material { %g;%g;%g;%g;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; ", r, g, b, a);
    std::string m = s;
    if (!texture.empty()) m += "TextureFilename { \"" + texture + "\"; } ";
    return m + "}";
}

// A square from (x0, y0) to (x1, y1) at depth z, one quadrilateral face, texture coordinates
// (0, 0) at the top left.
std::string square(const std::string& name, float x0, float y0, float x1, float y1, const std::string& materials,
                   float z = 0.5f) {
    char s[400];
    std::snprintf(s, sizeof s,
                  "Mesh %s { 4; %g;%g;%g;, %g;%g;%g;, %g;%g;%g;, %g;%g;%g;; 1; 4;0,1,2,3;; "
                  "MeshTextureCoords { 4; 0.0;1.0;, 0.0;0.0;, 1.0;0.0;, 1.0;1.0;; } ",
                  name.c_str(), x0, y0, z, x0, y1, z, x1, y1, z, x1, y0, z);
    return std::string(s) + materials + " }";
}

struct Tree {
    unsigned frames = 0, meshes = 0;
    std::vector<const mesh::Node*> mesh_nodes;
};
Tree walk(const mesh::Node* root) {
    Tree t;
    std::vector<const mesh::Node*> pending{root->child};
    while (!pending.empty()) {
        const mesh::Node* n = pending.back();
        pending.pop_back();
        if (!n) continue;
        pending.push_back(n->next);
        pending.push_back(n->child);
        if (n->has_mesh) {
            ++t.meshes;
            t.mesh_nodes.push_back(n);
        } else {
            ++t.frames;
        }
    }
    return t;
}

class ObjectRenderTest : public EngineRenderTest {
protected:
    void SetUp() override {
        EngineRenderTest::SetUp();
        draw_in_clip_space();
        // Lit by a white ambient light alone: a material shows its face colour and alpha.
        dev->SetRenderState(D3DRENDERSTATE_LIGHTING, TRUE);
        dev->SetRenderState(D3DRENDERSTATE_AMBIENT, 0xFFFFFFFF);
    }
    void TearDown() override {
        dev->SetTexture(0, nullptr);
        EngineRenderTest::TearDown();
    }
    ComPtr<IObject> object_with(const std::string& path) {
        ComPtr<IObject> o = create<IObject>(CLSID_Object);
        o->put_Device(handle);
        EXPECT_EQ(o->LoadFile(Bstr(path.c_str())), S_OK) << take_error().description;
        return o;
    }
    void frame(const std::function<void()>& draw, D3DCOLOR background = 0xFF000000) {
        clear(background);
        ASSERT_EQ(dev->BeginScene(), D3D_OK);
        draw();
        ASSERT_EQ(dev->EndScene(), D3D_OK);
    }

};

}  // namespace

TEST_F(ObjectRenderTest, EveryCorpusFileLoadsAsItsSummaryCountsAndRendersAFrame) {
    const fs::path folder = "/usr/share/assimp/models/X";
    if (!fs::exists(folder)) GTEST_SKIP() << "assimp-testmodels is not installed";
    unsigned files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string ext = entry.path().extension().string();
        if (ext != ".x" && ext != ".X") continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ++files;
        xfile::Summary reference = xfile::summarize(path.c_str());
        mesh::MeshFile file;
        HRESULT hr = file.load(path);
        if (reference.result != DXFILEERR_NOMOREOBJECTS) {
            EXPECT_EQ(hr, reference.result);
            EXPECT_EQ(file.root(), nullptr);
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        Tree tree = walk(file.root());
        ASSERT_EQ(tree.meshes, reference.meshes.size());
        // Meshes come in file order within each frame; match them by name and size.
        for (const xfile::MeshCounts& m : reference.meshes) {
            bool found = false;
            for (const mesh::Node* n : tree.mesh_nodes) {
                if (n->name != m.name || n->vertices.size() != m.vertices) continue;
                found = true;
                uint32_t slots_total = 0;
                for (unsigned s = 0; s < n->material_count; ++s) slots_total += n->slots[s].index_count;
                EXPECT_EQ(slots_total, n->indices.size());
                EXPECT_EQ(n->indices.size(), 3u * (m.indices - 2u * m.faces)) << m.name;
                EXPECT_LE(n->material_count, std::max(1u, std::min(m.materials, 16u))) << m.name;
                EXPECT_GE(n->material_count, 1u);
            }
            EXPECT_TRUE(found) << m.name;
        }
        // Through the classes: the object loads the file and draws a frame without an error.
        ComPtr<IObjects> objects = create<IObjects>(CLSID_Objects);
        objects->put_Device(handle);
        ComPtr<IDispatch> d;
        take_error();
        ASSERT_EQ(objects->get_LoadFile(Bstr(path.c_str()), Bstr("model"), VARIANT_TRUE, d.put()), S_OK);
        EXPECT_EQ(take_error().description.find("X File"), std::string::npos) << "the file loaded without a complaint";
        frame([&] { EXPECT_EQ(objects->Render(), S_OK); });
        expect_no_gl_error();
    }
    EXPECT_GE(files, 8u);
}

TEST_F(ObjectRenderTest, HandMadeFilesFollowTheLoadersRules) {
    struct Case {
        const char* name;
        std::string body;
        std::function<void(const mesh::Node* root)> check;
    };
    std::string many_materials = "MeshMaterialList { 21; 3; 0, 16, 20;; ";
    for (int i = 0; i < 21; ++i) many_materials += material(i / 20.0f, 0, 0, 1) + " ";
    many_materials += "}";
    const Case cases[] = {
        {"a quadrilateral is a fan of two triangles under the root",
         "Mesh Q { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 1; 4;0,1,2,3;; }",
         [](const mesh::Node* root) {
             const mesh::Node* q = root->child;
             ASSERT_TRUE(q && q->has_mesh);
             EXPECT_EQ(q->indices, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));
             EXPECT_EQ(q->material_count, 1u);
             EXPECT_EQ(q->slots[0].material.diffuse.r, 1.0f) << "slot 0 starts white";
         }},
        {"a list of one material puts every face in slot 0",
         "Mesh M { 3; 0;0;0;, 1;0;0;, 0;1;0;; 2; 3;0,1,2;, 3;2,1,0;; MeshMaterialList { 1; 2; 0, 5;; " +
             material(0, 1, 0, 1) + " } }",
         [](const mesh::Node* root) {
             const mesh::Node* m = root->child;
             EXPECT_EQ(m->material_count, 1u);
             EXPECT_EQ(m->slots[0].index_count, 6u);
             EXPECT_EQ(m->slots[0].material.diffuse.g, 1.0f);
         }},
        {"faces go to their slots in slot order; indices of 16 and up to slot 15",
         "Mesh M { 3; 0;0;0;, 1;0;0;, 0;1;0;; 3; 3;0,1,2;, 3;1,2,0;, 3;2,0,1;; " + many_materials + " }",
         [](const mesh::Node* root) {
             const mesh::Node* m = root->child;
             EXPECT_EQ(m->material_count, 16u);
             EXPECT_EQ(m->slots[0].index_count, 3u);
             EXPECT_EQ(m->slots[15].index_count, 6u);
             EXPECT_EQ(m->indices, (std::vector<uint32_t>{0, 1, 2, 1, 2, 0, 2, 0, 1}));
         }},
        {"a frame's matrix is stored with _13, _31, _23, _32 and _43 negated; children keep file order",
         "Frame F { FrameTransformMatrix { 1,0,2,0, 0,1,3,0, 4,6,1,0, 7,8,5,1;; } "
         "Mesh A { 1; 0;0;0;; 0;; } Frame G { } Mesh B { 1; 0;0;0;; 0;; } }",
         [](const mesh::Node* root) {
             const mesh::Node* f = root->child;
             ASSERT_TRUE(f && !f->has_mesh);
             EXPECT_EQ(f->matrix._13, -2.0f);
             EXPECT_EQ(f->matrix._23, -3.0f);
             EXPECT_EQ(f->matrix._31, -4.0f);
             EXPECT_EQ(f->matrix._32, -6.0f);
             EXPECT_EQ(f->matrix._43, -5.0f);
             EXPECT_EQ(f->matrix._41, 7.0f);
             ASSERT_TRUE(f->child && f->child->next && f->child->next->next);
             EXPECT_EQ(f->child->name, "A");
             EXPECT_EQ(f->child->next->name, "G");
             EXPECT_EQ(f->child->next->next->name, "B");
         }},
        {"computed normals: a face's own, (0, 0, 1) for unused vertices and zero-area faces",
         "Mesh N { 7; 0;0;0;, 0;1;0;, 1;0;0;, 5;5;5;, 2;2;2;, 2;2;2;, 2;2;2;; 2; 3;0,1,2;, 3;4,5,6;; }",
         [](const mesh::Node* root) {
             const auto& v = root->child->vertices;
             // (p1 - p0) x (p2 - p1) = (0,1,0) x (1,-1,0) = (0, 0, -1)
             for (int i = 0; i < 3; ++i) EXPECT_EQ(v[i].nz, -1.0f) << i;
             for (int i = 3; i < 7; ++i) EXPECT_EQ(v[i].nz, 1.0f) << i << " has no face of area";
         }},
        {"normals given are taken as given",
         "Mesh N { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; MeshNormals { 3; 1;0;0;, 0;1;0;, 0;0;1;; 1; 3;0,1,2;; } }",
         [](const mesh::Node* root) {
             const auto& v = root->child->vertices;
             EXPECT_EQ(v[0].nx, 1.0f);
             EXPECT_EQ(v[1].ny, 1.0f);
             EXPECT_EQ(v[2].nz, 1.0f);
         }},
        {"a face naming a vertex out of range is dropped, the others kept",
         "Mesh D { 3; 0;0;0;, 1;0;0;, 0;1;0;; 2; 3;0,1,7;, 3;0,1,2;; }",
         [](const mesh::Node* root) { EXPECT_EQ(root->child->indices, (std::vector<uint32_t>{0, 1, 2})); }},
        {"a translucent material marks the mesh for the alpha pass",
         "Mesh T { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;; " + material(1, 0, 0, 0.5f) +
             " } }",
         [](const mesh::Node* root) { EXPECT_TRUE(root->child->has_alpha); }},
        {"frame names of any length are kept whole",
         "Frame " + std::string(300, 'f') + " { }",
         [](const mesh::Node* root) { EXPECT_EQ(root->child->name, std::string(300, 'f')); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mesh::MeshFile file;
        ASSERT_EQ(file.load(write_file("rules.x", kHeader + c.body)), S_OK);
        ASSERT_TRUE(file.root());
        c.check(file.root());
    }
}

TEST_F(ObjectRenderTest, ManyTopLevelFramesAndALargeMeshLoadDrawAndGo) {
    // 100,000 sibling frames: loading, drawing and destroying walk them without recursion.
    std::string frames = kHeader;
    for (int i = 0; i < 100000; ++i) frames += "Frame F" + std::to_string(i) + " { }\n";
    mesh::MeshFile file;
    ASSERT_EQ(file.load(write_file("frames.x", frames)), S_OK);
    EXPECT_EQ(walk(file.root()).frames, 100000u);
    frame([&] { EXPECT_EQ(file.render(dev), S_OK); });
    file.clear();

    // 70,000 vertices; the only face uses the last three and covers the middle of the screen.
    const uint32_t n = 70000;
    std::string big = kHeader + "Mesh Big { " + std::to_string(n) + ";\n";
    for (uint32_t i = 0; i < n - 3; ++i) big += "0;0;0.5;,\n";
    big += "-1;-1;0.5;, -1;3;0.5;, 3;-1;0.5;;\n2; 3;" + std::to_string(n - 3) + "," + std::to_string(n - 2) + "," +
           std::to_string(n - 1) + ";, 3;0,1,2;; MeshMaterialList { 1; 2; 0, 0;; " + material(0, 0, 1, 1) + " } }";
    ASSERT_EQ(file.load(write_file("big.x", big)), S_OK);
    const mesh::Node* m = file.root()->child;
    ASSERT_TRUE(m);
    for (const mesh::Batch& b : m->batches[0]) EXPECT_LE(b.vertices.size(), 65535u);
    frame([&] { EXPECT_EQ(file.render(dev), S_OK); });
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF0000FF, 1)) << hex(pixel(32, 32));
}

TEST_F(ObjectRenderTest, ATexturedMeshShowsItsTexelsAndTheContainerGoesWithItsLastMesh) {
    // A 2 x 2 Targa file, bottom row first: blue, white; then red, green on top.
    const uint8_t tga[18 + 12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0,
                                  255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 255, 0};
    const std::string image = write_file("mesh_quads.tga", std::string(reinterpret_cast<const char*>(tga), sizeof tga));
    const std::string path = write_file(
        "textured.x", kHeader + square("S", -1, -1, 1, 1, "MeshMaterialList { 1; 1; 0;; " + material(1, 1, 1, 1, image) + " }"));
    ComPtr<IObject> a = object_with(path);
    ComPtr<IObject> b = object_with(path);
    ASSERT_NE(texture_registry().find(image), nullptr);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    IDirectDrawSurface7* made = nullptr;
    for (int f = 0; f < 2; ++f) {  // the second frame draws the same: surfaces are not remade blank
        frame([&] { EXPECT_EQ(a->Render(), S_OK); });
        if (f == 0) made = texture_registry().surface_of(image);
        EXPECT_EQ(texture_registry().surface_of(image), made) << "a surface that is fine is kept";
        EXPECT_TRUE(near_colour(pixel(16, 16), 0xFFFF0000, 2)) << hex(pixel(16, 16));
        EXPECT_TRUE(near_colour(pixel(48, 16), 0xFF00FF00, 2)) << hex(pixel(48, 16));
        EXPECT_TRUE(near_colour(pixel(16, 48), 0xFF0000FF, 2)) << hex(pixel(16, 48));
        EXPECT_TRUE(near_colour(pixel(48, 48), 0xFFFFFFFF, 2)) << hex(pixel(48, 48));
    }
    IDirectDrawSurface7* stage0 = nullptr;
    dev->GetTexture(0, &stage0);
    EXPECT_EQ(stage0, nullptr) << "the stage-0 texture is put back";
    a.reset();
    EXPECT_NE(texture_registry().find(image), nullptr) << "the other object still draws it";
    b.reset();
    EXPECT_EQ(texture_registry().find(image), nullptr) << "the last mesh using it took it away";

    // A container someone else made is drawn but never taken away by a mesh.
    ASSERT_EQ(texture_registry().create_from_file(image, 0, 0), S_OK);
    Container* theirs = texture_registry().find(image);
    object_with(path).reset();
    EXPECT_EQ(texture_registry().find(image), theirs);
    texture_registry().destroy(theirs);
}

TEST_F(ObjectRenderTest, ATranslucentMaterialBlendsOverWhatIsBehindIt) {
    const std::string path = write_file(
        "translucent.x", kHeader + square("T", -1, -1, 1, 1, "MeshMaterialList { 1; 1; 0;; " + material(1, 0, 0, 0.5f) + " }"));
    ComPtr<IObject> o = object_with(path);
    frame([&] { EXPECT_EQ(o->Render(), S_OK); }, 0xFF0000FF);
    // 0.5 x red + 0.5 x blue
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(0.5f, 0, 0.5f), 2)) << hex(pixel(32, 32));
    DWORD blend = 1;
    dev->GetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, &blend);
    EXPECT_EQ(blend, 0u) << "blending is put back after the alpha pass";
}

TEST_F(ObjectRenderTest, AFrameMatrixMovesItsMesh) {
    const std::string body = "Frame F { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0.5,0,0,1;; } " +
                             square("S", -0.25f, -0.25f, 0.25f, 0.25f, "MeshMaterialList { 1; 1; 0;; " + material(0, 1, 0, 1) + " }") +
                             " }";
    ComPtr<IObject> o = object_with(write_file("moved.x", kHeader + body));
    frame([&] { EXPECT_EQ(o->Render(), S_OK); });
    EXPECT_TRUE(near_colour(pixel(48, 32), 0xFF00FF00, 2)) << "moved right by a quarter of the screen";
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 2)) << "and no longer at the middle";
    D3DMATRIX world{};
    dev->GetTransform(D3DTRANSFORMSTATE_WORLD, &world);
    EXPECT_EQ(world._41, 0.0f) << "the world transform is put back";
}

TEST_F(ObjectRenderTest, PointsDrawInReverseOrderOfAdditionSoTheirWindingFlips) {
    dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
    dev->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
    struct Case {
        const char* name;
        float p[3][2];
        bool drawn;
    } cases[] = {
        {"added counter-clockwise, drawn clockwise", {{-1, -1}, {1, -1}, {0, 1}}, true},
        {"added clockwise, drawn counter-clockwise and culled", {{-1, -1}, {0, 1}, {1, -1}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IPoints> points = create<IPoints>(CLSID_Points);
        ComPtr<IDispatch> d;
        for (auto& p : c.p) ASSERT_EQ(points->get_Add(p[0], p[1], 0.5f, d.put()), S_OK);
        EXPECT_EQ(points->Render(fm_Solid), E_POINTER) << "no device";
        EXPECT_NE(take_error().description.find("Device Not Initialised."), std::string::npos);
        points->put_Device(handle);
        frame([&] { EXPECT_EQ(points->Render(fm_Solid), S_OK); });
        EXPECT_EQ(pixel(32, 40) == 0xFFFFFFFF, c.drawn) << hex(pixel(32, 40));
    }
}

TEST_F(ObjectRenderTest, BadFilesAndValuesAreRefusedWithTheirCodes) {
    const std::string garbage = write_file("garbage.x", "this is not an x file at all");
    const std::string cut = write_file("cut.x", kHeader + "Mesh M { 3; 0;0;0;, 1;0;");
    const std::string good = write_file("good.x", kHeader + square("S", -1, -1, 1, 1, ""));
    struct Case {
        std::string file;
        HRESULT hr;
    } cases[] = {
        {garbage, DXFILEERR_BADFILETYPE},
        {cut, DXFILEERR_PARSEERROR},
        {::testing::TempDir() + "missing.x", DXFILEERR_FILENOTFOUND},
    };
    ComPtr<IObject> o = create<IObject>(CLSID_Object);
    EXPECT_EQ(o->LoadFile(Bstr(good.c_str())), E_POINTER);
    EXPECT_NE(take_error().description.find("Device Not Initialised."), std::string::npos);
    o->put_Device(handle);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(o->LoadFile(Bstr(good.c_str())), S_OK);
        take_error();
        HRESULT hr = o->LoadFile(Bstr(c.file.c_str()));
        if (c.hr != DXFILEERR_PARSEERROR) EXPECT_EQ(hr, c.hr);
        else EXPECT_TRUE(FAILED(hr)) << hex(static_cast<DWORD>(hr));
        EXPECT_NE(take_error().description.find("Failed to Load the requested X File."), std::string::npos);
        frame([&] { EXPECT_EQ(o->Render(), S_OK); });
        EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 0)) << "the object has no mesh left";
    }
    // A name not ending in ".x" loads nothing and succeeds; "S.X" is a `.x` file too.
    const std::string upper = write_file("UPPER.X", kHeader + square("S", -1, -1, 1, 1, ""));
    EXPECT_EQ(o->LoadFile(Bstr(upper.c_str())), S_OK);
    frame([&] { EXPECT_EQ(o->Render(), S_OK); });
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFFFFFFFF, 2)) << hex(pixel(32, 32));
    EXPECT_EQ(o->LoadFile(Bstr(garbage.substr(0, garbage.size() - 2).c_str())), S_OK);
    frame([&] { EXPECT_EQ(o->Render(), S_OK); });
    EXPECT_TRUE(near_colour(pixel(32, 32), 0xFF000000, 0)) << "the old mesh is gone";

    // put Texture takes a Texture, refuses anything else and keeps the previous one; null clears.
    ComPtr<ITexture> texture = create<ITexture>(CLSID_Texture);
    ComPtr<IColour> colour = create<IColour>(CLSID_Colour);
    ComPtr<IDispatch> td, cd, got;
    texture.query(td.put());
    colour.query(cd.put());
    EXPECT_EQ(o->put_Texture(td.get()), S_OK);
    EXPECT_EQ(o->put_Texture(cd.get()), E_INVALIDARG);
    EXPECT_NE(take_error().description.find("Invalid Parameter."), std::string::npos);
    EXPECT_EQ(o->get_Texture(got.put()), S_OK);
    EXPECT_EQ(got.get(), td.get());
    EXPECT_EQ(o->put_Texture(nullptr), S_OK);
    EXPECT_EQ(o->get_Texture(got.put()), E_POINTER);

    // Objects.LoadFile keeps an object whose file failed; Render goes by descending name.
    ComPtr<IObjects> objects = create<IObjects>(CLSID_Objects);
    ComPtr<IDispatch> d;
    EXPECT_EQ(objects->Render(), E_POINTER);
    objects->put_Device(handle);
    EXPECT_EQ(objects->get_LoadFile(Bstr(garbage.c_str()), Bstr("bad"), VARIANT_TRUE, d.put()), S_OK);
    LONG count = 0;
    objects->get_Count(&count);
    EXPECT_EQ(count, 1);
    Bstr name, file;
    ComPtr<IObject> bad;
    d.query(bad.put());
    bad->get_Name(name.out());
    EXPECT_EQ(name.str(), "bad");
    bad->get_Filename(file.out());
    EXPECT_EQ(file.str(), garbage);
}

TEST_F(ObjectRenderTest, ALitAndFoggedMeshGivesTheLightingAndFogFormulas) {
    // Computed normals face the viewer: (0, 0, -1). A white directional light along (0, 0.6, 0.8)
    // meets them at N.L = 0.8; no ambient light.
    const std::string path = write_file(
        "lit.x", kHeader + square("L", -1, -1, 1, 1, "MeshMaterialList { 1; 1; 0;; " + material(1, 0.5f, 0.25f, 1) + " }"));
    ComPtr<IObject> o = object_with(path);
    D3DLIGHT7 light{};
    light.dltType = D3DLIGHT_DIRECTIONAL;
    light.dvDirection = {0, 0.6f, 0.8f};
    light.dcvDiffuse = {1, 1, 1, 1};
    ASSERT_EQ(dev->SetLight(0, &light), D3D_OK);
    ASSERT_EQ(dev->LightEnable(0, TRUE), D3D_OK);
    dev->SetRenderState(D3DRENDERSTATE_AMBIENT, 0);
    frame([&] { EXPECT_EQ(o->Render(), S_OK); });
    const DWORD lit = rgb(0.8f, 0.4f, 0.2f);
    EXPECT_TRUE(near_colour(pixel(32, 32), lit, 2)) << hex(pixel(32, 32));

    // Linear vertex fog from 0 to 2 at depth 0.5: f = (2 - 0.5) / 2 = 0.75 of the lit colour.
    dev->SetRenderState(D3DRENDERSTATE_FOGENABLE, TRUE);
    dev->SetRenderState(D3DRENDERSTATE_FOGCOLOR, 0x000000FF);
    dev->SetRenderState(D3DRENDERSTATE_FOGSTART, float_bits(0.0f));
    dev->SetRenderState(D3DRENDERSTATE_FOGEND, float_bits(2.0f));
    dev->SetRenderState(D3DRENDERSTATE_FOGVERTEXMODE, D3DFOG_LINEAR);
    frame([&] { EXPECT_EQ(o->Render(), S_OK); });
    EXPECT_TRUE(near_colour(pixel(32, 32), rgb(0.75f * 0.8f, 0.75f * 0.4f, 0.75f * 0.2f + 0.25f), 2)) << hex(pixel(32, 32));
    dev->SetRenderState(D3DRENDERSTATE_FOGENABLE, FALSE);
}
