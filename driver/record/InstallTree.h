#ifndef STRATA_DRIVER_RECORD_INSTALLTREE_H_
#define STRATA_DRIVER_RECORD_INSTALLTREE_H_

#include <string>
#include <vector>

#include "common/ScopedFd.h"

// An installation directory held open by a descriptor, with relative paths
// below it reached one component at a time and never through a symbolic
// link: a link planted anywhere on a path, in its middle too, cannot lead an
// operation outside the directory. Not copyable: owns the descriptor.
class InstallTree {
 public:
  InstallTree() = default;
  InstallTree(const InstallTree&) = delete;
  InstallTree& operator=(const InstallTree&) = delete;

  // Opens dir itself (not through a link): true, or false with *error
  // ("dir: reason").
  bool Open(const std::string& dir, std::string* error);

  const std::string& Dir() const { return m_sDir; }
  // For reading only: a link directly in the installation directory to a
  // directory on another file system (the administrator's Content on a
  // media disk, which setup fills through the link) is followed; links
  // anywhere else, and to directories on the same file system, still are
  // not.
  void SetFollowTopLevelLinks(bool follow) { m_bFollowTopLinks = follow; }
  int Fd() const { return m_fd.Get(); }
  // dir + "/" + relative, for messages.
  std::string PathOf(const std::string& relative) const;

  // Opens the directory that holds relative (which has no empty, "." or ".."
  // component) and leaves its last component in *leaf: true, or false with
  // errno set (ENOENT for a missing component, ENOTDIR or ELOOP for one that
  // is a file or a link). The descriptor only names the directory (O_PATH):
  // good for the *at calls, not for reading it.
  bool OpenParent(const std::string& relative, ScopedFd* parent, std::string* leaf) const;

  // The top directory name when it is a link that the tree looks through
  // (SetFollowTopLevelLinks), as an O_PATH descriptor the caller closes; or
  // -1 with errno set (ENOTDIR when the tree does not look through it).
  int OpenTopLink(const std::string& name) const;

  // Whether relative is a path this class walks: not empty, not absolute,
  // and no empty, "." or ".." component.
  static bool IsPlainRelative(const std::string& relative);

 private:
  // The directory the link name leads to, if it lies on another file
  // system (O_PATH descriptor), or -1 with errno set.
  int OpenLinkedDirectory(const std::string& name) const;

  std::string m_sDir;
  ScopedFd m_fd;
  bool m_bFollowTopLinks = false;
};

#endif  // STRATA_DRIVER_RECORD_INSTALLTREE_H_
