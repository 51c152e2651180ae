#!/usr/bin/env python3
"""Fails when a source file of src/ includes a header of a layer it may not use.

Each folder of src/ is a layer; a file may include headers of its own folder and of the
folders its layer depends on (directly or through them), nothing else. The build enforces the
same rule through include roots; this check also catches a path that climbs out of its folder
("../display/Render.h") and a header that is not compiled on this machine.
"""
import pathlib
import re
import sys

# What each layer may use directly; what those use is allowed too.
DEPENDS = {
    "base": [],
    "image": ["base"],
    "sky": ["image"],
    "display": ["image"],
    "process": ["image"],
    "viewer": ["sky", "display", "process"],
    "nviewlib": ["process"],
    "fitsdecomp": [],  # the decompression helper: cfitsio only, nothing of ours
    "ui": ["viewer"],
    "cli": ["viewer", "nviewlib"],
    "app": ["ui", "nviewlib"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def allowed(layer):
    seen, todo = {layer}, [layer]
    while todo:
        for dep in DEPENDS[todo.pop()]:
            if dep not in seen:
                seen.add(dep)
                todo.append(dep)
    return seen


def violations(src):
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in DEPENDS:
            found.append(f"{path}: folder '{layer}' is no known layer")
            continue
        ok = allowed(layer)
        for name in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            target = (path.parent / name).resolve()
            if target.is_file() and src.resolve() in target.parents:
                # A path relative to the file itself: its layer is where it lands.
                used = target.relative_to(src.resolve()).parts[0]
            elif "/" in name:
                used = name.split("/")[0]
            else:
                continue  # a header of the file's own folder
            if used not in ok:
                found.append(f"{path}: includes \"{name}\" of layer '{used}', "
                             f"which '{layer}' may not use")
    return found


def self_test():
    """The check must see an upward include, a sibling include and a climbing path."""
    import tempfile
    with tempfile.TemporaryDirectory() as tmp:
        src = pathlib.Path(tmp)
        for folder in ("image", "display", "viewer", "sky"):
            (src / folder).mkdir()
        (src / "display" / "Render.h").write_text("")
        (src / "viewer" / "Viewer.h").write_text("")
        (src / "image" / "Fits.cpp").write_text(
            '#include "viewer/Viewer.h"\n#include "../display/Render.h"\n#include "Own.h"\n')
        (src / "sky" / "Wcs.cpp").write_text('#include "display/Render.h"\n')
        (src / "viewer" / "Load.cpp").write_text('#include "display/Render.h"\n')
        found = violations(src)
        assert len(found) == 3, found
    print("self-test passed")


def main():
    if sys.argv[1:] == ["--self-test"]:
        self_test()
        return 0
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    found = violations(src)
    for line in found:
        print(line)
    print(f"{len(found)} layering violation(s) in {src}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
