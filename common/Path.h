#ifndef STRATA_COMMON_PATH_H_
#define STRATA_COMMON_PATH_H_

#include <string>

// Lexical helpers on paths; nothing here looks at the file system but
// FindOnPath and OwnProgramPath.

// The directory part of path without trailing slashes: "." for a name
// without a slash, "/" for a name directly under the root.
std::string DirectoryOf(const std::string& path);

// The last component of path (the text after the last slash).
std::string BaseNameOf(const std::string& path);

// The executable that a command name without "/" names on PATH (the first
// regular, executable match), or "" if there is none. A name with "/" is
// returned as it stands.
std::string FindOnPath(const std::string& name);

// The running program's own file (/proc/self/exe), however long its path:
// true, or false with *error.
bool OwnProgramPath(std::string* path, std::string* error);

#endif  // STRATA_COMMON_PATH_H_
