#include "packager/PackageBuilder.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/AtomicFile.h"
#include "common/FileIo.h"
#include "common/Path.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "package/Checksum.h"
#include "package/RecordLocator.h"
#include "packager/ArchiveType.h"
#include "packager/DirectoryArchive.h"
#include "packager/ProductCheck.h"
#include "packager/ProgramLinkage.h"
#include "packager/Progress.h"
#include "packager/UnpackedContents.h"

namespace {

// The record's length fields are signed 32-bit numbers.
const uint64_t kMaxPieceLength = INT32_MAX;

std::string TooLarge(const std::string& what, uint64_t length) {
  return what + " is too large (" + std::to_string(length) +
         " bytes; a package piece holds at most " + std::to_string(kMaxPieceLength) + ")";
}

// A piece taken from the file at path must hold something and fit the
// record's length fields.
bool CheckPieceSize(const std::string& path, const std::string& what, uint64_t size,
                    std::string* error) {
  if (size == 0) {
    *error = path + ": " + what + " is empty";
    return false;
  }
  if (size > kMaxPieceLength) {
    *error = path + ": " + TooLarge(what, size);
    return false;
  }
  return true;
}

// Opens path for reading as a regular file; *st receives its status. A FIFO
// is refused at once: opened without O_NONBLOCK it would wait for a writer.
bool OpenRegular(const std::string& path, ScopedFd* fd, struct stat* st, std::string* error) {
  fd->Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd->Get() < 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  if (fstat(fd->Get(), st) != 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(st->st_mode)) {
    *error = path + ": not a regular file";
    return false;
  }
  return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The decompressor that a type carries unless told otherwise, or null.
const char* DefaultDecompressor(const std::string& type) {
  if (type == "bz2")
    return "strata-bunzip2";
  if (type == "tzst")
    return "strata-unzstd";
  return nullptr;
}

}  // namespace

struct PackageBuilder::Inputs {
  const ArchiveType* type = nullptr;

  std::string launcherPath;
  ScopedFd launcher;
  struct stat launcherStat;
  uint64_t recordOffset = 0;

  std::string decompressorPath;  // empty: no decompressor piece
  ScopedFd decompressor;
  struct stat decompressorStat;

