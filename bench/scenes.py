"""The standard scenes, each drawn three ways in one run, and the same first scene through a peer
engine, printed as one table with the ratios.

    make bench               (or: PYTHONPATH=build/python /usr/bin/python3 bench/scenes.py)
    make bench-callgrind     instructions per frame under callgrind (slow: a few frames each)

Scenes (bench/scenes.cpp describes them; bench/scene_assets.py writes their files):
    S1  1, 100, 1000 copies of a textured, lit `.x` cube, one point light, linear fog
    S2  10 copies of a 49,928-triangle `.x` sphere, two directional lights
    S3  1000 simple shapes (boxes and spheres in turn), and 1000 sprites
Ways: Python (late-bound, as a script calls the component), C++ (the component's interfaces,
build/bin/scenes --way engine) and a bare OpenGL 4.5 program (build/bin/scenes --way bare),
off screen at 640x480. Then S1 on an X11 window under a private Xvfb: the engine from C++ and
Python, and Irrlicht 1.8 (build/bin/irrlicht_scene, built when libirrlicht-dev is installed).

Each figure is the best of --repeat runs of --seconds each (the machine is shared). CPU ms is
the process's CPU time per frame, the rasteriser's threads included; "main" is the drawing
thread's alone. Each run also counts the pixels its last frame covers: a way that covers a
different area from the bare program is flagged, as its rate would not compare.

Every run gets the same fixed malloc thresholds (GLIBC_TUNABLES below). With glibc's defaults the
thresholds move with what a process happened to allocate and free before: Mesa's scratch memory for
each draw is then either reused or returned to the system and faulted in again, draw after draw,
and the same scene ran two to four times slower or faster from one way or run to the next.

    --seconds S     how long each run draws (default 1.0; at least 5 frames)
    --repeat N      runs per figure, the best kept (default 2)
    --callgrind     only the callgrind table: --frames frames per run (default 2)
    --json PATH     also write every run's figures to PATH
    --scenes LIST   a comma-separated subset: s1,s2,shapes,sprites,x11
    --glibc-malloc  glibc's own moving malloc thresholds instead of fixed ones (see below)
"""
import argparse
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BIN = os.path.join(ROOT, "build", "bin")
sys.path.insert(0, HERE)

import scene_assets  # noqa: E402

WIDTH, HEIGHT = 640, 480
CLEAR = (0.5, 0.55, 0.6, 1.0)
EYE, AT = (5.0, 4.0, -10.0), (0.0, 0.0, 0.0)
FOG_START, FOG_END = 5.0, 30.0
POINT_LIGHT = (3.0, 4.0, -4.0)
SUN_DIRECTIONS = ((-0.5, -0.8, 0.4), (0.6, -0.3, -0.7))
SPRITE_OPACITY = 0.75

MALLOC_TUNABLES = "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=134217728"
SCENES = [("s1", 1), ("s1", 100), ("s1", 1000), ("s2", 10), ("shapes", 1000), ("sprites", 1000)]
LABELS = {"s1": "S1 cube", "s2": "S2 50k-tri model", "shapes": "S3 shapes", "sprites": "S3 sprites"}


