// `.x` reading throughput: our DirectX file API against assimp's importer (no post-processing)
// on the same files in the same run. Files: every `.x` sample of Debian's assimp-testmodels and
// a generated ~50 MB text mesh with its binary twin. Our side reads everything a loader would:
// every object, its data block, its children, every reference resolved.
//
//   xfile_bench [SAMPLES_DIR] [--size-mb N] [--keep]   (--keep: leave the generated files in /tmp)
#include <assimp/scene.h>
#include <unistd.h>
#include <vantor/dxfile.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

IDirectXFile* g_file = nullptr;
uint64_t g_vertices = 0;  // Mesh vertices seen by the last read
volatile uint32_t g_sink = 0;

void walk(IDirectXFileData* d) {
    const GUID* type;
    DWORD size;
    void* data;
    d->GetType(&type);
    d->GetData(nullptr, &size, &data);
    if (size >= 4) {
        uint32_t first;
        std::memcpy(&first, data, 4);
        g_sink = g_sink + first;
        if (*type == TID_D3DRMMesh) g_vertices += first;
    }
    IDirectXFileObject* child;
    while (SUCCEEDED(d->GetNextObject(&child))) {
        IDirectXFileData* cd;
        IDirectXFileDataReference* ref;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&cd)))) {
            walk(cd);
            cd->Release();
        } else if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference,
                                                   reinterpret_cast<void**>(&ref)))) {
            IDirectXFileData* target;
            if (SUCCEEDED(ref->Resolve(&target))) target->Release();
            ref->Release();
        }
        child->Release();
    }
}

bool read_ours(const std::string& path) {
    g_vertices = 0;
    IDirectXFileEnumObject* e;
    if (FAILED(g_file->CreateEnumObject(const_cast<char*>(path.c_str()), DXFILELOAD_FROMFILE, &e)))
        return false;
    IDirectXFileData* d;
    HRESULT hr;
    while (SUCCEEDED(hr = e->GetNextDataObject(&d))) {
        walk(d);
        d->Release();
    }
    e->Release();
    return hr == DXFILEERR_NOMOREOBJECTS;
}

bool read_assimp(const std::string& path) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, 0);
    if (scene) g_sink = g_sink + scene->mNumMeshes;
    return scene != nullptr;
}

// Best time of several runs, at least `min_runs` and about a second in all.
double best_seconds(const std::function<bool()>& read, bool* ok) {
    double best = 1e30, total = 0;
    for (int run = 0; run < 200 && (run < 3 || total < 1.0); ++run) {
        auto t0 = std::chrono::steady_clock::now();
        *ok = read();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s);
        total += s;
        if (!*ok) break;
    }
    return best;
}

