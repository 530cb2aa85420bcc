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
// installer. The process ends inside Main, Bail or ParseCmdLine.
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
  // Prints message (unless silent or null) and ends the process with status.
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
  // Removes ./qzsetup (and "xxextract.tmp" when it was written), then ends
  // through Bail with status -1 and message.
  [[noreturn]] void Abandon(const char* message, bool decompressorWritten);
  // Tells the second stage which package it came from: STRATA_PACKAGE_DIGEST
  // ("kind:hex", or "none") and STRATA_PACKAGE_FILE (the file's absolute
  // path).
  void ExportPackageIdentity(const PackageFile& package);

  std::string m_szPackagePath;
  uint64_t m_nUnpackedSize;
};

#endif  // STRATA_LAUNCHER_STAGE1_H_