# ---------------------------------------------------------------------------------------------
# The Python way: this script run again with --python-run, in a process of its own per scene.
# ---------------------------------------------------------------------------------------------
def python_run(scene, count, seconds, x11):
    import vantor
    C = vantor.constants
    window = vantor.Window(WIDTH, HEIGHT, title="scenes", visible=x11)
    if x11 and window.kind != "x11":
        raise SystemExit("scenes: no X11 window (is $DISPLAY set?)")
    device = vantor.Dispatch("Vantor.Device3D")
    device.Window = window.handle
    device.Initialise(0, WIDTH, HEIGHT)
    device.Cull = C.cm_CounterClockwise  # back faces culled, as the bare program and Irrlicht cull them
    camera = device.Cameras(1)
    camera.Position.X, camera.Position.Y, camera.Position.Z = EYE
    camera.LookAt.X, camera.LookAt.Y, camera.LookAt.Z = AT
    camera.Update()
    if scene != "sprites":
        fog = device.Fog
        fog.Mode = C.fm_Linear
        fog.StartingPos, fog.EndPosition = FOG_START, FOG_END
        colour = fog.Colour
        colour.Red, colour.Green, colour.Blue, colour.Alpha = CLEAR
        fog.Enabled = True
        fog.Update()
    held = []

    def light(kind, v):
        # Add leaves the place, the diffuse colour and the attenuation to the script, and Update
        # sends them: an unattenuated white light where the bare program has it.
        lt = device.Lights.Add(kind, *v, 1, 1, 1, 1, 1.0, 0.5, 1.0, 100.0)
        place = lt.Position if kind == C.lt_Point else lt.Direction
        place.X, place.Y, place.Z = v
        lt.Diffuse.Red, lt.Diffuse.Green, lt.Diffuse.Blue = 1.0, 1.0, 1.0
        lt.ConstAttenuation = 1.0
        lt.Update()
        held.append(lt)

    if scene == "s2":
        for d in SUN_DIRECTIONS:
            light(C.lt_Directional, d)
    elif scene != "sprites":
        light(C.lt_Point, POINT_LIGHT)
    if scene in ("s1", "s2"):
        objects = device.Objects
        model = "cube.x" if scene == "s1" else "sphere.x"
        held += [objects.LoadFile(model, f"Model{i}") for i in range(count)]
    elif scene == "shapes":
        shapes = device.SimpleObjects
        held += [shapes.AddSphere(f"Shape{i}", 0.7) if i % 2 else shapes.AddBox(f"Shape{i}", 1, 1, 1)
                 for i in range(count)]
    elif scene == "sprites":
        texture = device.Textures.LoadFile("cube.tga")
        sprites = device.Sprites
        for i in range(count):
            sprite = sprites.Add(f"Sprite{i}", SPRITE_OPACITY)
            sprite.Texture = texture
            at = sprite.Position
            at.X, at.Y = 40 + (i * 37) % (WIDTH - 80), 40 + (i * 53) % (HEIGHT - 80)  # clear of the top-left corner
            held.append(sprite)
        held.append(texture)
    else:
        raise SystemExit(f"scenes: no scene {scene}")

    clear, render, update, pump = device.Clear, device.Render, device.Update, window.pump

    def frame():
        if x11:
            pump()
        clear(*CLEAR)
        render()
        update()

    for _ in range(3):
        frame()
    frames = 0
    wall0, cpu0, main0 = time.perf_counter(), time.process_time(), time.thread_time()
    while frames < 5 or time.perf_counter() - wall0 < seconds:
        frame()
        frames += 1
    wall, cpu, main = time.perf_counter() - wall0, time.process_time() - cpu0, time.thread_time() - main0
    rgba = window.pixels()
    first = rgba[:4]
    lit = [rgba[i:i + 3] for i in range(0, len(rgba), 4) if rgba[i:i + 4] != first]
    covered = len(lit)
    brightness = sum(sum(p) for p in lit) / (3 * covered) if covered else 0.0
    print(json.dumps({"scene": scene, "count": count, "way": "python", "window": "x11" if x11 else "virtual",
                      "frames": frames, "seconds": wall, "fps": frames / wall, "cpu_ms": cpu * 1e3 / frames,
                      "main_ms": main * 1e3 / frames, "draws": count, "covered": covered,
                      "brightness": round(brightness, 1)}))
    del held, clear, render, update
    device.Free()
    window.close()


# ---------------------------------------------------------------------------------------------
# Running the ways
# ---------------------------------------------------------------------------------------------
def run(command, env, timeout=300):
    """The JSON object the command prints last; None (and its error on stderr) when it fails."""
    try:
        done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        print(f"timed out: {' '.join(command)}", file=sys.stderr)
        return None
    lines = [line for line in done.stdout.splitlines() if line.startswith("{")]
    if done.returncode != 0 or not lines:
        print(f"failed ({done.returncode}): {' '.join(command)}\n{done.stderr.strip()[-2000:]}", file=sys.stderr)
        return None
    return json.loads(lines[-1])


