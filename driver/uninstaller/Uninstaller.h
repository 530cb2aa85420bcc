#ifndef STRATA_DRIVER_UNINSTALLER_UNINSTALLER_H_
#define STRATA_DRIVER_UNINSTALLER_UNINSTALLER_H_

#include <memory>
#include <set>
#include <string>
#include <vector>

class InstallLog;
class InstallManifest;
struct ManifestEntry;
class InstallTree;

// Bin/uninstall: a copy of setup that, started under the name "uninstall",
// removes the installation recorded in install-manifest.txt of the directory
// above its own. Every listed file that is unchanged since installation goes;
// changed files and everything the manifest does not list stay and are
// listed (names with control characters replaced); directories that held
// listed files and are left empty go, deepest first, the administrator's
// own stay; what was done is appended to Logs/install.log, which stays; the
// manifest and its key go last, and the installation directory too if
// nothing is left in it. Asked for, the ".old" generation of the earlier
// installation is put back. Nothing
// outside the installation directory is touched: every path is reached from
// a descriptor of the directory without following a symbolic link.
//
// When a listed file cannot be removed, the manifest and the program's own
// file stay, so that the removal can be run again. Not copyable: owns its
// console.
class Uninstaller {
 public:
  // installDir: the installation; programPath: this program's own file,
  // which goes after the other listed files.
  Uninstaller(std::string installDir, std::string programPath);
  ~Uninstaller();

  Uninstaller(const Uninstaller&) = delete;
  Uninstaller& operator=(const Uninstaller&) = delete;

  // Whether a program started as argv0 is the uninstaller.
  static bool IsUninstallerName(const char* argv0);
  // The program as Bin/uninstall: the installation is the parent of the
  // directory that holds /proc/self/exe. Returns the exit status.
  static int RunProgram(int argc, const char** argv);

  // Options, the question (unless -s), the removal: returns 0 when the
  // installation was removed, 1 when the user answered anything but yes
  // (nothing removed), 255 after a message beginning "Error: " otherwise.
  int Main(int argc, const char** argv);

  // The removal itself, without a question: true, or false with *error (the
  // failures on the way are shown as they happen).
  bool Remove(bool restoreBackup, std::string* error);

 private:
  class Console;

  // Removes the listed files but the program's own; collects the changed
  // ones. False when one could not be checked or removed.
  bool RemoveListedFiles(const InstallTree& tree, const InstallManifest& manifest,
                         std::set<std::string>* changed);
  // Removes one listed file if it is unchanged, or shows and collects it
  // if it changed: false when it could not be checked or removed.
  bool RemoveListedFile(const InstallTree& tree, const ManifestEntry& entry,
                        std::set<std::string>* changed);
  // Removes the empty directories below the one open at fd (relative path
  // prefix, "" or ending with "/") and shows what stays; *empty tells
  // whether nothing stays in it.
  bool Sweep(int fd, const std::string& prefix, const InstallManifest& manifest,
             const std::set<std::string>& changed, bool restoreBackup, bool* empty);
  // Whether name, directly in the installation directory, stays as it is:
  // the record (it goes last) or a backup it lists (shown, unless it is to
  // be put back).
  bool KeptAtTop(const std::string& name, const InstallManifest& manifest, bool restoreBackup);
  // Puts each NAME.old of moved_to_old back as NAME where NAME is free.
  bool RestoreBackups(const InstallTree& tree, const InstallManifest& manifest);
  void ShowError(const std::string& message);
  // Appends to the installation's log; a failure is a warning.
  void AppendLog(const InstallLog& log);

  std::string m_sDir;
  std::string m_sProgram;
  std::unique_ptr<Console> m_pUI;
  // For the log: the listed files removed, the backups put back.
  std::vector<std::string> m_removed;
  std::vector<std::string> m_restored;
};

#endif  // STRATA_DRIVER_UNINSTALLER_UNINSTALLER_H_
