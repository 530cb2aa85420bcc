#ifndef STRATA_COMMON_FREEBYTES_H_
#define STRATA_COMMON_FREEBYTES_H_

#include <stdint.h>
#include <sys/statvfs.h>

// The bytes a file system offers according to its statvfs: the blocks left
// to ordinary users, or with includeReserved also those kept for root.
// Capped at UINT64_MAX rather than wrapped.
inline uint64_t FreeBytes(const struct statvfs& fs, bool includeReserved) {
  const uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  const uint64_t blocks = includeReserved ? fs.f_bfree : fs.f_bavail;
  return unit != 0 && blocks > UINT64_MAX / unit ? UINT64_MAX : blocks * unit;
}

#endif  // STRATA_COMMON_FREEBYTES_H_