def way_command(way, scene, count, assets, seconds, x11=False):
    if way == "python":
        command = [sys.executable, os.path.abspath(__file__), "--python-run", scene, str(count),
                   "--seconds", str(seconds)]
    elif way == "irrlicht":
        command = [os.path.join(BIN, "irrlicht_scene"), "--count", str(count), "--seconds", str(seconds)]
    else:
        command = [os.path.join(BIN, "scenes"), "--scene", scene, "--count", str(count), "--way", way,
                   "--seconds", str(seconds)]
    command += ["--assets", assets]
    if x11 and way != "irrlicht":
        command.append("--x11")
    return command


def best(command, env, repeat):
    """The run with the highest frame rate of `repeat` (None when every one failed)."""
    runs = [r for r in (run(command, env) for _ in range(repeat)) if r]
    return max(runs, key=lambda r: r["fps"]) if runs else None


class Xvfb:
    """A private X server for the window runs; None as the display when Xvfb is missing."""

    def __enter__(self):
        self.server, self.display = None, None
        xvfb = shutil.which("Xvfb")
        if not xvfb:
            return self
        read, write = os.pipe()
        self.server = subprocess.Popen([xvfb, "-displayfd", str(write), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                                       pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        self.display = f":{number}" if number else None
        return self

    def __exit__(self, *exc):
        if self.server:
            self.server.terminate()
            self.server.wait()


def ratio(a, b):
    return f"{a['fps'] / b['fps']:.2f}" if a and b and b["fps"] > 0 else "-"


def fps(r):
    return f"{r['fps']:,.1f}" if r else "-"


def ms(r, key="cpu_ms"):
    return f"{r[key]:.2f}" if r else "-"


def flag_coverage(rows):
    """Notes the runs whose last frame covers a different area from the bare program's, or is lit differently."""
    notes = []
    for label, runs in rows:
        bare = runs.get("bare")
        for way, r in runs.items():
            if r and bare and bare["covered"] > 0 and abs(r["covered"] - bare["covered"]) > 0.05 * bare["covered"]:
                notes.append(f"  {label}, {way}: covers {r['covered']} pixels, the bare program {bare['covered']}")
            if r and bare and abs(r.get("brightness", 0) - bare.get("brightness", 0)) > 5:
                notes.append(f"  {label}, {way}: mean brightness {r.get('brightness')}, the bare program "
                             f"{bare.get('brightness')}")
    return notes


def main_table(args, assets, env):
    selected = set(args.scenes.split(","))
    results, rows = [], []
    for scene, count in SCENES:
        if scene not in selected:
            continue
        runs = {}
        for way in ("bare", "engine", "python"):
            runs[way] = best(way_command(way, scene, count, assets, args.seconds), env, args.repeat)
            results.append(runs[way])
        rows.append((f"{LABELS[scene]} x{count}", runs))

    x11_rows = []
    if "x11" in selected and "s1" in selected:
        with Xvfb() as x:
            if not x.display:
                print("Xvfb is not installed: no window runs", file=sys.stderr)
            else:
                xenv = dict(env, DISPLAY=x.display)
                peer = os.path.exists(os.path.join(BIN, "irrlicht_scene"))
                for count in (1, 100, 1000):
                    runs = {"engine": best(way_command("engine", "s1", count, assets, args.seconds, True), xenv, args.repeat),
                            "python": best(way_command("python", "s1", count, assets, args.seconds, True), xenv, args.repeat),
                            "irrlicht": best(way_command("irrlicht", "s1", count, assets, args.seconds), xenv, args.repeat)
                            if peer else None}
                    results += list(runs.values())
                    off = next((r for label, r in rows if label == f"{LABELS['s1']} x{count}"), {})
                    x11_rows.append((f"{LABELS['s1']} x{count}", runs, off))
                if not peer:
                    print("build/bin/irrlicht_scene is not built (make bench-peers): no peer figures", file=sys.stderr)

    head = (f"{'640x480, llvmpipe':<24}{'Python':>9}{'C++':>9}{'bare GL':>9}{'C++/bare':>10}{'Py/bare':>9}"
            f"{'CPU ms/frame C++ / bare':>25}{'main ms C++ / bare':>21}")
    load = ", ".join(f"{v:.1f}" for v in os.getloadavg())
    print(f"\n{os.cpu_count()} CPUs, load average {load} at the end: rates move with the machine's load;"
          " CPU ms and bench-callgrind's instruction counts move less")
    print("\nStandard scenes, off screen (frames per second; ratios against the bare OpenGL program)")
    print(head)
    print("-" * len(head))
    for label, r in rows:
        e, b, p = r["engine"], r["bare"], r["python"]
        print(f"{label:<24}{fps(p):>9}{fps(e):>9}{fps(b):>9}{ratio(e, b):>10}{ratio(p, b):>9}"
              f"{ms(e) + ' / ' + ms(b):>25}{ms(e, 'main_ms') + ' / ' + ms(b, 'main_ms'):>21}")
    if x11_rows:
        head = (f"{'X11 window, Xvfb':<24}{'Python':>9}{'C++':>9}{'Irrlicht':>9}{'C++/Irr':>10}{'Py/Irr':>9}"
                f"{'off-screen C++/Irr':>20}{'CPU ms C++ / Irr':>19}")
        print("\nS1 on an X11 window under Xvfb, against Irrlicht 1.8 (OpenGL driver) in the same run")
        print(head)
        print("-" * len(head))
        for label, r, off in x11_rows:
            e, p, i = r["engine"], r["python"], r["irrlicht"]
            print(f"{label:<24}{fps(p):>9}{fps(e):>9}{fps(i):>9}{ratio(e, i):>10}{ratio(p, i):>9}"
                  f"{ratio(off.get('engine'), i):>20}{ms(e) + ' / ' + ms(i):>19}")
    notes = flag_coverage(rows)
    if notes:
        print("\nCoverage differs (these rates do not compare):")
        print("\n".join(notes))
    return results


# ---------------------------------------------------------------------------------------------
# Callgrind: instructions per frame, and the component's own per draw
# ---------------------------------------------------------------------------------------------
ENGINE_OBJECTS = ("libvantor",)
MESA_OBJECTS = ("libgallium", "libGL", "libEGL", "libglapi", "libLLVM", "libdrm", "libgbm", "swrast", "dri", "???")


def object_costs(path):
    """Instructions spent in each object's own code (calls into other objects not counted)."""
    names, costs = {}, collections.Counter()
    current, skip = "???", False
    with open(path) as f:
        for line in f:
            if skip:
                skip = False
                continue
            if line.startswith(("ob=", "cob=")):
                value = line.split("=", 1)[1].strip()
                if value.startswith("("):
                    key, _, name = value.partition(")")
                    name = name.strip()
                    if name:
                        names[key] = name
                    value = names.get(key, "???")
                if line.startswith("ob="):
                    current = value
            elif line.startswith("calls="):
                skip = True  # the next line is the call's inclusive cost
            elif line[:1].isdigit() or line[:1] in "+-*":
                parts = line.split()
                costs[current] += sum(int(p) for p in parts[1:] if p.isdigit())
    return costs


def classify(obj):
    base = os.path.basename(obj)
    if base.startswith(ENGINE_OBJECTS):
        return "engine"
    if base == "scenes":
        return "program"
    if any(m in base for m in MESA_OBJECTS):
        return "mesa"
    return "other"


def callgrind_table(args, assets, env):
    if not shutil.which("valgrind"):
        print("valgrind is not installed (make bench-callgrind installs it)", file=sys.stderr)
        return []
    selected = set(args.scenes.split(","))
    results = []
    head = (f"{'callgrind, per frame':<24}{'way':>7}{'Ir total':>14}{'Mesa':>14}{'libvantor':>12}{'program':>10}"
            f"{'other':>12}{'libvantor/draw':>16}{'outside Mesa/draw':>19}{'vs bare':>9}")
    lines = []
    with tempfile.TemporaryDirectory() as out:
        for scene, count in SCENES:
            if scene not in selected:
                continue
            bare_total = None
            for way in ("bare", "engine"):
                path = os.path.join(out, f"{scene}-{count}-{way}.out")
                command = ["valgrind", "--tool=callgrind", "--instr-atstart=no", f"--callgrind-out-file={path}"]
                command += way_command(way, scene, count, assets, 0)[:-2]
                command += ["--assets", assets, "--frames", str(args.frames), "--callgrind"]
                r = run(command, env, timeout=1200)
                if not r or not os.path.exists(path):
                    continue
                split = collections.Counter()
                for obj, ir in object_costs(path).items():
                    split[classify(obj)] += ir
                per = {k: v / r["frames"] for k, v in split.items()}
                total = sum(per.values())
                outside = total - per.get("mesa", 0)
                r.update(callgrind={k: round(v) for k, v in per.items()}, ir_per_frame=round(total))
                results.append(r)
                if way == "bare":
                    bare_total = total
                versus = f"{total / bare_total:.2f}" if bare_total else "-"
                lines.append(f"{LABELS[scene] + ' x' + str(count):<24}{way:>7}{total:>14,.0f}{per.get('mesa', 0):>14,.0f}"
                             f"{per.get('engine', 0):>12,.0f}{per.get('program', 0):>10,.0f}{per.get('other', 0):>12,.0f}"
                             f"{per.get('engine', 0) / r['draws']:>16,.0f}{outside / r['draws']:>19,.0f}{versus:>9}")
    print(f"\nInstructions per frame under callgrind ({args.frames} frames each; every thread, llvmpipe's JIT code as Mesa)")
    print(head)
    print("-" * len(head))
    print("\n".join(lines))
    print("libvantor: the component and its runtime; program: the bench's own code; other: libc (the frame's\n"
          "read-back copies among it), libstdc++, X11...; per draw: the frame's figure over its draws")
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=1.0)
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--callgrind", action="store_true")
    parser.add_argument("--frames", type=int, default=2)
    parser.add_argument("--json")
    parser.add_argument("--scenes", default="s1,s2,shapes,sprites,x11")
    parser.add_argument("--python-run", nargs=2, metavar=("SCENE", "COUNT"))
    parser.add_argument("--assets")
    parser.add_argument("--x11", action="store_true")
    parser.add_argument("--glibc-malloc", action="store_true")
    args = parser.parse_args()

    if args.python_run:
        os.chdir(args.assets)  # models name their textures relative to their folder
        python_run(args.python_run[0], int(args.python_run[1]), args.seconds, args.x11)
        return 0

    if not os.path.exists(os.path.join(BIN, "scenes")):
        print("build/bin/scenes is missing: run `make build` first", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory(prefix="vantor-scenes-") as folder:
        env = dict(os.environ, VANTOR_REGISTRY=os.path.join(folder, "registry"))
        if not args.glibc_malloc:
            env["GLIBC_TUNABLES"] = MALLOC_TUNABLES
        env.setdefault("PYTHONPATH", os.path.join(ROOT, "build", "python"))
        assets = scene_assets.write(os.path.join(folder, "assets"))
        results = callgrind_table(args, assets, env) if args.callgrind else main_table(args, assets, env)
    if args.json:
        with open(args.json, "w") as f:
            json.dump([r for r in results if r], f, indent=1)
    return 0 if any(results) else 1


if __name__ == "__main__":
    sys.exit(main())
