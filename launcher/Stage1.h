#ifndef STRATA_LAUNCHER_STAGE1_H_
#define STRATA_LAUNCHER_STAGE1_H_

#include <stdint.h>

#include <string>

class PackageFile;

// Base name of argv[0] (a pointer into it), set by Stage1::ParseCmdLine.
extern char* g_szProg;

// Stage one of an installation package: finds the decompressor and the
// archive at the end of its own file, unpacks the archive into "./qzsetup",
// answers --version and --help, and replaces itself with the second-stage
// installer. Asked with "--info", "--list" or "--extract-only DIR", it shows
// its record, lists its archive or unpacks into DIR instead, and starts
// nothing. The process ends inside Main, Bail or ParseCmdLine.
class Stage1 {
 public:
  // Bits of the flag word.
  static const unsigned kSilent = 1;
  static const unsigned kProgressOnly = 2;

  Stage1();
  virtual ~Stage1();

  // Extracts and hands over; ends the process with 0, or -1 after a failure.
  [[noreturn]] virtual void Main(int archiveLength, int extractorLength, char* archiveType,
                                 int argc, char** argv);
  // Starts the second stage from "./qzsetup" with the user's arguments. Does
  // not return when one starts; warns (unless silent) and returns otherwise.
  virtual void RunSecondStage(int argc, char** argv);
  // Prints message (on standard error when silent; nothing when null) and
  // ends the process with status.
  [[noreturn]] virtual void Bail(int status, const char* message);
  virtual void PrintVersion();
  // Usage and option help on standard error.
  virtual void PrintUsage(const char* prog);
  // Sets g_szProg and the flags; ends the process for version and help.
  virtual void ParseCmdLine(int argc, char** argv);

  // The digest that the decompressor piece followed by the archive piece
  // must have (a kind of launcher/PackageRecord.h and its digest bytes). With
  // kind none, the default, the pieces are not checked.
  void SetChecksum(uint32_t kind, const unsigned char* digest);
  // The room the archive's files take once unpacked, from the package
  // record (0, the default: not known); Main refuses to start writing into
  // a file system that has no room for them.
  void SetUnpackedSize(uint64_t bytes) { m_nUnpackedSize = bytes; }
  // The file that holds the package: by default the running program
  // (/proc/self/exe); tests that run Main in-process name their package.
  void SetPackagePath(const char* path);

  unsigned m_nFlags;
  uint32_t m_nChecksumKind;
  unsigned char m_checksumDigest[32];

 private:
  // What one run of Main carries from phase to phase (Stage1.cpp).
  struct Run;

  // The phases of Main, in their order. Each ends the process (through
  // Bail, or Abandon once something is written) when the run cannot go on.
  // Reads "--info", "--list" and "--extract-only DIR".
  void TakeQuery(Run* run);
  // Opens the package's own file; notes whether the pieces fit in it.
  void OpenPackage(Run* run);
  // First pass over both pieces: what the file delivers, and the verdict
  // of the recorded digest. Writes nothing.
  void ReadPieces(Run* run);
  // "--info" and "--list": answer, change nothing, end the process.
  [[noreturn]] void ShowInfo(Run* run);
  [[noreturn]] void ListArchive(Run* run);
  // Before anything is written. Announces the extraction and checks that
  // this run may write where it is going to: the working directory's lock,
  // an earlier ./qzsetup that a package made (or the --extract-only
  // directory, missing or empty).
  void CheckDestination(Run* run);
  // The pieces are there and give the recorded digest.
  void CheckPackage(Run* run);
  // The file system has the room, and the file-size limit lets this run
  // write its own files.
  void CheckRoom(Run* run);
  // Writes the decompressor and makes the directory to unpack into.
  void PrepareTarget(Run* run);
  // Writes the archive to the extraction command, or to its file.
  void Unpack(Run* run);
  // Takes the extraction's outcome: gone after a failure; otherwise handed
  // over, or, for --extract-only, moved into its directory.
  [[noreturn]] void Finish(Run* run);
  // Why the extraction failed, as the launcher's message: a file stopped at
  // the file-size limit, a full file system, or what the command said.
  std::string FailureMessage(const Run& run);
  // For --extract-only: the unpacked files into their directory, then the
  // end of the process.
  [[noreturn]] void MoveIntoDirectory(Run* run);

  // Removes what this run made (the directory it unpacks into, and
  // "xxextract.tmp" while it exists), then ends through Bail with status -1
  // and message.
  [[noreturn]] void Abandon(const Run& run, const std::string& message);
  // Tells the second stage which package it came from: STRATA_PACKAGE_DIGEST
  // ("kind:hex", or "none") and STRATA_PACKAGE_FILE (the file's absolute
  // path).
  void ExportPackageIdentity(const PackageFile& package);

  std::string m_szPackagePath;
  uint64_t m_nUnpackedSize;
};

#endif  // STRATA_LAUNCHER_STAGE1_H_
