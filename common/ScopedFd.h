#ifndef STRATA_COMMON_SCOPEDFD_H_
#define STRATA_COMMON_SCOPEDFD_H_

// Owns one open descriptor and closes it. Not copyable.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : m_nFd(fd) {}
  ~ScopedFd() { Reset(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int Get() const { return m_nFd; }
  // Closes the descriptor held, if any, and holds fd instead.
  void Reset(int fd = -1);
  // Gives up the descriptor without closing it.
  int Release();

 private:
  int m_nFd;
};

#endif  // STRATA_COMMON_SCOPEDFD_H_
