#include "launcher/Stage1.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/CurrentDirectory.h"
#include "common/Format.h"
#include "common/IsOneOf.h"
#include "common/SecondStageHandover.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "common/WaitStatus.h"
#include "launcher/ArchiveChunks.h"
#include "launcher/ExtractionCommand.h"
#include "launcher/ExtractionRoom.h"
#include "launcher/PackageFile.h"
#include "launcher/Sink.h"
#include "package/Checksum.h"
#include "package/PackageRecord.h"
#include "product/InstallerBanner.h"
#include "product/PackageInfo.h"

char* g_szProg = nullptr;

const unsigned Stage1::kSilent;
const unsigned Stage1::kProgressOnly;

namespace {

const char kTempName[] = "xxextract.tmp";
const char kExtractDir[] = "./" STRATA_EXTRACTION_DIR_NAME;
const char kSecondStage[] = "Bin/setup";

const char kDamagedChecksum[] =
    "\nError: the package is damaged (its checksum does not match); download it again\n";

// Takes an exclusive lock on the working directory, held by the open
// descriptor, which the second stage inherits: the kernel releases it when
// the last process holding it ends, however it ends. False only when another
// process holds it; where locks are not to be had (a file system without
// them, a directory that cannot be opened) the run goes on unlocked.
bool LockWorkingDirectory() {
  int fd = open(".", O_RDONLY | O_DIRECTORY);
  if (fd < 0)
    return true;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0)
    return true;
  bool busy = errno == EWOULDBLOCK;
  close(fd);
  return !busy;
}

// What a pipe-mode command reported of its decompressor: "" when it ended
// with 0, why the extraction failed otherwise.
std::string DecompressorFailure(const std::string& report) {
  if (report == "0\n")
    return std::string();
  size_t digits = report.find_first_not_of("0123456789");
  if (report.empty() || digits == 0 || report.compare(digits, std::string::npos, "\n") != 0)
    return "the decompressor's status was not reported";
  return "the decompressor exited with status " + report.substr(0, digits);
}

void ReportShortRead(bool silent, const PackageFile::Piece& piece, int expected,
                     const std::string& reason) {
  if (silent)
    return;
  printf("\nError: short read (%d/%d bytes) (%s)\n", static_cast<int>(piece.count), expected,
         reason.c_str());
  fflush(nullptr);
}

// Writes the decompressor piece to the temporary file and returns the file's
// absolute path; ends the run through Bail when that fails.
std::string WriteDecompressor(Stage1* stage1, PackageFile* package, const PackageFile::Piece& piece,
                              int length) {
  unlink(kTempName);
  Sink temp;
  std::string error;
  // Exclusive and never through a link, so that nobody can redirect the
  // write or have a file of theirs run as the decompressor.
  if (!temp.OpenFile(kTempName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0755, &error))
    stage1->Bail(-1, ("\nError: " + error + "\n").c_str());
  bool written = package->Copy(piece, 0, length, &temp, &error);
  // On the open file: by name, after the close, the mode could reach whatever
  // someone put under that name in the meantime. A file system that refuses
  // modes may still let the file run, so a refusal is not fatal.
  std::string ignored;
  temp.SetMode(0755, &ignored);
  if (!written || !temp.Close(&error)) {
    unlink(kTempName);
    stage1->Bail(-1, ("\nError: " + error + "\n").c_str());
  }
  std::string cwd;
  if (!CurrentDirectory(&cwd)) {
    std::string reason = ErrnoText(errno);
    unlink(kTempName);
    stage1->Bail(-1, ("\nError: cannot determine the current directory: " + reason + "\n").c_str());
  }
  // Absolute, because the file-mode commands run it from the extraction
  // directory.
  return FormatText("%s%s%s", cwd.c_str(), "/", kTempName);
}

}  // namespace

Stage1::Stage1()
    : m_nFlags(0),
      m_nChecksumKind(kChecksumNone),
      m_checksumDigest(),
      m_szPackagePath("/proc/self/exe"),
      m_nUnpackedSize(0) {}

