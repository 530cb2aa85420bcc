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
# A plain digest, or one keyed with the installation's secret (files that
# others may not read): "sha256:HEX" or "hmac-sha256:HEX".
_DIGEST = re.compile(r"^(sha256|hmac-sha256):([0-9a-f]{64})$")


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
    "header" (key -> value) and "files" (path, link, mode, size, keyed,
    sha256: the hexadecimal digest, keyed or not, or None where it is of a
    form not understood)."""
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
            if not size.isdigit() or not (mode == "link" or re.fullmatch(r"[0-7]{4}", mode)):
                return unreadable
            match = _DIGEST.match(digest)
            keyed = bool(match) and match.group(1) == "hmac-sha256"
            # Setup refuses such a record: a link's target is no secret.
            if keyed and mode == "link":
                return unreadable
            files.append({"path": path, "link": mode == "link",
                          "mode": None if mode == "link" else int(mode, 8),
                          "size": int(size), "keyed": keyed,
                          "sha256": match.group(2) if match else None})
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
    file, in order, from strata_file_states) show changed, missing or not
    comparable. A keyed file is compared by its keyed_checksum, which is
    missing where the host's key could not be read."""
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
                    and st.get("keyed_checksum" if entry["keyed"] else "checksum")
                    == entry["sha256"])
        if not same:
            changed.append(entry["path"])
    return changed


def strata_file_as_expected(files, stats, path):
    """Whether the host's file path has the content expected of it, from the
    stat results that belong to files; False when it is not recorded, not
    there or not compared."""
    for entry, result in zip(files, stats):
        if entry["path"] == path:
            return result.get("stat", {}).get("expected", False)
    return False


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
            "strata_file_as_expected": strata_file_as_expected,
            "strata_plain_entry_sha256": strata_plain_entry_sha256,
        }
