#ifndef STRATA_DRIVER_RECORD_INSTALLLOG_H_
#define STRATA_DRIVER_RECORD_INSTALLLOG_H_

#include <time.h>

#include <string>
#include <vector>

class InstallManifest;

// Logs/install.log in the installation directory: one entry appended by
// each run that changed the installation, which stays when the installation
// is removed. An entry is a first line
//   2026-12-09T08:50:07Z upgrade /srv/media: version 9.0.8.1427, package sha256:...
// and one indented line per file, "  WHAT PATH" (added, replaced, kept as
// the administrator's, saved, removed...). Paths only, never a password;
// control characters in them are replaced, so that no name forges a line.
class InstallLog {
 public:
  static const char kFileName[];  // "Logs/install.log"

  // action: "install", "upgrade", "reinstall", "uninstall", ...; dir: the
  // installation directory.
  InstallLog(std::string action, std::string dir);

  void SetPackage(const std::string& version, const std::string& digest);
  // One line "  what path".
  void AddFile(const std::string& what, const std::string& path);
  // One line "  text", for what is said of no one file.
  void AddNote(const std::string& text);
  // The lines for what an installation recorded as newer did to the files
  // recorded in earlier (null: none): added, replaced, moved to NAME.old
  // and no longer installed. The paths in kept stayed the administrator's:
  // their record changed, the files did not, so they are not "replaced".
  void AddChanges(const InstallManifest* earlier, const InstallManifest& newer,
                  const std::vector<std::string>& kept = {});

  // The entry as it is appended, dated when.
  std::string Text(time_t when) const;
  // Appends the entry, dated now, to dir/Logs/install.log, creating Logs
  // (0750) and the log (0640) when missing, never through a link: true,
  // or false with *error and the log as it was.
  bool Append(std::string* error) const;

 private:
  std::string m_sAction;
  std::string m_sDir;
  std::string m_sVersion;
  std::string m_sDigest;
  std::vector<std::string> m_lines;
};

#endif  // STRATA_DRIVER_RECORD_INSTALLLOG_H_
