#ifndef STRATA_DRIVER_SETTINGS_INSTALLPATH_H_
#define STRATA_DRIVER_SETTINGS_INSTALLPATH_H_

#include <string>

// Paths of an installation: the installation directory as the user named it,
// made absolute against the directory in which the package was started, and
// the checks that keep it apart from the extraction directory. Nothing here
// changes the working directory.

// path made absolute against base (itself absolute) and lexically tidied:
// repeated slashes, "." components and a trailing slash go; ".." stays, since
// a symbolic link may lie before it. The empty path names base itself.
std::string ResolvePath(const std::string& path, const std::string& base);

// "~" and a leading "~/" expanded with $HOME, as a shell would have done for
// a name typed on the command line; anything else unchanged.
std::string ExpandHome(const std::string& path);

// path with every symbolic link of its existing part resolved; the part that
// does not exist yet is appended as it stands. Empty when the existing part
// cannot be resolved.
std::string CanonicalPath(const std::string& path);

// Whether path is dir or lies below it, once both are canonical.
bool IsSameOrInside(const std::string& path, const std::string& dir);

// Whether path can name the installation directory: true, or false with
// *error saying why. The directory goes unquoted into the loopcast script
// and unescaped into the server configuration, so only ASCII letters,
// digits and "/._+,:@%=-" may appear in it.
bool CheckInstallDirName(const std::string& path, std::string* error);

// Whether path can be the installation directory: true, or false with
// *error saying why. Its name must pass CheckInstallDirName and leave room
// below it within PATH_MAX; it must not be a system directory ("/", "/usr",
// "/etc", "/var", "/lib64", ...) by its name or once links are resolved; and
// it must be a directory or not exist yet, with a writable directory as its
// nearest existing ancestor.
bool CheckInstallDir(const std::string& path, std::string* error);

// The message that refuses dir as the installation directory for the reason
// why: "ERROR: Cannot install into DIR: why\n", dir shown without its control
// characters.
std::string InstallDirMessage(const std::string& dir, const std::string& why);

// The file name inside the installation directory dir; an absolute name
// stands as it is.
std::string PathInInstallDir(const std::string& dir, const std::string& name);

// Creates path and every missing parent (mode 0755 less the umask): true, or
// false with *error naming the directory that could not be made and why.
bool MakeDirectories(const std::string& path, std::string* error);

#endif  // STRATA_DRIVER_SETTINGS_INSTALLPATH_H_