Stage1::~Stage1() {}

void Stage1::SetChecksum(uint32_t kind, const unsigned char* digest) {
  m_nChecksumKind = kind;
  memcpy(m_checksumDigest, digest, sizeof m_checksumDigest);
}

void Stage1::SetPackagePath(const char* path) {
  m_szPackagePath = path;
}

void Stage1::Abandon(const char* message, bool decompressorWritten) {
  // Whatever this run unpacked goes with it; the second stage never saw it.
  RemoveTreeAt(AT_FDCWD, kExtractDir);
  if (decompressorWritten)
    unlink(kTempName);
  Bail(-1, message);
  // Reached only if a derived Bail returned.
  exit(-1);
}

void Stage1::ExportPackageIdentity(const PackageFile& package) {
  std::string digest = "none";
  if (m_nChecksumKind != kChecksumNone) {
    digest = std::string(Checksum::KindName(m_nChecksumKind)) + ":" +
             Checksum::ToHex(m_checksumDigest, Checksum::DigestSize(m_nChecksumKind));
  }
  setenv(kPackageDigestVariable, digest.c_str(), 1);
  char* path = realpath(package.OpenedPath().c_str(), nullptr);
  if (path != nullptr) {
    setenv(kPackageFileVariable, path, 1);
    free(path);
  } else {
    unsetenv(kPackageFileVariable);
  }
}

