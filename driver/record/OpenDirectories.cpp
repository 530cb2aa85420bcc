#include "driver/record/OpenDirectories.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "driver/record/InstallTree.h"

bool OpenDirectories::Reach(const std::string& dirPath, int* fd) {
  std::vector<std::string> names;
  for (size_t start = 0; start < dirPath.size();) {
    size_t slash = dirPath.find('/', start);
    if (slash == std::string::npos)
      slash = dirPath.size();
    names.push_back(dirPath.substr(start, slash - start));
    start = slash + 1;
  }
  size_t common = 0;
  while (common < names.size() && common < m_names.size() && names[common] == m_names[common])
    ++common;
  Keep(common);
  for (size_t i = common; i < names.size(); ++i) {
    int next = openat(m_fds.empty() ? m_tree.Fd() : m_fds.back(), names[i].c_str(),
                      O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // A top directory kept as a link to another file system, where the
    // tree looks through such links.
    if (next < 0 && m_fds.empty() && errno == ENOTDIR)
      next = m_tree.OpenTopLink(names[i]);
    if (next < 0)
      return false;
    m_fds.push_back(next);
    m_names.push_back(names[i]);
  }
  *fd = m_fds.empty() ? m_tree.Fd() : m_fds.back();
  return true;
}

void OpenDirectories::Keep(size_t count) {
  while (m_fds.size() > count) {
    close(m_fds.back());
    m_fds.pop_back();
    m_names.pop_back();
  }
}
