#ifndef STRATA_COMMON_FILEKIND_H_
#define STRATA_COMMON_FILEKIND_H_

#include <string>

// What stands at a path in the file system. Each says in its name whether a
// symbolic link is followed: where a link may have been planted, the one
// that does not follow it keeps a step from being led elsewhere.

// Whether anything has the name: a link counts, dangling or not.
bool Exists(const std::string& path);

// Whether path leads to a directory, through any link.
bool IsDirectoryFollowingLinks(const std::string& path);

// Whether path itself is a directory; a link to one is not.
bool IsDirectoryNotFollowingLinks(const std::string& path);

#endif  // STRATA_COMMON_FILEKIND_H_
