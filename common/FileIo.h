#ifndef STRATA_COMMON_FILEIO_H_
#define STRATA_COMMON_FILEIO_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

// Whole reads and writes on descriptors, retried after interruptions and
// partial transfers. These are the system-call wrappers of the project: each
// returns false with errno set on a failure, for the caller to put into a
// message.

// Writes all size bytes of data to fd.
bool WriteAll(int fd, const void* data, size_t size);
// Writes all size bytes at offset, leaving the file position alone.
bool PwriteAll(int fd, const void* data, size_t size, uint64_t offset);
// Reads up to size bytes at offset; *got is less than size only at the end
// of the file.
bool PreadFull(int fd, void* data, size_t size, uint64_t offset, size_t* got);
// Copies everything from the current position of from to the end of the
// file into to; *copied counts the bytes. *writeFailed tells which side
// failed.
bool CopyToEnd(int from, int to, uint64_t* copied, bool* writeFailed);

// The whole content of the file at path in *content: true, or false with
// *error ("path: reason") when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error);

#endif  // STRATA_COMMON_FILEIO_H_
