#!/usr/bin/env python3
"""Checks that the document library's folders include downward only.

The folders form one stack, lowest first; a file may include its own folder
and those below it, never one above, and nothing of the program in app/.
Files directly in src/document/ (the library's start-up) may include any
folder. Prints each upward include and exits 1 when there is one.

  check-includes.py SRC        check SRC/document
  check-includes.py --self-test
"""
import os
import re
import sys
import tempfile

STACK = ["shapes", "resources", "effects", "text", "kinds", "view"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def violations(src):
    root = os.path.join(src, "document")
    found = []
    for folder, _, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if rel == ".":
            continue  # start-up sits above every folder
        own = rel.split(os.sep)[0]
        if own not in STACK:
            found.append(f"{rel}: folder not in the stack {' -> '.join(STACK)}")
            continue
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    parts = m.group(1).split("/")
                    where = f"{os.path.relpath(path, src)}:{number}: includes {m.group(1)}"
                    if parts[0] == "app":
                        found.append(where + " (the program, above the library)")
                    elif parts[0] == "document" and len(parts) > 2:
                        if parts[1] not in STACK:
                            found.append(where + " (a folder not in the stack)")
                        elif STACK.index(parts[1]) > STACK.index(own):
                            found.append(where + f" ({parts[1]} lies above {own})")
    return found


def self_test():
    # One upward include, one downward and one sideways: only the first is
    # reported; a missing check would let the layout rot unseen.
    with tempfile.TemporaryDirectory() as src:
        def write(rel, text):
            path = os.path.join(src, "document", rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        write("Startup.cpp", '#include "document/view/Page.h"\n')
        write("shapes/Shape.h", '#include "raster/Types.h"\n')
        write("shapes/Shape.cpp", '#include "document/shapes/Shape.h"\n#include "document/view/Page.h"\n')
        write("kinds/Line.cpp", '#include "document/text/Memo.h"\n')
        write("resources/formats/Png.cpp", '  #  include "document/effects/Mask.h"\n')
        write("text/Memo.cpp", '#include "app/MainForm.h"\n')
        got = violations(src)
        want = ["document/resources/formats/Png.cpp:1: includes document/effects/Mask.h (effects lies above resources)",
                "document/shapes/Shape.cpp:2: includes document/view/Page.h (view lies above shapes)",
                "document/text/Memo.cpp:1: includes app/MainForm.h (the program, above the library)"]
        if sorted(got) != want:
            print("self-test failed:", *got, sep="\n  ")
            return 1
    print("ok")
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2:
        print(__doc__)
        return 2
    found = violations(argv[1])
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
