#include "packager/Progress.h"

#include <unistd.h>

#include <chrono>

#include "common/Format.h"

namespace {

// Often enough that the bytes seem to move, seldom enough to cost nothing.
const std::chrono::milliseconds kTick(250);

}  // namespace

std::string MegabytesText(unsigned long long bytes) {
  return FormatText("%.1f MB", static_cast<double>(bytes) / (1 << 20));
}

Progress::Progress(FILE* err) : m_pErr(err), m_bEnabled(err != nullptr && isatty(fileno(err))) {}

Progress::Step::Step(Progress* progress, std::string what, std::function<std::string()> detail)
    : m_pProgress(progress && progress->Enabled() ? progress : nullptr),
      m_szWhat(std::move(what)),
      m_detail(std::move(detail)) {
  if (m_pProgress == nullptr)
    return;
  Show(0);
  m_thread = std::thread(&Step::Ticker, this);
}

Progress::Step::~Step() {
  if (m_pProgress == nullptr)
    return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bDone = true;
  }
  m_wake.notify_one();
  m_thread.join();
  // Erased, so that what follows starts on a clean line.
  fputs("\r\033[K", m_pProgress->m_pErr);
  fflush(m_pProgress->m_pErr);
}

void Progress::Step::Show(int seconds) {
  std::string line = "\rmkpackage: " + m_szWhat;
  if (m_detail)
    line += ": " + m_detail();
  line += (m_detail ? ", " : " ... ") + std::to_string(seconds) + " s\033[K";
  fputs(line.c_str(), m_pProgress->m_pErr);
  fflush(m_pProgress->m_pErr);
}

void Progress::Step::Ticker() {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_wake.wait_for(lock, kTick, [this] { return m_bDone; })) {
    auto elapsed = std::chrono::steady_clock::now() - start;
    Show(static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()));
  }
}
