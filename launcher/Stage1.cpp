#include "launcher/Stage1.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/CurrentDirectory.h"
#include "common/DirectoryListing.h"
#include "common/Format.h"
#include "common/FreeBytes.h"
#include "common/IsOneOf.h"
#include "common/Path.h"
#include "common/SecondStageHandover.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "common/WaitStatus.h"
#include "launcher/ArchiveChunks.h"
#include "launcher/ExtractionCommand.h"
#include "launcher/ExtractionRoom.h"
#include "launcher/FileSizeLimit.h"
#include "launcher/PackageFile.h"
#include "launcher/PackageQuery.h"
#include "launcher/PackageReport.h"
#include "launcher/Sink.h"
#include "package/Checksum.h"
#include "package/ExtractionMark.h"
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
// Inside an --extract-only directory: what is unpacked there, until it has
// all arrived and is moved up into the directory itself.
const char kStagingName[] = ".xxunpacking.tmp";

const char kDamagedChecksum[] =
    "\nError: the package is damaged (its checksum does not match); download it again\n";
const char kDamagedLength[] =
    "\nError: the package is damaged (it is shorter than its record says); download it again\n";
const char kForeignDirectory[] =
    "\nError: ./qzsetup exists and was not made by an installation package; move it away or "
    "start the package from another directory\n";

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

// A message of the launcher: on standard output, or, when silent, on
// standard error, where an automated run's log keeps it.
void Report(bool silent, const std::string& message) {
  if (silent)
    fprintf(stderr, "%s", message.c_str());
  else
    printf("%s", message.c_str());
  fflush(nullptr);
}

void ReportShortRead(bool silent, const PackageFile::Piece& piece, int expected,
                     const std::string& reason) {
  Report(silent, FormatText("\nError: short read (%d/%d bytes) (%s)\n",
                            static_cast<int>(piece.count), expected, reason.c_str()));
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

// The decompressor piece in a file that lives in memory only, for --list,
// which writes nothing: true with *path, the name by which a child that
// inherits *fd runs it; false with *error.
bool DecompressorInMemory(PackageFile* package, const PackageFile::Piece& piece, int length,
                          int* fd, std::string* path, std::string* error) {
  // Not close-on-exec: the listing command's decompressor runs it by the
  // descriptor it inherits.
  *fd = memfd_create("xxextract", 0);
  if (*fd < 0) {
    *error = FormatText("cannot hold the decompressor in memory: %s", ErrnoText(errno));
    return false;
  }
  *path = FormatText("/proc/self/fd/%d", *fd);
  Sink copy;
  return copy.OpenFile(path->c_str(), O_WRONLY, 0, error) &&
         package->Copy(piece, 0, length, &copy, error) && copy.Close(error);
}

}  // namespace

struct Stage1::Run {
  Run(int archiveBytes, int extractorBytes, char* type, int count, char** args)
      : archiveLength(archiveBytes),
        extractorLength(extractorBytes),
        archiveType(type),
        argc(count),
        argv(args) {}

  const int archiveLength;
  const int extractorLength;
  char* const archiveType;
  const int argc;
  char** const argv;
  bool silent = false;
  int status = 0;  // -1 after a short read
  PackageQuery query;

  PackageFile package;
  bool fits = false;  // the record's pieces fit in the file
  PackageFile::Piece extractor = {0, 0};
  PackageFile::Piece archive = {0, 0};
  bool archiveShort = false;
  PackageFacts::Verdict verdict = PackageFacts::kNoChecksum;
  // The digest found, in hexadecimal, after a mismatch; why a piece was read
  // short, after a short read.
  std::string actualDigest;
  uint64_t sizeLimit = 0;  // the file-size limit, 0 for none

  // Only while it exists: Abandon removes it.
  bool decompressorWritten = false;
  std::string decompressorPath;
  bool targetExisted = false;  // the --extract-only directory was there
  // The directory this run unpacks into, and the tree that a failure or a
  // signal removes: "./qzsetup" both; for --extract-only a staging
  // directory inside the user's, and the user's too if this run made it.
  // They stay unchanged while registered for removal on a signal.
  std::string target;
  std::string madeTree;
  struct sigaction savedFileSizeAction = {};
  std::string failure;
};

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

