#ifndef STRATA_COMMON_WRITEALL_H_
#define STRATA_COMMON_WRITEALL_H_

#include <stddef.h>

// Writes all size bytes of data to fd, resuming after short writes and
// interruptions: true, or false with errno set when a write fails.
bool WriteAll(int fd, const void* data, size_t size);

#endif  // STRATA_COMMON_WRITEALL_H_
