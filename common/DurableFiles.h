#ifndef STRATA_COMMON_DURABLEFILES_H_
#define STRATA_COMMON_DURABLEFILES_H_

#include <string>

// Writing to disk what a crash or a power cut must not take back. A rename or
// a new file is durable only once the directory that holds the name is
// synced as well as the file itself; these do both kinds. Each returns true,
// or false with *error ("path: reason").

// Syncs the file or directory at path (a link itself is not followed: a link
// is synced with its directory).
bool SyncPath(const std::string& path, std::string* error);

// Syncs the directory that holds path.
bool SyncParentDirectory(const std::string& path, std::string* error);

// Makes every file and directory below root, and root itself, durable by
// syncing the whole file system that holds root (a file system mounted
// below root is not covered; a root that is not a directory is synced
// alone). Other files that are dirty on that file system are written too.
bool SyncTree(const std::string& root, std::string* error);

#endif  // STRATA_COMMON_DURABLEFILES_H_
