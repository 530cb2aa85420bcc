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
  // A second way to compress a large directory, taken instead of the first
  // when it makes the archive smaller by enough to pay for what it costs at
  // unpacking; empty when there is none.
  std::vector<std::string> largeCompressor;
};

// Below this unpacked size a directory is compressed the first way only: it
// fits in the first way's window (zstd's 8 MiB at level 19), so a larger one
// can find nothing more.
const uint64_t kLargeCompressorFrom = 8ull << 20;
// Whether an archive of secondLength bytes, made the second way, saves
// enough over firstLength bytes made the first way: at least 3 percent.
bool LargeCompressorPays(uint64_t firstLength, uint64_t secondLength);

// The type called name, or null.
const ArchiveType* FindArchiveType(const std::string& name);

// "bz2, tgz, tz, rzt, zip or tzst", for messages.
std::string ArchiveTypeNames();

#endif  // STRATA_PACKAGER_ARCHIVETYPE_H_