void Stage1::Main(int archiveLength, int extractorLength, char* archiveType, int argc,
                  char** argv) {
  Run run(archiveLength, extractorLength, archiveType, argc, argv);
  ParseCmdLine(argc, argv);
  run.silent = (m_nFlags & kSilent) != 0;
  TakeQuery(&run);
  if (run.query.kind == PackageQuery::kInfo || run.query.kind == PackageQuery::kList) {
    OpenPackage(&run);
    ReadPieces(&run);
    if (run.query.kind == PackageQuery::kInfo)
      ShowInfo(&run);
    ListArchive(&run);
  }
  CheckDestination(&run);
  CheckPackage(&run);
  CheckRoom(&run);
  PrepareTarget(&run);
  Unpack(&run);
  Finish(&run);
}

void Stage1::TakeQuery(Run* run) {
  std::string problem;
  if (!PackageQuery::Find(run->argc, run->argv, &run->query, &problem))
    Bail(-1, problem.c_str());
}

void Stage1::OpenPackage(Run* run) {
  if (run->archiveLength < 0 || run->extractorLength < 0)
    Bail(-1, "\nError: Internal error -- bad piece lengths\n");
  // The package's own file, whatever name it was started by: argv[0] only
  // serves where /proc is missing, and only as a path, since a bare name
  // found on PATH says nothing about the working directory.
  const char* self = run->argc > 0 ? run->argv[0] : nullptr;
  const char* fallback = self != nullptr && strchr(self, '/') != nullptr ? self : nullptr;
  std::string openError;
  if (!run->package.Open(m_szPackagePath.c_str(), fallback, &openError)) {
    Bail(-1, FormatText("\nError: cannot open the package file %s (%s)\n", self ? self : "",
                        openError.c_str())
                 .c_str());
  }
  // A record whose pieces do not fit in the file would have the launcher
  // read its own code as the decompressor, or pad the pieces with zeros.
  run->fits =
      static_cast<int64_t>(run->archiveLength) + run->extractorLength <= run->package.Size();
}

void Stage1::ReadPieces(Run* run) {
  if (!run->fits) {
    run->verdict = PackageFacts::kDoesNotFit;
    return;
  }
  Checksum sum(m_nChecksumKind);
  Checksum* digest = m_nChecksumKind != kChecksumNone ? &sum : nullptr;
  if (digest != nullptr && !sum.Valid()) {
    run->verdict = PackageFacts::kUnknownKind;
    return;
  }
  // Reported at once, unless only asked about: the run goes on after a short
  // read, and the message says why it fails later.
  const bool report = run->query.kind != PackageQuery::kInfo;
  std::string reason;
  if (run->extractorLength != 0 &&
      !run->package.ReadTail(static_cast<int64_t>(run->archiveLength) + run->extractorLength,
                             run->extractorLength, digest, &run->extractor, &reason)) {
    if (report)
      ReportShortRead(run->silent, run->extractor, run->extractorLength, reason);
    run->status = -1;
    run->actualDigest = reason;
  }
  run->archiveShort = !run->package.ReadTail(run->archiveLength, run->archiveLength, digest,
                                             &run->archive, &reason);
  if (run->archiveShort) {
    if (report)
      ReportShortRead(run->silent, run->archive, run->archiveLength, reason);
    run->status = -1;
    run->actualDigest = reason;
  }
  if (digest == nullptr) {
    run->verdict = run->status == 0 ? PackageFacts::kNoChecksum : PackageFacts::kUnreadable;
    return;
  }
  unsigned char found[Checksum::kMaxDigestSize];
  sum.Final(found);
  const size_t size = Checksum::DigestSize(m_nChecksumKind);
  run->verdict = PackageFacts::kVerified;
  if (memcmp(found, m_checksumDigest, size) != 0) {
    run->verdict = PackageFacts::kMismatch;
    run->actualDigest = Checksum::ToHex(found, size);
  }
}

