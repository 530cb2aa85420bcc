#include "driver/settings/SettingRules.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <iterator>
#include <utility>

#include "common/Format.h"
#include "common/ShownText.h"
#include "common/SystemError.h"
#include "driver/settings/PortProbe.h"
#include "installer/ServerInstaller.h"

namespace {

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

}  // namespace

const size_t kMaxConfigValueLength = 4096;

bool CheckUserName(const char* name, std::string* error) {
  if (name == nullptr || name[0] == '\0')
    return Fail(error, "it is empty");
  std::string text = name;
  if (text == "." || text == "..")
    return Fail(error, "it names a directory");
  // It names a file in each database.
  if (text.size() > NAME_MAX)
    return Fail(error, FormatText("it has %zu bytes, more than a file name can hold (%s)",
                                  text.size(), ErrnoText(ENAMETOOLONG)));
  for (char c : text) {
    if (c == '/' || c == ':')
      return Fail(error, std::string("it contains \"") + c + "\"");
    if (IsControlCharacter(c))
      return Fail(error, "it contains a control character");
  }
  if (isspace(static_cast<unsigned char>(text.front())) ||
      isspace(static_cast<unsigned char>(text.back())))
    return Fail(error, "it begins or ends with white space");
  return true;
}

bool CheckConfigValue(const char* text, std::string* error) {
  if (text == nullptr)
    return true;
  if (strlen(text) > kMaxConfigValueLength)
    return Fail(error, FormatText("it is longer than %zu characters", kMaxConfigValueLength));
  for (const char* c = text; *c != '\0'; ++c) {
    if (IsControlCharacter(*c))
      return Fail(error, "it contains a control character");
    if (*c == '"')
      return Fail(error, "it contains a double quote");
    if (*c == '<' || *c == '>' || *c == '&')
      return Fail(error, std::string("it contains \"") + *c + "\"");
  }
  return true;
}

bool CheckPassword(const char* password, std::string* error) {
  if (!CheckConfigValue(password, error))
    return false;
  if (password != nullptr && strchr(password, ';') != nullptr)
    return Fail(error, "it contains \";\"");
  return true;
}

bool CheckConfigTexts(const ServerInstaller& installer, std::string* error) {
  const std::pair<const char*, const char*> texts[] = {
      {"AdminRealm", installer.m_szAdminRealm},
      {"EncoderRealm", installer.m_szEncoderRealm},
      {"RBSEncoderRealm", installer.m_szRBSEncoderRealm},
      {"WMEncoderRealm", installer.m_szWMEncoderRealm},
      {"CDistRealm", installer.m_szCDistRealm},
      {"ContentRealm", installer.m_szContentRealm},
      {"LoggingStyle", installer.m_szLoggingStyle},
  };
  for (const auto& text : texts) {
    std::string why;
    // The value itself is not shown: a control character in it could
    // disturb the terminal.
    if (!CheckConfigValue(text.second, &why)) {
      *error =
          FormatText("ERROR: %s cannot go into the server's files: %s\n", text.first, why.c_str());
      return false;
    }
  }
  return true;
}

bool CheckAccountSettings(const ServerInstaller& installer, std::string* error) {
  struct Account {
    const char* userSetting;
    const char* user;
    const char* passwordSetting;
    const char* password;
  };
  const Account accounts[] = {
      {"AdminUserID", installer.m_szAdminUserID, "AdminPassword", installer.m_szAdminPassword},
      {"EncoderUserID", installer.m_szEncoderUserID, "EncoderPassword",
       installer.m_szEncoderPassword},
  };
  for (const Account& account : accounts) {
    if (account.user == nullptr || account.user[0] == '\0') {
      *error = FormatText("ERROR: %s is not set; an unattended installation needs it\n",
                          account.userSetting);
      return false;
    }
    std::string why;
    // Shown cleaned: a control character in it could disturb the terminal.
    if (!CheckUserName(account.user, &why)) {
      *error = FormatText("ERROR: %s \"%s\" is not a valid user name: %s\n", account.userSetting,
                          ShownValue(account.user).c_str(), why.c_str());
      return false;
    }
    // An unset password is generated. The defaults file cannot set an empty
    // one: it passes over empty values.
    if (!CheckPassword(account.password, &why)) {
      *error = FormatText("ERROR: %s cannot go into the server's files: %s\n",
                          account.passwordSetting, why.c_str());
      return false;
    }
  }
  return true;
}

bool ConfirmPortSettings(ServerInstaller& installer, std::string* error) {
  const std::string dir =
      installer.m_szDefInstallPath != nullptr ? installer.m_szDefInstallPath : "";
  for (int i = 0; i < static_cast<int>(std::size(ServerInstaller::g_pPortNames)); ++i) {
    int port = installer.m_pPorts[i].nPort;
    std::string setting = PortSettingName(i);
    int number = 0;
    if (!ServerInstaller::ValidPort(std::to_string(port).c_str(), number)) {
      *error = FormatText("ERROR: %s %d is not a valid port (1 to 65535)\n", setting.c_str(), port);
      return false;
    }
    const char* holder = nullptr;
    if (installer.CheckDupePort(port, i, holder)) {
      *error = FormatText("ERROR: %s %d is already the %s port\n", setting.c_str(), port, holder);
      return false;
    }
    if (PortTakenByAnother(installer, dir, i, port)) {
      *error = FormatText("ERROR: %s %d is in use on this machine\n", setting.c_str(), port);
      return false;
    }
    installer.SetInstPort(i, port);
  }
  return true;
}

const char kPasswordRule[] =
    "a password must not be empty or longer than 4096 characters, and must not contain \", <, "
    ">, &, ; or control characters";

std::string PrivilegedPortWarning(int index, int port) {
  if (port >= 1024 || geteuid() == 0)
    return std::string();
  return FormatText(
      "Warning: %s %d is below 1024: the server will need root's privileges to open it\n",
      PortSettingName(index).c_str(), port);
}

std::vector<std::string> PrivilegedPortWarnings(const ServerInstaller& installer) {
  std::vector<std::string> warnings;
  for (int i = 0; i < static_cast<int>(std::size(ServerInstaller::g_pPortNames)); ++i) {
    std::string warning = PrivilegedPortWarning(i, installer.m_pPorts[i].nPort);
    if (!warning.empty())
      warnings.push_back(warning);
  }
  return warnings;
}

std::string PortSettingName(int index) {
  return std::string(ServerInstaller::g_pPortNames[index]) + "Port";
}
