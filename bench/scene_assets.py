"""The models and texture of the standard scenes, written into a folder:

    cube.x      a 2x2x2 cube: 24 vertices, 12 triangles, normals, texture coordinates and one
                material that names cube.tga
    cube.tga    a 64x64 uncompressed 32-bit Targa chequer, top row first
    sphere.x    a sphere of radius 1.5 cut into 158 slices and 158 stacks: 25,281 vertices and
                49,928 triangles (16-bit indices still reach every vertex), one untextured material

    /usr/bin/python3 bench/scene_assets.py FOLDER
"""
import math
import os
import struct
import sys

SPHERE_CUTS = 158
TEXTURE_SIZE = 64


def targa(size=TEXTURE_SIZE):
    """A chequer of 8-texel squares, orange and blue, opaque."""
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, size, size, 32, 0x28)
    rows = bytearray()
    for y in range(size):
        for x in range(size):
            b, g, r = (40, 140, 230) if ((x // 8) + (y // 8)) % 2 else (200, 110, 40)
            rows += bytes((b, g, r, 255))
    return header + bytes(rows)


def x_file(name, vertices, normals, uvs, triangles, material):
    """A text `.x` file of one mesh; triangles wind clockwise seen from outside."""
    out = ["xof 0302txt 0032", f"Mesh {name} {{", f" {len(vertices)};"]
    out.append(",\n".join(f" {x:.5f};{y:.5f};{z:.5f};" for x, y, z in vertices) + ";")
    out.append(f" {len(triangles)};")
    out.append(",\n".join(f" 3;{a},{b},{c};" for a, b, c in triangles) + ";")
    out.append(f" MeshNormals {{ {len(normals)};")
    out.append(",\n".join(f" {x:.5f};{y:.5f};{z:.5f};" for x, y, z in normals) + ";")
    out.append(f" {len(triangles)};")
    out.append(",\n".join(f" 3;{a},{b},{c};" for a, b, c in triangles) + ";")
    out.append(" }")
    out.append(f" MeshTextureCoords {{ {len(uvs)};")
    out.append(",\n".join(f" {u:.5f};{v:.5f};" for u, v in uvs) + ";")
    out.append(" }")
    out.append(f" MeshMaterialList {{ 1; {len(triangles)}; " + ",".join("0" for _ in triangles) + ";")
    out.append("  " + material)
    out.append(" }")
    out.append("}")
    return "\n".join(out) + "\n"


def material(r, g, b, texture=None):
    m = f"Material {{ {r:.3f};{g:.3f};{b:.3f};1.000;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; "
    if texture:
        m += f'TextureFilename {{ "{texture}"; }} '
    return m + "}"


def cube():
    sides = [  # normal, then the four corners clockwise as seen from outside
        ((0, 0, -1), [(-1, -1, -1), (-1, 1, -1), (1, 1, -1), (1, -1, -1)]),
        ((0, 0, 1), [(1, -1, 1), (1, 1, 1), (-1, 1, 1), (-1, -1, 1)]),
        ((-1, 0, 0), [(-1, -1, 1), (-1, 1, 1), (-1, 1, -1), (-1, -1, -1)]),
        ((1, 0, 0), [(1, -1, -1), (1, 1, -1), (1, 1, 1), (1, -1, 1)]),
        ((0, 1, 0), [(-1, 1, -1), (-1, 1, 1), (1, 1, 1), (1, 1, -1)]),
        ((0, -1, 0), [(-1, -1, 1), (-1, -1, -1), (1, -1, -1), (1, -1, 1)]),
    ]
    vertices, normals, uvs, triangles = [], [], [], []
    for normal, corners in sides:
        base = len(vertices)
        vertices += corners
        normals += [normal] * 4
        uvs += [(0, 1), (0, 0), (1, 0), (1, 1)]
        triangles += [(base, base + 1, base + 2), (base, base + 2, base + 3)]
    return x_file("Cube", vertices, normals, uvs, triangles, material(0.9, 0.9, 0.9, "cube.tga"))


def sphere(radius=1.5, cuts=SPHERE_CUTS):
    vertices, normals, uvs, triangles = [], [], [], []
    for j in range(cuts + 1):  # stacks from the top pole down
        t = math.pi * j / cuts
        for i in range(cuts + 1):  # slices round the y axis; the seam repeats its first column
            a = 2 * math.pi * i / cuts
            n = (math.sin(t) * math.cos(a), math.cos(t), math.sin(t) * math.sin(a))
            vertices.append(tuple(radius * c for c in n))
            normals.append(n)
            uvs.append((i / cuts, j / cuts))
    row = cuts + 1
    for j in range(cuts):
        for i in range(cuts):
            a, b, c, d = j * row + i, j * row + i + 1, (j + 1) * row + i + 1, (j + 1) * row + i
            triangles += [(a, b, c), (a, c, d)]
    return x_file("Sphere", vertices, normals, uvs, triangles, material(0.7, 0.75, 0.9))


def write(folder):
    """Writes the three files into `folder` (made when missing) and returns it."""
    os.makedirs(folder, exist_ok=True)
    for name, content in (("cube.x", cube()), ("sphere.x", sphere())):
        with open(os.path.join(folder, name), "w") as f:
            f.write(content)
    with open(os.path.join(folder, "cube.tga"), "wb") as f:
        f.write(targa())
    return folder


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    write(sys.argv[1])