  ScopedFd archive;  // a prepared archive file
  struct stat archiveStat;
  DirectoryArchive directory;  // or the directory to pack
  bool fromDirectory = false;
  uint64_t unpackedSize = 0;  // 0: not known
};

PackageBuilder::PackageBuilder(BuildOptions options) : m_options(std::move(options)) {}

std::string PackageBuilder::CarriedProgramPath(const std::string& name, std::string* looked) {
  std::vector<char> self(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  looked->clear();
  if (n <= 0)
    return "";
  const std::string dir = DirectoryOf(std::string(self.data(), static_cast<size_t>(n)));
  // The installed place first: an installed bin/ is shared with other
  // programs, one of which may have the same name.
  const std::string candidates[] = {DirectoryOf(dir) + "/libexec/strata/" + name, dir + "/" + name};
  *looked = candidates[0] + " or " + candidates[1];
  for (const std::string& candidate : candidates) {
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      return candidate;
  }
  return "";
}

bool PackageBuilder::Build(std::string* error) {
  m_warnings.clear();
  m_bSameAsBefore = false;
  // The output first, so that a name that cannot take the package is
  // refused before a large directory is scanned and packed for nothing; the
  // temporary file proves that its directory takes a new file.
  if (!CheckOutputName(error))
    return false;
  AtomicFile output(m_options.output);
  if (!output.Create(error))
    return false;
  Inputs inputs;
  if (!OpenInputs(&inputs, error) || !CheckOutput(inputs, error))
    return false;
  if (!Assemble(&inputs, output.Descriptor(), error))
    return false;
  m_bSameAsBefore = SameAsOutput(output.Descriptor());
  return output.Commit(0755, error);
}

bool PackageBuilder::CheckOutputName(std::string* error) {
  const std::string& path = m_options.output;
  if (path.empty()) {
    *error = "the output file name is empty";
    return false;
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    *error = path + ": is a directory";
    return false;
  }
  if (path.back() == '/') {
    *error = path + ": not a file name (it ends in /)";
    return false;
  }
  return true;
}

bool PackageBuilder::OpenInputs(Inputs* inputs, std::string* error) {
  inputs->type = FindArchiveType(m_options.type);
  if (!inputs->type) {
    *error =
        "unknown archive type '" + m_options.type + "' (the types are " + ArchiveTypeNames() + ")";
    return false;
  }
  if (m_options.checksumKind != kChecksumNone &&
      Checksum::DigestSize(m_options.checksumKind) == 0) {
    *error = "unknown checksum kind " + std::to_string(m_options.checksumKind);
    return false;
  }

  return OpenLauncher(inputs, error) && OpenDecompressor(inputs, error) &&
         OpenArchive(inputs, error);
}

bool PackageBuilder::OpenLauncher(Inputs* inputs, std::string* error) {
  inputs->launcherPath = m_options.launcher;
  if (inputs->launcherPath.empty()) {
    std::string looked;
    inputs->launcherPath = CarriedProgramPath("launcher", &looked);
    if (inputs->launcherPath.empty()) {
      *error = looked.empty()
                   ? "cannot find the launcher beside mkpackage; give --launcher FILE"
                   : "cannot find the launcher (looked for " + looked + "); give --launcher FILE";
      return false;
    }
  }
  if (!OpenRegular(inputs->launcherPath, &inputs->launcher, &inputs->launcherStat, error))
    return false;
  std::vector<uint64_t> offsets;
  std::string reason;
  if (!FindRecordMagic(inputs->launcher.Get(), static_cast<uint64_t>(inputs->launcherStat.st_size),
                       2, &offsets, &reason)) {
    *error = inputs->launcherPath + ": " + reason;
    return false;
  }
  if (offsets.empty()) {
    // Never written over: a record of another layout has its fields
    // elsewhere.
    std::vector<uint64_t> older;
    if (FindRecordMagic(inputs->launcher.Get(), static_cast<uint64_t>(inputs->launcherStat.st_size),
                        1, &older, &reason, FirstLayoutMagic().c_str()) &&
        !older.empty()) {
      *error = inputs->launcherPath +
               ": a launcher of an older package record layout; take the launcher that came "
               "with this mkpackage";
      return false;
    }
    *error = inputs->launcherPath + ": not a launcher (it holds no package record)";
    return false;
  }
  if (offsets.size() > 1) {
    *error = inputs->launcherPath + ": ambiguous launcher (it holds more than one package record)";
    return false;
  }
  inputs->recordOffset = offsets[0];
  const uint64_t launcherSize = static_cast<uint64_t>(inputs->launcherStat.st_size);
  PackageRecord record;
  if (inputs->recordOffset + sizeof record > launcherSize ||
      !ReadRecordAt(inputs->launcher.Get(), inputs->recordOffset, &record, &reason)) {
    *error = inputs->launcherPath + ": not a launcher (its package record is cut short)";
    return false;
  }
  // A whole package would be carried as the new package's launcher. Its
  // launcher piece alone would do no harm, but cannot be told from a
  // package whose pieces are small, so only a record as built is taken.
  if (PiecesFitAfterRecord(record, inputs->recordOffset, launcherSize) &&
      !HoldsBuiltInValues(record)) {
    *error = inputs->launcherPath + ": a package, not a launcher (its record describes " +
             std::to_string(record.extractorLength) + " bytes of decompressor and " +
             std::to_string(record.archiveLength) + " bytes of archive after it)";
    return false;
  }
  if (!HoldsBuiltInValues(record)) {
    *error = inputs->launcherPath +
             ": not a launcher as built (an earlier build has filled in its package record)";
    return false;
  }

  return true;
}

bool PackageBuilder::OpenDecompressor(Inputs* inputs, std::string* error) {
  const ArchiveType& type = *inputs->type;
  std::string program;
  switch (m_options.decompressorChoice) {
    case BuildOptions::kNoDecompressor:
      if (type.needsDecompressor) {
        *error = "type " + std::string(type.name) +
                 " needs a decompressor; --no-decompressor suits only tgz and tz";
        return false;
      }
      return true;
    case BuildOptions::kDefaultDecompressor: {
      if (!type.needsDecompressor)
        return true;
      const char* name = DefaultDecompressor(type.name);
      if (name == nullptr) {
        *error =
            "type " + std::string(type.name) + " needs a decompressor; give --decompressor PROGRAM";
        return false;
      }
      std::string looked;
      program = CarriedProgramPath(name, &looked);
      if (program.empty()) {
        *error = "cannot find " + std::string(name) +
                 (looked.empty() ? "" : " (looked for " + looked + ")") +
                 "; give --decompressor PROGRAM";
        return false;
      }
      break;
    }
    case BuildOptions::kGivenDecompressor:
      program = m_options.decompressor;
      if (!type.needsDecompressor)
        m_warnings.push_back("type " + std::string(type.name) + " does not use a decompressor; " +
                             program + " is carried but unused");
      break;
  }
  std::string path = FindOnPath(program);
  if (path.empty()) {
    *error = "cannot find the program " + program + " on PATH";
    return false;
  }
  if (!OpenRegular(path, &inputs->decompressor, &inputs->decompressorStat, error))
    return false;
  uint64_t size = static_cast<uint64_t>(inputs->decompressorStat.st_size);
  if (!CheckPieceSize(path, "the decompressor", size, error))
    return false;
  // The launcher makes its copy executable, but a file that nobody may run
  // is most likely not a program at all.
  if ((inputs->decompressorStat.st_mode & 0111) == 0)
    m_warnings.push_back(path + " is not executable; is it a decompressor program?");
  // The package runs it on machines the builder knows nothing of.
  ProgramLinkage linkage;
  std::string reason;
  if (!ReadProgramLinkage(inputs->decompressor.Get(), &linkage, &reason)) {
    *error = path + ": " + reason;
    return false;
  }
  if (linkage.Dynamic()) {
    m_warnings.push_back(path + " is dynamically linked: the package unpacks only where " +
                         linkage.Needs() +
                         " can be found (strata-bunzip2 and strata-unzstd need nothing)");
  }
  inputs->decompressorPath = path;
  return true;
}

bool PackageBuilder::OpenArchive(Inputs* inputs, std::string* error) {
  const ArchiveType& type = *inputs->type;
  const std::string& path = m_options.archive;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    if (type.compressor.empty()) {
      *error = path + ": cannot make a " + std::string(type.name) +
               " archive from a directory (only bz2, tgz and tzst); give a prepared archive file";
      return false;
    }
    if (m_options.longWindow && type.longWindowCompressor.empty()) {
      *error = "--long suits only type tzst";
      return false;
    }
    inputs->fromDirectory = true;
    if (!inputs->directory.Scan(path, error))
      return false;
    inputs->unpackedSize = inputs->directory.Contents().Size();
    // Opened without waiting: a FIFO in its place must not hang the build.
    ScopedFd setup(
        open((inputs->directory.Root() + "/Bin/setup").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat setupStat;
    if (setup.Get() >= 0 && (fstat(setup.Get(), &setupStat) != 0 || !S_ISREG(setupStat.st_mode)))
      setup.Reset(-1);
    return CheckProduct(inputs->directory.Contents(), setup.Get(), error);
  }
  if (m_options.longWindow) {
    *error = "--long compresses a directory; " + path + " is carried as it is";
    return false;
  }
  if (!OpenRegular(path, &inputs->archive, &inputs->archiveStat, error))
    return false;
  uint64_t size = static_cast<uint64_t>(inputs->archiveStat.st_size);
  if (!CheckPieceSize(path, "the archive", size, error))
    return false;
  // A mismatch is most likely the wrong file or the wrong --type, but an
  // archive of an unusual make may still extract, so it is only a warning.
  if (!type.signature.empty()) {
    std::string start(type.signature.size(), '\0');
    size_t got = 0;
    bool read = PreadFull(inputs->archive.Get(), &start[0], start.size(), 0, &got);
    if (read && (got < start.size() || start != type.signature))
      m_warnings.push_back(path + " does not look like a " + std::string(type.name) + " archive");
  }
  return MeasureArchive(inputs, error);
}

bool PackageBuilder::MeasureArchive(Inputs* inputs, std::string* error) {
  const std::string& path = m_options.archive;
  UnpackedContents contents;
  std::string reason;
  if (!contents.ReadArchive(inputs->archive.Get(), &reason)) {
    m_warnings.push_back("cannot read " + path + " through (" + reason +
                         "); the package records no unpacked size, and the launcher checks only "
                         "the room for its decompressor");
    return true;
  }
  inputs->unpackedSize = contents.Size();
  // Its Bin/setup is read from a copy: ProgramLinkage reads files.
  const std::string& program = contents.SetupProgram();
  ScopedFd setup;
  if (!program.empty()) {
    setup.Reset(memfd_create("mkpackage-setup", MFD_CLOEXEC));
    if (setup.Get() < 0 || !WriteAll(setup.Get(), program.data(), program.size())) {
      *error = "cannot look into " + path + "'s Bin/setup: " + ErrnoText(errno);
      return false;
    }
  }
  return CheckProduct(contents, setup.Get(), error);
}

bool PackageBuilder::CheckProduct(const UnpackedContents& contents, int setupFd,
                                  std::string* error) {
  ProductCheck check(m_options.archive, contents, setupFd);
  return check.Run(m_options.noSecondStage, &m_warnings, error);
}

bool PackageBuilder::CheckOutput(const Inputs& inputs, std::string* error) {
  const std::string& path = m_options.output;
  if (inputs.fromDirectory) {
    // A package inside the tree it packs would be packed by the next build,
    // and the one after would grow again.
    char* resolved = realpath(DirectoryOf(path).c_str(), nullptr);
    if (resolved) {
      std::string dir = resolved;
      free(resolved);
      const std::string& root = inputs.directory.Root();
      if (dir == root || dir.compare(0, root.size() + 1, root + "/") == 0) {
        *error = path + ": the output would lie inside the directory being packed";
        return false;
      }
    }
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return true;
  // The rename would replace an input that may not be rebuilt so easily.
  bool clash = SameFile(st, inputs.launcherStat) ||
               (!inputs.decompressorPath.empty() && SameFile(st, inputs.decompressorStat)) ||
               (!inputs.fromDirectory && SameFile(st, inputs.archiveStat));
  if (clash) {
    *error = path + ": the output would replace one of the inputs";
    return false;
  }
  return true;
}

bool PackageBuilder::SameAsOutput(int fd) const {
  ScopedFd before(open(m_options.output.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (before.Get() < 0 || fstat(before.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) != m_nWrittenSize)
    return false;
  std::vector<char> a(1 << 20), b(1 << 20);
  for (uint64_t offset = 0; offset < m_nWrittenSize;) {
    size_t gotA = 0, gotB = 0;
    if (!PreadFull(fd, a.data(), a.size(), offset, &gotA) ||
        !PreadFull(before.Get(), b.data(), b.size(), offset, &gotB) || gotA != gotB || gotA == 0 ||
        memcmp(a.data(), b.data(), gotA) != 0)
      return false;
    offset += gotA;
  }
  return true;
}

bool PackageBuilder::PackDirectory(Inputs* inputs, int fd, uint64_t archiveStart,
                                   std::string* error) {
  const ArchiveType& type = *inputs->type;
  const std::vector<std::string>& compressor =
      m_options.longWindow ? type.longWindowCompressor : type.compressor;
  std::string how = compressor[0];
  for (size_t i = 1; i < compressor.size() && compressor[i] != "-T0" && compressor[i] != "-q" &&
                     compressor[i] != "-c" && compressor[i] != "-n";
       ++i)
    how += " " + compressor[i];
  Progress::Step step(m_pProgress,
                      "compressing " + m_options.archive + " (" +
                          MegabytesText(inputs->unpackedSize) + ") with " + how,
                      [fd, archiveStart] {
                        struct stat st;
                        uint64_t size = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
                        return MegabytesText(size > archiveStart ? size - archiveStart : 0) +
                               " written";
                      });
  if (!inputs->directory.Write(compressor, fd, error)) {
    *error = "cannot pack " + m_options.archive + ": " + *error;
    return false;
  }
  return true;
}

bool PackageBuilder::Assemble(Inputs* inputs, int fd, std::string* error) {
  const std::string& output = m_options.output;
  auto copy = [&](int from, const std::string& fromPath, uint64_t* copied) {
    bool writeFailed = false;
    if (lseek(from, 0, SEEK_SET) != 0 || !CopyToEnd(from, fd, copied, &writeFailed)) {
      int err = errno;
      *error = (writeFailed ? "cannot write " + output : fromPath) + ": " + ErrnoText(err);
      return false;
    }
    return true;
  };

  uint64_t launcherLength;
  if (!copy(inputs->launcher.Get(), inputs->launcherPath, &launcherLength))
    return false;
  // The record must still be where the scan found it.
  PackageRecord record;
  std::string reason;
  if (launcherLength != static_cast<uint64_t>(inputs->launcherStat.st_size) ||
      !ReadRecordAt(fd, inputs->recordOffset, &record, &reason) ||
      memcmp(record.magic, STRATA_PACKAGE_RECORD_MAGIC, sizeof record.magic) != 0) {
    *error = inputs->launcherPath + ": the launcher changed while it was read";
    return false;
  }

  uint64_t extractorLength = 0;
  if (!inputs->decompressorPath.empty()) {
    if (!copy(inputs->decompressor.Get(), inputs->decompressorPath, &extractorLength))
      return false;
    if (extractorLength == 0 || extractorLength > kMaxPieceLength) {
      *error = inputs->decompressorPath + ": the decompressor changed while it was read";
      return false;
    }
  }

  uint64_t archiveLength = 0;
  if (inputs->fromDirectory) {
    if (!PackDirectory(inputs, fd, launcherLength + extractorLength, error))
      return false;
    off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
      *error = "cannot write " + output + ": " + ErrnoText(errno);
      return false;
    }
    archiveLength = static_cast<uint64_t>(end) - launcherLength - extractorLength;
    if (archiveLength > kMaxPieceLength) {
      *error = m_options.archive + ": " + TooLarge("the packed archive", archiveLength);
      return false;
    }
  } else {
    if (!copy(inputs->archive.Get(), m_options.archive, &archiveLength))
      return false;
    if (archiveLength == 0 || archiveLength > kMaxPieceLength) {
      *error = m_options.archive + ": the archive changed while it was read";
      return false;
    }
  }

  record.archiveLength = static_cast<int32_t>(archiveLength);
  record.extractorLength = static_cast<int32_t>(extractorLength);
  return FillRecord(*inputs, fd, launcherLength, &record, error);
}

bool PackageBuilder::FillRecord(const Inputs& inputs, int fd, uint64_t launcherLength,
                                PackageRecord* filled, std::string* error) {
  const std::string& output = m_options.output;
  PackageRecord& record = *filled;
  memset(record.archiveType, 0, sizeof record.archiveType);
  memcpy(record.archiveType, inputs.type->name, strlen(inputs.type->name));
  record.checksumKind = m_options.checksumKind;
  memset(record.checksum, 0, sizeof record.checksum);
  record.layout = kPackageRecordLayout;
  record.unpackedSize = inputs.unpackedSize;
  if (m_options.checksumKind != kChecksumNone) {
    // What was written, read back: the digest covers the bytes in the
    // package.
    Checksum checksum(m_options.checksumKind);
    if (!DigestToEnd(fd, launcherLength, "cannot read back " + output, &checksum, error))
      return false;
    checksum.Final(record.checksum);
  }
  std::string reason;
  if (!WriteRecordAt(fd, inputs.recordOffset, record, &reason)) {
    *error = "cannot write " + output + ": " + reason;
    return false;
  }
  m_written = record;
  m_nWrittenSize = launcherLength + static_cast<uint64_t>(record.extractorLength) +
                   static_cast<uint64_t>(record.archiveLength);
  return true;
}
