// geometry/mesh_file.h — a `.x` file read into a tree of frames and meshes, drawn on a device.
//
//   MeshFile mesh;
//   HRESULT hr = mesh.load("ship.x");        // the reader's result when the file is refused
//   mesh.render(device);                     // opaque meshes, then translucent ones
//
// Frames carry a matrix that applies to their children; meshes carry one vertex array and one
// index array split into runs of up to 16 material slots. Textures named by materials go
// through the texture registry; the containers the loader makes there are counted across every
// mesh file and go when the last mesh file using them does. Sibling lists are walked in loops,
// so a file with very many frames at one level costs no stack.
#pragma once

#include <vantor/com_ptr.h>
#include <vantor/backend/d3d.h>

#include "texture/registry.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vantor {

namespace mesh {

inline constexpr unsigned kSlots = 16;

struct Slot {
    D3DMATERIAL7 material{};
    std::string texture;           // empty: the slot leaves stage 0 as it is
    Container* owned = nullptr;    // the registry container this slot counts a use of
    uint32_t index_count = 0;
    NameLookup lookup;             // the container `texture` names
};

// A copy of a vertex array in a vertex buffer of the device it was made for, so that drawing
// does not send the vertices again each frame.
struct Resident {
    ComPtr<IDirect3DVertexBuffer7> buffer;
    IDirect3DDevice7* device = nullptr;  // compared only, never called
};

// One draw of a slot: 16-bit indices into `vertices` (empty: the node's own vertex array).
struct Batch {
    std::vector<D3DVERTEX> vertices;
    std::vector<WORD> indices;
    Resident resident;
};

struct Node {
    std::string name;
    Node* next = nullptr;   // owned
    Node* child = nullptr;  // owned
    Node* last_child = nullptr;
    D3DMATRIX matrix{};
    bool has_mesh = false;
    std::vector<D3DVERTEX> vertices;
    std::vector<uint32_t> indices;    // slot 0's triangles first, then slot 1's, ...
    uint32_t material_count = 0;
    std::array<Slot, kSlots> slots{};
    bool has_alpha = false;
    std::array<std::vector<Batch>, kSlots> batches;  // built once the mesh is complete
    Resident resident;                                // of `vertices`

    explicit Node(std::string n);
    void add_child(Node* node);
};

// Destroys a node, its children and its siblings without recursing over siblings.
void destroy(Node* node);

class MeshFile {
public:
    MeshFile() = default;
    MeshFile(const MeshFile&) = delete;
    MeshFile& operator=(const MeshFile&) = delete;
    ~MeshFile() { clear(); }

    HRESULT load(const std::string& path);
    HRESULT render(IDirect3DDevice7* device);
    void clear();

    const Node* root() const { return root_; }
    // Every texture container a mesh of this file uses, for restoring.
    std::vector<std::string> texture_names() const;

private:
    Node* root_ = nullptr;
    bool translucent_ = false;  // some mesh has alpha: render() runs the blended pass
};

}  // namespace mesh
}  // namespace vantor
