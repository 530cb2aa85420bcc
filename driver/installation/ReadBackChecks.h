#ifndef STRATA_DRIVER_INSTALLATION_READBACKCHECKS_H_
#define STRATA_DRIVER_INSTALLATION_READBACKCHECKS_H_

#include <sys/types.h>

#include <string>

class SetupInstaller;

// The framework reports no failure of a single file it writes into the
// installation directory; these read each back once it has written,
// measured against the framework's own tables and formats. Each returns
// true, or false with the message to end with; none changes a file.

// Every user file of installer's accounts (DatabaseAccounts) holds its line
// (PasswordFileLine): an account missing from a database could not log in.
bool CheckUserFiles(const SetupInstaller& installer, std::string* error);

// The file at path (Bin/loopcast.sh) holds the script for the installation
// directory and may be executed.
bool CheckLoopcastScript(const SetupInstaller& installer, const std::string& path,
                         std::string* error);

// The configuration file name is a regular file of its own (not a link)
// that holds the installer's configuration text; its mode goes to *mode.
bool CheckConfigFile(const SetupInstaller& installer, const char* name, mode_t* mode,
                     std::string* error);

#endif  // STRATA_DRIVER_INSTALLATION_READBACKCHECKS_H_