void Stage1::Main(int archiveLength, int extractorLength, char* archiveType, int argc,
                  char** argv) {
  int status = 0;
  ParseCmdLine(argc, argv);
  const bool silent = (m_nFlags & kSilent) != 0;
  if (!silent) {
    printf("Extracting files for ZephraNetworks installation...");
    fflush(nullptr);
  }
  if (archiveLength < 0 || extractorLength < 0)
    Bail(-1, "\nError: Internal error -- bad piece lengths\n");
  if (!LockWorkingDirectory()) {
    Bail(-1,
         "\nError: another installation package is running in this directory; start this one "
         "when it has ended\n");
  }

  // The package's own file, whatever name it was started by: argv[0] only
  // serves where /proc is missing, and only as a path, since a bare name
  // found on PATH says nothing about the working directory.
  PackageFile package;
  const char* self = argc > 0 ? argv[0] : nullptr;
  const char* fallback = self != nullptr && strchr(self, '/') != nullptr ? self : nullptr;
  std::string openError;
  if (!package.Open(m_szPackagePath.c_str(), fallback, &openError)) {
    Bail(-1, FormatText("\nError: cannot open the package file %s (%s)\n", self ? self : "",
                        openError.c_str())
                 .c_str());
  }
  // A record whose pieces do not fit in the file would have the launcher
  // read its own code as the decompressor, or pad the pieces with zeros:
  // nothing is written for such a package.
  if (static_cast<int64_t>(archiveLength) + extractorLength > package.Size()) {
    Bail(-1, m_nChecksumKind != kChecksumNone
                 ? kDamagedChecksum
                 : "\nError: the package is damaged (it is shorter than its record says); "
                   "download it again\n");
  }

  // First pass: find what the file holds of both pieces and check it, before
  // anything on disk is removed or created.
  Checksum sum(m_nChecksumKind);
  Checksum* digest = m_nChecksumKind != kChecksumNone ? &sum : nullptr;
  if (digest != nullptr && !sum.Valid())
    Bail(-1, "\nError: Internal error -- unknown checksum kind\n");
  PackageFile::Piece extractor = {0, 0};
  std::string reason;
  if (extractorLength != 0 &&
      !package.ReadTail(static_cast<int64_t>(archiveLength) + extractorLength, extractorLength,
                        digest, &extractor, &reason)) {
    ReportShortRead(silent, extractor, extractorLength, reason);
    status = -1;
  }
  PackageFile::Piece archive = {0, 0};
  const bool archiveShort =
      !package.ReadTail(archiveLength, archiveLength, digest, &archive, &reason);
  if (archiveShort) {
    ReportShortRead(silent, archive, archiveLength, reason);
    status = -1;
  }
  if (digest != nullptr) {
    unsigned char found[Checksum::kMaxDigestSize];
    sum.Final(found);
    if (memcmp(found, m_checksumDigest, Checksum::DigestSize(m_nChecksumKind)) != 0) {
      // Never leave a decompressor behind from a package that failed its check.
      unlink(kTempName);
      Bail(-1, kDamagedChecksum);
    }
  }

  // Room for everything this run writes, before it writes anything: a file
  // system that fills up halfway leaves a broken extraction and a full disk.
  // An unknown type writes no archive file; it ends further on.
  {
    std::string ignored;
    const char* archiveFile = nullptr;
    bool fileMode = MakeExtractionCommand(archiveType, "", kExtractDir, &ignored, &archiveFile) &&
                    archiveFile != nullptr;
    ExtractionRoom room(extractorLength, archiveLength, fileMode, m_nUnpackedSize);
    std::string cwd, message;
    if (!CurrentDirectory(&cwd))
      cwd = ".";
    if (!room.FitsIn(cwd, &message))
      Bail(-1, message.c_str());
  }

  // Second pass: write the decompressor out, then the archive in chunks. A
  // signal from here on takes along what this run made, and whatever the
  // extraction command started (whose orphans this process then reaps).
  RemoveOnSignal(kTempName);
  RemoveTreeOnSignal(kExtractDir);
  InstallSignalCleanup();
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::string decompressorPath;
  if (extractorLength != 0)
    decompressorPath = WriteDecompressor(this, &package, extractor, extractorLength);

  fflush(nullptr);
  // A shell and rm cost a small package more than its whole check; with
  // nothing by that name there is nothing for them to remove.
  struct stat earlier;
  if (lstat(kExtractDir, &earlier) == 0 || errno != ENOENT) {
    system("rm -rf ./" STRATA_EXTRACTION_DIR_NAME);
    // A target whose search path has no rm (a shell and tar are all a
    // package needs) still gets the earlier directory removed.
    if (lstat(kExtractDir, &earlier) == 0)
      RemoveTreeAt(AT_FDCWD, kExtractDir);
  }
  if (mkdir(kExtractDir, 0700) != 0)
    Abandon("\nError: mkdir failed", extractorLength != 0);
  if (chmod(kExtractDir, 0700) != 0)
    Abandon("\nError: chmod failed", extractorLength != 0);

  std::string command;
  const char* archiveFileName = nullptr;
  if (!MakeExtractionCommand(archiveType, decompressorPath, kExtractDir, &command,
                             &archiveFileName)) {
    Bail(-1, "\nError: Internal error -- unknown archive type\n");
  }
  const bool pipeMode = archiveFileName == nullptr;

  ArchiveChunks chunks(archiveLength, archive.count);
  Sink sink;
  std::string archivePath;
  if (pipeMode) {
    std::string error;
    if (!sink.OpenCommand(command.c_str(), "the extraction command", &error))
      Abandon(("\nError: " + error + "\n").c_str(), extractorLength != 0);
    // Room to write ahead while the decompressor works through a block.
    sink.GrowPipe(Sink::kLargestPipe);
  } else {
    archivePath = FormatText("%s%s%s", kExtractDir, "/", archiveFileName);
    std::string error;
    if (!sink.OpenFile(archivePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666, &error))
      Abandon(("\nError: " + error + "\n").c_str(), extractorLength != 0);
  }

  std::string failure;
  int64_t offset = 0;
  int64_t length = 0;
  while (chunks.Next(&offset, &length)) {
    if (!silent) {
      printf(".");
      fflush(nullptr);
    }
    // After a failure the dots go on, so that the line keeps its length, but
    // nothing more is written.
    if (failure.empty())
      package.Copy(archive, offset, length, &sink, &failure);
  }
  // A command that stopped reading has mostly failed on its own, and then
  // its status says more than the broken pipe does.
  std::string closeFailure;
  if (!sink.Close(&closeFailure) && (failure.empty() || sink.PipeBroken()))
    failure = closeFailure;
  if (pipeMode && failure.empty())
    failure = DecompressorFailure(sink.Report());
  if (!pipeMode && failure.empty()) {
    if (!silent)
      printf("\nDecompressing files... (please wait)\n");
    fflush(nullptr);
    int result = system(command.c_str());
    if (result != 0) {
      failure = result < 0 ? FormatText("cannot run the extraction command: %s", ErrnoText(errno))
                           : WaitStatusText("the extraction command", result);
    }
  }

  if (extractorLength != 0) {
    unlink(kTempName);
    ForgetRemoval(kTempName);
  }
  // A partly unpacked product is never handed over, nor left behind.
  if (archiveShort)
    failure = "short read of the archive";
  if (!failure.empty()) {
    Abandon(
        ("\nError: extraction failed (" + failure + "); the installer was not started\n").c_str(),
        false);
  }
  // The archive's own "./" member may have widened the directory's mode.
  if (chmod(kExtractDir, 0700) != 0)
    Abandon("\nError: chmod failed", false);

  if (!silent)
    printf("\n");
  // From here on the second stage owns ./qzsetup, and ends with it.
  ForgetTreeRemoval(kExtractDir);
  ExportPackageIdentity(package);
  RunSecondStage(argc, argv);
  exit(status);
}

