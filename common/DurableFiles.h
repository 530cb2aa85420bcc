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

// Syncs every file and directory below root and root itself, deepest first,
// never following a symbolic link.
bool SyncTree(const std::string& root, std::string* error);

#endif  // STRATA_COMMON_DURABLEFILES_H_
