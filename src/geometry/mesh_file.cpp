// The `.x` loader and renderer: frames, meshes, material slots and their textures.
#include "geometry/mesh_file.h"

#include <vantor/dxfile.h>
#include <vantor/registry.h>

#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <unordered_map>

#include "module/trace.h"
#include "texture/registry.h"

namespace vantor::mesh {

namespace {

D3DMATRIX identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}
const D3DMATRIX kIdentity = identity();

// Uses of the registry containers the loader made, across every mesh file.
std::unordered_map<Container*, unsigned>& uses() {
    static std::unordered_map<Container*, unsigned> counts;
    return counts;
}

void release_texture(Slot& slot) {
    Container* c = slot.owned;
    slot.owned = nullptr;
    if (!c) return;
    auto& counts = uses();
    auto it = counts.find(c);
    if (it == counts.end()) return;
    if (--it->second > 0) return;
    counts.erase(it);
    TextureRegistry& r = texture_registry();
    if (r.holds(c)) r.destroy(c);
}

// The slot uses the texture `name`: a container the loader made before is counted again; one
// made by someone else (a Texture object) is drawn but never destroyed from here; otherwise
// the image is loaded into a new container of the loader's.
void use_texture(Slot& slot, const std::string& name) {
    slot.texture = name;
    TextureRegistry& r = texture_registry();
    auto& counts = uses();
    Container* found = r.find(name);
    if (found) {
        auto it = counts.find(found);
        if (it != counts.end()) {
            ++it->second;
            slot.owned = found;
        }
        return;
    }
    if (FAILED(r.create_from_file(name, 0, 0))) return;  // drawn untextured
    if (Container* c = r.find(name)) {
        counts[c] = 1;
        slot.owned = c;
    }
}

std::string name_of(IDirectXFileObject* o) {
    DWORD size = 0;
    if (FAILED(o->GetName(nullptr, &size))) return {};
    std::string s(size, '\0');
    if (size && FAILED(o->GetName(s.data(), &size))) return {};
    if (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

const GUID* type_of(IDirectXFileData* d) {
    const GUID* t = nullptr;
    if (FAILED(d->GetType(&t))) return nullptr;
    return t;
}

// Reads 32-bit words and floats from a data block, refusing to read past its end.
class Reader {
public:
    Reader(const void* data, DWORD size) : p_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
    bool u32(uint32_t* v) {
        if (!has(4)) return false;
        std::memcpy(v, p_ + at_, 4);
        at_ += 4;
        return true;
    }
    bool f32(float* v) {
        if (!has(4)) return false;
        std::memcpy(v, p_ + at_, 4);
        at_ += 4;
        return true;
    }
    // Whether `count` items of `bytes` each remain (64-bit arithmetic).
    bool has_items(uint64_t count, uint64_t bytes) const { return count * bytes <= uint64_t(size_) - at_; }
    const uint8_t* here() const { return p_ + at_; }
    bool skip(uint64_t bytes) {
        if (!has(bytes)) return false;
        at_ += bytes;
        return true;
    }

private:
    bool has(uint64_t n) const { return n <= uint64_t(size_) - at_; }
    const uint8_t* p_;
    uint64_t size_;
    uint64_t at_ = 0;
};

// A mesh's faces as read from its block: for each face, its vertex indices (checked).
struct Faces {
    std::vector<uint32_t> start;  // offset of face i in `index`
    std::vector<uint32_t> count;
    std::vector<uint32_t> index;
};

class Loader {
public:
    void frame(IDirectXFileData* data, Node* parent);
    void mesh(IDirectXFileData* data, Node* parent);

private:
    void material_list(IDirectXFileData* list, Node* node);
    void material(IDirectXFileData* data, Node* node, unsigned n);
};

void add_faces(Node* node, const Faces& faces, const std::vector<uint32_t>& which, unsigned m,
               bool* traced_high_slot) {
    if (m >= kSlots) {
        if (!*traced_high_slot) trace("VTR: (Info) Material indices of 16 and above are drawn with slot 15.\n");
        *traced_high_slot = true;
        m = kSlots - 1;
    }
    node->material_count = std::max(node->material_count, m + 1);
    std::vector<uint32_t> run;
    for (uint32_t f : which) {
        const uint32_t* i = faces.index.data() + faces.start[f];
        for (uint32_t k = 2; k < faces.count[f]; ++k) {
            run.push_back(i[0]);
            run.push_back(i[k - 1]);
            run.push_back(i[k]);
        }
    }
    size_t at = 0;
    for (unsigned s = 0; s <= m; ++s) at += node->slots[s].index_count;
    node->indices.insert(node->indices.begin() + static_cast<std::ptrdiff_t>(at), run.begin(), run.end());
    node->slots[m].index_count += static_cast<uint32_t>(run.size());
}

void compute_normals(Node* node) {
    std::vector<D3DVECTOR> sum(node->vertices.size(), D3DVECTOR{0, 0, 0});
    const auto& v = node->vertices;
    for (size_t t = 0; t + 2 < node->indices.size(); t += 3) {
        uint32_t a = node->indices[t], b = node->indices[t + 1], c = node->indices[t + 2];
        if (a >= v.size() || b >= v.size() || c >= v.size()) continue;
        float ux = v[b].x - v[a].x, uy = v[b].y - v[a].y, uz = v[b].z - v[a].z;
        float wx = v[c].x - v[b].x, wy = v[c].y - v[b].y, wz = v[c].z - v[b].z;
        float nx = uy * wz - uz * wy, ny = uz * wx - ux * wz, nz = ux * wy - uy * wx;
        float len = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (!(len > 0.0f) || !std::isfinite(len)) continue;  // a zero-area face adds nothing
        for (uint32_t i : {a, b, c}) {
            sum[i].x += nx / len;
            sum[i].y += ny / len;
            sum[i].z += nz / len;
        }
    }
    for (size_t i = 0; i < v.size(); ++i) {
        D3DVECTOR n = sum[i];
        float len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        if (!(len >= 0.1f)) n = {0, 0, 1}, len = 1.0f;
        node->vertices[i].nx = n.x / len;
        node->vertices[i].ny = n.y / len;
        node->vertices[i].nz = n.z / len;
    }
}

// The draws of each slot: straight from the node's arrays when 16-bit indices reach every
// vertex, otherwise split into runs of triangles with their own vertices.
void build_batches(Node* node) {
    size_t offset = 0;
    const bool small = node->vertices.size() <= 65536;
    for (unsigned s = 0; s < node->material_count; ++s) {
        const uint32_t n = node->slots[s].index_count;
        auto& out = node->batches[s];
        out.clear();
        if (small) {
            if (n) {
                Batch b;
                b.indices.reserve(n);
                for (uint32_t k = 0; k < n; ++k) b.indices.push_back(static_cast<WORD>(node->indices[offset + k]));
                out.push_back(std::move(b));
            }
        } else {
            std::unordered_map<uint32_t, WORD> local;
            Batch b;
            for (uint32_t k = 0; k + 2 < n; k += 3) {
                if (b.vertices.size() + 3 > 65535) {
                    out.push_back(std::move(b));
                    b = Batch{};
                    local.clear();
                }
                for (int j = 0; j < 3; ++j) {
                    uint32_t i = node->indices[offset + k + j];
                    auto [it, fresh] = local.try_emplace(i, static_cast<WORD>(b.vertices.size()));
                    if (fresh) b.vertices.push_back(node->vertices[i]);
                    b.indices.push_back(it->second);
                }
            }
            if (!b.indices.empty()) out.push_back(std::move(b));
        }
        offset += n;
    }
}

void Loader::frame(IDirectXFileData* data, Node* parent) {
    std::string name = name_of(data);
    trace("\t(Info) Frame Name --> '%s'\n", name.c_str());
    Node* node = new Node(name);
    IDirectXFileObject* child = nullptr;
    while (SUCCEEDED(data->GetNextObject(&child)) && child) {
        IDirectXFileData* d = nullptr;
        bool dropped = false;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&d))) && d) {
            const GUID* t = type_of(d);
            if (t && *t == TID_D3DRMFrame) {
                frame(d, node);
            } else if (t && *t == TID_D3DRMMesh) {
                mesh(d, node);
            } else if (t && *t == TID_D3DRMFrameTransformMatrix) {
                DWORD size = 0;
                void* block = nullptr;
                if (FAILED(d->GetData(nullptr, &size, &block))) {
                    dropped = true;
                } else if (size == 64) {
                    float m[16];
                    std::memcpy(m, block, 64);
                    for (int i : {2, 8, 6, 9, 14}) m[i] = -m[i];  // _13, _31, _23, _32, _43
                    std::memcpy(&node->matrix, m, 64);
                }
            }
            d->Release();
        }
        child->Release();
        if (dropped) {
            destroy(node);
            return;
        }
    }
    parent->add_child(node);
}

