#ifndef STRATA_PACKAGER_MKPACKAGECOMMAND_H_
#define STRATA_PACKAGER_MKPACKAGECOMMAND_H_

#include <stdio.h>

#include <string>

#include "packager/Progress.h"
#include "packager/SignCommand.h"

struct BuildOptions;

// The mkpackage command line: builds a package, or inspects one (--info,
// --list), signs one or checks its signature (packager/SignCommand.h), or
// prints help or version. Results go to out; messages, each
// starting "mkpackage: ", go to err.
class MkPackageCommand {
 public:
  static const int kSuccess = 0;
  static const int kFailure = 1;
  static const int kUsageError = 2;

  // Progress of long steps goes to err when it is a terminal.
  MkPackageCommand(FILE* out, FILE* err) : m_pOut(out), m_pErr(err), m_progress(err) {}

  MkPackageCommand(const MkPackageCommand&) = delete;
  MkPackageCommand& operator=(const MkPackageCommand&) = delete;

  // Runs the command line (argv[0] is the program) and returns the exit
  // status: kSuccess, kFailure, or kUsageError for a command line that
  // makes no sense.
  int Run(int argc, const char* const* argv);

 private:
  struct CommandLine;

  // The phases of Run. Each returns the exit status when the command ends
  // there (help, version, a usage error), or -1 to go on.
  int Parse(int argc, const char* const* argv, CommandLine* line);
  int TakeOption(const std::string& name, const std::string& value, CommandLine* line);
  int TakeBuildOption(const std::string& name, const std::string& value, CommandLine* line);
  int CheckCombination(const CommandLine& line, SignOptions::Mode* mode);
  // Carries out what the command line asks for: the exit status.
  int Dispatch(CommandLine* line, SignOptions::Mode mode);

  // Builds, signs the new package when signer is not null, and says what
  // it wrote.
  int Build(const BuildOptions& options, SignCommand* signer);
  int Info(const std::string& path, const SignOptions& sign);
  int Sign(const SignOptions& sign, SignOptions::Mode mode);
  int List(const std::string& path);
  int UsageError(const std::string& message);
  int Failure(const std::string& message);
  void PrintHelp();
  void PrintVersion();

  FILE* m_pOut;
  FILE* m_pErr;
  Progress m_progress;
};

#endif  // STRATA_PACKAGER_MKPACKAGECOMMAND_H_
