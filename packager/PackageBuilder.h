#ifndef STRATA_PACKAGER_PACKAGEBUILDER_H_
#define STRATA_PACKAGER_PACKAGEBUILDER_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "package/PackageRecord.h"
#include "packager/UnpackedContents.h"

// The digest that a package records unless told otherwise. XXH3-128 checks
// a large archive in a fraction of a percent of its extraction time, where
// SHA-256 costs about three percent; it detects damage, not tampering.
const uint32_t kDefaultChecksumKind = kChecksumXxh3_128;

// What to build a package from.
struct BuildOptions {
  enum DecompressorChoice {
    kDefaultDecompressor,  // strata-bunzip2 for bz2, strata-unzstd for tzst; none for tgz and tz
    kNoDecompressor,
    kGivenDecompressor,
  };

  std::string archive;  // a compressed archive file, or a directory to pack
  std::string output;
  std::string type = "bz2";
  std::string launcher;  // empty: the launcher that came with the running program
  DecompressorChoice decompressorChoice = kDefaultDecompressor;
  std::string decompressor;  // a path, or a program name looked up on PATH
  uint32_t checksumKind = kDefaultChecksumKind;
  // The product has no second stage, and that is meant (--no-second-stage).
  bool noSecondStage = false;
  // tzst from a directory: zstd's long window of 128 MiB (--long), a
  // little smaller, much slower to unpack.
  bool longWindow = false;
};

// Assembles one package: a copy of the launcher with its record patched,
// then the decompressor program, then the archive, in a file of mode 0755.
// The output appears only when it is complete; after a failure no output
// and no temporary file is left, and an existing output is untouched. The
// input files are never modified. Only a launcher whose record still holds
// the built-in values is taken: one that an earlier build filled in is most
// likely a whole package, and one whose record has another layout would
// read whatever this builder wrote there differently.
//
// The record also tells the launcher how much room the unpacked files take:
// counted while a directory is scanned, or by reading a prepared archive
// through once. What that scan or reading finds is checked before anything
// is packed (packager/ProductCheck.h): a product that could not install is
// refused.
class Progress;

class PackageBuilder {
 public:
  explicit PackageBuilder(BuildOptions options);

  PackageBuilder(const PackageBuilder&) = delete;
  PackageBuilder& operator=(const PackageBuilder&) = delete;

  // Where a program that mkpackage carries by default (the launcher, the
  // decompressors) lies: in libexec/strata/ beside the bin/ of an installed
  // mkpackage, or else in the directory of the running program itself, as
  // in a build tree. "" when it is in neither (or the running program's
  // directory is not known); *looked says where it was looked for.
  static std::string CarriedProgramPath(const std::string& name, std::string* looked);

  // Builds the package; false with a message (without a program name) on
  // failure.
  bool Build(std::string* error);

  // Things worth telling the user that did not stop the build.
  const std::vector<std::string>& Warnings() const { return m_warnings; }

  // Shows the compression's progress there (packager/Progress.h); null, the
  // default, for none.
  void SetProgress(Progress* progress) { m_pProgress = progress; }

  // After a successful Build: the record written and the package's size.
  const PackageRecord& Written() const { return m_written; }
  uint64_t WrittenSize() const { return m_nWrittenSize; }
  // Whether a file of the output's name was there before and held exactly
  // the bytes of the new package (a signature beside it then still fits).
  bool SameAsBefore() const { return m_bSameAsBefore; }

 private:
  struct Inputs;

  bool CheckOutputName(std::string* error);
  bool OpenInputs(Inputs* inputs, std::string* error);
  bool OpenLauncher(Inputs* inputs, std::string* error);
  bool OpenDecompressor(Inputs* inputs, std::string* error);
  bool OpenArchive(Inputs* inputs, std::string* error);
  bool MeasureArchive(Inputs* inputs, std::string* error);
  // Checks the product of a directory or a prepared archive read through.
  bool CheckProduct(const UnpackedContents& contents, int setupFd, std::string* error);
  bool CheckOutput(const Inputs& inputs, std::string* error);
  bool Assemble(Inputs* inputs, int fd, std::string* error);
  // Completes *record, whose lengths are set, with the type, the sizes and
  // the digest of what follows the launcher in fd, and writes it there.
  bool FillRecord(const Inputs& inputs, int fd, uint64_t launcherLength, PackageRecord* record,
                  std::string* error);

  // Whether fd holds what the output's name held before.
  bool SameAsOutput(int fd) const;
  // archive: the compressed bytes are written to fd after archiveStart.
  bool PackDirectory(Inputs* inputs, int fd, uint64_t archiveStart, std::string* error);

  BuildOptions m_options;
  std::vector<std::string> m_warnings;
  Progress* m_pProgress = nullptr;
  PackageRecord m_written;
  uint64_t m_nWrittenSize = 0;
  bool m_bSameAsBefore = false;
};

#endif  // STRATA_PACKAGER_PACKAGEBUILDER_H_
