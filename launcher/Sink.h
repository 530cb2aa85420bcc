#ifndef STRATA_LAUNCHER_SINK_H_
#define STRATA_LAUNCHER_SINK_H_

#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>

// Where stage one writes a piece of its package: a file it creates, or the
// standard input of a shell command ("/bin/sh -c"). Owns the descriptors and
// the command; the destructor closes what is still open (waiting for a
// command). Not copyable.
//
// The command runs in a process group of its own, which a signal that ends
// stage one kills (common/SignalCleanup.h), so that nothing it started goes
// on writing. Its descriptor 3 is a channel for a report back, which Close
// collects: a shell pipeline reports there the statuses its own status does
// not carry.
//
// While a command is open SIGPIPE is ignored, so that a command that stops
// reading shows up as a failed write instead of silently killing stage one;
// the disposition found at the start is restored when the command is closed.
//
// A writer that waits inside write() on a full pipe is woken for every page
// the command reads, and on two cores those wake-ups cost a decompressor a
// few percent of its speed. So data for a command is paced instead: the
// pipe is filled up, all but three pages, whenever it is at most half full,
// and in between the writer pauses. A look after a pause that finds the pipe
// less than a quarter full halves the next pause, one that finds it more
// than three quarters full doubles it, within the bounds below.
class Sink {
 public:
  // The largest pipe that GrowPipe asks for: what an unprivileged process
  // may have by default, and room for a few bzip2 blocks.
  static const size_t kLargestPipe = 1 << 20;
  // The first pause, and the bounds of every pause, in nanoseconds.
  static const long kFirstPauseNs = 1000 * 1000;
  static const long kMinPauseNs = 50 * 1000;
  static const long kMaxPauseNs = 10 * 1000 * 1000;

  Sink();
  ~Sink();

  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // Creates path with open(2) flags and mode. False with *error if the file
  // cannot be created.
  bool OpenFile(const char* path, int flags, mode_t mode, std::string* error);
  // Starts command through the shell with a pipe to its standard input; name
  // is how messages refer to it. False with *error if it cannot start.
  bool OpenCommand(const char* command, const char* name, std::string* error);
  // What the command wrote to its descriptor 3, once Close has waited for
  // it.
  const std::string& Report() const { return m_sReport; }

  // Asks for a pipe to the command that holds up to bytes (rounded down to a
  // power of two, at most kLargestPipe, as far as the system allows); the
  // pipe never shrinks.
  void GrowPipe(size_t bytes);
  // What the pipe to the command holds; 0 for a file.
  size_t PipeCapacity() const { return m_nPipeCapacity; }

  // Gives the open file mode, whatever the file-creation mask; the
  // descriptor, not the name, so that nothing swapped in under the name
  // since the file was created is changed. False with *error if that fails
  // or the sink is not an open file.
  bool SetMode(mode_t mode, std::string* error);

  // Writes all size bytes; false with *error ("write to the extraction
  // command: Broken pipe") on the first error.
  bool Write(const void* data, size_t size, std::string* error);
  // Closes the file, or closes the pipe and waits for the command. False
  // with *error if closing fails or the command ends with a failure status
  // or by a signal, also after a write that broke the pipe. Closing a sink
  // that is not open succeeds.
  bool Close(std::string* error);

  // Whether a write failed because the command had stopped reading. Such a
  // command has mostly failed, and its status then says why.
  bool PipeBroken() const { return m_bPipeBroken; }

  // The pause that pacing takes next.
  long PauseNs() const { return m_nPauseNs; }
  // Called with the length of every pause, just before it is taken; lets a
  // test see that pacing happens and how it adapts.
  void SetPauseObserver(std::function<void(long)> observer) {
    m_pauseObserver = std::move(observer);
  }

 private:
  bool WriteBlocking(const char* data, size_t size, std::string* error);
  bool WritePaced(const char* data, size_t size, std::string* error);

  int m_nFd;
  pid_t m_nPid;     // the command's shell, and its process group; 0 for none
  int m_nReportFd;  // the reading end of the command's descriptor 3
  size_t m_nPipeCapacity;
  // Pages that may be part-read or part-filled: kept free so that the pipe
  // is never quite full and the command's reads wake nobody.
  size_t m_nSlack;
  bool m_bFilling;
  bool m_bPipeBroken;
  long m_nPauseNs;
  std::function<void(long)> m_pauseObserver;
  std::string m_sName;
  // The failed write that broke the pipe, for Close to report.
  std::string m_sWriteFailure;
  std::string m_sReport;
  struct sigaction m_savedPipeAction;
};

#endif  // STRATA_LAUNCHER_SINK_H_
