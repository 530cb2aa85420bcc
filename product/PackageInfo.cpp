#include "product/PackageInfo.h"

#include <stdio.h>
#include <string>

#include "product/ServerVersion.h"

namespace {

const int kHelpBufferSize = 2048;

struct HelpOption {
  const char* shortForm;
  const char* longForm;
  const char* description;
};

// Short form from column 0, long form from column 12, description from 40.
const HelpOption kOptions[] = {
    {"-v", "--version", "Print version number and exit"},
    {"-h", "--help", "Print command-line help and exit"},
    {"-s", "--silent", "Perform a silent install"},
    {"-p", "--progress-only", "Perform a non-interactive install"},
    {"-nb", "--no-backup", "Don't backup files if reinstalling"},
    {"-d <dir>", "--dest <dir>", "Install to directory <dir>"},
    {"-cfg <file>", "", "Read Installer config file <file>"},
};

const char kNote[] =
    "\n"
    "Note: An Installer config file consists of a list of Name=Value pairs,\n"
    "one pair per line, which specify default values for various settings.\n"
    "The list of supported Names includes:\n"
    "    AdminPort={port}    AdminRealm={realm}   AdminPassword={passwd}\n"
    "    HTTPPort={port}     EncoderRealm={realm} EncoderPassword={passwd}\n"
    "    MonitorPort={port}  ContentRealm={realm} MonitorPassword={passwd}\n"
    "    RTSPPort={port}     AdminUserID={user}   DefInstallPath={path}\n"
    "    VQXPort={port}      EncoderUserID={user} LoggingStyle={style}\n"
    "    MMSPort={port}\n"
    "It can also specify several flags that control the installer's behavior,\n"
    "with values of 0 indicating false and 1 indicating true:\n"
    "    BackupOldFiles={0/1}   SilentInstall={0/1}\n";

}  // namespace

const char* PackageInfo::Name() {
  return ServerVersion::ProductName();
}

const char* PackageInfo::VersionString() {
  static char* text = [] {
    const int kSize = 256;
    char* buf = new char[kSize];
    snprintf(buf, kSize, "%s %s (%s)", ServerVersion::ProductName(), ServerVersion::ReleaseName(),
             ServerVersion::VersionString());
    return buf;
  }();
  return text;
}

char* PackageInfo::CommandLineHelpString() {
  std::string help;
  for (const HelpOption& option : kOptions) {
    char line[128];
    snprintf(line, sizeof line, "%-12s%-28s%s\n", option.shortForm, option.longForm,
             option.description);
    help += line;
  }
  help += kNote;
  char* buf = new char[kHelpBufferSize];
  snprintf(buf, kHelpBufferSize, "%s", help.c_str());
  return buf;
}
