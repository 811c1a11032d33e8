// Fuzzes the mesh loader on top of the `.x` reader: any bytes as a file, loaded into a frame and
// mesh tree whose every index must stay inside its vertices and every slot inside the index
// array; a broken invariant aborts.
#include "fuzz_temp.h"

#include "geometry/mesh_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string g_path;

void check(const vantor::mesh::Node* root) {
    std::vector<const vantor::mesh::Node*> pending{root};
    while (!pending.empty()) {
        const vantor::mesh::Node* n = pending.back();
        pending.pop_back();
        if (!n) continue;
        pending.push_back(n->next);
        pending.push_back(n->child);
        if (n->material_count > vantor::mesh::kSlots) std::abort();
        size_t total = 0;
        for (unsigned s = 0; s < n->material_count; ++s) {
            total += n->slots[s].index_count;
            for (const vantor::mesh::Batch& b : n->batches[s]) {
                const size_t vertices = b.vertices.empty() ? n->vertices.size() : b.vertices.size();
                if (vertices > 65536) std::abort();
                for (WORD i : b.indices)
                    if (i >= vertices) std::abort();
            }
        }
        if (total != n->indices.size() || total % 3) std::abort();
        for (uint32_t i : n->indices)
            if (i >= n->vertices.size()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_path = vantor::fuzz::make_scratch("mesh") + "/mesh.x";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    vantor::mesh::MeshFile file;
    if (SUCCEEDED(file.load(g_path)) && file.root()) check(file.root());
    return 0;
}
