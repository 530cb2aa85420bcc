#ifndef STRATA_TESTS_SUBPROCESS_H_
#define STRATA_TESTS_SUBPROCESS_H_

// Real child processes for tests: forked bodies, programs and shell
// commands, with what they wrote and how they ended.

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/ShellQuote.h"
#include "tests/TestFiles.h"

// How a child process of a test ended and what it wrote.
struct ProcessResult {
  bool exited = false;  // by exit; otherwise killed by signal
  int code = -1;        // exit code, or the signal number
  std::string out;      // standard output
  std::string err;      // standard error
};

// A status that no code under test ends with: a child that ends with it
// returned from its body rather than calling exit.
const int kBodyReturned = 99;

// How RunForked collects the output and ends the child.
struct ForkOptions {
  // Standard output through a pipe that is read until every writer has
  // closed it, the child's own children too; otherwise through a file that
  // is read once the child has ended.
  bool outputUntilClosed = false;
  // The exit status of the child when body returns.
  int statusOnReturn = 0;

  static ForkOptions OutputUntilClosed() {
    ForkOptions options;
    options.outputUntilClosed = true;
    return options;
  }
  static ForkOptions MarkReturn() {
    ForkOptions options;
    options.statusOnReturn = kBodyReturned;
    return options;
  }
};

// Runs body in a forked child whose standard output and error are captured
// and whose standard input is /dev/null, and waits for it. The child ends
// with body's own exit, or with options.statusOnReturn when body returns.
ProcessResult RunForked(const ForkOptions& options, const std::function<void()>& body);
// With the default options: output through a file, status 0 on a return.
ProcessResult RunForked(const std::function<void()>& body);

// For a forked body: text, written whole into a pipe, becomes its standard
// input, so that the body reads it and then the end of input. Ends the
// child with 98 when it cannot.
void FeedStandardInput(const std::string& text);

// One run of a program as a real child process.
struct ProgramRun {
  // The file to execute; empty: argv[0] looked up on the child's PATH.
  std::string program;
  std::vector<std::string> argv;
  // Working directory of the child; empty: the test's own.
  std::string cwd;
  // Variables set in the child's environment before the start; an empty
  // value removes the variable.
  std::vector<std::pair<std::string, std::string>> env;
  // Variables set to the empty text, which env cannot express.
  std::vector<std::string> emptyEnv;
  // File-creation mask of the child; negative: the test's own.
  int umask = -1;
  // Standard input: these bytes through a pipe (at most 64 KiB), then its
  // end; /dev/null when empty.
  std::string input;
};

ProcessResult RunProgram(const ProgramRun& run);

// For a freshly forked child: applies run's working directory, environment
// and umask and executes the program. Never returns; the child ends with
// status 127 when the program cannot be started.
[[noreturn]] void ExecProgram(const ProgramRun& run);

// Runs a shell command; returns its exit status (-1 when it did not exit)
// and, in *output, what it wrote to standard output.
int RunShell(const std::string& command, std::string* output = nullptr);

// Whether the process pid has ended (it is gone, or a zombie that its
// parent has not reaped yet), waiting up to seconds for it; a process that
// is not a child of the test cannot be waited for otherwise.
bool ProcessEnds(pid_t pid, int seconds);

#endif  // STRATA_TESTS_SUBPROCESS_H_
