#ifndef STRATA_PACKAGER_PIPELINE_H_
#define STRATA_PACKAGER_PIPELINE_H_

#include <spawn.h>
#include <sys/types.h>

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
  // The descriptors of one run: -1 where there is none.
  struct Ends {
    int input = -1;      // the first command's standard input
    int nullInput = -1;  // /dev/null opened for it, when no input was given
    int outRead = -1;    // the pipe of *output, when no outputFd was given
    int outWrite = -1;   // the last command's standard output
    bool ownsOutWrite = false;
    int errRead = -1;  // every command's standard error
    int errWrite = -1;
  };

  // The phases of Run.
  bool OpenEnds(int inputFd, int outputFd, Ends* ends, std::string* error) const;
  // Starts the commands in order, stopping at the first that cannot be
  // started (*spawnError says why); closes this process's copies of the
  // ends that the children write into.
  void Spawn(Ends* ends, std::vector<pid_t>* pids, std::string* spawnError) const;
  // 0, or the error number of posix_spawnp.
  int SpawnOne(const std::vector<std::string>& command, int in, int out, int err,
               const posix_spawnattr_t& attr, const std::vector<char*>& envp, pid_t* pid) const;
  static std::vector<int> Reap(const std::vector<pid_t>& pids);
  // Whether the run succeeded, from the children's statuses and what they
  // wrote to standard error.
  bool Judge(const std::vector<int>& statuses, std::string errors, std::string* error) const;

  std::vector<std::vector<std::string>> m_commands;
};

#endif  // STRATA_PACKAGER_PIPELINE_H_