void Stage1::ShowInfo(Run* run) {
  PackageFacts facts;
  char* path = realpath(run->package.OpenedPath().c_str(), nullptr);
  facts.path = path != nullptr ? path : run->package.OpenedPath();
  free(path);
  facts.fileSize = run->package.Size();
  facts.record.archiveLength = run->archiveLength;
  facts.record.extractorLength = run->extractorLength;
  snprintf(facts.record.archiveType, sizeof facts.record.archiveType, "%s",
           run->archiveType != nullptr ? run->archiveType : "");
  facts.record.checksumKind = m_nChecksumKind;
  memcpy(facts.record.checksum, m_checksumDigest, sizeof facts.record.checksum);
  facts.record.unpackedSize = m_nUnpackedSize;
  facts.verdict = run->verdict;
  facts.actual = run->actualDigest;
  // Only looked at, never opened: a FIFO there must not hold the answer up.
  struct stat st;
  if (stat((facts.path + ".minisig").c_str(), &st) == 0)
    facts.signature = S_ISREG(st.st_mode) ? PackageFacts::kSignatureFile : PackageFacts::kOtherFile;
  // Asked for, so shown even when silent, as the version is.
  printf("%s", PackageReport(facts).c_str());
  fflush(nullptr);
  exit(facts.Sound() ? 0 : -1);
}

void Stage1::ListArchive(Run* run) {
  if (run->verdict == PackageFacts::kDoesNotFit)
    Bail(-1, kDamagedLength);
  if (run->verdict == PackageFacts::kMismatch || run->verdict == PackageFacts::kUnknownKind)
    Bail(-1, kDamagedChecksum);
  if (run->status != 0)
    Bail(-1, "\nError: listing failed (short read of the package); nothing was listed\n");
  int memory = -1;
  std::string decompressor, command, error;
  if (run->extractorLength != 0 &&
      !DecompressorInMemory(&run->package, run->extractor, run->extractorLength, &memory,
                            &decompressor, &error)) {
    Bail(-1, ("\nError: listing failed (" + error + ")\n").c_str());
  }
  if (!MakeListingCommand(run->archiveType, decompressor, &command)) {
    Bail(-1, FormatText("\nError: --list cannot list an archive of type %s; --extract-only DIR "
                        "unpacks it\n",
                        run->archiveType != nullptr ? run->archiveType : "")
                 .c_str());
  }
  Sink sink;
  if (!sink.OpenCommand(command.c_str(), "the listing command", &error))
    Bail(-1, ("\nError: " + error + "\n").c_str());
  if (memory >= 0)
    close(memory);
  std::string failure;
  run->package.Copy(run->archive, 0, run->archiveLength, &sink, &failure);
  std::string closeFailure;
  if (!sink.Close(&closeFailure) && (failure.empty() || sink.PipeBroken()))
    failure = closeFailure;
  if (failure.empty())
    failure = DecompressorFailure(sink.Report());
  if (!failure.empty())
    Bail(-1, ("\nError: listing failed (" + failure + ")\n").c_str());
  exit(0);
}

