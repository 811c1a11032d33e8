"""Writes the demo's models and textures into examples/models/ (they are shipped; run this to
make them again after a change).

    /usr/bin/python3 examples/make_models.py

village.x: a ground, houses (a frame each: walls with a brick texture, a roof, a door, a
translucent window) and trees (a trunk and a crown with a leaf texture), placed by frame
matrices. The loader negates the _13, _31, _23, _32 and _43 elements of every frame matrix as it
reads them, so each matrix is written with those elements negated in advance.
"""
import math
import os
import random

from PIL import Image

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "models")


def textures():
    rnd = random.Random(7)
    brick = Image.new("RGB", (64, 64))
    px = brick.load()
    for y in range(64):
        for x in range(64):
            row = y // 8
            mortar = y % 8 == 0 or (x + (4 if row % 2 else 0) * 4) % 16 == 0
            if mortar:
                c = (200, 196, 186)
            else:
                n = rnd.randint(-18, 18)
                c = (168 + n, 72 + n // 2, 52 + n // 2)
            px[x, y] = c
    brick.save(os.path.join(HERE, "brick.bmp"))
    leaves = Image.new("RGB", (64, 64))
    px = leaves.load()
    for y in range(64):
        for x in range(64):
            n = rnd.randint(0, 70)
            px[x, y] = (40 + n // 3, 120 + n, 40 + n // 4)
    leaves.save(os.path.join(HERE, "leaves.tga"))
    grass = Image.new("RGB", (64, 64))
    px = grass.load()
    for y in range(64):
        for x in range(64):
            n = rnd.randint(0, 40)
            chequer = ((x // 16) + (y // 16)) % 2
            px[x, y] = (70 + n // 2 + chequer * 12, 130 + n + chequer * 10, 60 + n // 3)
    grass.save(os.path.join(HERE, "grass.bmp"))


def material(r, g, b, a=1.0, power=8.0, texture=None):
    m = f"Material {{ {r:.3f};{g:.3f};{b:.3f};{a:.3f};; {power:.1f}; 0.2;0.2;0.2;; 0.0;0.0;0.0;; "
    if texture:
        m += f'TextureFilename {{ "{texture}"; }} '
    return m + "}"


def mesh(name, vertices, faces, face_materials, materials, uvs=None):
    """Faces as index lists; face_materials one slot per face; materials as Material blocks."""
    out = [f"Mesh {name} {{", f" {len(vertices)};"]
    out.append(",\n".join(f" {x:.4f};{y:.4f};{z:.4f};" for x, y, z in vertices) + ";")
    out.append(f" {len(faces)};")
    out.append(",\n".join(f" {len(f)};" + ",".join(str(i) for i in f) + ";" for f in faces) + ";")
    out.append(f" MeshMaterialList {{ {len(materials)}; {len(faces)}; " +
               ", ".join(str(m) for m in face_materials) + ";;")
    out += ["  " + m for m in materials]
    out.append(" }")
    if uvs:
        out.append(f" MeshTextureCoords {{ {len(uvs)}; " + ", ".join(f"{u:.4f};{v:.4f};" for u, v in uvs) + "; }")
    out.append("}")
    return "\n".join(out)


def box(name, x0, y0, z0, x1, y1, z1, materials, slot_of_side=None, tile=1.0):
    """A box with its own four vertices per side (flat normals), texture coordinates per side."""
    sides = [  # outward faces, corners clockwise as seen from outside (Direct3D's front faces)
        [(x0, y0, z0), (x0, y1, z0), (x1, y1, z0), (x1, y0, z0)],  # -z
        [(x1, y0, z1), (x1, y1, z1), (x0, y1, z1), (x0, y0, z1)],  # +z
        [(x0, y0, z1), (x0, y1, z1), (x0, y1, z0), (x0, y0, z0)],  # -x
        [(x1, y0, z0), (x1, y1, z0), (x1, y1, z1), (x1, y0, z1)],  # +x
        [(x0, y1, z0), (x0, y1, z1), (x1, y1, z1), (x1, y1, z0)],  # +y
        [(x0, y0, z1), (x0, y0, z0), (x1, y0, z0), (x1, y0, z1)],  # -y
    ]
    vertices, faces, uvs = [], [], []
    for side in sides:
        base = len(vertices)
        vertices += side
        uvs += [(0, tile), (0, 0), (tile, 0), (tile, tile)]
        faces.append([base, base + 1, base + 2, base + 3])
    slots = slot_of_side or [0] * 6
    return mesh(name, vertices, faces, slots, materials, uvs)


def roof(name, x0, z0, x1, z1, y, height, materials):
    cx, cz = (x0 + x1) / 2, (z0 + z1) / 2
    v = [(x0, y, z0), (x1, y, z0), (x1, y, z1), (x0, y, z1), (cx, y + height, cz)]
    faces = [[0, 4, 1], [1, 4, 2], [2, 4, 3], [3, 4, 0]]
    return mesh(name, v, faces, [0] * 4, materials)


def crown(name, cx, cy, cz, r, materials, rings=6, segments=10):
    v, uvs = [], []
    for i in range(rings + 1):
        phi = math.pi * i / rings
        for j in range(segments + 1):
            theta = 2 * math.pi * j / segments
            v.append((cx + r * math.sin(phi) * math.cos(theta), cy + r * math.cos(phi) * 1.2,
                      cz + r * math.sin(phi) * math.sin(theta)))
            uvs.append((j / segments * 2, i / rings * 2))
    faces = []
    for i in range(rings):
        for j in range(segments):
            a = i * (segments + 1) + j
            b = a + segments + 1
            faces.append([a, a + 1, b + 1, b])
    return mesh(name, v, faces, [0] * len(faces), materials, uvs)


def frame(name, body, tx=0.0, ty=0.0, tz=0.0, angle=0.0):
    c, s = math.cos(angle), math.sin(angle)
    # Rotation about y and a translation, then the loader's negated elements negated in advance.
    m = [c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, tx, ty, tz, 1]
    for i in (2, 8, 6, 9, 14):
        m[i] = -m[i]
    matrix = ",".join(f"{e:.5f}" for e in m)
    return f"Frame {name} {{\n FrameTransformMatrix {{ {matrix};; }}\n{body}\n}}"


def house(n):
    walls = box(f"Walls{n}", -1.5, 0, -1.2, 1.5, 2.0, 1.2,
                [material(1, 1, 1, texture="brick.bmp")], tile=2.0)
    top = roof(f"Roof{n}", -1.8, -1.5, 1.8, 1.5, 2.0, 1.4, [material(0.62, 0.16, 0.12, power=20)])
    door = box(f"Door{n}", -0.35, 0, -1.26, 0.35, 1.3, -1.2, [material(0.35, 0.2, 0.1)])
    glass = box(f"Window{n}", 0.6, 0.9, -1.3, 1.2, 1.5, -1.21, [material(0.5, 0.8, 1.0, 0.45, power=40)])
    side = box(f"SideWindow{n}", -1.56, 0.8, -0.5, -1.49, 1.6, 0.5, [material(0.5, 0.8, 1.0, 0.45, power=40)])
    return frame(f"House{n}", "\n".join([walls, top, door, glass, side]))


def tree(n):
    trunk = box(f"Trunk{n}", -0.15, 0, -0.15, 0.15, 1.2, 0.15, [material(0.4, 0.26, 0.13)])
    leaves = crown(f"Crown{n}", 0, 2.0, 0, 0.9, [material(1, 1, 1, texture="leaves.tga")])
    return frame(f"Tree{n}", trunk + "\n" + leaves)


def logo():
    """The corner logo the demo draws as a sprite: a white V on a translucent dark disc."""
    size = 64
    img = Image.new("RGBA", (size, size))
    px = img.load()
    c = (size - 1) / 2
    for y in range(size):
        for x in range(size):
            r = math.hypot(x - c, y - c)
            if r > c:
                px[x, y] = (0, 0, 0, 0)
                continue
            # The V: two strokes from the top corners meeting at the bottom centre.
            t = (y - 14) / 34
            on_v = 0 <= t <= 1 and min(abs(x - (14 + 18 * t)), abs(x - (50 - 18 * t))) < 4.5
            px[x, y] = (255, 255, 255, 255) if on_v else (24, 40, 72, 170)
    img.save(os.path.join(HERE, "logo.png"))


def main():
    os.makedirs(HERE, exist_ok=True)
    textures()
    logo()
    parts = ["xof 0302txt 0032",
             "// The demo's village: made by examples/make_models.py.",
             frame("Ground", box("Grass", -30, -0.2, -30, 30, 0, 30, [material(1, 1, 1, texture="grass.bmp")], tile=12.0))]
    places = [(-5, 0, 0.3), (0, 4, -0.4), (5, -1, 0.6), (-3, -7, 1.2), (4, -8, -0.9)]
    for i, (x, z, a) in enumerate(places):
        parts.append(frame(f"Plot{i}", house(i), x, 0, z, a))
    rnd = random.Random(3)
    for i in range(14):
        x, z = rnd.uniform(-14, 14), rnd.uniform(-14, 10)
        if min(math.hypot(x - px, z - pz) for px, pz, _ in places) < 3.2:
            continue
        s = rnd.uniform(0.8, 1.3)
        parts.append(frame(f"Grove{i}", tree(i), x, 0, z, rnd.uniform(0, 3)))
    with open(os.path.join(HERE, "village.x"), "w") as f:
        f.write("\n".join(parts) + "\n")
    # One house on its own: a small model for tests and the benchmark.
    with open(os.path.join(HERE, "house.x"), "w") as f:
        f.write("xof 0302txt 0032\n" + house(0) + "\n")


if __name__ == "__main__":
    main()
