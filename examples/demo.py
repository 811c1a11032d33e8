"""Vantor demo: the value objects, the type library and error reporting, through late binding.

    make demo            (or: PYTHONPATH=build/python /usr/bin/python3 examples/demo.py)
"""
import argparse

import vantor


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=None, help="(unused until frames are drawn)")
    parser.parse_args()

    colour = vantor.Dispatch("Vantor.Colour")
    colour.Red, colour.Green, colour.Blue, colour.Alpha = 1.0, 0.5, 0.25, 1.0
    print(f"Colour: red {colour.Red}, green {colour.Green}, blue {colour.Blue}, alpha {colour.Alpha}")

    position = vantor.Dispatch("Vantor.Position")
    position.X, position.Y, position.Z = 0, 0, 10
    print(f"Position: ({position.X}, {position.Y}, {position.Z})")

    c = vantor.constants
    print(f"Constants: fm_Linear = {c.fm_Linear}, sm_Ready = {c.sm_Ready}, Cyan = {c.Cyan:#08x}")

    lib = vantor.type_library()
    members = sum(len(i["members"]) for i in lib["interfaces"].values())
    print(f"Type library: {lib['help']}, {len(lib['classes'])} classes, {members} members, "
          f"{len(lib['enumerations'])} enumerations")

    with vantor.debug_output() as out:
        try:
            colour.Save(0)
        except vantor.COMError as e:
            print(f"Error as a script sees it: source {e.source}, hresult {e.hresult}, "
                  f"description {e.description!r}")
    print(f"Debug output: {out.text!r}")
    print(f"Registry: {vantor.registry.path()}")


if __name__ == "__main__":
    main()