void Stage1::CheckDestination(Run* run) {
  const bool extractOnly = run->query.kind == PackageQuery::kExtractOnly;
  if (!run->silent) {
    printf("Extracting files for ZephraNetworks installation...");
    fflush(nullptr);
  }
  if (!LockWorkingDirectory()) {
    Bail(-1,
         "\nError: another installation package is running in this directory; start this one "
         "when it has ended\n");
  }
  // Only a package's own leftover is removed; a directory of that name that
  // the user made is theirs.
  struct stat st;
  if (!extractOnly && (lstat(kExtractDir, &st) == 0 || errno != ENOENT) &&
      !IsMarkedExtractionDirectory(kExtractDir)) {
    Bail(-1, kForeignDirectory);
  }
  const std::string& dir = run->query.dir;
  if (extractOnly && stat(dir.c_str(), &st) == 0) {
    std::vector<std::string> names;
    std::string error;
    if (!S_ISDIR(st.st_mode))
      Bail(-1, ("\nError: " + dir + " is not a directory\n").c_str());
    if (!ListDirectory(dir, &names, &error))
      Bail(-1, ("\nError: cannot read " + error + "\n").c_str());
    if (!names.empty()) {
      Bail(-1, ("\nError: " + dir +
                " is not empty; --extract-only unpacks into a missing or "
                "empty directory\n")
                   .c_str());
    }
    run->targetExisted = true;
  } else if (extractOnly && errno != ENOENT) {
    Bail(-1, FormatText("\nError: cannot use %s: %s\n", dir.c_str(), ErrnoText(errno)).c_str());
  }
}

void Stage1::CheckPackage(Run* run) {
  OpenPackage(run);
  ReadPieces(run);
  if (run->verdict == PackageFacts::kDoesNotFit)
    Bail(-1, m_nChecksumKind != kChecksumNone ? kDamagedChecksum : kDamagedLength);
  if (run->verdict == PackageFacts::kUnknownKind)
    Bail(-1, "\nError: Internal error -- unknown checksum kind\n");
  if (run->verdict == PackageFacts::kMismatch) {
    // Never leave a decompressor behind from a package that failed its check.
    unlink(kTempName);
    Bail(-1, kDamagedChecksum);
  }
}

void Stage1::CheckRoom(Run* run) {
  const bool extractOnly = run->query.kind == PackageQuery::kExtractOnly;
  const std::string& dir = run->query.dir;
  // Room for everything this run writes, before it writes anything: a file
  // system that fills up halfway leaves a broken extraction and a full disk.
  // An unknown type writes no archive file; it ends further on.
  std::string ignored;
  const char* archiveFile = nullptr;
  const bool fileMode =
      MakeExtractionCommand(run->archiveType, "", kExtractDir, &ignored, &archiveFile) &&
      archiveFile != nullptr;
  ExtractionRoom room(run->extractorLength, run->archiveLength, fileMode, m_nUnpackedSize);
  std::string where, message;
  if (extractOnly)
    where = run->targetExisted ? dir : DirectoryOf(dir);
  else if (!CurrentDirectory(&where))
    where = ".";
  if (!room.FitsIn(where, &message))
    Bail(-1, message.c_str());
  // A file that this run writes itself and that the file-size limit cannot
  // hold is refused now; what tar writes is found after a failure.
  run->sizeLimit = FileSizeLimit();
  const uint64_t limit = run->sizeLimit;
  std::string tooLarge;
  uint64_t size = 0;
  if (limit != 0 && static_cast<uint64_t>(run->extractorLength) > limit) {
    tooLarge = kTempName;
    size = static_cast<uint64_t>(run->extractorLength);
  } else if (limit != 0 && fileMode && static_cast<uint64_t>(run->archiveLength) > limit) {
    tooLarge = (extractOnly ? dir : std::string(kExtractDir)) + "/" + archiveFile;
    size = static_cast<uint64_t>(run->archiveLength);
  }
  if (!tooLarge.empty()) {
    Bail(-1, FormatText("\nError: %s needs %llu bytes, more than the file size limit of %llu bytes "
                        "(ulimit -f); nothing was written\n",
                        tooLarge.c_str(), static_cast<unsigned long long>(size),
                        static_cast<unsigned long long>(limit))
                 .c_str());
  }
}

