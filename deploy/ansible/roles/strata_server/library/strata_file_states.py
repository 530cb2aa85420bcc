#!/usr/bin/python3
"""strata_file_states: stat and SHA-256 of many files of an installation at
once, on the host, so that comparing a record of dozens of files costs one
module run instead of one for each file."""
import hashlib
import os
import stat

from ansible.module_utils.basic import AnsibleModule

DOCUMENTATION = """
module: strata_file_states
short_description: kind, mode, size and SHA-256 of files below a directory
description:
  - For each relative path, describes what has the name below dir now, without
    following links, in the shape of ansible.builtin.stat's result (exists,
    isreg, islnk, lnk_target, mode, size, checksum as SHA-256). Changes nothing.
options:
  dir: {type: path, required: true, description: the installation directory}
  paths: {type: list, elements: str, required: true, description: relative paths}
"""


def describe(directory, relative):
    path = os.path.join(directory, relative)
    # No link on the way is followed either: the record's paths lead
    # through real directories only.
    parent = os.path.dirname(relative)
    while parent:
        if os.path.islink(os.path.join(directory, parent)):
            return {"exists": False}
        parent = os.path.dirname(parent)
    try:
        st = os.lstat(path)
    except OSError:
        return {"exists": False}
    result = {"exists": True, "isreg": stat.S_ISREG(st.st_mode),
              "islnk": stat.S_ISLNK(st.st_mode), "mode": "%04o" % stat.S_IMODE(st.st_mode),
              "size": st.st_size}
    if result["islnk"]:
        result["lnk_target"] = os.readlink(path)
    elif result["isreg"]:
        digest = hashlib.sha256()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
        result["checksum"] = digest.hexdigest()
    return result


def main():
    module = AnsibleModule(argument_spec={"dir": {"type": "path", "required": True},
                                          "paths": {"type": "list", "elements": "str",
                                                    "required": True}},
                           supports_check_mode=True)
    try:
        results = [{"stat": describe(module.params["dir"], p)} for p in module.params["paths"]]
    except OSError as e:
        module.fail_json(msg=f"{e.filename}: {e.strerror}")
    module.exit_json(changed=False, results=results)


if __name__ == "__main__":
    main()
