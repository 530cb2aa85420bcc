#ifndef STRATA_PACKAGE_PACKAGERECORD_H_
#define STRATA_PACKAGE_PACKAGERECORD_H_

#include <stdint.h>

// The values that describe the trailing pieces of a package. One record is
// compiled into the launcher; the package builder finds it in its copy of the
// launcher by the magic text and writes the real values over it.
//
// The layout is fixed: the builder and every launcher built from this tree
// must agree on it, byte for byte (little-endian fields, no padding). A new
// layout gets a new magic, so that a builder never finds, and never writes
// over, the record of a launcher of another layout, nor reads one as a
// package: the two refuse each other.
enum : uint32_t {
  kChecksumNone = 0,
  kChecksumSha256 = 1,
  kChecksumXxh3_128 = 2,
};

#define STRATA_PACKAGE_RECORD_MAGIC "StrataPkgRec/v2"  // 15 characters and a NUL
// The layout that the magic stands for, also stored in the record.
const uint32_t kPackageRecordLayout = 2;

struct PackageRecord {
  char magic[16];
  int32_t archiveLength;
  int32_t extractorLength;
  char archiveType[16];  // NUL-terminated
  uint32_t checksumKind;
  // Digest of the decompressor piece followed by the archive piece; the
  // first bytes are used, as many as the kind's digest has.
  unsigned char checksum[32];
  uint32_t layout;  // kPackageRecordLayout
  // The room the archive's files take once unpacked: regular files rounded
  // up to kUnpackedBlockSize bytes each, and one such block for each
  // directory; 0 when the builder could not tell.
  uint64_t unpackedSize;
};

// The unit in which unpacked files are counted: a file system's usual block.
const uint64_t kUnpackedBlockSize = 4096;

static_assert(sizeof(PackageRecord) == 88, "the record layout is shared with the builder");

// The values compiled into the launcher, those of the package as first
// built: a launcher that no builder has filled in still holds them (with no
// checksum).
const int32_t kBuiltInArchiveLength = 11866035;
const int32_t kBuiltInExtractorLength = 89741;
#define STRATA_BUILT_IN_ARCHIVE_TYPE "bz2"

// The values the launcher was built or patched with.
PackageRecord LoadPackageRecord();

#endif  // STRATA_PACKAGE_PACKAGERECORD_H_
