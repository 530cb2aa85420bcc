#ifndef STRATA_PACKAGER_PIPELINE_H_
#define STRATA_PACKAGER_PIPELINE_H_

#include <string>
#include <vector>

// A chain of child processes, each one's standard output feeding the next
// one's standard input, as a shell's "a | b" would run them but without a
// shell. Commands are looked up on PATH. The children get the parent's
// environment without the variables through which tar, bzip2, gzip and zstd
// take default options, so that their output depends on their arguments only.
// While they run they are killed if a signal ends this process
// (common/SignalCleanup.h).
class Pipeline {
 public:
  Pipeline() = default;
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Appends a command: argv[0] is the program.
  void Add(std::vector<std::string> argv);

  // Runs the chain with the first command reading inputFd and the last one
  // writing outputFd (or, when outputFd is -1, into *output). The children's
  // standard error is collected. Returns true when every command exited
  // with status 0; otherwise false with *error naming the command that
  // failed and what it wrote to standard error. Waits for every child
  // before it returns.
  bool Run(int inputFd, int outputFd, std::string* output, std::string* error) const;

 private:
  std::vector<std::vector<std::string>> m_commands;
};

#endif  // STRATA_PACKAGER_PIPELINE_H_