void Loader::mesh(IDirectXFileData* data, Node* parent) {
    std::string name = name_of(data);
    trace("\t(Info) Mesh Name --> '%s'\n", name.c_str());
    DWORD size = 0;
    void* block = nullptr;
    if (FAILED(data->GetData(nullptr, &size, &block))) return;
    Reader r(block, size);
    uint32_t vertex_count = 0, face_count = 0;
    if (!r.u32(&vertex_count) || !r.has_items(vertex_count, 12)) {
        trace("VTR: (Error) Mesh '%s' holds fewer vertices than it counts; dropped.\n", name.c_str());
        return;
    }
    Node* node = new Node(name);
    try {
        node->vertices.resize(vertex_count);
        for (uint32_t i = 0; i < vertex_count; ++i) {
            D3DVERTEX& v = node->vertices[i];
            r.f32(&v.x), r.f32(&v.y), r.f32(&v.z);
        }
        Faces faces;
        bool short_block = !r.u32(&face_count) || !r.has_items(face_count, 4);
        for (uint32_t f = 0; !short_block && f < face_count; ++f) {
            uint32_t n = 0;
            if (!r.u32(&n) || !r.has_items(n, 4)) {
                short_block = true;
                break;
            }
            bool in_range = true;
            const size_t start = faces.index.size();
            for (uint32_t k = 0; k < n; ++k) {
                uint32_t i = 0;
                r.u32(&i);
                if (i >= vertex_count) in_range = false;
                faces.index.push_back(i);
            }
            if (!in_range) {  // dropped: it draws nothing and reads nothing
                faces.index.resize(start);
                n = 0;
            }
            faces.start.push_back(static_cast<uint32_t>(start));
            faces.count.push_back(n);
        }
        if (short_block) {
            trace("VTR: (Error) Mesh '%s' holds fewer faces than it counts; dropped.\n", name.c_str());
            destroy(node);
            return;
        }
        node->has_mesh = true;

        bool distributed = false, normals_given = false, high_slot = false;
        std::vector<uint32_t> all(faces.count.size());
        for (uint32_t f = 0; f < all.size(); ++f) all[f] = f;

        IDirectXFileObject* child = nullptr;
        while (SUCCEEDED(data->GetNextObject(&child)) && child) {
            IDirectXFileData* d = nullptr;
            bool dropped = false;
            if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&d))) && d) {
                const GUID* t = type_of(d);
                DWORD csize = 0;
                void* cblock = nullptr;
                if (FAILED(d->GetData(nullptr, &csize, &cblock))) {
                    dropped = true;
                } else if (t && *t == TID_D3DRMMeshMaterialList && distributed) {
                    material_list(d, node);  // a later list gives its materials, not its faces
                } else if (t && *t == TID_D3DRMMeshMaterialList) {
                    Reader l(cblock, csize);
                    uint32_t materials = 0, indexed = 0;
                    if (l.u32(&materials) && l.u32(&indexed) && l.has_items(indexed, 4)) {
                        std::vector<uint32_t> per_face(indexed);
                        for (auto& m : per_face) l.u32(&m);
                        if (materials == 1 || indexed != face_count) {
                            add_faces(node, faces, all, 0, &high_slot);
                        } else {
                            std::map<uint32_t, std::vector<uint32_t>> by_slot;
                            for (uint32_t f = 0; f < indexed; ++f)
                                if (per_face[f] < materials) by_slot[std::min<uint32_t>(per_face[f], kSlots - 1)].push_back(f);
                            for (auto& [m, which] : by_slot) add_faces(node, faces, which, m, &high_slot);
                        }
                        distributed = true;
                        material_list(d, node);
                    }
                } else if (t && *t == TID_D3DRMMeshNormals) {
                    Reader l(cblock, csize);
                    uint32_t n = 0;
                    if (l.u32(&n) && n == vertex_count && l.has_items(n, 12)) {
                        for (auto& v : node->vertices) l.f32(&v.nx), l.f32(&v.ny), l.f32(&v.nz);
                        normals_given = true;
                    }
                } else if (t && *t == TID_D3DRMMeshTextureCoords) {
                    Reader l(cblock, csize);
                    uint32_t n = 0;
                    if (l.u32(&n) && n == vertex_count && l.has_items(n, 8))
                        for (auto& v : node->vertices) l.f32(&v.tu), l.f32(&v.tv);
                }
                d->Release();
            }
            child->Release();
            if (dropped) {
                destroy(node);
                return;
            }
        }
        if (!distributed) add_faces(node, faces, all, 0, &high_slot);
        if (!normals_given) compute_normals(node);
        build_batches(node);
    } catch (const std::bad_alloc&) {
        trace("VTR: (Error) No memory for mesh '%s'; dropped.\n", name.c_str());
        destroy(node);
        return;
    }
    parent->add_child(node);
}