// A grid mesh of about `megabytes` of text: positions, faces, normals, texture coordinates and a
// material list, in a frame; and the same scene in binary tokens.
void generate(const fs::path& dir, size_t megabytes, std::string* text_path, std::string* bin_path) {
    const size_t side = std::max<size_t>(2, size_t(std::sqrt(double(megabytes) * 1024 * 1024 / 190.0)));
    const size_t nv = side * side, nf = (side - 1) * (side - 1) * 2;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> jitter(-0.01f, 0.01f);
    std::vector<float> pos(nv * 3), uv(nv * 2);
    for (size_t i = 0; i < nv; ++i) {
        pos[3 * i] = float(i % side) + jitter(rng);
        pos[3 * i + 1] = jitter(rng);
        pos[3 * i + 2] = float(i / side) + jitter(rng);
        uv[2 * i] = float(i % side) / float(side);
        uv[2 * i + 1] = float(i / side) / float(side);
    }
    std::vector<uint32_t> faces;
    faces.reserve(nf * 3);
    for (size_t y = 0; y + 1 < side; ++y)
        for (size_t x = 0; x + 1 < side; ++x) {
            uint32_t a = uint32_t(y * side + x), b = a + 1, c = uint32_t(a + side), d = c + 1;
            faces.insert(faces.end(), {a, c, b, b, c, d});
        }

    std::string t = "xof 0303txt 0032\nFrame Grid {\n Mesh Grid {\n  " + std::to_string(nv) + ";\n";
    char buf[128];
    for (size_t i = 0; i < nv; ++i) {
        std::snprintf(buf, sizeof buf, "  %f;%f;%f;%s\n", pos[3 * i], pos[3 * i + 1], pos[3 * i + 2],
                      i + 1 < nv ? "," : ";");
        t += buf;
    }
    auto face_list = [&](std::string* out) {
        *out += "  " + std::to_string(nf) + ";\n";
        for (size_t f = 0; f < nf; ++f) {
            std::snprintf(buf, sizeof buf, "  3;%u,%u,%u;%s\n", faces[3 * f], faces[3 * f + 1],
                          faces[3 * f + 2], f + 1 < nf ? "," : ";");
            *out += buf;
        }
    };
    face_list(&t);
    t += "  MeshNormals {\n  " + std::to_string(nv) + ";\n";
    for (size_t i = 0; i < nv; ++i)
        t += i + 1 < nv ? "  0.000000;1.000000;0.000000;,\n" : "  0.000000;1.000000;0.000000;;\n";
    face_list(&t);
    t += "  }\n  MeshTextureCoords {\n  " + std::to_string(nv) + ";\n";
    for (size_t i = 0; i < nv; ++i) {
        std::snprintf(buf, sizeof buf, "  %f;%f;%s\n", uv[2 * i], uv[2 * i + 1], i + 1 < nv ? "," : ";");
        t += buf;
    }
    t += "  }\n  MeshMaterialList {\n  1;\n  " + std::to_string(nf) + ";\n";
    for (size_t f = 0; f < nf; ++f) t += f + 1 < nf ? "  0,\n" : "  0;\n";
    t += "   Material { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n  }\n }\n}\n";

    // Binary: the same objects, numbers merged into lists as exporters write them.
    std::string b = "xof 0303bin 0032";
    auto id = [&](uint16_t v) { b.append(reinterpret_cast<const char*>(&v), 2); };
    auto u32 = [&](uint32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    auto name = [&](const char* n) {
        id(1);
        u32(uint32_t(std::strlen(n)));
        b += n;
    };
    auto ints = [&](const std::vector<uint32_t>& v) {
        id(6);
        u32(uint32_t(v.size()));
        b.append(reinterpret_cast<const char*>(v.data()), v.size() * 4);
    };
    auto floats = [&](const std::vector<float>& v) {
        id(7);
        u32(uint32_t(v.size()));
        b.append(reinterpret_cast<const char*>(v.data()), v.size() * 4);
    };
    std::vector<uint32_t> face_ints{uint32_t(nf)};
    for (size_t f = 0; f < nf; ++f)
        face_ints.insert(face_ints.end(), {3, faces[3 * f], faces[3 * f + 1], faces[3 * f + 2]});
    name("Frame");
    name("Grid");
    id(10);
    name("Mesh");
    name("Grid");
    id(10);
    ints({uint32_t(nv)});
    floats(pos);
    ints(face_ints);
    name("MeshNormals");
    id(10);
    ints({uint32_t(nv)});
    std::vector<float> normals(nv * 3);
    for (size_t i = 0; i < nv; ++i) normals[3 * i + 1] = 1;
    floats(normals);
    ints(face_ints);
    id(11);
    name("MeshTextureCoords");
    id(10);
    ints({uint32_t(nv)});
    floats(uv);
    id(11);
    name("MeshMaterialList");
    id(10);
    std::vector<uint32_t> list{1, uint32_t(nf)};
    list.resize(2 + nf, 0);
    ints(list);
    name("Material");
    id(10);
    floats({1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
    id(11);
    id(11);
    id(11);
    id(11);

    *text_path = (dir / "generated_text.x").string();
    *bin_path = (dir / "generated_binary.x").string();
    std::ofstream(*text_path, std::ios::binary) << t;
    std::ofstream(*bin_path, std::ios::binary) << b;
}

}  // namespace

int main(int argc, char** argv) {
    std::string samples = "/usr/share/assimp/models/X";
    size_t megabytes = 50;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--size-mb") == 0 && i + 1 < argc)
            megabytes = std::strtoul(argv[++i], nullptr, 10);
        else
            samples = argv[i];
    }
    if (FAILED(DirectXFileCreate(&g_file)) ||
        FAILED(
            g_file->RegisterTemplates(const_cast<unsigned char*>(D3DRM_XTEMPLATES), D3DRM_XTEMPLATE_BYTES)))
        return 1;

    std::vector<std::string> files;
    if (fs::is_directory(samples))
        for (const auto& entry : fs::directory_iterator(samples)) {
            std::string ext = entry.path().extension().string();
            if (ext == ".x" || ext == ".X") files.push_back(entry.path().string());
        }
    std::sort(files.begin(), files.end());
    fs::path dir = fs::temp_directory_path() / ("vantor-xfile-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string text_path, bin_path;
    generate(dir, megabytes, &text_path, &bin_path);
    files.push_back(text_path);
    files.push_back(bin_path);

    std::printf("%-34s %9s %9s | %10s %10s %9s | %10s %10s %9s | %7s\n", "file", "bytes", "vertices",
                "ours MB/s", "Mvert/s", "ms", "assimp MB/s", "Mvert/s", "ms", "ratio");
    double text_ours = 0, text_assimp = 0, bin_ours = 0, bin_assimp = 0;
    for (const std::string& path : files) {
        uint64_t bytes = fs::file_size(path);
        bool ok_ours, ok_assimp;
        double ours = best_seconds([&] { return read_ours(path); }, &ok_ours);
        uint64_t vertices = g_vertices;
        double theirs = best_seconds([&] { return read_assimp(path); }, &ok_assimp);
        char head[17] = {};
        std::ifstream(path, std::ios::binary).read(head, 16);
        bool binary = std::memcmp(head + 8, "bin ", 4) == 0 || std::memcmp(head + 8, "bzip", 4) == 0;
        (binary ? bin_ours : text_ours) += ours;
        (binary ? bin_assimp : text_assimp) += theirs;
        std::printf("%-34s %9llu %9llu | %10.1f %10.2f %9.3f | %10.1f %10.2f %9.3f | %6.2fx%s\n",
                    fs::path(path).filename().string().c_str(), (unsigned long long)bytes,
                    (unsigned long long)vertices, bytes / ours / 1e6, vertices / ours / 1e6, ours * 1e3,
                    bytes / theirs / 1e6, vertices / theirs / 1e6, theirs * 1e3, theirs / ours,
                    !ok_ours     ? "  (ours failed)"
                    : !ok_assimp ? "  (assimp failed)"
                                 : "");
    }
    std::printf("total time, text files:   ours %.1f ms, assimp %.1f ms: %.2fx\n", text_ours * 1e3,
                text_assimp * 1e3, text_assimp / text_ours);
    std::printf("total time, binary files: ours %.1f ms, assimp %.1f ms: %.2fx\n", bin_ours * 1e3,
                bin_assimp * 1e3, bin_assimp / bin_ours);
    if (keep)
        std::printf("generated files kept in %s\n", dir.string().c_str());
    else
        fs::remove_all(dir);
    g_file->Release();
    return 0;
}
