#ifndef STRATA_DRIVER_INSTALLSTEPS_H_
#define STRATA_DRIVER_INSTALLSTEPS_H_

#include <string>

class ConsoleUI;
class SetupInstaller;

// The installation itself, once every setting has been checked: creates the
// installation directory, backs up the earlier installation, places the
// product's files from the extraction directory and has the framework write
// the accounts, the loopcast script and the two configuration files, each
// read back (driver/ReadBackChecks.h); after a dialogue the answers file too.
class InstallSteps {
 public:
  InstallSteps(SetupInstaller& installer, const std::string& extractDir);

  InstallSteps(const InstallSteps&) = delete;
  InstallSteps& operator=(const InstallSteps&) = delete;

  // True once everything is in place, or false with the message to end
  // with. Stops before the earlier installation is changed when a product
  // file has no room or when a name of it cannot be moved aside (what did
  // move is moved back); older backups give way to the new ones. A failure
  // to write the answers file (writeAnswers) is only a warning.
  bool Install(bool writeAnswers, std::string* error);

  // For the summary: which passwords were generated, and whether the
  // answers file was written.
  bool AdminPasswordGenerated() const { return m_bAdminPasswordGenerated; }
  bool EncoderPasswordGenerated() const { return m_bEncoderPasswordGenerated; }
  bool AnswersWritten() const { return m_bAnswersWritten; }

 private:
  ConsoleUI& UI();
  // The directory, the backups and the product's files.
  bool PlaceProduct(const std::string& dir, std::string* error);
  bool WriteAccounts(std::string* error);
  bool WriteLoopcastScript(std::string* error);
  bool WriteConfigFiles(std::string* error);
  void WriteAnswers();

  SetupInstaller& m_installer;
  std::string m_sExtractDir;
  bool m_bAdminPasswordGenerated;
  bool m_bEncoderPasswordGenerated;
  bool m_bAnswersWritten;
};

#endif  // STRATA_DRIVER_INSTALLSTEPS_H_