void Loader::material_list(IDirectXFileData* list, Node* node) {
    unsigned n = 0;
    IDirectXFileObject* child = nullptr;
    while (SUCCEEDED(list->GetNextObject(&child)) && child) {
        IDirectXFileData* d = nullptr;
        if (FAILED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&d))) || !d) {
            IDirectXFileDataReference* ref = nullptr;
            if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&ref))) && ref) {
                if (FAILED(ref->Resolve(&d))) d = nullptr;
                ref->Release();
            }
        }
        if (d) {
            const GUID* t = type_of(d);
            if (t && *t == TID_D3DRMMaterial) material(d, node, n++);
            d->Release();
        }
        child->Release();
    }
}

void Loader::material(IDirectXFileData* data, Node* node, unsigned n) {
    DWORD size = 0;
    void* block = nullptr;
    if (FAILED(data->GetData(nullptr, &size, &block))) return;
    Reader r(block, size);
    float f[11];
    for (float& x : f)
        if (!r.f32(&x)) return;
    D3DMATERIAL7 m{};
    m.diffuse = {f[0], f[1], f[2], f[3]};
    m.ambient = m.diffuse;
    m.power = f[4];
    m.specular = {f[5], f[6], f[7], 0};
    m.emissive = {f[8], f[9], f[10], 0};
    std::string texture;
    IDirectXFileObject* first = nullptr;
    if (SUCCEEDED(data->GetNextObject(&first)) && first) {
        IDirectXFileData* d = nullptr;
        bool unset = false;
        if (SUCCEEDED(first->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&d))) && d) {
            const GUID* t = type_of(d);
            if (t && *t == TID_D3DRMTextureFilename) {
                DWORD tsize = 0;
                void* tblock = nullptr;
                if (FAILED(d->GetData(nullptr, &tsize, &tblock)) || tsize < sizeof(char*)) {
                    unset = true;
                } else {
                    const char* s = nullptr;
                    std::memcpy(&s, tblock, sizeof s);
                    if (s) texture = s;
                }
            }
            d->Release();
        }
        first->Release();
        if (unset) return;
    }
    if (n >= kSlots) return;
    Slot& slot = node->slots[n];
    slot.material = m;
    release_texture(slot);
    slot.texture.clear();
    if (!texture.empty()) use_texture(slot, texture);
    if (m.diffuse.a < 1.0f) node->has_alpha = true;
}