void Stage1::PrepareTarget(Run* run) {
  const bool extractOnly = run->query.kind == PackageQuery::kExtractOnly;
  // A signal from here on takes along what this run made, and whatever the
  // extraction command started (whose orphans this process then reaps).
  RemoveOnSignal(kTempName);
  if (!extractOnly) {
    run->target = run->madeTree = kExtractDir;
    RemoveTreeOnSignal(run->madeTree.c_str());
  }
  InstallSignalCleanup();
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  // A write past the file-size limit then fails with EFBIG, here and in the
  // extraction command, which inherits the setting, instead of killing the
  // writer and leaving its file cut short.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &run->savedFileSizeAction);
  if (run->extractorLength != 0) {
    run->decompressorPath =
        WriteDecompressor(this, &run->package, run->extractor, run->extractorLength);
    run->decompressorWritten = true;
  }
  fflush(nullptr);

  if (extractOnly) {
    const std::string& dir = run->query.dir;
    if (!run->targetExisted && mkdir(dir.c_str(), 0700) != 0)
      Abandon(*run, FormatText("\nError: cannot create %s: %s\n", dir.c_str(), ErrnoText(errno)));
    char* real = realpath(dir.c_str(), nullptr);
    std::string absolute = real != nullptr ? real : dir;
    free(real);
    run->target = absolute + "/" + kStagingName;
    run->madeTree = run->targetExisted ? run->target : absolute;
    RemoveTreeOnSignal(run->madeTree.c_str());
    if (mkdir(run->target.c_str(), 0700) != 0) {
      Abandon(*run,
              FormatText("\nError: cannot create %s: %s\n", run->target.c_str(), ErrnoText(errno)));
    }
    return;
  }
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
    Abandon(*run, "\nError: mkdir failed");
  if (chmod(kExtractDir, 0700) != 0)
    Abandon(*run, "\nError: chmod failed");
  std::string error;
  if (!MarkExtractionDirectory(kExtractDir, &error))
    Abandon(*run, "\nError: " + error + "\n");
}

void Stage1::Unpack(Run* run) {
  std::string command;
  const char* archiveFileName = nullptr;
  if (!MakeExtractionCommand(run->archiveType, run->decompressorPath, run->target.c_str(), &command,
                             &archiveFileName)) {
    Bail(-1, "\nError: Internal error -- unknown archive type\n");
  }
  const bool pipeMode = archiveFileName == nullptr;
  Sink sink;
  std::string error;
  if (pipeMode) {
    if (!sink.OpenCommand(command.c_str(), "the extraction command", &error))
      Abandon(*run, "\nError: " + error + "\n");
    // Room to write ahead while the decompressor works through a block.
    sink.GrowPipe(Sink::kLargestPipe);
  } else {
    const std::string archivePath = FormatText("%s%s%s", run->target.c_str(), "/", archiveFileName);
    if (!sink.OpenFile(archivePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666, &error))
      Abandon(*run, "\nError: " + error + "\n");
  }

  std::string& failure = run->failure;
  ArchiveChunks chunks(run->archiveLength, run->archive.count);
  int64_t offset = 0;
  int64_t length = 0;
  while (chunks.Next(&offset, &length)) {
    if (!run->silent) {
      printf(".");
      fflush(nullptr);
    }
    // After a failure the dots go on, so that the line keeps its length, but
    // nothing more is written.
    if (failure.empty())
      run->package.Copy(run->archive, offset, length, &sink, &failure);
  }
  // A command that stopped reading has mostly failed on its own, and then
  // its status says more than the broken pipe does.
  std::string closeFailure;
  if (!sink.Close(&closeFailure) && (failure.empty() || sink.PipeBroken()))
    failure = closeFailure;
  if (pipeMode && failure.empty())
    failure = DecompressorFailure(sink.Report());
  if (!pipeMode && failure.empty()) {
    if (!run->silent)
      printf("\nDecompressing files... (please wait)\n");
    fflush(nullptr);
    int result = system(command.c_str());
    if (result != 0) {
      failure = result < 0 ? FormatText("cannot run the extraction command: %s", ErrnoText(errno))
                           : WaitStatusText("the extraction command", result);
    }
  }
}

