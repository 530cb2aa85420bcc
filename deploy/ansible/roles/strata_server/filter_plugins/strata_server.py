"""Filters of the strata_server role, run on the control node: the names of
the role's variables, and the comparison of a host's install-manifest.txt
with what the role would install. Whatever they cannot read for certain
counts as a difference, so that the package itself is asked then."""
import base64
import difflib
import hashlib
import os
import re

# Set by the role itself rather than by its user.
_RETURNED = ("strata_server_installed",)

_ESCAPES = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}
_SHA256 = re.compile(r"^sha256:([0-9a-f]{64})$")


def known_variables():
    """The variables that meta/main.yml declares, and those the role returns."""
    meta = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "meta",
                        "main.yml")
    import yaml  # Ansible's own dependency, needed here only

    with open(meta, encoding="utf-8") as f:
        options = yaml.safe_load(f)["argument_specs"]["main"]["options"]
    return sorted(list(options) + list(_RETURNED))


def strata_unknown_variables(names):
    """One message for each name that the role does not know, naming the
    closest known name."""
    known = known_variables()
    messages = []
    for name in sorted(set(names)):
        if name in known:
            continue
        close = difflib.get_close_matches(name, known, n=1, cutoff=0.6)
        if close:
            messages.append(f"unknown variable {name} (did you mean {close[0]}?)")
        else:
            messages.append(f"unknown variable {name} (the role's variables are "
                            f"{', '.join(known)})")
    return messages


def _unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            i += 1
            if i >= len(text) or text[i] not in _ESCAPES:
                return None
            out.append(_ESCAPES[text[i]])
        else:
            out.append(c)
        i += 1
    return "".join(out)


def strata_record(content):
    """install-manifest.txt (base64, as slurp returns it) as a mapping:
    "readable" (false for a record this role cannot read for certain),
    "header" (key -> value) and "files" (path, link, mode, size, sha256 or
    None where the digest is not a plain SHA-256)."""
    unreadable = {"readable": False, "header": {}, "files": []}
    if not content:
        return unreadable
    try:
        text = base64.b64decode(content).decode("utf-8")
    except (ValueError, UnicodeDecodeError):
        return unreadable
    header = {}
    files = []
    for line in text.split("\n"):
        if line == "" or line.startswith("#"):
            continue
        if line.startswith("file\t"):
            fields = line[len("file\t"):].split("\t")
            path = _unescape(fields[0]) if len(fields) == 4 else None
            if path is None or path.startswith("/") or ".." in path.split("/"):
                return unreadable
            mode, size, digest = fields[1:]
            if not size.isdigit() or not (mode == "link" or re.fullmatch(r"[0-7]{1,5}", mode)):
                return unreadable
            match = _SHA256.match(digest)
            files.append({"path": path, "link": mode == "link",
                          "mode": None if mode == "link" else int(mode, 8),
                          "size": int(size), "sha256": match.group(1) if match else None})
        elif "=" in line and not files:
            key, value = line.split("=", 1)
            header[key] = value
        else:
            return unreadable
    if header.get("format") != "1" or header.get("files") != str(len(files)):
        return unreadable
    return {"readable": True, "header": header, "files": files}


def strata_setting_differences(record, given):
    """The keys of given (manifest key -> value) that the record's header
    holds otherwise, or does not hold."""
    header = record.get("header", {})
    return [key for key, value in given.items() if header.get(key) != str(value)]


def strata_changed_files(files, stats):
    """The paths of recorded files that the host's stat results (one per
    file, in order, sha256 checksums) show changed, missing or not
    comparable."""
    if len(files) != len(stats):
        raise ValueError("strata_changed_files: one stat result per file expected")
    changed = []
    for entry, result in zip(files, stats):
        st = result.get("stat", {})
        if entry["sha256"] is None or not st.get("exists"):
            same = False
        elif entry["link"]:
            target = st.get("lnk_target")
            same = (st.get("islnk", False) and target is not None
                    and len(target.encode("utf-8")) == entry["size"]
                    and hashlib.sha256(target.encode("utf-8")).hexdigest() == entry["sha256"])
        else:
            same = (st.get("isreg", False) and int(st.get("mode", "-1"), 8) == entry["mode"]
                    and st.get("size") == entry["size"]
                    and st.get("checksum") == entry["sha256"])
        if not same:
            changed.append(entry["path"])
    return changed


def strata_file_sha256(files, stats, path):
    """The host's SHA-256 of the recorded file path, from the stat results
    that belong to files; None when it is not recorded or not there."""
    for entry, result in zip(files, stats):
        if entry["path"] == path:
            return result.get("stat", {}).get("checksum")
    return None


def strata_plain_entry_sha256(password):
    """SHA-256 of the plain user file that holds password ("PASSWORD;*;1")."""
    return hashlib.sha256(f"{password};*;1\n".encode("utf-8")).hexdigest()


class FilterModule:
    def filters(self):
        return {
            "strata_unknown_variables": strata_unknown_variables,
            "strata_record": strata_record,
            "strata_setting_differences": strata_setting_differences,
            "strata_changed_files": strata_changed_files,
            "strata_file_sha256": strata_file_sha256,
            "strata_plain_entry_sha256": strata_plain_entry_sha256,
        }
