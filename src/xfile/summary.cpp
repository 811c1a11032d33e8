// Walks a file through the public API and counts what a mesh loader would use.
#include <vantor/xfile_summary.h>

#include <cstdio>

#include "document.h"

namespace vantor::xfile {

namespace {

template <class T>
struct Held {  // releases an interface pointer at scope end
    T* p = nullptr;
    ~Held() {
        if (p) p->Release();
    }
};

std::string guid_text(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return buf;
}

std::string name_of(IDirectXFileObject* o) {
    DWORD n = 0;
    if (FAILED(o->GetName(nullptr, &n)) || n == 0) return {};
    std::string s(n, '\0');
    if (FAILED(o->GetName(s.data(), &n))) return {};
    s.resize(n ? n - 1 : 0);
    return s;
}

uint32_t u32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Reads the counts of a Mesh block, with every count checked against the block's size.
void read_mesh(const uint8_t* p, DWORD size, MeshCounts* m) {
    uint64_t at = 0;
    if (size < 4) return;
    m->vertices = u32(p);
    at = 4 + uint64_t(m->vertices) * 12;
    if (at + 4 > size) return;
    m->faces = u32(p + at);
    at += 4;
    for (uint32_t f = 0; f < m->faces && at + 4 <= size; ++f) {
        uint32_t k = u32(p + at);
        m->indices += k;
        at += 4 + uint64_t(k) * 4;
    }
}

struct Walker {
    Summary* s;
    IDirectXFileDiagnostics* names;  // may be null

    std::string type_name(const GUID& type) const {
        char buf[256];
        DWORD n = sizeof buf;
        if (names && SUCCEEDED(names->GetTemplateName(&type, buf, &n)) && n) return std::string(buf, n - 1);
        const char* standard = standard_template_name(type);
        return standard ? standard : "{" + guid_text(type) + "}";
    }

    void object(IDirectXFileData* d, int depth) {
        ++s->objects;
        const GUID* type = nullptr;
        d->GetType(&type);
        DWORD size = 0;
        void* data = nullptr;
        d->GetData(nullptr, &size, &data);
        std::string type_text = type_name(*type);
        std::string name = name_of(d);
        if (depth == 0) s->top_level.push_back(type_text + (name.empty() ? "" : " " + name));
        s->tree += std::string(size_t(depth) * 2, ' ') + type_text + (name.empty() ? "" : " '" + name + "'") +
                   " data " + std::to_string(size) + " bytes\n";
        const auto* p = static_cast<const uint8_t*>(data);
        MeshCounts* mesh = nullptr;
        if (*type == TID_D3DRMFrame) ++s->frames;
        if (*type == TID_D3DRMMaterial) ++s->materials;
        if (*type == TID_D3DRMMesh) {
            s->meshes.push_back(MeshCounts{});
            mesh = &s->meshes.back();
            mesh->name = name;
            mesh->block_bytes = size;
            read_mesh(p, size, mesh);
        }
        if (*type == TID_D3DRMTextureFilename && size >= sizeof(char*)) {
            const char* text;
            std::memcpy(&text, p, sizeof text);
            s->textures.push_back(text ? text : "");
        }
        size_t mesh_index = s->meshes.size() - 1;
        for (;;) {
            Held<IDirectXFileObject> child;
            if (FAILED(d->GetNextObject(&child.p))) break;
            Held<IDirectXFileData> cd;
            if (SUCCEEDED(child.p->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&cd.p)))) {
                if (mesh) count_mesh_child(cd.p, &s->meshes[mesh_index]);
                object(cd.p, depth + 1);
                continue;
            }
            Held<IDirectXFileDataReference> ref;
            if (SUCCEEDED(child.p->QueryInterface(IID_IDirectXFileDataReference,
                                                  reinterpret_cast<void**>(&ref.p)))) {
                ++s->references;
                Held<IDirectXFileData> target;
                HRESULT hr = ref.p->Resolve(&target.p);
                if (FAILED(hr)) ++s->unresolved;
                s->tree += std::string(size_t(depth + 1) * 2, ' ') + "{ " + name_of(ref.p) + " }" +
                           (FAILED(hr) ? " (not found)" : "") + "\n";
            }
        }
    }

