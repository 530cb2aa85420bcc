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
//
// A writer that waits inside write() on a full pipe is woken for every page
// the command reads, and on two cores those wake-ups cost a decompressor a
// few percent of its speed. So data for a command is paced instead: the
// pipe is filled up whenever it is at most half full, and in between the
// writer sleeps for a time that follows the command's pace.
class Sink {
 public:
  // The largest pipe that GrowPipe asks for: what an unprivileged process
  // may have by default, and room for a few bzip2 blocks.
  static const size_t kLargestPipe = 1 << 20;

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

  // Asks for a pipe to the command that holds up to bytes (rounded down to a
  // power of two, at most kLargestPipe, as far as the system allows); the
  // pipe never shrinks.
  void GrowPipe(size_t bytes);
  // What the pipe to the command holds; 0 for a file.
  size_t PipeCapacity() const { return m_nPipeCapacity; }

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
  bool WriteBlocking(const char* data, size_t size);
  bool WritePaced(const char* data, size_t size);

  int m_nFd;
  FILE* m_pPipe;
  size_t m_nPipeCapacity;
  bool m_bFilling;
  long m_nPauseNs;
  std::string m_sName;
  std::string m_sFailure;
  struct sigaction m_savedPipeAction;
};

#endif  // STRATA_LAUNCHER_SINK_H_