std::string media_path() {
    HKEY key = nullptr;
    std::string path;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", 0, KEY_READ, &key) != ERROR_SUCCESS) return path;
    char buf[512] = {};
    DWORD size = sizeof buf - 1, type = 0;
    if (RegQueryValueExA(key, "DXSDK Samples Path", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS)
        path = std::string(buf) + "/D3DIM/Media/";
    RegCloseKey(key);
    return path;
}

// The vertex buffer holding `vertices` for `device`, made on first use; null when the device
// cannot make one (the vertices are then drawn from memory).
IDirect3DVertexBuffer7* resident(IDirect3DDevice7* device, Resident& r, const std::vector<D3DVERTEX>& vertices) {
    if (r.device == device) return r.buffer.get();
    r.buffer.reset();
    r.device = device;
    ComPtr<IDirect3D7> d3d;
    if (vertices.empty() || FAILED(device->GetDirect3D(d3d.put())) || !d3d) return nullptr;
    D3DVERTEXBUFFERDESC desc{sizeof desc, D3DVBCAPS_SYSTEMMEMORY, D3DFVF_VERTEX, static_cast<DWORD>(vertices.size())};
    ComPtr<IDirect3DVertexBuffer7> vb;
    if (FAILED(d3d->CreateVertexBuffer(&desc, vb.put(), 0)) || !vb) return nullptr;
    void* data = nullptr;
    DWORD size = 0;
    if (FAILED(vb->Lock(0, &data, &size)) || !data || size < vertices.size() * sizeof(D3DVERTEX)) {
        if (data) vb->Unlock();
        return nullptr;
    }
    std::memcpy(data, vertices.data(), vertices.size() * sizeof(D3DVERTEX));
    vb->Unlock();
    r.buffer = std::move(vb);
    return r.buffer.get();
}

void render_tree(IDirect3DDevice7* device, Node* node, bool alpha_pass);

bool is_identity(const D3DMATRIX& m) { return std::memcmp(&m, &kIdentity, sizeof m) == 0; }

void render_mesh(IDirect3DDevice7* device, Node* node, bool alpha_pass) {
    if (node->has_alpha != alpha_pass) return;
    TextureRegistry& registry = texture_registry();
    for (unsigned s = 0; s < node->material_count; ++s) {
        Slot& slot = node->slots[s];
        if (!slot.index_count) continue;
        if (!slot.texture.empty()) {
            const Container* found = slot.lookup.find(registry, slot.texture);
            if (FAILED(device->SetTexture(0, found ? found->surface.get() : nullptr)))
                trace("VTR: (ERROR) Failed to Set Texture for X-File.\n");
            device->SetRenderState(D3DRENDERSTATE_WRAP0, 0);  // the file's coordinates as given
        }
        device->SetMaterial(&slot.material);
        for (Batch& b : node->batches[s]) {
            const bool own = !b.vertices.empty();
            std::vector<D3DVERTEX>& v = own ? b.vertices : node->vertices;
            IDirect3DVertexBuffer7* vb = resident(device, own ? b.resident : node->resident, v);
            const DWORD count = static_cast<DWORD>(v.size());
            const DWORD n = static_cast<DWORD>(b.indices.size());
            HRESULT hr = vb ? device->DrawIndexedPrimitiveVB(D3DPT_TRIANGLELIST, vb, 0, count, b.indices.data(), n, 0)
                            : device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v.data(), count,
                                                           b.indices.data(), n, 0);
            if (FAILED(hr)) trace("VTR: X-File Rendering --> (Error) DrawIndexedPrimitive Failed.");
        }
    }
}

