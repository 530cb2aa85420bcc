#ifndef STRATA_PACKAGER_ARCHIVETYPE_H_
#define STRATA_PACKAGER_ARCHIVETYPE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// What the builder and the inspector know about each archive type that the
// launcher can extract: whether it needs a decompressor piece, how to make
// one from a tar stream and how to read one back with the system's tools.
struct ArchiveType {
  const char* name;
  // The launcher's command for the type runs the carried decompressor.
  bool needsDecompressor;
  // Compresses a tar stream from standard input to standard output; empty
  // when the builder cannot make this type from a directory.
  std::vector<std::string> compressor;
  // Decompresses the archive to a tar stream; empty when the type cannot
  // be listed.
  std::vector<std::string> decompressor;
  // The first bytes of an archive of this type; empty when unknown.
  std::string signature;
  // Compresses with a window far larger than the level's own, for a
  // smaller archive that is slower to unpack (mkpackage --long); empty when
  // the type has no such choice.
  std::vector<std::string> longWindowCompressor;
};

// The type called name, or null.
const ArchiveType* FindArchiveType(const std::string& name);

// "bz2, tgz, tz, rzt, zip or tzst", for messages.
std::string ArchiveTypeNames();

#endif  // STRATA_PACKAGER_ARCHIVETYPE_H_
