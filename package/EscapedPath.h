#ifndef STRATA_PACKAGE_ESCAPEDPATH_H_
#define STRATA_PACKAGE_ESCAPEDPATH_H_

#include <string>

// A path as the lists of files write it, one to a line between tabs: a tab,
// a line feed, a carriage return and a backslash are written as the C
// escapes "\t", "\n", "\r" and "\\"; every other byte stands as it is. The
// installation record and the digests a package carries both use it.
std::string EscapePath(const std::string& path);
// The path that text escapes, in *path: true, or false when a backslash is
// followed by anything but "t", "n", "r" or "\" (or by nothing).
bool UnescapePath(const std::string& text, std::string* path);

#endif  // STRATA_PACKAGE_ESCAPEDPATH_H_
