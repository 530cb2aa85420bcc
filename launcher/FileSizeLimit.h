#ifndef STRATA_LAUNCHER_FILESIZELIMIT_H_
#define STRATA_LAUNCHER_FILESIZELIMIT_H_

#include <stdint.h>

#include <string>

// The file-size limit of the process (ulimit -f, RLIMIT_FSIZE), which every
// program the launcher starts inherits: a write past it fails (or, where
// SIGXFSZ is not ignored, kills the writer).

// The limit in bytes; 0 when there is none.
uint64_t FileSizeLimit();

// "NAME reached the file size limit of N bytes (ulimit -f)".
std::string FileSizeLimitText(const std::string& name, uint64_t limit);

// Looks under dir, never through a link, for a regular file of at least
// limit bytes: one that a write stopped at the limit. True with *path
// (dir, "/" and the file's relative path) for the first one found.
bool FindFileAtLimit(const std::string& dir, uint64_t limit, std::string* path);

#endif  // STRATA_LAUNCHER_FILESIZELIMIT_H_