// Children are entered recursively (their depth is bounded by the reader); siblings in a loop.
void render_tree(IDirect3DDevice7* device, Node* node, bool alpha_pass) {
    for (; node; node = node->next) {
        if (node->has_mesh) {
            render_mesh(device, node, alpha_pass);
        } else if (node->child && is_identity(node->matrix)) {
            render_tree(device, node->child, alpha_pass);  // the world transform as it is
        } else if (node->child) {
            D3DMATRIX saved{};
            device->GetTransform(D3DTRANSFORMSTATE_WORLD, &saved);
            D3DMATRIX product{};
            const float* a = &node->matrix._11;
            const float* b = &saved._11;
            float* p = &product._11;
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j) {
                    float sum = 0;
                    for (int k = 0; k < 4; ++k) sum += a[i * 4 + k] * b[k * 4 + j];
                    p[i * 4 + j] = sum;
                }
            device->SetTransform(D3DTRANSFORMSTATE_WORLD, &product);
            render_tree(device, node->child, alpha_pass);
            device->SetTransform(D3DTRANSFORMSTATE_WORLD, &saved);
        }
    }
}

}  // namespace

Node::Node(std::string n) : name(std::move(n)), matrix(identity()) {
    slots[0].material.diffuse = {1, 1, 1, 1};
    slots[0].material.ambient = {1, 1, 1, 1};
}

void Node::add_child(Node* node) {
    if (!child) child = node;
    else last_child->next = node;
    last_child = node;
}

void destroy(Node* node) {
    std::vector<Node*> pending;
    if (node) pending.push_back(node);
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        if (n->child) pending.push_back(n->child);
        if (n->next) pending.push_back(n->next);
        for (Slot& s : n->slots) release_texture(s);
        delete n;
    }
}

void MeshFile::clear() {
    destroy(root_);
    root_ = nullptr;
    translucent_ = false;
}

std::vector<std::string> MeshFile::texture_names() const {
    std::vector<std::string> names;
    std::vector<const Node*> pending;
    if (root_) pending.push_back(root_);
    while (!pending.empty()) {
        const Node* n = pending.back();
        pending.pop_back();
        if (n->child) pending.push_back(n->child);
        if (n->next) pending.push_back(n->next);
        for (unsigned s = 0; s < n->material_count; ++s)
            if (!n->slots[s].texture.empty()) names.push_back(n->slots[s].texture);
    }
    return names;
}

