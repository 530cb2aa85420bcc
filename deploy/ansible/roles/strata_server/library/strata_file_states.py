#!/usr/bin/python3
"""strata_file_states: stat and digest of many files of an installation at
once, on the host, so that comparing a record of dozens of files costs one
module run instead of one for each file."""
import hashlib
import hmac
import os
import stat

DOCUMENTATION = """
module: strata_file_states
short_description: kind, mode, size and digest of files below a directory
description:
  - For each relative path, describes what has the name below dir now, without
    following links, in the shape of ansible.builtin.stat's result (exists,
    isreg, islnk, lnk_target, mode, size, checksum as SHA-256). Changes nothing.
  - >-
    A file that the record lists by its keyed digest (those that others may
    not read, the password files among them) gets keyed_checksum, the
    HMAC-SHA256 of its content under the installation's key
    (install-manifest.key beside the record), and no plain checksum; an
    unsalted SHA-256 of a password file in the output would let anyone who
    reads it test a password guess. Where the key cannot be read,
    keyed_checksum is left out (the file counts as changed) and key_problem
    says why.
options:
  dir: {type: path, required: true, description: the installation directory}
  paths: {type: list, elements: str, required: true, description: relative paths}
  keyed: {type: list, elements: str, default: [], description: those of paths listed by keyed digest}
  expected_sha256:
    type: dict
    default: {}
    description: >-
      relative path to the SHA-256 that its content is expected to have; the
      result's "expected" says whether it has, without showing a digest.
"""

KEY_FILE = "install-manifest.key"
# 32 random bytes as 64 lowercase hexadecimal characters and a line feed,
# nothing else: what setup writes and its own programs accept.
KEY_TEXT_SIZE = 65


def read_key(directory):
    """The installation's key as bytes, or (None, why) where setup's own
    programs would not take it either."""
    path = os.path.join(directory, KEY_FILE)
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as e:
        return None, f"{path}: {e.strerror}"
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return None, f"{path}: not a key written by setup"
        text = b""
        while len(text) <= KEY_TEXT_SIZE:
            block = os.read(fd, KEY_TEXT_SIZE + 1 - len(text))
            if not block:
                break
            text += block
    except OSError as e:
        return None, f"{path}: {e.strerror}"
    finally:
        os.close(fd)
    hex_part = text[:-1].decode("ascii", "replace")
    if (len(text) != KEY_TEXT_SIZE or not text.endswith(b"\n")
            or any(c not in "0123456789abcdef" for c in hex_part)):
        return None, f"{path}: not a key written by setup"
    return bytes.fromhex(hex_part), None


class Installation:
    """The files below one installation directory, and its key, read once
    when the first keyed file needs it."""

    def __init__(self, directory):
        self.directory = directory
        self._key = None
        self.key_problem = None

    def key(self):
        if self._key is None and self.key_problem is None:
            self._key, self.key_problem = read_key(self.directory)
        return self._key

    def describe(self, relative, keyed=False, expected_sha256=None):
        path = os.path.join(self.directory, relative)
        # No link on the way is followed either: the record's paths lead
        # through real directories only.
        parent = os.path.dirname(relative)
        while parent:
            if os.path.islink(os.path.join(self.directory, parent)):
                return {"exists": False}
            parent = os.path.dirname(parent)
        try:
            st = os.lstat(path)
        except OSError:
            return {"exists": False}
        result = {"exists": True, "isreg": stat.S_ISREG(st.st_mode),
                  "islnk": stat.S_ISLNK(st.st_mode),
                  "mode": "%04o" % stat.S_IMODE(st.st_mode), "size": st.st_size}
        if result["islnk"]:
            result["lnk_target"] = os.readlink(path)
            return result
        if not result["isreg"]:
            return result
        key = self.key() if keyed else None
        plain = hashlib.sha256()
        mac = hmac.new(key, digestmod=hashlib.sha256) if key is not None else None
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                plain.update(block)
                if mac is not None:
                    mac.update(block)
        if mac is not None:
            result["keyed_checksum"] = mac.hexdigest()
        if not keyed:
            result["checksum"] = plain.hexdigest()
        if expected_sha256 is not None:
            result["expected"] = hmac.compare_digest(plain.hexdigest(), expected_sha256)
        return result


def main():
    from ansible.module_utils.basic import AnsibleModule

    module = AnsibleModule(argument_spec={
        "dir": {"type": "path", "required": True},
        "paths": {"type": "list", "elements": "str", "required": True},
        "keyed": {"type": "list", "elements": "str", "default": []},
        # Digests of passwords the role gives: tested offline, they would
        # give the password away.
        "expected_sha256": {"type": "dict", "default": {}, "no_log": True},
    }, supports_check_mode=True)
    installation = Installation(module.params["dir"])
    keyed = set(module.params["keyed"])
    expected = module.params["expected_sha256"]
    try:
        results = [{"stat": installation.describe(p, p in keyed, expected.get(p))}
                   for p in module.params["paths"]]
    except OSError as e:
        module.fail_json(msg=f"{e.filename}: {e.strerror}")
    module.exit_json(changed=False, results=results, key_problem=installation.key_problem)


if __name__ == "__main__":
    main()