void Stage1::RunSecondStage(int argc, char** argv) {
  fflush(nullptr);
  if (chdir(kExtractDir) == 0) {
    struct Candidate {
      const char* format;
      const char* interpreter;  // null: the file itself is started
    };
    static const Candidate kCandidates[] = {
        {".%s%s", nullptr},
        {".%s%s.sh", "bash"},
        {".%s%s.pl", "perl"},
        {".%s%s.py", "python"},
    };
    for (const Candidate& candidate : kCandidates) {
      std::string path = FormatText(candidate.format, "/", kSecondStage);
      struct stat st;
      if (stat(path.c_str(), &st) != 0)
        continue;
      // Only the pointers are copied; the strings stay argv's.
      std::vector<char*> args;
      if (candidate.interpreter == nullptr) {
        chmod(path.c_str(), 0755);
        args.push_back(&path[0]);
      } else {
        args.push_back(const_cast<char*>(candidate.interpreter));
        args.push_back(&path[0]);
      }
      for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
      args.push_back(nullptr);
      execvp(args[0], args.data());
      // Not started: the next candidate may be.
    }
  }
  if (!(m_nFlags & kSilent)) {
    printf("Warning: second stage installer not found!\n");
    fflush(nullptr);
  }
}

void Stage1::Bail(int status, const char* message) {
  if (!(m_nFlags & kSilent) && message != nullptr) {
    printf("%s", message);
    fflush(nullptr);
  }
  exit(status);
}

void Stage1::PrintVersion() {
  printf("%s\n", InstallerBanner());
  fflush(nullptr);
}

void Stage1::PrintUsage(const char* prog) {
  fprintf(stderr, "\nUsage: %s [options]\n", prog);
  char* help = PackageInfo::CommandLineHelpString();
  fprintf(stderr, "\nWhere options are:\n%s\n", help);
  delete[] help;
  fflush(nullptr);
}

void Stage1::ParseCmdLine(int argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr) {
    char* name = argv[0] + strlen(argv[0]);
    while (name > argv[0] && name[-1] != '/' && name[-1] != '\\')
      --name;
    g_szProg = name;
  }
  // Version and help first, so that no later option can silence them.
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr)
      continue;
    if (IsOneOf(arg, {"--version", "-v"})) {
      PrintVersion();
      Bail(-1, "");
    }
    if (IsOneOf(arg, {"--help", "-h", "-?", "/?"})) {
      PrintVersion();
      PrintUsage("installer");
      Bail(-1, "");
    }
  }
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr)
      continue;
    if (IsOneOf(arg, {"--silent", "-s", "/s"}))
      m_nFlags |= kSilent | kProgressOnly;
    else if (IsOneOf(arg, {"--progress-only", "-p"}))
      m_nFlags |= kProgressOnly;
  }
}
