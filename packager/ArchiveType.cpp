#include "packager/ArchiveType.h"

namespace {

const std::vector<ArchiveType>& Types() {
  // In the launcher's order. A directory is compressed at the highest level
  // and, for gzip, without a name or time in the header, so that the same
  // input gives the same bytes. gzip reads the "tz" type's compress format
  // too, so listing needs no uncompress program. zstd compresses on every
  // core, and its output does not depend on how many there are. It keeps
  // its level-19 window of 8 MiB: on a 64 MB product a window of 128 MiB
  // (--long=27) saved 2% of the size and cost 55% more unpacking time, on
  // every server, since matches that reach farther back than the caches
  // hold slow the decoder. It is there for whoever asks for it.
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
