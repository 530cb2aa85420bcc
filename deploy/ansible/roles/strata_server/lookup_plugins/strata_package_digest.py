"""lookup('strata_package_digest', PACKAGE): the digest that a package's
record holds, as setup writes it into install-manifest.txt as
package_digest ("xxh3-128:<hex>", "sha256:<hex>" or "none"), read on the
control node without running the package. "unknown" where no record of
this layout is found: such a package never matches a record, and the
package itself is asked."""
import os
import struct

from ansible.errors import AnsibleLookupError
from ansible.plugins.lookup import LookupBase

DOCUMENTATION = """
    name: strata_package_digest
    short_description: the package digest that a Strata Server package records
    description:
      - Reads the package record of a self-extracting Strata Server package on the
        control node and returns its digest as install-manifest.txt names it.
    options:
      _terms:
        description: paths of packages
        required: true
"""

MAGIC = b"StrataPkgRec/v2\0"
# magic, archive and decompressor lengths, archive type, checksum kind,
# checksum, layout, unpacked size: little-endian, no padding.
RECORD = struct.Struct("<16sii16sI32sIQ")
KINDS = {0: ("none", 0), 1: ("sha256", 32), 2: ("xxh3-128", 16)}
CHUNK = 1 << 20


def record_offset(f):
    """Offset of the first record magic: the launcher piece comes first."""
    offset = 0
    tail = b""
    while True:
        chunk = f.read(CHUNK)
        if not chunk:
            return None
        data = tail + chunk
        at = data.find(MAGIC)
        if at >= 0:
            return offset - len(tail) + at
        tail = data[-(len(MAGIC) - 1):]
        offset += len(chunk)


def package_digest(path):
    try:
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            at = record_offset(f)
            if at is None:
                return "unknown"
            f.seek(at)
            raw = f.read(RECORD.size)
    except OSError as e:
        raise AnsibleLookupError(f"{path}: {e.strerror}")
    if len(raw) != RECORD.size:
        return "unknown"
    _, archive, extractor, _, kind, checksum, _, _ = RECORD.unpack(raw)
    if archive < 1 or extractor < 0 or at + RECORD.size + archive + extractor > size or (
            kind not in KINDS):
        return "unknown"
    name, length = KINDS[kind]
    return name if length == 0 else f"{name}:{checksum[:length].hex()}"


class LookupModule(LookupBase):
    def run(self, terms, variables=None, **kwargs):
        return [package_digest(os.path.expanduser(str(term))) for term in terms]
