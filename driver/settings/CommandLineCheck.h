#ifndef STRATA_DRIVER_SETTINGS_COMMANDLINECHECK_H_
#define STRATA_DRIVER_SETTINGS_COMMANDLINECHECK_H_

#include <string>
#include <vector>

class ServerInstaller;

// What the framework's command line and defaults file let pass with no more
// than a report, or silently: an unknown option, an option without its
// value or with an empty one, a name in a defaults file that is no setting,
// a NUL inside a value, a number that is no number. An unattended
// installation must not go on with any of them, since the framework would
// go on with a guess (the start directory for "-d \"\"", 0 for "AdminPort=abc").
// The command line and the files are read as the framework reads them;
// nothing is changed.
class CommandLineCheck {
 public:
  explicit CommandLineCheck(ServerInstaller& installer) : m_installer(installer) {}

  CommandLineCheck(const CommandLineCheck&) = delete;
  CommandLineCheck& operator=(const CommandLineCheck&) = delete;

  // Checks argv (argv[0] the program) and every defaults file that "-cfg"
  // names, a relative name taken from startDir. The problems found are
  // added, in order, each as one line "ERROR: ...\n".
  void Check(int argc, const char** argv, const std::string& startDir);

  const std::vector<std::string>& Problems() const { return m_problems; }
  // Whether a defaults file that Check read sets the named setting (any
  // case), so that a default need not stand for it.
  bool SetsName(const std::string& name) const;

 private:
  void CheckDefaultsFile(const std::string& shownName, const std::string& path);
  void CheckLine(const std::string& line, const std::string& where);

  ServerInstaller& m_installer;
  std::vector<std::string> m_problems;
  std::vector<std::string> m_namesSet;
};

// The one name of known that word is a slip of the keyboard away from
// (letters ignoring case; at most one edit in a short word, two in a longer
// one), or "" when there is none or more than one.
std::string SuggestedName(const std::string& word, const std::vector<std::string>& known);

#endif  // STRATA_DRIVER_SETTINGS_COMMANDLINECHECK_H_
