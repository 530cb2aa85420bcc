#ifndef STRATA_TESTS_PTYSESSION_H_
#define STRATA_TESTS_PTYSESSION_H_

#include <sys/types.h>
#include <termios.h>

#include <string>

#include "tests/Subprocess.h"

// A program run on a new pseudo-terminal, as a user runs it in a terminal
// window: the test reads what it shows, types at its keyboard and looks at
// the terminal's settings. The terminal's carriage returns are dropped from
// the output. Not copyable: the object owns the child and the terminal's
// master side; a child still running when the object goes is killed with its
// process group.
class PtySession {
 public:
  PtySession();
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  // Starts run.program (or run.argv[0] on the PATH) with its arguments,
  // working directory, environment and umask as the leader of a new session
  // on the terminal: false if it cannot be started.
  bool Start(const ProgramRun& run);

  // Reads until text appears after the end of the previous match: true, or
  // false when the output ends or timeoutSeconds pass first. The timeout
  // only keeps a stuck dialogue from hanging the test.
  bool Expect(const std::string& text, int timeoutSeconds = 120);
  // Types text; SendLine adds the Enter key. A failed write fails the test.
  void Send(const std::string& text);
  void SendLine(const std::string& line) { Send(line + "\n"); }
  // Sends sig to the program's process group.
  void Signal(int sig);

  // The terminal's settings as the program left them (Linux reports the
  // program's side on the master).
  struct termios Settings() const;

  // Reads the rest of the output and waits up to timeoutSeconds for the
  // program to end: true, or false when it had to be killed.
  bool WaitExit(ProcessResult* result, int timeoutSeconds = 120);
  // WaitExit's result.
  ProcessResult Finish(int timeoutSeconds = 120);

  // Everything shown so far.
  const std::string& Output() const { return m_output; }

 private:
  // Reads what is available within the deadline: false at the end of the
  // output or when the deadline passes.
  bool ReadSome(long long deadlineMs);

  pid_t m_pid;
  int m_master;
  std::string m_output;
  size_t m_matched;
};

#endif  // STRATA_TESTS_PTYSESSION_H_
