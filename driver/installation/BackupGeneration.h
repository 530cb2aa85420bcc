#ifndef STRATA_DRIVER_INSTALLATION_BACKUPGENERATION_H_
#define STRATA_DRIVER_INSTALLATION_BACKUPGENERATION_H_

#include <string>
#include <vector>

// The backups of an earlier installation that the framework's BackupOldFiles
// makes in an installation directory, kept to one generation: each name of
// the backup list that is present replaces whatever its ".old" name held.
// The framework alone cannot replace a backup directory that is not empty,
// nor does it say when a name stayed where it was; this does both around it.
class BackupGeneration {
 public:
  // Notes which names of the backup list are present in dir now.
  explicit BackupGeneration(const std::string& dir);

  // The names noted as present, in the order of the backup list.
  const std::vector<std::string>& PresentNames() const { return m_present; }

  // Removes whatever has the ".old" name of each present name (a directory
  // with everything in it; a link itself, not what it leads to), so that
  // the backup can take its place. False with *error naming what could not
  // be removed; the earlier installation itself is untouched either way.
  bool RemoveEarlierBackups(std::string* error);

  // Whether every ".old" name of a present name could be removed, checked
  // without changing anything: true, or false with *error naming the first
  // entry that an immutable or append-only flag (or, for anyone but root,
  // a directory without write permission) keeps in place.
  bool CheckEarlierBackupsRemovable(std::string* error) const;

  // After BackupOldFiles: true when every present name now lies under its
  // ".old" name. Otherwise the names that did move are moved back, so that
  // the earlier installation stands as it was, and false with *error naming
  // the first name that stayed (and any that could not be moved back).
  bool ConfirmBackups(std::string* error);

 private:
  std::string PathOf(const std::string& name) const;

  std::string m_sDir;
  std::vector<std::string> m_present;
};

#endif  // STRATA_DRIVER_INSTALLATION_BACKUPGENERATION_H_
