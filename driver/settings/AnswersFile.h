#ifndef STRATA_DRIVER_SETTINGS_ANSWERSFILE_H_
#define STRATA_DRIVER_SETTINGS_ANSWERSFILE_H_

#include <string>
#include <vector>

class ServerInstaller;

// The answers of an interactive installation written as an installer
// defaults file: the installation directory, the two user names, the realms,
// the six ports and the logging style, with the non-interactive flag, so that
// "-cfg" with this file installs again without questions. It never holds a
// password.
class AnswersFile {
 public:
  // The file's name in the installation directory.
  static const char kFileName[];

  // The text of the file for the installer's settings. A value that the
  // defaults file could not give back unchanged (a line feed in it, blanks at
  // its ends) is left out and its name added to skipped.
  static std::string Format(const ServerInstaller& installer, std::vector<std::string>* skipped);

  // Writes Format's text to path, replacing any earlier file: true, or false
  // with *error saying why (an earlier file then stays as it was).
  static bool Write(const std::string& path, const ServerInstaller& installer,
                    std::vector<std::string>* skipped, std::string* error);
};

#endif  // STRATA_DRIVER_SETTINGS_ANSWERSFILE_H_
