#!/usr/bin/env python3
"""Fails when a source includes a folder above its own layer.

The folders are layers, lowest first; a folder may include itself and the
folders listed for it, nothing else of the project. A layer may be a
sub-folder ("driver/record"): a file belongs to the deepest layer that holds
it, and an include names the deepest layer its path lies in. Test sources
(*_test.cpp) may also include tests/. tests/, bench/, fuzz/ and demo/ stand
beside the layers and may use any of them, but no layer may use them.
"""
import os
import re
import sys

# Folder: the folders below it that it may use.
LAYERS = {
    "common": [],
    "decompressor": ["common"],
    "package": ["common"],
    "product": [],
    "signing": ["common"],
    "credentials": ["common"],
    "console": ["credentials", "common"],
    "templates": ["product", "common"],
    "installer": ["console", "credentials", "templates", "product", "common"],
    "launcher": ["package", "product", "common"],
    "packager": ["signing", "package", "product", "common"],
}
# The framework: the installer and every layer below it.
FRAMEWORK = ["installer", "console", "credentials", "templates", "package", "product", "common"]
# setup's rooms, each a floor of its own above the framework.
LAYERS["driver/record"] = ["package", "common"]
LAYERS["driver/journal"] = ["driver/record", "common"]
LAYERS["driver/settings"] = ["driver/journal", "driver/record", *FRAMEWORK]
LAYERS["driver/installation"] = ["driver/settings", "driver/journal", "driver/record", *FRAMEWORK]
LAYERS["driver/uninstaller"] = ["driver/journal", "driver/record", *FRAMEWORK]
LAYERS["driver"] = ["driver/uninstaller", "driver/installation", "driver/settings",
                    "driver/journal", "driver/record", *FRAMEWORK]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)/[^"/]+"', re.MULTILINE)


def LayerOf(folder, layers):
    """The deepest layer that holds folder ("driver/record/x" -> "driver/record")."""
    while folder:
        if folder in layers:
            return folder
        folder = os.path.dirname(folder)
    return None


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folders = set(LAYERS) | {"tests", "bench", "fuzz", "demo"}
    problems = []
    for folder in sorted(LAYERS):
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            continue
        for dirpath, subdirs, names in os.walk(base):
            # A sub-folder that is a layer of its own is checked as that one.
            subdirs[:] = [d for d in subdirs
                          if os.path.relpath(os.path.join(dirpath, d), root) not in LAYERS]
            for name in sorted(names):
                if not name.endswith((".c", ".cpp", ".h")):
                    continue
                path = os.path.join(dirpath, name)
                relative = os.path.relpath(path, root)
                allowed = {folder, *LAYERS[folder]}
                if name.endswith("_test.cpp"):
                    allowed.add("tests")
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for match in INCLUDE.finditer(text):
                    used = LayerOf(match.group(1), folders)
                    if used is None or used in allowed:
                        continue
                    line = text.count("\n", 0, match.start()) + 1
                    problems.append(f"{relative}:{line}: {folder}/ may not include {used}/")
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the layer order", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
