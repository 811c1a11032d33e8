// vantor/xfile_summary.h — what a mesh loader would find in an `.x` file, read through the
// DirectX file API: the object tree and the counts of every Mesh. Used by vantor-xdump.
//
//   vantor::xfile::Summary s = vantor::xfile::summarize("cube.x");
//   if (s.result != DXFILEERR_NOMOREOBJECTS) ... s.offset, s.line say where reading stopped
//   for (const auto& m : s.meshes) printf("%s %u vertices\n", m.name.c_str(), m.vertices);
#pragma once

#include <vantor/dxfile.h>

#include <string>
#include <vector>

namespace vantor::xfile {

struct MeshCounts {
    std::string name;
    uint32_t block_bytes = 0;
    uint32_t vertices = 0, faces = 0, indices = 0;  // indices: sum of the faces' index counts
    uint32_t materials = 0;                         // MeshMaterialList nMaterials (0 without one)
    uint32_t normals = 0, texture_coords = 0;
};

struct Summary {
    HRESULT result = S_OK;               // DXFILEERR_NOMOREOBJECTS after a clean read, or why it stopped
    DWORD offset = 0, line = 0;          // where it stopped (IDirectXFileDiagnostics)
    std::vector<std::string> top_level;  // "Type name" of each top-level data object
    std::vector<MeshCounts> meshes;
    std::vector<std::string> textures;  // TextureFilename strings, in file order
    uint32_t objects = 0, references = 0, unresolved = 0, frames = 0, materials = 0;
    std::string tree;  // one line per object: depth, type, name, size, children
};

// Registers the standard templates, reads `path` and walks every object.
VANTOR_API Summary summarize(const char* path);

// The standard template's name for a type GUID, or nullptr.
VANTOR_API const char* standard_template_name(const GUID& type);

}  // namespace vantor::xfile
