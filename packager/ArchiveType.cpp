#include "packager/ArchiveType.h"

namespace {

const std::vector<ArchiveType>& Types() {
  // In the launcher's order. A directory is compressed at the highest level
  // and, for gzip, without a name or time in the header, so that the same
  // input gives the same bytes. gzip reads the "tz" type's compress format
  // too, so listing needs no uncompress program. zstd compresses on every
  // core, and its output does not depend on how many there are; a window of
  // 128 MiB (--long=27) finds repeats far apart in a large product and is
  // what zstd decodes by default, while listing takes any window up to 2 GiB.
  static const std::vector<ArchiveType> kTypes = {
      {"bz2", true, {"bzip2", "-9", "-c"}, {"bzip2", "-d", "-c"}, "BZh"},
      {"tgz", false, {"gzip", "-9", "-n", "-c"}, {"gzip", "-d", "-c"}, "\x1f\x8b"},
      {"tz", false, {}, {"gzip", "-d", "-c"}, "\x1f\x9d"},
      {"rzt", true, {}, {}, ""},
      {"zip", true, {}, {}, "PK"},
      {"tzst",
       true,
       {"zstd", "-19", "--long=27", "-T0", "-q", "-c"},
       {"zstd", "-d", "-c", "--long=31", "-q"},
       "\x28\xb5\x2f\xfd"},
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
