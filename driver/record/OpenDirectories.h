#ifndef STRATA_DRIVER_RECORD_OPENDIRECTORIES_H_
#define STRATA_DRIVER_RECORD_OPENDIRECTORIES_H_

#include <string>
#include <vector>

class InstallTree;

// The directories on one path below a tree, held open from the top down,
// so that entries sorted by path open each directory once. Never through a
// link. Not copyable: owns the descriptors.
class OpenDirectories {
 public:
  explicit OpenDirectories(const InstallTree& tree) : m_tree(tree) {}
  ~OpenDirectories() { Keep(0); }
  OpenDirectories(const OpenDirectories&) = delete;
  OpenDirectories& operator=(const OpenDirectories&) = delete;

  // The directory at dirPath ("" for the top, else "/"-separated names)
  // open in *fd, for the *at calls only: true, or false with errno set as
  // InstallTree::OpenParent sets it.
  bool Reach(const std::string& dirPath, int* fd);

 private:
  // Closes all but the first count directories.
  void Keep(size_t count);

  const InstallTree& m_tree;
  std::vector<std::string> m_names;
  std::vector<int> m_fds;
};

#endif  // STRATA_DRIVER_RECORD_OPENDIRECTORIES_H_
