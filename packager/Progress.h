#ifndef STRATA_PACKAGER_PROGRESS_H_
#define STRATA_PACKAGER_PROGRESS_H_

#include <stdio.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Shows that mkpackage is at work during its long steps (compressing a
// product, deriving a key from a password), on one line of standard error
// that is rewritten a few times a second and erased when the step ends:
// "mkpackage: compressing product/ (64 MB) with zstd -19: 3.1 MB written, 7 s".
// Only when that stream is a terminal: in a log, a line rewritten with
// carriage returns is noise.
class Progress {
 public:
  explicit Progress(FILE* err);

  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  bool Enabled() const { return m_bEnabled; }

  // One step, shown from its construction to its destruction. detail, if
  // given, is called from another thread (so it may only read what does
  // not change under it, such as a file's size) for the text after the
  // step's name. Does nothing when progress is not enabled.
  class Step {
   public:
    Step(Progress* progress, std::string what, std::function<std::string()> detail = {});
    ~Step();

    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

   private:
    void Show(int seconds);
    void Ticker();

    Progress* m_pProgress;
    std::string m_szWhat;
    std::function<std::string()> m_detail;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bDone = false;
    std::thread m_thread;
  };

 private:
  FILE* m_pErr;
  bool m_bEnabled;
};

// "3.1 MB" for a progress line or a summary: MB of 1,048,576 bytes, one
// decimal.
std::string MegabytesText(unsigned long long bytes);

#endif  // STRATA_PACKAGER_PROGRESS_H_
