#ifndef STRATA_DRIVER_INSTALLATION_BACKUPGENERATION_H_
#define STRATA_DRIVER_INSTALLATION_BACKUPGENERATION_H_

#include <string>
#include <vector>

// The backups of an earlier installation in an installation directory, kept
// to one generation: each name of the backup list that is present replaces
// whatever its ".old" name held when the staged switch
// (StagedInstallation.h) puts a new installation in place. This finds,
// before anything changes, which names that concerns and whether their
// older backups can give way.
class BackupGeneration {
 public:
  // Notes which names of the backup list are present in dir now.
  explicit BackupGeneration(const std::string& dir);

  // The names noted as present, in the order of the backup list.
  const std::vector<std::string>& PresentNames() const { return m_present; }

  // Whether every ".old" name of a present name could be removed, checked
  // without changing anything: true, or false with *error naming the first
  // entry that an immutable or append-only flag (or, for anyone but root,
  // a directory without write permission) keeps in place.
  bool CheckEarlierBackupsRemovable(std::string* error) const;

 private:
  std::string PathOf(const std::string& name) const;

  std::string m_sDir;
  std::vector<std::string> m_present;
};

#endif  // STRATA_DRIVER_INSTALLATION_BACKUPGENERATION_H_
