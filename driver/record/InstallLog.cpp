#include "driver/record/InstallLog.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "common/ScopedFd.h"
#include "common/ShownText.h"
#include "common/SystemError.h"
#include "driver/record/InstallManifest.h"
#include "driver/record/InstallTree.h"

const char InstallLog::kFileName[] = "Logs/install.log";

namespace {

const char kLogsDirectory[] = "Logs";
const char kLogName[] = "install.log";

std::string UtcTime(time_t when) {
  struct tm utc;
  char text[64];
  if (gmtime_r(&when, &utc) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
    return "(unknown time)";
  return text;
}

}  // namespace

InstallLog::InstallLog(std::string action, std::string dir)
    : m_sAction(std::move(action)), m_sDir(std::move(dir)) {}

void InstallLog::SetPackage(const std::string& version, const std::string& digest) {
  m_sVersion = version;
  m_sDigest = digest;
}

void InstallLog::AddFile(const std::string& what, const std::string& path) {
  m_lines.push_back("  " + what + " " + ShownText(path));
}

void InstallLog::AddNote(const std::string& text) {
  m_lines.push_back("  " + ShownText(text));
}

void InstallLog::AddChanges(const InstallManifest* earlier, const InstallManifest& newer,
                            const std::vector<std::string>& kept) {
  std::map<std::string, const ManifestEntry*> before;
  if (earlier != nullptr) {
    for (const ManifestEntry& entry : earlier->files)
      before[entry.path] = &entry;
  }
  std::map<std::string, const ManifestEntry*> after;
  for (const ManifestEntry& entry : newer.files)
    after[entry.path] = &entry;
  for (const std::string& name : newer.movedToOld)
    AddFile("moved to .old:", name);
  for (const auto& file : after) {
    auto was = before.find(file.first);
    if (was == before.end())
      AddFile("added", file.first);
    else if (*was->second != *file.second &&
             std::find(kept.begin(), kept.end(), file.first) == kept.end())
      AddFile("replaced", file.first);
  }
  for (const auto& file : before) {
    if (after.count(file.first) == 0)
      AddFile("no longer installed:", file.first);
  }
}

std::string InstallLog::Text(time_t when) const {
  std::string text = UtcTime(when) + " " + m_sAction + " " + ShownText(m_sDir) + ": version " +
                     ShownText(m_sVersion.empty() ? "unknown" : m_sVersion) + ", package " +
                     ShownText(m_sDigest.empty() ? "unknown" : m_sDigest) + "\n";
  for (const std::string& line : m_lines)
    text += line + "\n";
  return text;
}

bool InstallLog::Append(std::string* error) const {
  InstallTree tree;
  if (!tree.Open(m_sDir, error))
    return false;
  if (mkdirat(tree.Fd(), kLogsDirectory, 0750) != 0 && errno != EEXIST) {
    *error = ErrnoMessage(tree.PathOf(kLogsDirectory), errno);
    return false;
  }
  const std::string shown = tree.PathOf(kFileName);
  ScopedFd logs(openat(tree.Fd(), kLogsDirectory, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (logs.Get() < 0) {
    *error = ErrnoMessage(tree.PathOf(kLogsDirectory), errno);
    return false;
  }
  // Created with its mode whatever the umask; an existing log keeps the
  // mode its owner gave it.
  ScopedFd fd(
      openat(logs.Get(), kLogName, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0640));
  if (fd.Get() >= 0) {
    if (fchmod(fd.Get(), 0640) != 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
  } else if (errno == EEXIST) {
    fd.Reset(
        openat(logs.Get(), kLogName, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  }
  struct stat st;
  if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = shown + ": not a regular file";
    return false;
  }
  // One write: entries of runs that overlap do not interleave.
  const std::string text = Text(time(nullptr));
  ssize_t written = write(fd.Get(), text.data(), text.size());
  if (written != static_cast<ssize_t>(text.size())) {
    *error = ErrnoMessage(shown, written < 0 ? errno : ENOSPC);
    return false;
  }
  return true;
}
