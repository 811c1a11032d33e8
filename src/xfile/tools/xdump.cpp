// vantor-xdump FILE — prints the object tree of an `.x` file and the counts of every Mesh, or
// the error that stopped reading with where it stopped.
#include <vantor/xfile_summary.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantor-xdump FILE\n");
        return 2;
    }
    vantor::xfile::Summary s = vantor::xfile::summarize(argv[1]);
    std::fputs(s.tree.c_str(), stdout);
    std::printf("objects %u, top level %zu, frames %u, materials %u, references %u (unresolved %u)\n",
                s.objects, s.top_level.size(), s.frames, s.materials, s.references, s.unresolved);
    for (const auto& m : s.meshes)
        std::printf(
            "Mesh '%s': %u vertices, %u faces, %u indices, %u materials, %u normals, %u texture coords, "
            "%u bytes\n",
            m.name.c_str(), m.vertices, m.faces, m.indices, m.materials, m.normals, m.texture_coords,
            m.block_bytes);
    for (const auto& t : s.textures) std::printf("texture \"%s\"\n", t.c_str());
    if (s.result == DXFILEERR_NOMOREOBJECTS) return 0;
    const char* name = DXFileResultName(s.result);
    const char* text = DXFileResultText(s.result);
    std::fprintf(stderr, "%s: error %s (0x%08X): %s at byte %u", argv[1], name ? name : "?",
                 unsigned(s.result), text ? text : "", unsigned(s.offset));
    if (s.line) std::fprintf(stderr, ", line %u", unsigned(s.line));
    std::fprintf(stderr, "\n");
    return 1;
}
