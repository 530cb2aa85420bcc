#ifndef STRATA_DRIVER_SETTINGS_SETTINGRULES_H_
#define STRATA_DRIVER_SETTINGS_SETTINGRULES_H_

#include <stddef.h>

#include <string>
#include <vector>

class ServerInstaller;

// What the server's files can hold: the rules for single values (user names,
// texts of the configuration, passwords) and their use on the settings of an
// unattended installation, which no dialogue has checked. Nothing here
// changes a file.

// The longest value the configuration file takes (a realm, a password, the
// logging style): a bound, so that a mistaken value cannot make files of
// any size.
extern const size_t kMaxConfigValueLength;

// Whether name can be a user name of the server's databases: true, or false
// with *error saying why ("it is empty"). The name names a file in each
// database and goes into HTTP logins, so it must not be empty, "." or "..",
// longer than a file name can be (NAME_MAX bytes), hold "/", ":" or
// control characters, or begin or end with white space.
bool CheckUserName(const char* name, std::string* error);

// Whether text can go into the server's files: true, or false with *error
// saying why. The configuration takes values unescaped between double
// quotes, so text must hold no '"', '<', '>', '&' or control character, and
// it must not be longer than kMaxConfigValueLength. A null text passes.
bool CheckConfigValue(const char* text, std::string* error);

// Whether password can be an account's password: true, or false with *error
// saying why. Besides going into the configuration (CheckConfigValue), it
// begins its line of a user file (PasswordFileLine), where a ';' would end
// it early. A null password passes.
bool CheckPassword(const char* password, std::string* error);

// The realms and the logging style, which no dialogue asks for: true when
// each can go into the server configuration as it stands, or false with the
// message to end with.
bool CheckConfigTexts(const ServerInstaller& installer, std::string* error);

// The two accounts of an unattended installation: true when each user name
// is set and valid and each password can go into the server's files (an
// unset one is generated later), or false with the message to end with.
bool CheckAccountSettings(const ServerInstaller& installer, std::string* error);

// The six ports of an unattended installation, in order: each must be a
// valid port, not another service's and free on this machine (but for the
// running server of the installation being replaced, see PortTakenByAnother),
// and is
// confirmed for its service (SetInstPort) once found good, so that the next
// is checked against it. True, or false with the message to end with (the
// ports before the wrong one stay confirmed).
bool ConfirmPortSettings(ServerInstaller& installer, std::string* error);

// A port below 1024 can be opened only with root's privileges: for a
// process that does not have them, the warning that the server will need
// them for port of index ("Warning: RTSPPort 554 is below 1024: ...\n"),
// else "".
std::string PrivilegedPortWarning(int index, int port);
// The warnings of PrivilegedPortWarning for the six ports, in order.
std::vector<std::string> PrivilegedPortWarnings(const ServerInstaller& installer);

// What a password may not hold, for a dialogue that refuses one: the rule
// of CheckPassword in words.
extern const char kPasswordRule[];

// The name under which the defaults file and the messages know the port of
// index: "RTSPPort".
std::string PortSettingName(int index);

#endif  // STRATA_DRIVER_SETTINGS_SETTINGRULES_H_