HRESULT MeshFile::load(const std::string& path) {
    clear();
    trace("VTR: Creating File Object --> ");
    IDirectXFile* file = nullptr;
    if (FAILED(DirectXFileCreate(&file)) || !file) {
        trace("Failed.\n");
        return E_FAIL;
    }
    trace("Succeeded.\n");
    trace("VTR: Registering Retained Mode Templates --> ");
    if (FAILED(file->RegisterTemplates(const_cast<unsigned char*>(D3DRM_XTEMPLATES), D3DRM_XTEMPLATE_BYTES))) {
        trace("Failed.\n");
        file->Release();
        return E_FAIL;
    }
    trace("Succeeded.\n");
    trace("VTR: Enumerating object --> '%s' --> ", path.c_str());
    IDirectXFileEnumObject* objects = nullptr;
    HRESULT hr = file->CreateEnumObject(const_cast<char*>(path.c_str()), DXFILELOAD_FROMFILE, &objects);
    if (FAILED(hr)) {
        trace("Failed.\n");
        trace("VTR: Enumerating object in Media Path --> ");
        std::string media = media_path() + path;
        trace("%s --> ", media.c_str());
        hr = file->CreateEnumObject(const_cast<char*>(media.c_str()), DXFILELOAD_FROMFILE, &objects);
        if (FAILED(hr)) {
            trace("Failed.\n");
            file->Release();
            return hr;
        }
    }
    trace("Succeeded.\n");
    trace("VTR: Creating Root Object --> ");
    root_ = new (std::nothrow) Node("D3DFile_Root");
    if (root_) {
        trace("Succeeded.\n");
        trace("VTR: Parsing Meshes/Frames.\n");
        Loader loader;
        IDirectXFileData* data = nullptr;
        HRESULT next;
        while (SUCCEEDED(next = objects->GetNextDataObject(&data))) {
            trace("VTR: Analysing Type of Data in File --> ");
            try {
                if (!data) {
                    trace("(Error) No Pointer.");
                } else {
                    const GUID* type = nullptr;
                    HRESULT th = data->GetType(&type);
                    if (th == DXFILEERR_BADVALUE) trace("(Error) Bad Value.");
                    if (SUCCEEDED(th) && type && *type == TID_D3DRMFrame) {
                        trace("Frame.\n");
                        loader.frame(data, root_);
                    } else if (SUCCEEDED(th) && type && *type == TID_D3DRMMesh) {
                        trace("Mesh.");
                        loader.mesh(data, root_);
                    }
                }
            } catch (...) {
                trace("(Error) Exception.");
            }
            trace("\n");
            if (data) data->Release();
            data = nullptr;
        }
        if (next == DXFILEERR_NOMOREOBJECTS) {
            hr = S_OK;
            std::vector<const Node*> pending{root_};
            while (!pending.empty() && !translucent_) {
                const Node* n = pending.back();
                pending.pop_back();
                translucent_ = n->has_mesh && n->has_alpha;
                if (n->child) pending.push_back(n->child);
                if (n->next) pending.push_back(n->next);
            }
        } else {
            hr = next;
            clear();
        }
    } else {
        trace("Failed.\n");
    }
    trace("VTR: Completed Enumeration of X File.\n");
    objects->Release();
    file->Release();
    return hr;
}

HRESULT MeshFile::render(IDirect3DDevice7* device) {
    if (!root_ || !device) return S_OK;
    D3DMATERIAL7 material{};
    device->GetMaterial(&material);
    IDirectDrawSurface7* texture = nullptr;
    device->GetTexture(0, &texture);
    D3DMATRIX world{};
    device->GetTransform(D3DTRANSFORMSTATE_WORLD, &world);
    DWORD blend = 0, src = 0, dst = 0, wrap = 0;
    device->GetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, &blend);
    device->GetRenderState(D3DRENDERSTATE_SRCBLEND, &src);
    device->GetRenderState(D3DRENDERSTATE_DESTBLEND, &dst);
    device->GetRenderState(D3DRENDERSTATE_WRAP0, &wrap);

    render_tree(device, root_, false);
    if (translucent_) {
        device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
        device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
        render_tree(device, root_, true);
    }

    device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, blend);
    device->SetRenderState(D3DRENDERSTATE_SRCBLEND, src);
    device->SetRenderState(D3DRENDERSTATE_DESTBLEND, dst);
    device->SetRenderState(D3DRENDERSTATE_WRAP0, wrap);
    device->SetTransform(D3DTRANSFORMSTATE_WORLD, &world);
    device->SetTexture(0, texture);
    device->SetMaterial(&material);
    if (texture) texture->Release();
    return S_OK;
}

}  // namespace vantor::mesh