    static void count_mesh_child(IDirectXFileData* c, MeshCounts* m) {
        const GUID* type = nullptr;
        DWORD size = 0;
        void* data = nullptr;
        if (FAILED(c->GetType(&type)) || FAILED(c->GetData(nullptr, &size, &data)) || size < 4) return;
        uint32_t n = u32(static_cast<const uint8_t*>(data));
        if (*type == TID_D3DRMMeshMaterialList) m->materials = n;
        if (*type == TID_D3DRMMeshNormals) m->normals = n;
        if (*type == TID_D3DRMMeshTextureCoords) m->texture_coords = n;
    }
};

}  // namespace

const char* standard_template_name(const GUID& type) {
    // GUIDs come from the registered block itself, so the two cannot drift apart.
    static const auto* names = [] {
        auto* v = new std::vector<std::pair<GUID, std::string>>;
        const TemplateSet& set = standard_templates();
        for (const char* n : {"Header",
                              "Vector",
                              "Coords2d",
                              "Quaternion",
                              "Matrix4x4",
                              "ColorRGBA",
                              "ColorRGB",
                              "IndexedColor",
                              "Boolean",
                              "Boolean2d",
                              "TextureFilename",
                              "Material",
                              "MeshFace",
                              "MeshFaceWraps",
                              "MeshTextureCoords",
                              "MeshMaterialList",
                              "MeshNormals",
                              "MeshVertexColors",
                              "Mesh",
                              "FrameTransformMatrix",
                              "Frame",
                              "FloatKeys",
                              "TimedFloatKeys",
                              "AnimationKey",
                              "AnimationOptions",
                              "Animation",
                              "AnimationSet",
                              "AnimTicksPerSecond",
                              "XSkinMeshHeader",
                              "SkinWeights",
                              "VertexDuplicationIndices",
                              "VertexElement",
                              "DeclData",
                              "FVFData",
                              "EffectParamFloats",
                              "EffectParamString",
                              "EffectParamDWord",
                              "EffectInstance"})
            if (const Template* t = set.find_exact(n)) v->emplace_back(t->guid, t->name);
        return v;
    }();
    for (const auto& [guid, name] : *names)
        if (guid == type) return name.c_str();
    return nullptr;
}

Summary summarize(const char* path) {
    Summary s;
    Held<IDirectXFile> file;
    if (FAILED(s.result = DirectXFileCreate(&file.p))) return s;
    if (FAILED(s.result = file.p->RegisterTemplates(const_cast<unsigned char*>(D3DRM_XTEMPLATES),
                                                    D3DRM_XTEMPLATE_BYTES)))
        return s;
    Held<IDirectXFileEnumObject> objects;
    s.result = file.p->CreateEnumObject(const_cast<char*>(path), DXFILELOAD_FROMFILE, &objects.p);
    if (FAILED(s.result)) {
        Held<IDirectXFileDiagnostics> diag;
        if (SUCCEEDED(file.p->QueryInterface(IID_IDirectXFileDiagnostics, reinterpret_cast<void**>(&diag.p))))
            diag.p->GetStopPosition(nullptr, &s.offset, &s.line);
        return s;
    }
    Held<IDirectXFileDiagnostics> diag;
    objects.p->QueryInterface(IID_IDirectXFileDiagnostics, reinterpret_cast<void**>(&diag.p));
    Walker w{&s, diag.p};
    for (;;) {
        Held<IDirectXFileData> d;
        s.result = objects.p->GetNextDataObject(&d.p);
        if (FAILED(s.result)) break;
        w.object(d.p, 0);
    }
    if (diag.p) diag.p->GetStopPosition(nullptr, &s.offset, &s.line);
    return s;
}

}  // namespace vantor::xfile
