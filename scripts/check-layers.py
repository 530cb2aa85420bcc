#!/usr/bin/env python3
"""Fails when a source includes a folder above its own layer.

The folders are layers, lowest first; a folder may include itself and the
folders listed for it, nothing else of the project. Test sources (*_test.cpp)
may also include tests/. tests/, bench/, fuzz/ and demo/ stand beside the
layers and may use any of them, but no layer may use them.
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
    "driver": ["installer", "console", "credentials", "templates", "package", "product",
               "common"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.MULTILINE)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folders = set(LAYERS) | {"tests", "bench", "fuzz", "demo"}
    problems = []
    for folder in sorted(LAYERS):
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            continue
        for dirpath, _, names in os.walk(base):
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
                    used = match.group(1)
                    if used not in folders or used in allowed:
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
