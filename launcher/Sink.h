#ifndef STRATA_LAUNCHER_SINK_H_
#define STRATA_LAUNCHER_SINK_H_

#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/types.h>

#include <string>

// Where stage one writes a piece of its package: a file it creates, or the
// standard input of a shell command started with popen. Owns the descriptor
// or the stream; the destructor closes what is still open (waiting for a
// command). Not copyable.
//
// While a command is open SIGPIPE is ignored, so that a command that stops
// reading shows up as a failed write instead of silently killing stage one;
// the disposition found at the start is restored when the command is closed.
class Sink {
 public:
  Sink();
  ~Sink();

  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // Creates path with open(2) flags and mode. False (with Failure()) if the
  // file cannot be created.
  bool OpenFile(const char* path, int flags, mode_t mode);
  // Starts command through the shell with a pipe to its standard input; name
  // is how messages refer to it. False (with Failure()) if it cannot start.
  bool OpenCommand(const char* command, const char* name);

  // Gives the open file mode, whatever the file-creation mask; the
  // descriptor, not the name, so that nothing swapped in under the name
  // since the file was created is changed. False (with Failure()) if that
  // fails or the sink is not an open file.
  bool SetMode(mode_t mode);

  // Writes all size bytes; false (with Failure()) on the first error.
  bool Write(const void* data, size_t size);
  // Closes the file, or closes the pipe and waits for the command. False
  // (with Failure()) if closing fails or the command ends with a failure
  // status or by a signal. Closing a sink that is not open succeeds.
  bool Close();

  // What failed, for example "write to the extraction command: Broken pipe".
  const std::string& Failure() const { return m_sFailure; }

 private:
  int m_nFd;
  FILE* m_pPipe;
  std::string m_sName;
  std::string m_sFailure;
  struct sigaction m_savedPipeAction;
};

#endif  // STRATA_LAUNCHER_SINK_H_
