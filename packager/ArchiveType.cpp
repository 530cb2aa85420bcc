#include "packager/ArchiveType.h"

namespace {

const std::vector<ArchiveType>& Types() {
  // In the launcher's order. A directory is compressed at the highest level
  // and, for gzip, without a name or time in the header, so that the same
  // input gives the same bytes. gzip reads the "tz" type's compress format
  // too, so listing needs no uncompress program. zstd compresses on every
  // core, and its output does not depend on how many there are. Its level-19
  // window is 8 MiB; a window of 128 MiB (--long=27) finds repeats farther
  // apart, which a larger product may hold (the benchmark's 56 MB of Perl
  // libraries, time zones and fonts came out 6% smaller), or not (56 MB of
  // other such files: 0.3%), and it makes unpacking touch far more memory.
  // So it is tried on every product larger than 8 MiB and kept only where it
  // saves enough (LargeCompressorPays).
  // Listing takes any window up to 2 GiB.
  static const std::vector<ArchiveType> kTypes = {
      {"bz2", true, {"bzip2", "-9", "-c"}, {"bzip2", "-d", "-c"}, "BZh", {}},
      {"tgz", false, {"gzip", "-9", "-n", "-c"}, {"gzip", "-d", "-c"}, "\x1f\x8b", {}},
      {"tz", false, {}, {"gzip", "-d", "-c"}, "\x1f\x9d", {}},
      {"rzt", true, {}, {}, "", {}},
      {"zip", true, {}, {}, "PK", {}},
      {"tzst",
       true,
       {"zstd", "-19", "-T0", "-q", "-c"},
       {"zstd", "-d", "-c", "--long=31", "-q"},
       "\x28\xb5\x2f\xfd",
       {"zstd", "-19", "--long=27", "-T0", "-q", "-c"}},
  };
  return kTypes;
}

}  // namespace

const ArchiveType* FindArchiveType(const std::string& name) {
  for (const ArchiveType& type : Types()) {
    if (name == type.name)
      return &type;
  }
  return nullptr;
}

std::string ArchiveTypeNames() {
  const std::vector<ArchiveType>& types = Types();
  std::string names;
  for (size_t i = 0; i < types.size(); ++i) {
    if (i > 0)
      names += i + 1 == types.size() ? " or " : ", ";
    names += types[i].name;
  }
  return names;
}

bool LargeCompressorPays(uint64_t firstLength, uint64_t secondLength) {
  return secondLength * 100 <= firstLength * 97;
}