void Stage1::Finish(Run* run) {
  const bool extractOnly = run->query.kind == PackageQuery::kExtractOnly;
  if (run->decompressorWritten) {
    unlink(kTempName);
    ForgetRemoval(kTempName);
    run->decompressorWritten = false;
  }
  // A partly unpacked product is never handed over, nor left behind.
  if (run->archiveShort)
    run->failure = "short read of the archive";
  if (!run->failure.empty())
    Abandon(*run, FailureMessage(*run));
  if (extractOnly)
    MoveIntoDirectory(run);
  // The archive's own "./" member may have widened the directory's mode.
  if (chmod(kExtractDir, 0700) != 0)
    Abandon(*run, "\nError: chmod failed");

  if (!run->silent)
    printf("\n");
  // From here on the second stage owns ./qzsetup, and ends with it.
  ForgetTreeRemoval(kExtractDir);
  sigaction(SIGXFSZ, &run->savedFileSizeAction, nullptr);
  ExportPackageIdentity(run->package);
  RunSecondStage(run->argc, run->argv);
  exit(run->status);
}

std::string Stage1::FailureMessage(const Run& run) {
  const bool extractOnly = run.query.kind == PackageQuery::kExtractOnly;
  const char* outcome = extractOnly ? "nothing was unpacked" : "the installer was not started";
  std::string atLimit;
  if (run.sizeLimit != 0 && FindFileAtLimit(run.target, run.sizeLimit, &atLimit)) {
    // Named as the user knows it: below ./qzsetup, or below their directory.
    if (extractOnly)
      atLimit = run.query.dir + atLimit.substr(run.target.size());
    return "\nError: " + FileSizeLimitText(atLimit, run.sizeLimit) + "; " + outcome + "\n";
  }
  std::string failure = run.failure;
  // Below a megabyte what failed was most likely a write that found no room
  // (the room was checked before, but the record may not know it, and others
  // write too).
  struct statvfs fs;
  if (statvfs(run.target.c_str(), &fs) == 0 && fs.f_blocks != 0 &&
      FreeBytes(fs, geteuid() == 0) < ExtractionRoom::kMegabyte) {
    std::string where;
    if (!CurrentDirectory(&where))
      where = ".";
    failure += "; the file system of " + (extractOnly ? run.query.dir : where) + " is full";
  }
  return "\nError: extraction failed (" + failure + "); " + outcome + "\n";
}

void Stage1::MoveIntoDirectory(Run* run) {
  const std::string dir = DirectoryOf(run->target);
  std::vector<std::string> names;
  std::string error;
  if (!ListDirectory(run->target, &names, &error))
    Abandon(*run, "\nError: cannot read " + error + "\n");
  {
    // The files move into the directory all together or not at all: a
    // signal waits until they have.
    CleanupSignalBlock block;
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string from = run->target + "/" + names[i];
      if (rename(from.c_str(), (dir + "/" + names[i]).c_str()) != 0) {
        const std::string message =
            FormatText("\nError: cannot move %s into %s: %s\n", names[i].c_str(),
                       run->query.dir.c_str(), ErrnoText(errno));
        // Back into the staging directory, which the abandonment removes.
        while (i-- > 0)
          rename((dir + "/" + names[i]).c_str(), (run->target + "/" + names[i]).c_str());
        Abandon(*run, message);
      }
    }
    rmdir(run->target.c_str());
    ForgetTreeRemoval(run->madeTree.c_str());
  }
  if (!run->silent)
    printf("\nUnpacked into %s; the installer was not started\n", run->query.dir.c_str());
  fflush(nullptr);
  exit(run->status);
}

void Stage1::Abandon(const Run& run, const std::string& message) {
  // Whatever this run unpacked goes with it; the second stage never saw it.
  if (!run.madeTree.empty())
    RemoveTreeAt(AT_FDCWD, run.madeTree.c_str());
  if (run.decompressorWritten)
    unlink(kTempName);
  Bail(-1, message.c_str());
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
  if (message != nullptr && *message != '\0') {
    std::string text = message;
    // Alone on standard error, a message ends its line.
    if ((m_nFlags & kSilent) != 0 && text.back() != '\n')
      text += '\n';
    Report((m_nFlags & kSilent) != 0, text);
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
